#pragma once

#include <QPushButton>

namespace corvix {

/// The push button of every screen. It draws, highlights and clicks exactly like the toolkit's
/// push button; it exists so that the screens share one class they can extend.
class BaseButton : public QPushButton {
    Q_OBJECT

public:
    explicit BaseButton(const QString& title, QWidget* parent = nullptr);

    /// A new button titled `title` that calls `action` on `target` when clicked. The caller
    /// adds it to a view, which then owns it.
    template <typename Target>
    [[nodiscard]] static BaseButton* buttonWithTitle(const QString& title, Target* target,
                                                     void (Target::*action)()) {
        auto* button = new BaseButton(title);
        QObject::connect(button, &QPushButton::clicked, target, action);
        return button;
    }
};

} // namespace corvix
