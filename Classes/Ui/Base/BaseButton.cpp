#include "BaseButton.h"

namespace corvix {

BaseButton::BaseButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {}

} // namespace corvix
