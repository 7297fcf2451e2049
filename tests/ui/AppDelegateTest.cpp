#include "App/AppDelegate.h"

#include "App/MainWindow.h"
#include "Ui/Main/Controller/MainController.h"

#include <QImage>
#include <QMenuBar>
#include <QTest>

using namespace corvix;

namespace {

class EmptyScreen : public BaseViewController {};

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT

private slots:
    void launchInstallsTheEncryptionScreen();
    void anotherScreenCanBeInstalled();
};

void AppDelegateTest::launchInstallsTheEncryptionScreen() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(600, 400));
    QVERIFY(!window.windowTitle().isEmpty());
    QVERIFY(!window.menuBar()->actions().isEmpty());

    AppDelegate delegate(window);
    QVERIFY(delegate.controller() == nullptr);
    delegate.applicationDidFinishLaunching();

    auto* screen = qobject_cast<MainController*>(delegate.controller());
    QVERIFY(screen != nullptr);
    QWidget* content = window.centralWidget();
    QCOMPARE(screen->view()->parentWidget(), content);
    QCOMPARE(screen->view()->geometry(), content->rect());
    QVERIFY(screen->view()->isVisible());
    QCOMPARE(window.palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(window.autoFillBackground());

    // Whatever the screen leaves uncovered shows white: the bottom margin of the content area.
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    QCOMPARE(image.pixelColor(
                 content->mapTo(&window, QPoint(content->width() / 2, content->height() - 4))),
             QColor(Qt::white));
}

void AppDelegateTest::anotherScreenCanBeInstalled() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    AppDelegate delegate(window);
    auto screen = std::make_unique<EmptyScreen>();
    BaseViewController* installed = screen.get();
    delegate.applicationDidFinishLaunching(std::move(screen));

    QCOMPARE(delegate.controller(), installed);
    QCOMPARE(installed->view()->parentWidget(), window.centralWidget());
    window.resize(640, 480);
    QTRY_COMPARE(installed->view()->geometry(), window.centralWidget()->rect());
}

QTEST_MAIN(AppDelegateTest)
#include "AppDelegateTest.moc"
