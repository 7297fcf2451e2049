#include "Ui/Main/Controller/TestController.h"

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"
#include "StdoutCapture.h"
#include "Ui/Base/BaseButton.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <memory>

using corvix::TestController;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Encrypts `plain` into the screen's fixed input file with the file encryptor.
bool writeConfig(const QByteArray& plain) {
    const QString input = QString::fromStdString(TestController::inputPath());
    const QString source = input + QStringLiteral(".plain");
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(plain) != plain.size()) {
        return false;
    }
    file.close();
    bool done = false;
    corvix::AESUtils::encryptFile(source.toStdString(), input.toStdString(), "quorveth",
                                  corvix::CorvixKey::aesKey(), corvix::CorvixKey::ivBytes(), {},
                                  [&] { done = true; });
    QFile::remove(source);
    return done;
}

QString outputPath() {
    return QString::fromStdString(TestController::outputPath());
}

// Shows the screen, presses "Test" and returns the lines it printed.
QStringList pressTest(TestController& screen) {
    QWidget* root = screen.view();
    root->resize(400, 300);
    root->show();
    auto* button = root->findChild<corvix::BaseButton*>(QStringLiteral("btnTest"));
    if (button == nullptr) {
        return {QStringLiteral("no Test button")};
    }
    StdoutCapture capture;
    QTest::mouseClick(button, Qt::LeftButton);
    return capture.stop();
}

} // namespace

class TestControllerTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(
            QDir().mkpath(QFileInfo(QString::fromStdString(TestController::inputPath())).path()));
        QFile::remove(QString::fromStdString(TestController::inputPath()));
        QFile::remove(outputPath());
    }

    void pathsAreFixedAbsoluteAndPaired() {
        const std::string input = TestController::inputPath();
        QVERIFY(QFileInfo(QString::fromStdString(input)).isAbsolute());
        QVERIFY(input.ends_with("/config.json.enc"));
        QCOMPARE(TestController::outputPath(), input + ".json");
    }

    void screenHasTheButtonAndThePhotoWhereTheyBelong() {
        TestController screen;
        QWidget* root = screen.view();
        root->resize(400, 300);
        root->show();
        QVERIFY(root->autoFillBackground());
        QCOMPARE(root->palette().color(QPalette::Window), QColor(Qt::white));

        auto* button = root->findChild<corvix::BaseButton*>(QStringLiteral("btnTest"));
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), QStringLiteral("Test"));
        QCOMPARE(button->geometry(), QRect(QPoint(16, 16), button->sizeHint()));

        QLabel* photo = screen.imvPhoto();
        QVERIFY(photo != nullptr);
        QCOMPARE(photo->parentWidget(), root);
        QVERIFY(photo->hasScaledContents());
        QVERIFY(photo->pixmap().isNull());
        QCOMPARE(photo->y(), 16);
        QCOMPARE(photo->x() + photo->width(), 400 + 16);

        root->resize(520, 300);
        QCOMPARE(photo->x() + photo->width(), 520 + 16);
        QCOMPARE(button->geometry(), QRect(QPoint(16, 16), button->sizeHint()));
    }

    void presentFilePrintsThreeLinesAndWritesItsDecryption() {
        const QByteArray config = "{\"name\": \"corvix\", \"path\": \"C:\\\\assets\"}";
        QVERIFY(writeConfig(config));
        TestController screen;
        QCOMPARE(pressTest(screen),
                 QStringList({QStringLiteral("onClickTest"),
                              QStringLiteral("content:Optional(\"{\\\"name\\\": \\\"corvix\\\", "
                                             "\\\"path\\\": \\\"C:\\\\\\\\assets\\\"}\")"),
                              QStringLiteral("test11")}));
        QCOMPARE(readAll(outputPath()), config);
    }

    void twoLinePlaintextPrintsAsOneLine() {
        QVERIFY(writeConfig("first line\nsecond line\n"));
        TestController screen;
        const QStringList lines = pressTest(screen);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QStringLiteral("content:Optional(\"first line\\nsecond line\\n\")"));
    }

    void controlCharactersAreNeverWrittenRaw() {
        const QByteArray plain = QByteArray("tab\there\r\nesc\x1B del\x7F nul") + '\0' +
                                 QByteArray(" bell\x07 c1\xC2\x85 'q' é 世");
        QVERIFY(writeConfig(plain));
        TestController screen;
        const QStringList lines = pressTest(screen);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1],
                 QStringLiteral("content:Optional(\"tab\\there\\r\\nesc\\u{1B} del\\u{7F} "
                                "nul\\0 bell\\u{7} c1\\u{85} 'q' é 世\")"));
    }

    void absentFilePrintsFiveLines() {
        TestController screen;
        const QStringList lines = pressTest(screen);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QStringLiteral("onClickTest"));
        QVERIFY2(lines[1].contains(QString::fromStdString(TestController::inputPath())),
                 qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("content:nil"));
        QCOMPARE(lines[3], lines[1]);
        QCOMPARE(lines[4], QStringLiteral("test11"));
        QVERIFY(!QFile::exists(outputPath()));
    }

    void fileThatDoesNotDecryptPrintsNil() {
        QFile file(QString::fromStdString(TestController::inputPath()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("header\rnot sixteen-byte blocks");
        file.close();
        TestController screen;
        QCOMPARE(pressTest(screen),
                 QStringList({QStringLiteral("onClickTest"), QStringLiteral("content:nil"),
                              QStringLiteral("test11")}));
        QVERIFY(!QFile::exists(outputPath()));
    }

    void pressingAgainDecryptsAgainAndOverwrites() {
        TestController screen;
        QVERIFY(writeConfig("{\"version\": 1}"));
        QCOMPARE(pressTest(screen).size(), 3);
        QCOMPARE(readAll(outputPath()), QByteArray("{\"version\": 1}"));
        QVERIFY(writeConfig("{\"version\": 2}"));
        const QStringList lines = pressTest(screen);
        QCOMPARE(lines[1], QStringLiteral("content:Optional(\"{\\\"version\\\": 2}\")"));
        QCOMPARE(readAll(outputPath()), QByteArray("{\"version\": 2}"));
    }

    void delegateInstallsTheScreenInTheWindow() {
        corvix::MainWindow window;
        window.show();
        corvix::AppDelegate delegate(window);
        delegate.applicationDidFinishLaunching(std::make_unique<TestController>());
        auto* screen = qobject_cast<TestController*>(delegate.controller());
        QVERIFY(screen != nullptr);
        QCOMPARE(screen->view()->parentWidget(), window.centralWidget());
        QCOMPARE(screen->view()->geometry(), window.centralWidget()->rect());
    }
};

QTEST_MAIN(TestControllerTest)
#include "TestControllerTest.moc"
