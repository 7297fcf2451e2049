#include "Ui/Main/Controller/MainController.h"

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"
#include "StdoutCapture.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <memory>

using namespace corvix;

namespace {

const QString kReady = QStringLiteral("提示信息");
const QString kRunning = QStringLiteral("正在加密...");
const QString kFinished = QStringLiteral("加密完成");

// The main window as the program starts it: window, delegate, encryption screen.
struct Screen {
    MainWindow window;
    AppDelegate delegate{window};
    MainController* controller = nullptr;

    [[nodiscard]] bool launch() {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            return false;
        }
        delegate.applicationDidFinishLaunching();
        controller = qobject_cast<MainController*>(delegate.controller());
        return controller != nullptr;
    }
    [[nodiscard]] QString message() const { return controller->labMessage()->toPlainText(); }
    [[nodiscard]] QString output() const { return controller->labOutput()->toPlainText(); }
    [[nodiscard]] bool encryptEnabled() const { return controller->btnEncrypt()->isEnabled(); }
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A file of `size` zero bytes that takes no disk space.
void makeSparseFile(const QString& path, qint64 size) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
}

QPushButton* panelButton(QFileDialog& panel, QDialogButtonBox::StandardButton which) {
    auto* box = panel.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return box == nullptr ? nullptr : box->button(which);
}

// Presses the panel's confirm or cancel button, as a user would.
bool press(QFileDialog& panel, QDialogButtonBox::StandardButton which) {
    QPushButton* button = panelButton(panel, which);
    if (button == nullptr || !button->isEnabled()) {
        return false;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    return !panel.isVisible();
}

// Opens the input panel with the choose button and confirms `names` from `dir`, typed into
// the panel's file name field as a user would. Gives the URLs the panel returned.
QList<QUrl> chooseFiles(Screen& screen, const QString& dir, const QStringList& names) {
    QTest::mouseClick(screen.controller->btnChooseSrc(), Qt::LeftButton);
    QFileDialog* panel = screen.controller->openPanel();
    if (panel == nullptr || !panel->isVisible()) {
        return {};
    }
    panel->setDirectory(dir);
    QStringList quoted;
    for (const QString& name : names) {
        quoted << u'"' + name + u'"';
    }
    panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(quoted.join(u' '));
    const QList<QUrl> urls = panel->selectedUrls();
    return press(*panel, QDialogButtonBox::Open) ? urls : QList<QUrl>{};
}

// Opens the output panel and confirms the directory `dir`.
bool chooseDir(Screen& screen, const QString& dir) {
    QTest::mouseClick(screen.controller->btnChooseDst(), Qt::LeftButton);
    QFileDialog* panel = screen.controller->openPanel();
    if (panel == nullptr || !panel->isVisible()) {
        return false;
    }
    panel->setDirectory(dir);
    return press(*panel, QDialogButtonBox::Open);
}

bool cancelPanel(Screen& screen, BaseButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
    QFileDialog* panel = screen.controller->openPanel();
    if (panel == nullptr || !panel->isVisible()) {
        return false;
    }
    return press(*panel, QDialogButtonBox::Cancel);
}

bool waitForJob(Screen& screen) {
    return QTest::qWaitFor([&] { return !screen.controller->isEncrypting(); }, 60000);
}

// The size of an encrypted file: a 24-character header line, its carriage return, then each
// 1 MiB chunk padded to a whole number of 16-byte blocks (a full block when it is aligned).
qint64 encryptedSize(qint64 plainSize) {
    constexpr qint64 chunk = 1 << 20;
    const qint64 rest = plainSize % chunk;
    return 25 + plainSize / chunk * (chunk + 16) + (rest > 0 ? 16 * (rest / 16 + 1) : 0);
}

void verifyEncrypted(const QString& source, const QString& encrypted) {
    QFile plain(source);
    QVERIFY(plain.open(QIODevice::ReadOnly));
    const QByteArray expected = plain.readAll();
    QCOMPARE(QFileInfo(encrypted).size(), encryptedSize(expected.size()));
    const auto decrypted = AESUtils::decryptFileToBytes(QFile::encodeName(encrypted).toStdString(),
                                                        CorvixKey::aesKey(), CorvixKey::ivBytes());
    QVERIFY(decrypted.has_value());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(decrypted->data()),
                        static_cast<qsizetype>(decrypted->size())),
             expected);
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
    void rootDirectoryAndRepeatedChoices();
    void failedFileIsCountedAndNamed();
    void choiceDuringAJobWaitsForIt();
    void windowStaysResponsiveDuringALargeFile();
    void closingDuringAJobLeavesNoPartialFile();

