#include "SafeText.h"

#include "Key/Encodings.h"

namespace corvix::cli {

std::optional<unsigned> SafeText::controlCode(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence.front());
    if (lead < 0x20 || lead == 0x7F) {
        return lead;
    }
    if (sequence.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0) {
        return static_cast<unsigned char>(sequence[1]);
    }
    return std::nullopt;
}

std::string SafeText::forTerminal(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    while (!text.empty()) {
        const std::size_t length = utf8SequenceLength(text);
        const std::string_view sequence = text.substr(0, length == 0 ? 1 : length);
        if (length == 0 || controlCode(sequence)) {
            for (const char c : sequence) {
                const auto byte = static_cast<unsigned char>(c);
                shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
            }
        } else if (sequence == "\\") {
            shown += "\\\\";
        } else {
            shown += sequence;
        }
        text.remove_prefix(sequence.size());
    }
    return shown;
}

} // namespace corvix::cli
