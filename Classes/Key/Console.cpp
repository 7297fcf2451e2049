#include "Console.h"

#include <cstdio>
#include <string>

namespace corvix {

void printLine(std::string_view line) {
    std::string whole(line);
    whole += '\n';
    // stdio locks the stream for the duration of each call.
    std::fwrite(whole.data(), 1, whole.size(), stdout);
    std::fflush(stdout);
}

} // namespace corvix
