#include "Ui/Main/Controller/MainController.h"

#include "EncryptedFiles.h"
#include "MainScreen.h"
#include "StdoutLines.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <memory>

using namespace corvix;

namespace {

const QString kReady = QStringLiteral("提示信息");
const QString kRunning = QStringLiteral("正在加密...");
const QString kFinished = QStringLiteral("加密完成");
const QString kOutputLabel = QStringLiteral("输出目录:");

// Files of zero bytes that take no disk space, 64 MiB each to keep the suite quick; the
// benchmark sets CORVIX_LARGE_FILE_MIB=1024.
qint64 makeLargeFiles(const QString& dir, const QStringList& names) {
    const int mebibytes = qEnvironmentVariableIsSet("CORVIX_LARGE_FILE_MIB")
                              ? qEnvironmentVariableIntValue("CORVIX_LARGE_FILE_MIB")
                              : 64;
    const qint64 size = qint64{mebibytes} << 20;
    for (const QString& name : names) {
        QFile file(dir + u'/' + name);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size)) {
            return -1;
        }
    }
    return size;
}

void verifyEncrypted(const QString& source, const QString& encrypted) {
    QFile plain(source);
    QVERIFY(plain.open(QIODevice::ReadOnly));
    const QByteArray expected = plain.readAll();
    QCOMPARE(QFileInfo(encrypted).size(), qint64(test::encryptedSize(expected.size())));
    QCOMPARE(decryptedFile(encrypted), expected);
}

bool showsColour(QWidget& view, bool (*matches)(QColor)) {
    const QImage image = view.grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (matches(image.pixelColor(x, y))) {
                return true;
            }
        }
    }
    return false;
}

// The lines of each file of a job, in list order.
QStringList jobLines(const QList<QUrl>& urls, const QString& out) {
    QStringList lines;
    for (const QUrl& url : urls) {
        lines << "srcPath:" + url.toLocalFile() + " srcName:" + url.fileName()
              << "dstPath:" + out + "/" + url.fileName() + ".enc";
    }
    return lines;
}

} // namespace

class MainControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initialScreen();
    void layoutFollowsTheConstraintTable_data();
    void layoutFollowsTheConstraintTable();
    void panelsAreConfiguredPerPurpose();
    void wholeRunWalksTheStateTable();
    void cancelledPanelsChangeNothingButTheList();
    void failedFileIsCountedAndNamed();
    void choiceDuringAJobWaitsForIt();
    void windowStaysResponsiveDuringALargeFile();
    void closingDuringAJobLeavesNoPartialFile();

private:
    void verifyConstraintTable(MainScreen& screen);
    // A folder in the test's temporary folder with `files` in it, each holding its own name.
    QString makeDir(const QString& name, const QStringList& files = {}) {
        const QString path = dir_.path() + u'/' + name;
        if (!QDir().mkpath(path)) {
            return {};
        }
        for (const QString& fileName : files) {
            QFile file(path + u'/' + fileName);
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(fileName.toUtf8()) != fileName.toUtf8().size()) {
                return {};
            }
        }
        return path;
    }
    QTemporaryDir dir_;
};

