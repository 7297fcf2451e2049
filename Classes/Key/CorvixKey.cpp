#include "Basics/Encodings.h"

#include <algorithm>
#include <array>
#include <corvix/CorvixKey.h>
#include <string_view>

namespace corvix {

namespace {

// The key string is never stored as one text: it is put together from single characters on
// every call. These choices are fixed forever; changing one makes every existing file unreadable.
std::string digitPiece(int index) {
    constexpr std::string_view kDigits = "7294183";
    return std::string(1, kDigits[static_cast<std::size_t>(std::min(index, 6))]);
}

std::string letterPiece(int index) {
    constexpr std::string_view kLetters = "kmqxvbnr";
    return std::string(1, kLetters[static_cast<std::size_t>(std::min(index, 7))]);
}

} // namespace

std::string CorvixKey::keyString() {
    std::vector<std::string> digits;
    for (int index = 0; index < 7; ++index) {
        digits.push_back(digitPiece(index));
    }
    digits.push_back("6");

    std::vector<std::string> letters;
    for (int index = 0; index < 8; ++index) {
        letters.push_back(letterPiece(index));
    }

    std::array<std::string, 16> slots;
    slots.fill("_");
    for (std::size_t i = 0; i < 8; ++i) {
        slots[2 * i] = digits[i];
        slots[2 * i + 1] = letters[i];
    }

    std::string key;
    for (const std::string& slot : slots) {
        key += slot;
    }
    return key;
}

Bytes CorvixKey::aesKey() {
    return sha256(utf8Bytes(keyString()));
}

std::string CorvixKey::aesKeyHex() {
    return hexText(aesKey());
}

std::string CorvixKey::ivText() {
    return "4630295817204468";
}

Bytes CorvixKey::ivBytes() {
    return utf8Bytes(ivText());
}

Outcome<KeyMaterial> CorvixKey::material() {
    return KeyMaterial::from(aesKey(), ivBytes());
}

} // namespace corvix
