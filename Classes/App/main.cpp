#include "AppDelegate.h"
#include "MainWindow.h"
#include "ToolkitTranslation.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvix"));
    corvix::ToolkitTranslation::install(app);

    corvix::MainWindow window;
    window.show();
    corvix::AppDelegate delegate(window);
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
