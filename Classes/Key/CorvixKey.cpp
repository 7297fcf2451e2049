#include "CorvixKey.h"

#include "Encodings.h"
#include "KeyMaterial.h"

#include <array>

namespace corvix {

namespace {

// The key string is never stored as one text: it is put together from single characters on
// every call. These choices are fixed forever; changing one makes every existing file unreadable.
std::string digitPiece(int index) {
    switch (index) {
    case 0:
        return "7";
    case 1:
        return "2";
    case 2:
        return "9";
    case 3:
        return "4";
    case 4:
        return "1";
    case 5:
        return "8";
    default:
        return "3";
    }
}

std::string letterPiece(int index) {
    switch (index) {
    case 0:
        return "k";
    case 1:
        return "m";
    case 2:
        return "q";
    case 3:
        return "x";
    case 4:
        return "v";
    case 5:
        return "b";
    case 6:
        return "n";
    default:
        return "r";
    }
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

std::string CorvixKey::fingerprint() {
    return KeyMaterial::builtIn().fingerprint();
}

} // namespace corvix
