// bytesFromHex and dataFromHex against the rule they implement, written out again here:
// optional "0x", then digit pairs; an odd last digit is a byte of its own; anything else
// gives an empty array. Whole even-length digit strings survive hexText unchanged (in
// lowercase).

#include "Key/Encodings.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

corvix::Bytes byTheRule(std::string_view text) {
    if (text.substr(0, 2) == "0x") {
        text.remove_prefix(2);
    }
    corvix::Bytes bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digitValue(text[i]);
        const int low = i + 1 < text.size() ? digitValue(text[i + 1]) : 0;
        if (high < 0 || low < 0) {
            return {};
        }
        bytes.push_back(static_cast<std::uint8_t>(i + 1 < text.size() ? high * 16 + low : high));
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const corvix::Bytes bytes = corvix::bytesFromHex(text);
    if (bytes != byTheRule(text) || corvix::dataFromHex(text) != bytes) {
        std::abort();
    }
    std::string_view digits = text.substr(0, 2) == "0x" ? text.substr(2) : text;
    if (!bytes.empty() && digits.size() % 2 == 0) {
        const std::string again = corvix::hexText(bytes);
        for (std::size_t i = 0; i < digits.size(); ++i) {
            if (again[i] != std::tolower(static_cast<unsigned char>(digits[i]))) {
                std::abort();
            }
        }
    }
    return 0;
}