private:
    void verifyConstraintTable(Screen& screen);
    QTemporaryDir dir_;
};

void MainControllerTest::initialScreen() {
    Screen screen;
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
    QCOMPARE(screen.output(), QStringLiteral("输出目录:"));
    QCOMPARE(screen.message(), kReady);
    for (QTextEdit* label :
         {static_cast<QTextEdit*>(rule), static_cast<QTextEdit*>(c.labOutput()), c.labMessage()}) {
        QVERIFY(label->isReadOnly());
    }
    QVERIFY(c.srcUrls().isEmpty());
    QVERIFY(c.dstDir().isEmpty());

    // Typing into a label changes nothing.
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

void MainControllerTest::verifyConstraintTable(Screen& screen) {
    MainController& c = *screen.controller;
    QWidget* root = c.view();
    QCOMPARE(root->geometry(), screen.window.centralWidget()->rect());
    const int width = root->width();
    const int height = root->height();

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
             QRect(16, messageTop, width - 32, height - 16 - messageTop));
}

void MainControllerTest::layoutFollowsTheConstraintTable_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("wider") << QSize(900, 640);
    QTest::newRow("narrower") << QSize(420, 330);
}

void MainControllerTest::layoutFollowsTheConstraintTable() {
    QFETCH(QSize, size);
    Screen screen;
    QVERIFY(screen.launch());
    QCoreApplication::processEvents();
    verifyConstraintTable(screen);
    if (QTest::currentTestFailed()) {
        return;
    }

    screen.window.resize(size);
    QTRY_COMPARE(screen.window.size(), size);
    QCoreApplication::processEvents();
    verifyConstraintTable(screen);
    if (QTest::currentTestFailed()) {
        return;
    }
    QVERIFY(!screen.encryptEnabled());

    // A long output path wraps: the output line grows and the message area gives way.
    const int oneLine = screen.controller->labOutput()->height();
    const QString deep =
        dir_.path() + QStringLiteral("/一个很长很长的输出目录名字") + QString(150, u'x');
    QVERIFY(QDir().mkpath(deep));
    StdoutCapture quiet;
    QVERIFY(chooseDir(screen, deep));
    (void)quiet.stop();
    QCoreApplication::processEvents();
    QVERIFY(screen.controller->labOutput()->height() > oneLine);
    verifyConstraintTable(screen);
}

void MainControllerTest::panelsAreConfiguredPerPurpose() {
    const QString mixed = dir_.path() + QStringLiteral("/mixed");
    QVERIFY(QDir().mkpath(mixed));
    for (const char* name : {"a.txt", "B.JPG", "c.pdf", "d.png", "e.json", "f.jpeg"}) {
        writeFile(mixed + u'/' + QLatin1String(name), name);
    }
    Screen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutCapture capture;

    QTest::mouseClick(c.btnChooseSrc(), Qt::LeftButton);
    QFileDialog* input = c.openPanel();
    QVERIFY(input != nullptr);
    QVERIFY(input->isVisible());
    QCOMPARE(input->parentWidget(), &screen.window);
    QCOMPARE(input->windowModality(), Qt::WindowModal);
    QVERIFY(input->testOption(QFileDialog::DontUseNativeDialog));
    QCOMPARE(input->labelText(QFileDialog::Accept), QStringLiteral("选择输入文件"));
    QVERIFY(panelButton(*input, QDialogButtonBox::Open) != nullptr);
    QCOMPARE(panelButton(*input, QDialogButtonBox::Open)->text(), QStringLiteral("选择输入文件"));
    QCOMPARE(input->fileMode(), QFileDialog::ExistingFiles);
    const QString filter = input->nameFilters().join(u' ');
    for (const char* pattern : {"*.jpg", "*.png", "*.txt", "*.json"}) {
        QVERIFY2(filter.contains(QLatin1String(pattern)), qPrintable(filter));
    }
    QCOMPARE(input->nameFilters().size(), 1);
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
    QVERIFY(press(*input, QDialogButtonBox::Cancel));

    QTest::mouseClick(c.btnChooseDst(), Qt::LeftButton);
    QFileDialog* output = c.openPanel();
    QVERIFY(output != nullptr);
    QVERIFY(output != input);
    QVERIFY(output->isVisible());
    QCOMPARE(output->windowModality(), Qt::WindowModal);
    QCOMPARE(output->labelText(QFileDialog::Accept), QStringLiteral("选择选择输出目录"));
    QVERIFY(panelButton(*output, QDialogButtonBox::Open) != nullptr);
    QCOMPARE(panelButton(*output, QDialogButtonBox::Open)->text(),
             QStringLiteral("选择选择输出目录"));
    QCOMPARE(output->fileMode(), QFileDialog::Directory);
    QVERIFY(output->testOption(QFileDialog::ShowDirsOnly));
    QVERIFY(!output->testOption(QFileDialog::ReadOnly));
    newFolder = output->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
    QVERIFY(newFolder != nullptr && newFolder->isEnabled() && newFolder->isVisible());
    QVERIFY(press(*output, QDialogButtonBox::Cancel));

    const QStringList lines = capture.stop();
    QCOMPARE(lines,
             (QStringList{"onClickChooseSrc", "response:0", "onClickChooseDst", "response:0"}));
}

