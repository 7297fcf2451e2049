#include "Ui/Main/Controller/TestController.h"

#include "EncryptedFiles.h"
#include "StdoutLines.h"
#include "Ui/Base/BaseButton.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

using corvix::TestController;

namespace {

QString inputPath() {
    return QString::fromStdString(TestController::inputPath());
}

QString outputPath() {
    return QString::fromStdString(TestController::outputPath());
}

QByteArray readOutput() {
    QFile file(outputPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Encrypts `plain` into the screen's fixed input file with the file encryptor.
bool writeConfig(const QByteArray& plain) {
    return corvix::test::writeEncrypted(TestController::inputPath(), plain.toStdString());
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
    StdoutLines capture;
    QTest::mouseClick(button, Qt::LeftButton);
    return capture.stop();
}

} // namespace

class TestControllerTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(QDir().mkpath(QFileInfo(inputPath()).path()));
        QFile::remove(inputPath());
        QFile::remove(outputPath());
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

    // Each press reads the file again and writes its decryption beside it, over the last one.
    void presentFilePrintsThreeLinesAndWritesItsDecryption() {
        QVERIFY(QFileInfo(inputPath()).isAbsolute());
        QVERIFY(inputPath().endsWith(QStringLiteral("/config.json.enc")));
        QCOMPARE(outputPath(), inputPath() + QStringLiteral(".json"));
        TestController screen;
        QVERIFY(writeConfig("{\"version\": 1}"));
        QCOMPARE(pressTest(screen).size(), 3);
        QCOMPARE(readOutput(), QByteArray("{\"version\": 1}"));

        const QByteArray config = "{\"name\": \"corvix\", \"path\": \"C:\\\\assets\"}";
        QVERIFY(writeConfig(config));
        QCOMPARE(pressTest(screen),
                 QStringList({QStringLiteral("onClickTest"),
                              QStringLiteral("content:Optional(\"{\\\"name\\\": \\\"corvix\\\", "
                                             "\\\"path\\\": \\\"C:\\\\\\\\assets\\\"}\")"),
                              QStringLiteral("test11")}));
        QCOMPARE(readOutput(), config);
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
        QVERIFY2(lines[1].contains(inputPath()), qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("content:nil"));
        QCOMPARE(lines[3], lines[1]);
        QCOMPARE(lines[4], QStringLiteral("test11"));
        QVERIFY(!QFile::exists(outputPath()));
    }

    void fileThatDoesNotDecryptPrintsNil() {
        QFile file(inputPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("header\rnot sixteen-byte blocks");
        file.close();
        TestController screen;
        QCOMPARE(pressTest(screen),
                 QStringList({QStringLiteral("onClickTest"), QStringLiteral("content:nil"),
                              QStringLiteral("test11")}));
        QVERIFY(!QFile::exists(outputPath()));
    }
};

QTEST_MAIN(TestControllerTest)
#include "TestControllerTest.moc"
