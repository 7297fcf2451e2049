#include "BaseTextView.h"

#include <QResizeEvent>
#include <QTextDocument>
#include <cmath>
#include <memory>

namespace corvix {

BaseTextView::BaseTextView(QWidget* parent) : QTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document()->setDocumentMargin(0);
    // Any change, typed or set in code, may change the size the text needs.
    connect(this, &QTextEdit::textChanged, this, &QWidget::updateGeometry);
}

QSizeF BaseTextView::laidOutSize(qreal textWidth) const {
    // Measure a copy, so the view's own layout (wrapped at the view's width) stays untouched.
    const std::unique_ptr<QTextDocument> copy(document()->clone());
    copy->setDefaultFont(font());
    copy->setDocumentMargin(document()->documentMargin());
    copy->setTextWidth(textWidth);
    return copy->size();
}

QSize BaseTextView::intrinsicContentSize() const {
    const QSizeF size = laidOutSize(-1);
    return {static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height()))};
}

QSize BaseTextView::sizeHint() const {
    return intrinsicContentSize();
}

// A window's minimum size cannot follow a height that depends on the width; this minimum,
// renewed whenever the width changes, is how the window learns that the text now wraps onto
// more lines.
QSize BaseTextView::minimumSizeHint() const {
    return {0, heightForWidth(width())};
}

void BaseTextView::resizeEvent(QResizeEvent* event) {
    QTextEdit::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) {
        updateGeometry();
    }
}

int BaseTextView::heightForWidth(int width) const {
    return static_cast<int>(std::ceil(laidOutSize(width).height()));
}

} // namespace corvix
