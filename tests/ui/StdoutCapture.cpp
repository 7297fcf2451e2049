#include "StdoutCapture.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <iterator>
#include <unistd.h>

StdoutCapture::StdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    savedStdout_ = ::dup(STDOUT_FILENO);
    if (file_ != nullptr && savedStdout_ >= 0) {
        ::dup2(::fileno(file_), STDOUT_FILENO);
    }
}

StdoutCapture::~StdoutCapture() {
    if (savedStdout_ >= 0) {
        (void)stop();
    }
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void StdoutCapture::restore() {
    if (savedStdout_ < 0) {
        return;
    }
    std::fflush(stdout);
    ::dup2(savedStdout_, STDOUT_FILENO);
    ::close(savedStdout_);
    savedStdout_ = -1;
}

QStringList StdoutCapture::stop() {
    restore();
    if (file_ == nullptr) {
        return {};
    }
    QByteArray bytes;
    std::rewind(file_);
    char buffer[4096];
    for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) {
        bytes.append(buffer, static_cast<qsizetype>(count));
    }
    QStringList lines;
    QByteArray testLog;
    for (const QByteArray& line : bytes.split('\n')) {
        static const char* const testLogPrefixes[] = {"QWARN",     "QDEBUG",   "QINFO", "QSYSTEM",
                                                      "QCRITICAL", "FAIL!",    "XFAIL", "XPASS",
                                                      "SKIP",      "   Loc: ["};
        const bool fromTest =
            std::any_of(std::begin(testLogPrefixes), std::end(testLogPrefixes),
                        [&](const char* prefix) { return line.startsWith(prefix); });
        if (fromTest) {
            testLog += line + '\n';
        } else {
            lines.append(QString::fromUtf8(line));
        }
    }
    // The test framework's messages (a failure among them) still reach the real output.
    std::fwrite(testLog.constData(), 1, static_cast<std::size_t>(testLog.size()), stdout);
    std::fflush(stdout);
    // The last line ends with a newline, which leaves one empty piece.
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}
