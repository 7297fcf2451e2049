#pragma once

#include <QStringList>
#include <cstdio>

/// Sends everything written to standard output (file descriptor 1, from any thread) to a
/// temporary file until `stop`, which gives back the lines the program printed. The test
/// framework's own messages, which also go to standard output, are left out of them and passed
/// on to the real output, so a failure inside the captured stretch is still reported.
class StdoutCapture {
public:
    StdoutCapture();
    /// Stops, as `stop` does, if `stop` was not called.
    ~StdoutCapture();

    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    [[nodiscard]] QStringList stop();

private:
    void restore();

    std::FILE* file_ = nullptr;
    int savedStdout_ = -1;
};
