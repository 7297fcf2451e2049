#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace corvix {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Corvix"));
    QMenu* menu = menuBar()->addMenu(QStringLiteral("文件"));
    QAction* quit =
        menu->addAction(QStringLiteral("退出"), QKeySequence::Quit, qApp, &QApplication::quit);
    // On macOS the item moves to the application menu, where Quit belongs.
    quit->setMenuRole(QAction::QuitRole);
    setCentralWidget(new QWidget);
    resize(600, 400);
}

} // namespace corvix
