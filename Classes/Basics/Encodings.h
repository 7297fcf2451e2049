#pragma once

#include <corvix/Bytes.h>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvix {

/// The length of the well-formed UTF-8 sequence that starts `text`, or 0 when there is none (a
/// stray continuation byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
[[nodiscard]] std::size_t utf8SequenceLength(std::string_view text);

/// Whether the whole text is well-formed UTF-8.
[[nodiscard]] bool isUtf8(std::string_view text);

/// UTF-8 bytes of a text (the text is already UTF-8; no byte-order mark, no terminator).
[[nodiscard]] Bytes utf8Bytes(std::string_view text);

/// The text held by UTF-8 bytes, or nothing when they are not well-formed UTF-8.
[[nodiscard]] std::optional<std::string> utf8Text(const Bytes& bytes);

/// SHA-256 digest (32 bytes); empty when the digest cannot be computed, which no key accepts,
/// rather than a key of zeros that every use would take.
[[nodiscard]] Bytes sha256(const Bytes& bytes);

/// Two lowercase hexadecimal digits per byte, no separator.
[[nodiscard]] std::string hexText(const Bytes& bytes);

/// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
[[nodiscard]] int hexDigitValue(char32_t c);

/// Decodes hexadecimal digits after an optional "0x" prefix; an odd last digit becomes a byte of
/// its own. Any other character gives an empty array.
[[nodiscard]] Bytes bytesFromHex(std::string_view text);

/// Standard base64 (RFC 4648 section 4) on one line, with '=' padding.
[[nodiscard]] std::string base64Text(const Bytes& bytes);

/// The ASCII codes of base64Text.
[[nodiscard]] Bytes base64Bytes(const Bytes& bytes);

/// Strict standard base64 decoding: padding required, no whitespace, nothing outside the
/// alphabet. A text that does not decode gives an empty array.
[[nodiscard]] Bytes bytesFromBase64(std::string_view text);

/// The first n bytes (at most the whole array).
[[nodiscard]] Bytes copyPrefix(std::size_t n, const Bytes& bytes);

} // namespace corvix
