// The application with the developer test screen installed in its window.

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "App/ToolkitTranslation.h"
#include "Ui/Main/Controller/TestController.h"

#include <QApplication>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvix devtest"));
    corvix::ToolkitTranslation::install(app);

    corvix::MainWindow window;
    window.show();
    corvix::AppDelegate delegate(window);
    delegate.applicationDidFinishLaunching(std::make_unique<corvix::TestController>());
    // Standard output belongs to the screen's own lines; the hint goes to standard error.
    std::fprintf(stderr, "corvix-devtest: \"Test\" decrypts %s into %s\n",
                 corvix::TestController::inputPath().c_str(),
                 corvix::TestController::outputPath().c_str());
    return QApplication::exec();
}
