#include "StrictJson.h"

#include <cstdint>

namespace corvix::test {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<JsonObject> object() {
        JsonObject result;
        if (!take('{')) {
            return std::nullopt;
        }
        do {
            auto name = string();
            if (!name || !take(':')) {
                return std::nullopt;
            }
            auto item = value();
            if (!item || !result.emplace(*name, *item).second) {
                return std::nullopt;
            }
        } while (take(','));
        if (!take('}') || at_ != text_.size()) {
            return std::nullopt;
        }
        return result;
    }

private:
    [[nodiscard]] unsigned char peek(std::size_t ahead = 0) const {
        return at_ + ahead < text_.size() ? static_cast<unsigned char>(text_[at_ + ahead]) : 0;
    }

    bool take(char c) {
        while (peek() == ' ') {
            ++at_;
        }
        if (peek() != static_cast<unsigned char>(c)) {
            return false;
        }
        ++at_;
        return true;
    }

    std::optional<JsonValue> value() {
        while (peek() == ' ') {
            ++at_;
        }
        if (text_.substr(at_, 4) == "null") {
            at_ += 4;
            return JsonValue(nullptr);
        }
        if (peek() == '"') {
            auto text = string();
            return text ? std::optional<JsonValue>(*text) : std::nullopt;
        }
        // A whole number without leading zeros.
        const std::size_t start = at_;
        take('-');
        if (peek() == '0') {
            ++at_;
        } else {
            while (peek() >= '0' && peek() <= '9') {
                ++at_;
            }
        }
        const std::string digits(text_.substr(start, at_ - start));
        if (digits.empty() || digits == "-") {
            return std::nullopt;
        }
        return JsonValue(std::stod(digits));
    }

    // The length of the well-formed UTF-8 sequence at the cursor, 0 when there is none.
    [[nodiscard]] std::size_t sequenceLength() const {
        const unsigned lead = peek();
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || lead > 0xF4) {
            return 0;
        }
        std::uint32_t code = lead & (0x7F >> length);
        for (std::size_t i = 1; i < length; ++i) {
            if ((peek(i) & 0xC0) != 0x80) {
                return 0;
            }
            code = (code << 6) | (peek(i) & 0x3F);
        }
        static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
        return code < kSmallest[length] || code > 0x10FFFF || surrogate ? 0 : length;
    }

    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        for (;;) {
            const unsigned char c = peek();
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) { // a raw control character, or the end of the text
                return std::nullopt;
            }
            if (c >= 0x80) {
                const std::size_t length = sequenceLength();
                if (length == 0) {
                    return std::nullopt;
                }
                out.append(text_.substr(at_, length));
                at_ += length;
            } else if (c != '\\') {
                out += static_cast<char>(c);
                ++at_;
            } else if (!escape(out)) {
                return std::nullopt;
            }
        }
    }

    bool escape(std::string& out) {
        static const std::string_view kLetters = "\"\\/bfnrt";
        static const std::string_view kMeanings = "\"\\/\b\f\n\r\t";
        const char letter = static_cast<char>(peek(1));
        if (letter == 0) {
            return false;
        }
        at_ += 2;
        if (const auto found = kLetters.find(letter); found != kLetters.npos) {
            out += kMeanings[found];
            return true;
        }
        const std::string hex(text_.substr(at_, 4));
        if (letter != 'u' || hex.size() != 4 ||
            hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            return false;
        }
        at_ += 4;
        const auto code = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
        if (code >= 0xD800 && code <= 0xDFFF) {
            return false;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

std::optional<JsonObject> parseFlatJsonObject(std::string_view text) {
    return Parser(text).object();
}

} // namespace corvix::test
