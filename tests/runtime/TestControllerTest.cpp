// The developer test screen in the application window, its "Test" button pressed once per row.

#include "Ui/Main/Controller/TestController.h"

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "Format/FileCipher.h"
#include "TestKit.h"
#include "Ui/Base/BaseButton.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace corvix;
using namespace corvix::test;

class TestControllerTest : public QObject {
    Q_OBJECT

private slots:
    void lines_data() {
        // A row: the screen's input file, encrypted from this plaintext (raw when "encrypted" is
        // false, missing when null) | what "Test" prints between "onClickTest" and "test11".
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("lines");
        QTest::newRow("quotes, backslashes, line breaks")
            << QByteArray("{\"path\": \"C:\\\\assets\"}\n\tend\r") << true
            << "content:Optional(\"{\\\"path\\\": \\\"C:\\\\\\\\assets\\\"}\\n\\tend\\r\")";
        QTest::newRow("no such file")
            << QByteArray() << false
            << "{in}: No such file or directory\ncontent:nil\n{in}: No such file or directory";
        QTest::newRow("not an encrypted file")
            << QByteArray("header\rnot sixteen-byte blocks") << false << "content:nil";
    }

    // Decrypts the file twice, into memory (printed) and into the output file beside it.
    void lines() {
        QFETCH(QByteArray, plain);
        QFETCH(bool, encrypted);
        QFETCH(QString, lines);
        const std::string input = TestController::inputPath();
        const std::string output = TestController::outputPath();
        fs::remove_all(fs::path(input).parent_path());
        if (!plain.isNull()) {
            QVERIFY(encrypted ? writeEncrypted(input, plain.toStdString())
                              : (writeFile(input, plain.toStdString()), true));
        }

        MainWindow window;
        window.show();
        AppDelegate delegate(window);
        delegate.applicationDidFinishLaunching(std::make_unique<TestController>());
        QVERIFY(window.windowTitle().contains("developer test screen"));
        // The button 16 from the top and left edges; the photo 16 from the top, its right edge 16
        // beyond the root view's right edge.
        auto* screen = qobject_cast<TestController*>(delegate.controller());
        QCOMPARE(window.findChild<BaseButton*>("btnTest")->pos(), QPoint(16, 16));
        QCOMPARE(screen->imvPhoto()->geometry().topRight() + QPoint(1, 0),
                 QPoint(screen->view()->width() + 16, 16));
        testing::internal::CaptureStdout();
        QTest::mouseClick(window.findChild<BaseButton*>("btnTest"), Qt::LeftButton);
        QCOMPARE(QString::fromStdString(testing::internal::GetCapturedStdout()),
                 "onClickTest\n" + lines.replace("{in}", input.c_str()) + "\ntest11\n");
        QCOMPARE(fs::exists(output) ? readFile(output) : "<none>",
                 encrypted ? plain.toStdString() : "<none>");
    }
};

QTEST_MAIN(TestControllerTest)
#include "TestControllerTest.moc"
