// The encodings against the rules they implement, written out again here. Hex: an optional
// "0x", then hex digits, taken in pairs, an odd last digit a byte of its own; anything else
// gives an empty array; hexText gives the digits back in lowercase. Base64: strict decoding takes
// exactly whole groups of four alphabet characters with at most two final '=', gives the right
// length and encodes back.

#include "Basics/Encodings.h"
#include "Fuzz.h"

#include <algorithm>
#include <cctype>
#include <string_view>

using namespace corvix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string digits(text.starts_with("0x") ? text.substr(2) : text);
    const Bytes bytes = bytesFromHex(text);
    const bool hex =
        !digits.empty() && digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    std::transform(digits.begin(), digits.end(), digits.begin(), ::tolower);
    digits.insert(digits.size() - digits.size() % 2, digits.size() % 2, '0');
    require((hex ? hexText(bytes) == digits : bytes.empty()));

    const auto body = text.substr(0, text.find_last_not_of('=') + 1);
    const std::size_t pads = text.size() - body.size();
    const bool strict =
        !text.empty() && text.size() % 4 == 0 && pads <= 2 &&
        body.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                               "0123456789+/") == std::string::npos;
    const Bytes decoded = bytesFromBase64(text);
    require(strict ? decoded.size() == text.size() / 4 * 3 - pads &&
                         bytesFromBase64(base64Text(decoded)) == decoded
                   : decoded.empty());
    return 0;
}
