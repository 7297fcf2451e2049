#pragma once

#include <QColor>
#include <QString>

namespace corvix {

/// The colour of six hexadecimal digits RRGGBB (either case, no prefix) at `alpha`. Each pair
/// is read on its own; a pair that does not start with a hexadecimal number gives 0 for its
/// component, and anything after the sixth character is ignored. A text shorter than six
/// characters (UTF-16 units) gives black at `alpha`. `alpha` is clamped to 0..1.
[[nodiscard]] QColor colorFromHex(const QString& text, double alpha = 1.0);

} // namespace corvix