void MainControllerTest::wholeRunWalksTheStateTable() {
    const QString in = dir_.path() + QStringLiteral("/run in");
    const QString out = dir_.path() + QStringLiteral("/输出 目录");
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QDir().mkpath(out));
    writeFile(in + QStringLiteral("/a.txt"), "first file\n");
    QByteArray picture(3000, '\0');
    for (int i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<char>(i * 7);
    }
    writeFile(in + QStringLiteral("/b.png"), picture);

    Screen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutCapture capture;

    // Not ready: the output directory alone shows in the label but enables nothing.
    const bool dirChosen = chooseDir(screen, out);
    const QString outputAfterDir = screen.output();
    const bool enabledAfterDir = screen.encryptEnabled();

    // Ready.
    const QList<QUrl> urls = chooseFiles(screen, in, {"a.txt", "b.png"});
    const QList<QUrl> chosen = c.srcUrls();
    const bool enabledAfterFiles = screen.encryptEnabled();

    // Running, until the completion step has come back to this thread.
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);
    const QString messageWhileRunning = screen.message();
    const bool enabledWhileRunning = screen.encryptEnabled();
    const bool finished = waitForJob(screen);

    // Finished.
    const QString messageAfter = screen.message();
    const bool enabledAfter = screen.encryptEnabled();
    const bool listEmptied = c.srcUrls().isEmpty();

    // Choosing input files again leads straight back to Ready.
    const QList<QUrl> again = chooseFiles(screen, in, {"a.txt"});
    const QStringList lines = capture.stop();

    QVERIFY(dirChosen);
    QCOMPARE(c.dstDir(), out);
    QCOMPARE(outputAfterDir, QStringLiteral("输出目录:") + out);
    QVERIFY(!enabledAfterDir);
    QCOMPARE(urls.size(), 2);
    QCOMPARE(chosen, urls);
    QVERIFY(enabledAfterFiles);
    QCOMPARE(messageWhileRunning, kRunning);
    QVERIFY(!enabledWhileRunning);
    QVERIFY(finished);
    QCOMPARE(messageAfter, kFinished);
    QVERIFY(!enabledAfter);
    QVERIFY(listEmptied);
    QCOMPARE(screen.output(), QStringLiteral("输出目录:") + out);
    QCOMPARE(again.size(), 1);
    QVERIFY(screen.encryptEnabled());

    QStringList expected{"onClickChooseDst", "response:1", "path:" + out,
                         "onClickChooseSrc", "response:1", "onClickEncrypt"};
    for (const QUrl& url : urls) {
        expected << "srcPath:" + url.toLocalFile() + " srcName:" + url.fileName()
                 << "dstPath:" + out + "/" + url.fileName() + ".enc";
    }
    expected << "onClickChooseSrc"
             << "response:1";
    QCOMPARE(lines, expected);

    verifyEncrypted(in + QStringLiteral("/a.txt"), out + QStringLiteral("/a.txt.enc"));
    verifyEncrypted(in + QStringLiteral("/b.png"), out + QStringLiteral("/b.png.enc"));
}

