#pragma once

#include "StdoutCapture.h"

#include <QStringList>

/// The lines the program prints on standard output (from any thread) until `stop`. The test
/// framework's own messages, which also go to standard output, are left out of them and passed
/// on to the real output, so a failure inside the captured stretch is still reported; the
/// destructor stops too.
class StdoutLines {
public:
    StdoutLines() = default;
    ~StdoutLines();
    StdoutLines(const StdoutLines&) = delete;
    StdoutLines& operator=(const StdoutLines&) = delete;

    [[nodiscard]] QStringList stop();

private:
    corvix::test::StdoutCapture capture_;
    bool stopped_ = false;
};
