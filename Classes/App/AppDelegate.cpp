#include "AppDelegate.h"

#include "Ui/Main/Controller/MainController.h"

#include <QEvent>
#include <QMainWindow>
#include <QPalette>

namespace corvix {

AppDelegate::AppDelegate(QMainWindow& window) : window_(&window) {}

void AppDelegate::applicationDidFinishLaunching() {
    applicationDidFinishLaunching(std::make_unique<MainController>());
}

void AppDelegate::applicationDidFinishLaunching(std::unique_ptr<BaseViewController> screen) {
    QPalette palette = window_->palette();
    palette.setColor(QPalette::Window, Qt::white);
    window_->setPalette(palette);
    window_->setAutoFillBackground(true);

    QWidget* content = window_->centralWidget();
    if (content != nullptr) {
        content->installEventFilter(this);
    }

    controller_ = std::move(screen);
    if (content != nullptr) {
        // Asking for the root view builds the whole screen before it enters the window.
        QWidget* root = controller_->view();
        root->setParent(content);
        root->setGeometry(content->rect());
        root->show();
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && window_ && watched == window_->centralWidget()) {
        windowDidResize();
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::windowDidResize() {
    QWidget* content = window_->centralWidget();
    if (controller_ && controller_->isViewLoaded()) {
        controller_->view()->setGeometry(content->rect());
    }
}

} // namespace corvix