void MainControllerTest::cancelledPanelsChangeNothingButTheList() {
    const QString in = dir_.path() + QStringLiteral("/cancel in");
    const QString out = dir_.path() + QStringLiteral("/cancel out");
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QDir().mkpath(out));
    writeFile(in + QStringLiteral("/notes.json"), "{}");

    Screen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutCapture capture;
    const bool chosen =
        chooseDir(screen, out) && chooseFiles(screen, in, {"notes.json"}).size() == 1;
    const bool readyBefore = screen.encryptEnabled();

    // Cancelling the input panel: the click already emptied the list, the button keeps its
    // state.
    const bool inputCancelled = cancelPanel(screen, c.btnChooseSrc());
    const bool listEmpty = c.srcUrls().isEmpty();
    const bool stillEnabled = screen.encryptEnabled();

    // Cancelling the output panel changes nothing.
    const bool outputCancelled = cancelPanel(screen, c.btnChooseDst());
    const QString dirAfter = c.dstDir();
    const QString labelAfter = screen.output();

    // The job over the empty list only reports that it is done.
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);
    const bool finished = waitForJob(screen);
    const QStringList lines = capture.stop();

    QVERIFY(chosen);
    QVERIFY(readyBefore);
    QVERIFY(inputCancelled);
    QVERIFY(listEmpty);
    QVERIFY(stillEnabled);
    QVERIFY(outputCancelled);
    QCOMPARE(dirAfter, out);
    QCOMPARE(labelAfter, QStringLiteral("输出目录:") + out);
    QVERIFY(finished);
    QCOMPARE(screen.message(), kFinished);
    QVERIFY(!screen.encryptEnabled());
    QCOMPARE(QDir(out).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList());
    QCOMPARE(lines, (QStringList{"onClickChooseDst", "response:1", "path:" + out,
                                 "onClickChooseSrc", "response:1", "onClickChooseSrc", "response:0",
                                 "onClickChooseDst", "response:0", "onClickEncrypt"}));
}

void MainControllerTest::rootDirectoryAndRepeatedChoices() {
    const QString in = dir_.path() + QStringLiteral("/repeat in");
    QVERIFY(QDir().mkpath(in));
    for (const char* name : {"one.txt", "two.txt", "three.jpg"}) {
        writeFile(in + u'/' + QLatin1String(name), name);
    }
    Screen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutCapture quiet;

    const bool rootChosen = chooseDir(screen, QStringLiteral("/"));
    const QString rootLabel = screen.output();
    const QString rootDir = c.dstDir();
    const bool otherChosen = chooseDir(screen, in);
    const QList<QUrl> first = chooseFiles(screen, in, {"one.txt", "two.txt"});
    const QList<QUrl> second = chooseFiles(screen, in, {"three.jpg"});
    const QList<QUrl> list = c.srcUrls();
    (void)quiet.stop();

    QVERIFY(rootChosen);
    QCOMPARE(rootLabel, QStringLiteral("输出目录:/"));
    QCOMPARE(rootDir, QStringLiteral("/"));
    QVERIFY(otherChosen);
    QCOMPARE(c.dstDir(), in);
    QCOMPARE(screen.output(), QStringLiteral("输出目录:") + in);
    QCOMPARE(first.size(), 2);
    QCOMPARE(list, second);
    QCOMPARE(list, QList<QUrl>{QUrl::fromLocalFile(in + QStringLiteral("/three.jpg"))});
}

void MainControllerTest::failedFileIsCountedAndNamed() {
    const QString in = dir_.path() + QStringLiteral("/fail in");
    const QString out = dir_.path() + QStringLiteral("/fail out");
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QDir().mkpath(out));
    const QString good = in + QStringLiteral("/good.txt");
    const QString gone = in + QStringLiteral("/gone.txt");
    writeFile(good, "still here");
    writeFile(gone, "removed before the job");

    Screen screen;
    QVERIFY(screen.launch());
    StdoutCapture capture;
    const bool chosen =
        chooseDir(screen, out) && chooseFiles(screen, in, {"gone.txt", "good.txt"}).size() == 2;
    const QList<QUrl> urls = screen.controller->srcUrls();
    QFile::remove(gone);
    QTest::mouseClick(screen.controller->btnEncrypt(), Qt::LeftButton);
    const bool finished = waitForJob(screen);
    const QStringList lines = capture.stop();

    QVERIFY(chosen);
    QVERIFY(finished);
    QCOMPARE(screen.message(), QStringLiteral("加密完成，失败 1 个文件"));
    QVERIFY(!screen.encryptEnabled());
    QVERIFY(screen.controller->srcUrls().isEmpty());

    // Each file's own lines, in list order; the missing one adds the system's error line and
    // its failure line.
    const int start = static_cast<int>(lines.indexOf(QStringLiteral("onClickEncrypt")));
    QVERIFY(start >= 0);
    QStringList expected;
    for (const QUrl& url : urls) {
        expected << "srcPath:" + url.toLocalFile() + " srcName:" + url.fileName()
                 << "dstPath:" + out + "/" + url.fileName() + ".enc";
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
    const QString in = dir_.path() + QStringLiteral("/during in");
    QVERIFY(QDir().mkpath(in));
    writeFile(in + QStringLiteral("/a.txt"), "a");

    Screen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutCapture quiet;
    const bool ready = chooseDir(screen, in) && chooseFiles(screen, in, {"a.txt"}).size() == 1;
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);

    // Nothing here lets the event loop deliver the job's completion, so the job is still
    // running when the new choice is made, however fast it is.
    const bool chosenWhileRunning = chooseFiles(screen, in, {"a.txt"}).size() == 1;
    const bool enabledWhileRunning = screen.encryptEnabled();
    const bool listWhileRunning = c.srcUrls().size() == 1;
    const bool finished = waitForJob(screen);
    (void)quiet.stop();

    QVERIFY(ready);
    QVERIFY(chosenWhileRunning);
    QVERIFY(listWhileRunning);
    QVERIFY(!enabledWhileRunning);
    QVERIFY(finished);
    QCOMPARE(screen.message(), kFinished);
    QVERIFY(c.srcUrls().isEmpty());
    QVERIFY(!screen.encryptEnabled());
}

