#include "StrictJson.h"

#include <cstdlib>

namespace corvix::test {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<JsonObject> object() {
        JsonObject result;
        skipSpace();
        if (!take('{')) {
            return std::nullopt;
        }
        skipSpace();
        if (!take('}')) {
            do {
                skipSpace();
                auto name = string();
                skipSpace();
                if (!name || !take(':')) {
                    return std::nullopt;
                }
                skipSpace();
                auto item = value();
                if (!item || !result.emplace(*name, *item).second) {
                    return std::nullopt;
                }
                skipSpace();
            } while (take(','));
            if (!take('}')) {
                return std::nullopt;
            }
        }
        skipSpace();
        return at_ == text_.size() ? std::optional(result) : std::nullopt;
    }

private:
    bool take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool takeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) == word) {
            at_ += word.size();
            return true;
        }
        return false;
    }

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    std::optional<JsonValue> value() {
        if (takeWord("null")) {
            return JsonValue(nullptr);
        }
        if (takeWord("true")) {
            return JsonValue(true);
        }
        if (takeWord("false")) {
            return JsonValue(false);
        }
        if (at_ < text_.size() && text_[at_] == '"') {
            auto text = string();
            return text ? std::optional<JsonValue>(*text) : std::nullopt;
        }
        auto number = this->number();
        return number ? std::optional<JsonValue>(*number) : std::nullopt;
    }

    bool digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        return at_ > start;
    }

    std::optional<double> number() {
        const std::size_t start = at_;
        take('-');
        if (take('0')) {
            // no leading zeros
        } else if (!digits()) {
            return std::nullopt;
        }
        if (take('.') && !digits()) {
            return std::nullopt;
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            if (!digits()) {
                return std::nullopt;
            }
        }
        return std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
    }

    std::optional<unsigned> hex4() {
        if (at_ + 4 > text_.size()) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return std::nullopt;
            }
        }
        return value;
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::optional<unsigned> escapedCode() {
        auto code = hex4();
        if (!code || (*code >= 0xDC00 && *code <= 0xDFFF)) {
            return std::nullopt;
        }
        if (*code < 0xD800 || *code > 0xDBFF) {
            return code;
        }
        // A high surrogate must be followed by an escaped low one.
        if (!take('\\') || !take('u')) {
            return std::nullopt;
        }
        const auto low = hex4();
        if (!low || *low < 0xDC00 || *low > 0xDFFF) {
            return std::nullopt;
        }
        return 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
    }

    // A raw (unescaped) UTF-8 sequence; its length, or 0 when it is not well-formed.
    std::size_t rawSequence() const {
        const auto byte = [this](std::size_t i) {
            return at_ + i < text_.size() ? static_cast<unsigned char>(text_[at_ + i]) : 0;
        };
        const unsigned lead = byte(0);
        std::size_t length = 0;
        unsigned code = 0;
        if (lead >= 0xC0 && lead < 0xE0) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead < 0xF8) {
            length = 4;
            code = lead & 0x07;
        } else {
            return 0;
        }
        for (std::size_t i = 1; i < length; ++i) {
            if ((byte(i) & 0xC0) != 0x80) {
                return 0;
            }
            code = (code << 6) | (byte(i) & 0x3F);
        }
        static const unsigned kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return 0;
        }
        return length;
    }

    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) {
                return std::nullopt;
            }
            if (c >= 0x80) {
                const std::size_t length = rawSequence();
                if (length == 0) {
                    return std::nullopt;
                }
                out.append(text_.substr(at_, length));
                at_ += length;
                continue;
            }
            ++at_;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) {
                return std::nullopt;
            }
            const char escape = text_[at_++];
            static const std::string_view kPlain = "\"\\/bfnrt";
            static const std::string_view kMeaning = "\"\\/\b\f\n\r\t";
            if (const auto found = kPlain.find(escape); found != std::string_view::npos) {
                out += kMeaning[found];
            } else if (escape == 'u') {
                const auto code = escapedCode();
                if (!code) {
                    return std::nullopt;
                }
                appendUtf8(out, *code);
            } else {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

std::optional<JsonObject> parseFlatJsonObject(std::string_view text) {
    return Parser(text).object();
}

} // namespace corvix::test
