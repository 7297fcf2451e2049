#include "Basics/TextEscape.h"

#include "Basics/Encodings.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <utility>

namespace corvix {

namespace {

// The code of the control character (C0, DEL or C1) that one well-formed UTF-8 sequence
// encodes; nothing for any other character.
std::optional<unsigned> controlCode(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence.front());
    if (lead < 0x20 || lead == 0x7F) {
        return lead;
    }
    if (sequence.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0) {
        return static_cast<unsigned char>(sequence[1]);
    }
    return std::nullopt;
}

void appendBytes(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
    }
}

// The controls that the debug style writes by name, as "\n".
constexpr std::array<std::pair<unsigned, char>, 4> kNamedEscapes = {
    {{'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}, {'\0', '0'}}};

void appendControl(std::string& out, std::string_view sequence, unsigned code, EscapeStyle style) {
    if (style == EscapeStyle::Terminal) {
        appendBytes(out, sequence);
        return;
    }
    const auto named = std::find_if(kNamedEscapes.begin(), kNamedEscapes.end(),
                                    [code](const auto& escape) { return escape.first == code; });
    if (named != kNamedEscapes.end()) {
        out += {'\\', named->second};
        return;
    }
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\u{%X}", code);
    out += escape;
}

} // namespace

std::string escaped(std::string_view text, EscapeStyle style) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = utf8SequenceLength(text);
        const std::string_view sequence = text.substr(0, length == 0 ? 1 : length);
        text.remove_prefix(sequence.size());
        if (length == 0) {
            appendBytes(out, sequence);
        } else if (const auto code = controlCode(sequence)) {
            appendControl(out, sequence, *code, style);
        } else if (sequence == "\\" || (sequence == "\"" && style != EscapeStyle::Terminal)) {
            out += {'\\', sequence.front()};
        } else {
            out += sequence;
        }
    }
    return out;
}

} // namespace corvix