void MainControllerTest::initialScreen() {
    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;

    QCOMPARE(c.btnChooseSrc()->text(), QStringLiteral("选择输入文件\n(可多选)"));
    QCOMPARE(c.btnChooseDst()->text(), QStringLiteral("选择输出目录"));
    QCOMPARE(c.btnEncrypt()->text(), QStringLiteral("点击加密"));
    QVERIFY(c.btnChooseSrc()->isEnabled());
    QVERIFY(c.btnChooseDst()->isEnabled());
    QVERIFY(!c.btnEncrypt()->isEnabled());

    // The two-line title fits inside its 100 x 50 button.
    const QRect title = c.btnChooseSrc()->fontMetrics().boundingRect(
        QRect(0, 0, 100, 50), Qt::AlignCenter, c.btnChooseSrc()->text());
    QVERIFY2(title.height() <= 50 && title.width() <= 100,
             qPrintable(QString::number(title.width())));

    auto* rule = c.view()->findChild<BaseTextView*>(QStringLiteral("labRule"));
    QVERIFY(rule != nullptr);
    QCOMPARE(rule->toPlainText(), QStringLiteral("加密文件命名规则: 原文件名.enc"));
    QCOMPARE(screen.output(), kOutputLabel);
    QCOMPARE(screen.message(), kReady);
    for (QTextEdit* label : {static_cast<QTextEdit*>(rule), static_cast<QTextEdit*>(c.labOutput()),
                             static_cast<QTextEdit*>(c.labMessage())}) {
        QVERIFY(label->isReadOnly());
    }
    QVERIFY(c.srcUrls().isEmpty());
    QVERIFY(c.dstDir().isEmpty());
    QTest::keyClicks(c.labMessage(), QStringLiteral("x"));
    QCOMPARE(screen.message(), kReady);

    // The colours reach the screen: red rule, purple output line, blue message, white ground.
    QVERIFY(showsColour(*rule,
                        [](QColor p) { return p.red() > 200 && p.green() < 70 && p.blue() < 70; }));
    QVERIFY(showsColour(*c.labOutput(), [](QColor p) {
        return p.red() > 100 && p.red() < 160 && p.blue() > 100 && p.blue() < 160 && p.green() < 40;
    }));
    QVERIFY(showsColour(*c.labMessage(),
                        [](QColor p) { return p.blue() > 200 && p.red() < 70 && p.green() < 70; }));
    QCOMPARE(c.view()->grab().toImage().pixelColor(8, 8), QColor(Qt::white));
}

void MainControllerTest::verifyConstraintTable(MainScreen& screen) {
    MainController& c = *screen.controller;
    QWidget* root = c.view();
    QCOMPARE(root->geometry(), screen.window.centralWidget()->rect());
    const int width = root->width();

    QCOMPARE(c.btnChooseSrc()->geometry(), QRect(16, 16, 100, 50));
    QCOMPARE(c.btnChooseDst()->geometry(), QRect(132, 16, 100, 50));
    QCOMPARE(c.btnEncrypt()->geometry(), QRect(248, 16, 100, 50));

    // Each text view sits 16 points under the view above it.
    auto* rule = root->findChild<BaseTextView*>(QStringLiteral("labRule"));
    QCOMPARE(rule->geometry(), QRect(QPoint(16, 16 + 50 + 16), rule->sizeHint()));
    const int outputTop = rule->y() + rule->height() + 16;
    QCOMPARE(c.labOutput()->geometry(),
             QRect(16, outputTop, width - 32, c.labOutput()->heightForWidth(width - 32)));
    const int messageTop = outputTop + c.labOutput()->height() + 16;
    QCOMPARE(c.labMessage()->geometry(),
             QRect(16, messageTop, width - 32, root->height() - 16 - messageTop));
}

void MainControllerTest::layoutFollowsTheConstraintTable_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("wider") << QSize(900, 640);
    QTest::newRow("narrower") << QSize(420, 330);
}

void MainControllerTest::layoutFollowsTheConstraintTable() {
    QFETCH(QSize, size);
    MainScreen screen;
    QVERIFY(screen.launch());
    QCoreApplication::processEvents();
    verifyConstraintTable(screen);

    screen.window.resize(size);
    QTRY_COMPARE(screen.window.size(), size);
    QCoreApplication::processEvents();
    verifyConstraintTable(screen);

    // A long output path wraps: the output line grows and the message area gives way.
    const int oneLine = screen.controller->labOutput()->height();
    const QString deep = makeDir(QStringLiteral("一个很长很长的输出目录名字") + QString(150, u'x'));
    {
        StdoutLines quiet;
        QVERIFY(screen.chooseDir(deep));
    }
    QVERIFY(!screen.encryptEnabled());
    QCoreApplication::processEvents();
    QVERIFY(screen.controller->labOutput()->height() > oneLine);
    verifyConstraintTable(screen);
}

