#include "AppDelegate.h"

#include "Ui/Main/Controller/MainController.h"

#include <QMainWindow>
#include <QPalette>
#include <QVBoxLayout>

namespace corvix {

AppDelegate::AppDelegate(QMainWindow& window) : window_(&window) {}

void AppDelegate::applicationDidFinishLaunching() {
    applicationDidFinishLaunching(std::make_unique<MainController>());
}

void AppDelegate::applicationDidFinishLaunching(std::unique_ptr<BaseViewController> screen) {
    window_->setAutoFillBackground(true);
    setLayerBackgroundColor(*window_, Qt::white);

    QWidget* content = window_->centralWidget();
    controller_ = std::move(screen);
    if (!controller_->title().isEmpty()) {
        window_->setWindowTitle(controller_->title());
    }
    if (content != nullptr) {
        // Asking for the root view builds the whole screen before it enters the window.
        QWidget* root = controller_->view();
        auto* fill = new QVBoxLayout(content);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(root);
        // Showing it lays the content area out at once: the screen is in place when launching ends.
        root->show();
    }
}

} // namespace corvix
