#include "StdoutLines.h"

#include <QByteArray>
#include <algorithm>
#include <cstdio>
#include <iterator>

StdoutLines::~StdoutLines() {
    if (!stopped_) {
        (void)stop();
    }
}

QStringList StdoutLines::stop() {
    stopped_ = true;
    const std::string text = capture_.stop();
    QStringList lines;
    QByteArray testLog;
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
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
    std::fwrite(testLog.constData(), 1, static_cast<std::size_t>(testLog.size()), stdout);
    std::fflush(stdout);
    // The last line ends with a newline, which leaves one empty piece.
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}
