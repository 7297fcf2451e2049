#pragma once

#include <QWidget>

namespace corvix {

/// The plain view class for custom views; it behaves exactly like a plain widget.
class BaseView : public QWidget {
    Q_OBJECT

public:
    explicit BaseView(QWidget* parent = nullptr);
};

} // namespace corvix