void MainControllerTest::panelsAreConfiguredPerPurpose() {
    const QString mixed =
        makeDir(QStringLiteral("mixed"), {"a.txt", "B.JPG", "c.pdf", "d.png", "e.json", "f.jpeg"});
    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutLines capture;

    QTest::mouseClick(c.btnChooseSrc(), Qt::LeftButton);
    QFileDialog* input = c.openPanel();
    QVERIFY(input != nullptr && input->isVisible());
    QCOMPARE(input->parentWidget(), &screen.window);
    QCOMPARE(input->windowModality(), Qt::WindowModal);
    QVERIFY(input->testOption(QFileDialog::DontUseNativeDialog));
    QCOMPARE(input->labelText(QFileDialog::Accept), QStringLiteral("选择输入文件"));
    QPushButton* open = MainScreen::panelButton(*input, QDialogButtonBox::Open);
    QVERIFY(open != nullptr);
    QCOMPARE(open->text(), QStringLiteral("选择输入文件"));
    QCOMPARE(input->fileMode(), QFileDialog::ExistingFiles);
    QCOMPARE(input->nameFilters().size(), 1);
    for (const char* pattern : {"*.jpg", "*.png", "*.txt", "*.json"}) {
        QVERIFY2(input->nameFilters()[0].contains(QLatin1String(pattern)),
                 qPrintable(input->nameFilters()[0]));
    }
    // The panel offers only those types, in either case.
    input->setDirectory(mixed);
    auto* list = input->findChild<QListView*>(QStringLiteral("listView"));
    QVERIFY(list != nullptr);
    const auto offered = [list] {
        QStringList names;
        for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
            names << list->model()->index(row, 0, list->rootIndex()).data().toString();
        }
        names.sort();
        return names;
    };
    QTRY_COMPARE(offered(), (QStringList{"B.JPG", "a.txt", "d.png", "e.json"}));
    QVERIFY(input->testOption(QFileDialog::ReadOnly));
    auto* newFolder = input->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
    QVERIFY(newFolder != nullptr);
    QVERIFY(!newFolder->isEnabled() || !newFolder->isVisible());
    QVERIFY(MainScreen::press(*input, QDialogButtonBox::Cancel));

    QTest::mouseClick(c.btnChooseDst(), Qt::LeftButton);
    QFileDialog* output = c.openPanel();
    QVERIFY(output != nullptr && output != input && output->isVisible());
    QCOMPARE(output->windowModality(), Qt::WindowModal);
    QCOMPARE(output->labelText(QFileDialog::Accept), QStringLiteral("选择选择输出目录"));
    open = MainScreen::panelButton(*output, QDialogButtonBox::Open);
    QVERIFY(open != nullptr);
    QCOMPARE(open->text(), QStringLiteral("选择选择输出目录"));
    QCOMPARE(output->fileMode(), QFileDialog::Directory);
    QVERIFY(output->testOption(QFileDialog::ShowDirsOnly));
    QVERIFY(!output->testOption(QFileDialog::ReadOnly));
    newFolder = output->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
    QVERIFY(newFolder != nullptr && newFolder->isEnabled() && newFolder->isVisible());
    QVERIFY(MainScreen::press(*output, QDialogButtonBox::Cancel));

    QCOMPARE(capture.stop(),
             (QStringList{"onClickChooseSrc", "response:0", "onClickChooseDst", "response:0"}));
}

