#include "ColorFromHex.h"

#include "Basics/Encodings.h"

#include <algorithm>

namespace corvix {

namespace {

// Reads a hexadecimal number at the start of `pair`, after any white space; 0 when none.
int leadingHexValue(QStringView pair) {
    int value = 0;
    for (const QChar c : pair.trimmed()) {
        const int digit = hexDigitValue(c.unicode());
        if (digit < 0) {
            break;
        }
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

QColor colorFromHex(const QString& text, double alpha) {
    // The toolkit gives an invalid colour for an alpha outside 0..1; clamp as other toolkits do.
    const auto opacity = static_cast<float>(std::clamp(alpha, 0.0, 1.0));
    if (text.size() < 6) {
        return QColor::fromRgbF(0, 0, 0, opacity);
    }
    const QStringView digits(text);
    const auto component = [&](qsizetype at) {
        return static_cast<float>(leadingHexValue(digits.mid(at, 2)) / 255.0);
    };
    return QColor::fromRgbF(component(0), component(2), component(4), opacity);
}

} // namespace corvix