void MainControllerTest::windowStaysResponsiveDuringALargeFile() {
    const QString in = dir_.path() + QStringLiteral("/large in");
    const QString out = dir_.path() + QStringLiteral("/large out");
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QDir().mkpath(out));
    // 64 MiB keeps the suite quick; the benchmark sets CORVIX_LARGE_FILE_MIB=1024.
    const int mebibytes = qEnvironmentVariableIsSet("CORVIX_LARGE_FILE_MIB")
                              ? qEnvironmentVariableIntValue("CORVIX_LARGE_FILE_MIB")
                              : 64;
    const qint64 size = qint64{mebibytes} << 20;
    makeSparseFile(in + QStringLiteral("/large.json"), size);

    Screen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    StdoutCapture quiet;
    const bool ready =
        chooseDir(screen, out) && chooseFiles(screen, in, {"large.json"}).size() == 1;

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
    (void)quiet.stop();

    QVERIFY(ready);
    QVERIFY(!c.isEncrypting());
    QCOMPARE(screen.message(), kFinished);
    QCOMPARE(QFileInfo(out + QStringLiteral("/large.json.enc")).size(), encryptedSize(size));
    qInfo("64 MiB job: %.1f ms, %d event-loop turns, longest gap %.2f ms", total / 1e6, turns,
          longestGap / 1e6);
    // Encrypting on this thread would freeze it for the whole job; allow scheduling noise on a
    // busy machine, nothing close to a frozen window.
    QVERIFY(turns >= 10);
    QVERIFY2(longestGap < 250'000'000, qPrintable(QString::number(longestGap / 1e6)));
}

void MainControllerTest::closingDuringAJobLeavesNoPartialFile() {
    const QString in = dir_.path() + QStringLiteral("/close in");
    const QString out = dir_.path() + QStringLiteral("/close out");
    QVERIFY(QDir().mkpath(in));
    QVERIFY(QDir().mkpath(out));
    const QStringList names{"one.txt", "two.txt", "three.txt"};
    // 64 MiB keeps the suite quick; the benchmark sets CORVIX_LARGE_FILE_MIB=1024.
    const int mebibytes = qEnvironmentVariableIsSet("CORVIX_LARGE_FILE_MIB")
                              ? qEnvironmentVariableIntValue("CORVIX_LARGE_FILE_MIB")
                              : 64;
    const qint64 size = qint64{mebibytes} << 20;
    for (const QString& name : names) {
        makeSparseFile(in + u'/' + name, size);
    }

    auto screen = std::make_unique<Screen>();
    QVERIFY(screen->launch());
    StdoutCapture quiet;
    const bool ready = chooseDir(*screen, out) && chooseFiles(*screen, in, names).size() == 3;
    QTest::mouseClick(screen->controller->btnEncrypt(), Qt::LeftButton);
    screen.reset();
    const bool stopped = QThreadPool::globalInstance()->waitForDone(30000);
    (void)quiet.stop();

    QVERIFY(ready);
    QVERIFY(stopped);
    // Whatever was written is whole; nothing half-written or temporary is left, and the job
    // went no further than the file it was on.
    const QStringList left =
        QDir(out).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
    for (const QString& name : left) {
        QVERIFY2(name.endsWith(QStringLiteral(".enc")), qPrintable(name));
        QCOMPARE(QFileInfo(out + u'/' + name).size(), encryptedSize(size));
    }
    QVERIFY(left.size() < names.size());
}

QTEST_MAIN(MainControllerTest)
#include "MainControllerTest.moc"
