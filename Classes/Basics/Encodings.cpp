#include "Basics/Encodings.h"

#include <algorithm>
#include <openssl/evp.h>

namespace corvix {

namespace {

bool isBase64Alphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

} // namespace

int hexDigitValue(char32_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<int>(c - 'A' + 10);
    }
    return -1;
}

std::size_t utf8SequenceLength(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    // The allowed range of the second byte rules out overlong forms, surrogates and values
    // beyond U+10FFFF.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

Bytes utf8Bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

bool isUtf8(std::string_view text) {
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t length = utf8SequenceLength(rest);
        if (length == 0) {
            return false;
        }
        rest.remove_prefix(length);
    }
    return true;
}

std::optional<std::string> utf8Text(const Bytes& bytes) {
    std::string text(bytes.begin(), bytes.end());
    return isUtf8(text) ? std::optional(std::move(text)) : std::nullopt;
}

Bytes sha256(const Bytes& bytes) {
    return sha256(bytes.data(), bytes.size());
}

Bytes sha256(const std::uint8_t* data, std::size_t n) {
    Bytes digest(32, 0);
    unsigned int length = 0;
    if (EVP_Digest(data, n, digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        return {};
    }
    return digest;
}

std::string hexText(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

Bytes bytesFromHex(std::string_view text) {
    Bytes bytes;
    bytes.reserve(text.size() / 2 + 1);
    if (text.starts_with("0x")) {
        text.remove_prefix(2);
    }
    int pending = -1;
    for (const char c : text) {
        const int value = hexDigitValue(static_cast<unsigned char>(c));
        if (value < 0) {
            return {};
        }
        if (pending < 0) {
            pending = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(pending * 16 + value));
            pending = -1;
        }
    }
    if (pending >= 0) {
        bytes.push_back(static_cast<std::uint8_t>(pending));
    }
    return bytes;
}

std::string base64Text(const Bytes& bytes) {
    // EVP_EncodeBlock takes an int length: encode in pieces of whole 3-byte groups.
    constexpr std::size_t kPiece = 3 * (std::size_t{1} << 24);
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPiece) {
        const std::size_t piece = std::min(kPiece, bytes.size() - offset);
        std::string encoded((piece + 2) / 3 * 4 + 1, '\0');
        const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                           bytes.data() + offset, static_cast<int>(piece));
        text.append(encoded.data(), static_cast<std::size_t>(length));
    }
    return text;
}

Bytes base64Bytes(const Bytes& bytes) {
    return utf8Bytes(base64Text(bytes));
}

Bytes bytesFromBase64(std::string_view text) {
    // OpenSSL's block decoder tolerates whitespace and miscounts padding, so the strict shape
    // is checked here first: whole groups of four, the alphabet, and at most two final '='.
    if (text.empty() || text.size() % 4 != 0 || text.size() > 0x7FFFFFFC) {
        return {};
    }
    std::size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    const std::string_view body = text.substr(0, text.size() - padding);
    if (!std::all_of(body.begin(), body.end(), isBase64Alphabet)) {
        return {};
    }
    Bytes bytes(text.size() / 4 * 3, 0);
    const int length =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (length < 0) {
        return {};
    }
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

Bytes copyPrefix(std::size_t n, const Bytes& bytes) {
    return Bytes(bytes.begin(),
                 bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
}

} // namespace corvix