void MainControllerTest::wholeRunWalksTheStateTable() {
    const QString in = makeDir(QStringLiteral("run in"), {"a.txt", "b.png"});
    const QString out = makeDir(QStringLiteral("输出 目录"));

    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutLines capture;

    // Not ready: the output directory alone shows in the label but enables nothing; a second
    // choice replaces the first.
    QVERIFY(screen.chooseDir(QStringLiteral("/")));
    QCOMPARE(screen.output(), QStringLiteral("输出目录:/"));
    QVERIFY(screen.chooseDir(out));
    QCOMPARE(c.dstDir(), out);
    QCOMPARE(screen.output(), kOutputLabel + out);
    QVERIFY(!screen.encryptEnabled());

    // Ready.
    const QList<QUrl> urls = screen.chooseFiles(in, {"a.txt", "b.png"});
    QCOMPARE(urls.size(), 2);
    QCOMPARE(c.srcUrls(), urls);
    QVERIFY(screen.encryptEnabled());

    // Running, until the completion step has come back to this thread.
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);
    QCOMPARE(screen.message(), kRunning);
    QVERIFY(!screen.encryptEnabled());
    QVERIFY(screen.waitForJob());

    // Finished.
    QCOMPARE(screen.message(), kFinished);
    QVERIFY(!screen.encryptEnabled());
    QVERIFY(c.srcUrls().isEmpty());
    QCOMPARE(screen.output(), kOutputLabel + out);

    // Choosing input files again leads straight back to Ready.
    QCOMPARE(screen.chooseFiles(in, {"a.txt"}).size(), 1);
    QVERIFY(screen.encryptEnabled());
    QCOMPARE(
        capture.stop(),
        QStringList({"onClickChooseDst", "response:1", "path:/", "onClickChooseDst", "response:1",
                     "path:" + out, "onClickChooseSrc", "response:1", "onClickEncrypt"}) +
            jobLines(urls, out) + QStringList({"onClickChooseSrc", "response:1"}));

    verifyEncrypted(in + QStringLiteral("/a.txt"), out + QStringLiteral("/a.txt.enc"));
    verifyEncrypted(in + QStringLiteral("/b.png"), out + QStringLiteral("/b.png.enc"));
}

void MainControllerTest::cancelledPanelsChangeNothingButTheList() {
    const QString in = makeDir(QStringLiteral("cancel in"), {"notes.json"});
    const QString out = makeDir(QStringLiteral("cancel out"));

    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutLines capture;
    QVERIFY(screen.readyToEncrypt(out, in, {"notes.json"}));
    QVERIFY(screen.encryptEnabled());

    // Cancelling the input panel: the click already emptied the list, the button keeps its
    // state.
    QVERIFY(screen.cancelPanel(c.btnChooseSrc()));
    QVERIFY(c.srcUrls().isEmpty());
    QVERIFY(screen.encryptEnabled());

    // Cancelling the output panel changes nothing.
    QVERIFY(screen.cancelPanel(c.btnChooseDst()));
    QCOMPARE(c.dstDir(), out);
    QCOMPARE(screen.output(), kOutputLabel + out);

    // The job over the empty list only reports that it is done.
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);
    QVERIFY(screen.waitForJob());
    QCOMPARE(screen.message(), kFinished);
    QVERIFY(!screen.encryptEnabled());
    QCOMPARE(QDir(out).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList());
    QCOMPARE(capture.stop(),
             (QStringList{"onClickChooseDst", "response:1", "path:" + out, "onClickChooseSrc",
                          "response:1", "onClickChooseSrc", "response:0", "onClickChooseDst",
                          "response:0", "onClickEncrypt"}));
}

void MainControllerTest::failedFileIsCountedAndNamed() {
    const QString in = makeDir(QStringLiteral("fail in"), {"good.txt", "gone.txt"});
    const QString out = makeDir(QStringLiteral("fail out"));
    const QString good = in + QStringLiteral("/good.txt");
    const QString gone = in + QStringLiteral("/gone.txt");

    MainScreen screen;
    QVERIFY(screen.launch());
    StdoutLines capture;
    QVERIFY(screen.chooseDir(out));
    const QList<QUrl> urls = screen.chooseFiles(in, {"gone.txt", "good.txt"});
    QCOMPARE(urls.size(), 2);
    QFile::remove(gone);
    QTest::mouseClick(screen.controller->btnEncrypt(), Qt::LeftButton);
    QVERIFY(screen.waitForJob());
    QCOMPARE(screen.message(), QStringLiteral("加密完成，失败 1 个文件"));
    QVERIFY(!screen.encryptEnabled());
    QVERIFY(screen.controller->srcUrls().isEmpty());

    // Each file's own lines, in list order; the missing one adds the system's error line and
    // its failure line.
    const QStringList lines = capture.stop();
    const qsizetype start = lines.indexOf(QStringLiteral("onClickEncrypt"));
    QVERIFY(start >= 0);
    QStringList expected;
    for (const QUrl& url : urls) {
        expected << jobLines({url}, out);
        if (url.toLocalFile() == gone) {
            expected << gone + ": No such file or directory"
                     << "failed:" + gone;
        }
    }
    QCOMPARE(lines.mid(start + 1), expected);
    QVERIFY(!QFile::exists(out + QStringLiteral("/gone.txt.enc")));
    verifyEncrypted(good, out + QStringLiteral("/good.txt.enc"));
}

