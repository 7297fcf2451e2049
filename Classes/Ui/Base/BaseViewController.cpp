#include "BaseViewController.h"

#include <QColor>
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
    }
    return view_.data();
}

void BaseViewController::loadView() {
    auto* root = new QWidget;
    root->resize(0, 0);
    setView(root);
}

void BaseViewController::setView(QWidget* view) {
    view_ = view;
}

void BaseViewController::viewDidLoad() {}

void setLayerBackgroundColor(QWidget& view, const QColor& color) {
    if (!view.autoFillBackground()) {
        return;
    }
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, color);
    view.setPalette(palette);
}

} // namespace corvix
