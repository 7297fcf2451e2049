#pragma once

#include <QTextEdit>

namespace corvix {

/// A multi-line text view whose preferred size is the size of its laid-out text, so that a
/// screen can size it to its content: no frame, no scroll bars, no margin around the text.
/// It never gets lower than its text wrapped at its current width, so a layout never cuts a
/// line off. Nothing is cached: every request lays the text out anew, and every change of the
/// text or of the width tells the parent's layout to ask again.
class BaseTextView : public QTextEdit {
    Q_OBJECT

public:
    explicit BaseTextView(QWidget* parent = nullptr);

    /// The size of the text laid out without a width limit (one line per paragraph).
    [[nodiscard]] QSize intrinsicContentSize() const;
    [[nodiscard]] QSize sizeHint() const override;
    /// No width of its own; the height of the text wrapped at the current width.
    [[nodiscard]] QSize minimumSizeHint() const override;
    /// The height of the text when its lines wrap at `width`.
    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    [[nodiscard]] QSizeF laidOutSize(qreal textWidth) const;
};

} // namespace corvix
