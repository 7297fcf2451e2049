#include "BaseViewController.h"

#include <QColor>
#include <QEvent>
#include <QPalette>

namespace corvix {

BaseViewController::BaseViewController(QObject* parent) : QObject(parent) {}

BaseViewController::~BaseViewController() {
    delete view_.data();
}

QWidget* BaseViewController::view() {
    if (view_.isNull()) {
        loadView();
        viewDidLoad();
        view_->installEventFilter(this);
    }
    return view_.data();
}

void BaseViewController::loadView() {
    auto* root = new QWidget;
    root->setGeometry(0, 0, 0, 0);
    setView(root);
}

void BaseViewController::setView(QWidget* view) {
    view_ = view;
}

void BaseViewController::viewDidLoad() {}

void BaseViewController::layoutViews() {}

bool BaseViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_.data()) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::LayoutRequest:
            layoutViews();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void setLayerBackgroundColor(QWidget& view, const QColor& color) {
    if (!view.autoFillBackground()) {
        return;
    }
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, color);
    view.setPalette(palette);
}

} // namespace corvix
