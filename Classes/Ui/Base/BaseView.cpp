#include "BaseView.h"

namespace corvix {

BaseView::BaseView(QWidget* parent) : QWidget(parent) {}

} // namespace corvix
