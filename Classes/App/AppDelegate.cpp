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
    if (!controller_->title().isEmpty()) {
        window_->setWindowTitle(controller_->title());
    }
    if (content != nullptr) {
        // Asking for the root view builds the whole screen before it enters the window.
        QWidget* root = controller_->view();
        root->setParent(content);
        root->setGeometry(content->rect());
        root->show();
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (window_ && watched == window_->centralWidget()) {
        if (event->type() == QEvent::Resize) {
            windowDidResize();
        } else if (event->type() == QEvent::LayoutRequest) {
            screenDidChangeMinimumSize();
        }
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::screenDidChangeMinimumSize() {
    // The root view's minimum becomes the content area's, which the window's own layout keeps.
    if (controller_ && controller_->isViewLoaded()) {
        window_->centralWidget()->setMinimumSize(controller_->view()->minimumSize());
    }
}

void AppDelegate::windowDidResize() {
    QWidget* content = window_->centralWidget();
    if (controller_ && controller_->isViewLoaded()) {
        controller_->view()->setGeometry(content->rect());
    }
}

} // namespace corvix