void MainControllerTest::choiceDuringAJobWaitsForIt() {
    const QString in = makeDir(QStringLiteral("during in"), {"a.txt"});

    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutLines quiet;
    QVERIFY(screen.readyToEncrypt(in, in, {"a.txt"}));
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);

    // Nothing here lets the event loop deliver the job's completion, so the job is still
    // running when the new choice is made, however fast it is.
    QCOMPARE(screen.chooseFiles(in, {"a.txt"}).size(), 1);
    QCOMPARE(c.srcUrls().size(), 1);
    QVERIFY(!screen.encryptEnabled());
    QVERIFY(screen.waitForJob());
    QCOMPARE(screen.message(), kFinished);
    QVERIFY(c.srcUrls().isEmpty());
    QVERIFY(!screen.encryptEnabled());
}

void MainControllerTest::windowStaysResponsiveDuringALargeFile() {
    const QString in = makeDir(QStringLiteral("large in"));
    const QString out = makeDir(QStringLiteral("large out"));
    const qint64 size = makeLargeFiles(in, {"large.json"});
    QVERIFY(size > 0);

    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutLines quiet;
    QVERIFY(screen.readyToEncrypt(out, in, {"large.json"}));

    // A zero-interval timer fires once per turn of the event loop; the longest time between
    // two firings, counted from just before the click, is the longest the window was deaf.
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    int turns = 0;
    QTimer tick;
    tick.setInterval(0);
    connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
        ++turns;
        if (!c.isEncrypting()) {
            loop.quit();
        }
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    clock.start();
    tick.start();
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);
    loop.exec();
    tick.stop();
    const qint64 total = clock.nsecsElapsed();

    QVERIFY(!c.isEncrypting());
    QCOMPARE(screen.message(), kFinished);
    QCOMPARE(QFileInfo(out + QStringLiteral("/large.json.enc")).size(),
             qint64(test::encryptedSize(size)));
    qInfo("%lld MiB job: %.1f ms, %d event-loop turns, longest gap %.2f ms", size >> 20,
          total / 1e6, turns, longestGap / 1e6);
    // Encrypting on this thread would freeze it for the whole job; allow scheduling noise on a
    // busy machine, nothing close to a frozen window.
    QVERIFY(turns >= 10);
    QVERIFY2(longestGap < 250'000'000, qPrintable(QString::number(longestGap / 1e6)));
}

void MainControllerTest::closingDuringAJobLeavesNoPartialFile() {
    const QString in = makeDir(QStringLiteral("close in"));
    const QString out = makeDir(QStringLiteral("close out"));
    const QStringList names{"one.txt", "two.txt", "three.txt"};
    const qint64 size = makeLargeFiles(in, names);
    QVERIFY(size > 0);

    auto screen = std::make_unique<MainScreen>();
    QVERIFY(screen->launch());
    StdoutLines quiet;
    QVERIFY(screen->readyToEncrypt(out, in, names));
    QTest::mouseClick(screen->controller->btnEncrypt(), Qt::LeftButton);
    screen.reset();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));

    // Whatever was written is whole; nothing half-written or temporary is left, and the job
    // went no further than the file it was on.
    const QStringList left =
        QDir(out).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
    for (const QString& name : left) {
        QVERIFY2(name.endsWith(QStringLiteral(".enc")), qPrintable(name));
        QCOMPARE(QFileInfo(out + u'/' + name).size(), qint64(test::encryptedSize(size)));
    }
    QVERIFY(left.size() < names.size());
}

QTEST_MAIN(MainControllerTest)
#include "MainControllerTest.moc"
