// bytesFromBase64 and decryptString over arbitrary text. Strict decoding accepts exactly the
// whole groups of four alphabet characters with at most two final '='; what it accepts has the
// right length and encodes back to a text that decodes to the same bytes. decryptString is the
// decoding, decryptBytes and a UTF-8 check in a row.

#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

bool inAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// The count of '=' when the text is strict base64, or -1.
int strictPadding(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) {
        return -1;
    }
    int padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    const auto body = text.substr(0, text.size() - padding);
    return std::all_of(body.begin(), body.end(), inAlphabet) ? padding : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const corvix::Bytes key = corvix::CorvixKey::aesKey();
    static const corvix::Bytes iv = corvix::CorvixKey::ivBytes();
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const corvix::Bytes bytes = corvix::bytesFromBase64(text);
    const int padding = strictPadding(text);
    if (padding < 0) {
        if (!bytes.empty()) {
            std::abort();
        }
    } else if (bytes.size() != text.size() / 4 * 3 - static_cast<std::size_t>(padding) ||
               corvix::bytesFromBase64(corvix::base64Text(bytes)) != bytes) {
        std::abort();
    }

    const auto opened =
        corvix::AESUtils::decryptBytes(bytes, static_cast<std::int64_t>(bytes.size()), key, iv);
    const auto expected = opened ? corvix::utf8Text(*opened) : std::nullopt;
    if (corvix::AESUtils::decryptString(text, key, iv) != expected) {
        std::abort();
    }
    return 0;
}
