// The main window as the program starts it, driven headless through its real buttons, file
// panels and drops: one table row per user flow.

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "App/ToolkitTranslation.h"
#include "Cipher/ChunkBuffers.h"
#include "Format/FileCipher.h"
#include "TestKit.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"
#include "Ui/Base/ColorFromHex.h"
#include "Ui/Main/Controller/MainController.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPromise>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QThreadPool>
#include <corvix/CorvixKey.h>
#include <gtest/gtest.h>

using namespace corvix;
using namespace corvix::test;

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Scratch> scratch_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<AppDelegate> delegate_;
    MainController* c_ = nullptr;
    QStringList expected_;                     // the lines the steps so far must have printed
    QStringList shown_;                        // every text the message area showed
    QPromise<void> hold_;                      // what a held worker thread waits for
    std::vector<ChunkBuffers::Lease> buffers_; // every chunk buffer, while a job must wait for one

    void open() {
        window_ = std::make_unique<MainWindow>();
        window_->show();
        delegate_ = std::make_unique<AppDelegate>(*window_);
        delegate_->applicationDidFinishLaunching();
        c_ = qobject_cast<MainController*>(delegate_->controller());
        connect(c_->labMessage(), &QTextEdit::textChanged, this,
                [this] { shown_ << c_->labMessage()->toPlainText(); });
    }
    QString at(const QString& name) const {
        return QString::fromStdString(scratch_->path() / name.toStdString());
    }
    // One user step, names in the scratch folder. "src in/a.txt,in/b.png" types the names into
    // the input panel and confirms, "src" cancels it; "dst out" and "dst" the same for the
    // output panel, whose label then shows the folder. "drop in/a.txt" drops urls offering a
    // copy or (Shift held, proposed) a move, "dropmove" offers only a move. "encrypt" clicks the
    // button; "off" clicks it disabled. "wait" for the job's end, "wait progress" for it to show
    // its first progress. "reopen" closes the window and opens it again. "hold" leaves one worker
    // thread, busy until "release", so a job waits to start; "hold buffers" takes every chunk
    // buffer until then, so a job that has started waits before its first chunk. "rm" and "mkdir"
    // change files behind the window's back. "job a.txt,out" expects the job's lines for in/a.txt,
    // "failed a.txt" its failure (any reason), "ignored in/c.pdf" a name not taken. False when the
    // step did not work as a user would see it.
    bool step(const QString& verb, QStringList args) {
        if (verb == "src" || verb == "dst") {
            const bool src = verb == "src";
            QTest::mouseClick(src ? c_->btnChooseSrc() : c_->btnChooseDst(), Qt::LeftButton);
            expected_ << (src ? "onClickChooseSrc" : "onClickChooseDst")
                      << "response:" + QString::number(!args.isEmpty());
            QFileDialog* panel = c_->openPanel();
            if (!args.isEmpty()) {
                expected_ << (src ? QStringList() : QStringList("path:" + at(args[0])));
                panel->setDirectory(QFileInfo(at(args[0])).path());
                args.replaceInStrings(QRegularExpression(".*/"), {});
                panel->findChild<QLineEdit*>()->setText('"' + args.join("\" \"") + '"');
            }
            auto* box = panel->findChild<QDialogButtonBox*>();
            QTest::mouseClick(
                box->button(args.isEmpty() ? QDialogButtonBox::Cancel : QDialogButtonBox::Open),
                Qt::LeftButton);
            return !panel->isVisible() && panel->windowModality() == Qt::WindowModal &&
                   box->button(QDialogButtonBox::Open)->text() + '/' +
                           box->button(QDialogButtonBox::Cancel)->text() ==
                       (src ? "选择输入文件/取消" : "选择选择输出目录/取消") &&
                   (src || args.isEmpty() ||
                    c_->labOutput()->toPlainText() == "输出目录:" + at(args[0]));
        } else if (verb.startsWith("drop")) {
            args.replaceInStrings(QRegularExpression("^in/"), "file://" + at("in/"));
            QMimeData data;
            data.setUrls(QUrl::fromStringList(args));
            const bool copy = verb == "drop";
            const Qt::DropActions offered = copy ? Qt::CopyAction | Qt::MoveAction : Qt::MoveAction;
            QDragEnterEvent enter(QPoint(5, 5), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
            QDropEvent release(QPointF(5, 5), offered, &data, Qt::LeftButton, Qt::ShiftModifier);
            QApplication::sendEvent(c_->labMessage()->viewport(), &enter);
            QApplication::sendEvent(c_->labMessage()->viewport(), &release);
            return enter.isAccepted() == copy && release.isAccepted() == copy &&
                   (!copy || release.dropAction() == Qt::CopyAction);
        } else if (verb == "encrypt" || verb == "off") {
            expected_ << (verb == "encrypt" ? QStringList{"onClickEncrypt"} : QStringList{});
            const bool enabled = c_->btnEncrypt()->isEnabled();
            QTest::mouseClick(c_->btnEncrypt(), Qt::LeftButton);
            return enabled == (verb == "encrypt");
        } else if (verb == "wait") {
            return QTest::qWaitFor(
                [&] { return args.isEmpty() ? !c_->isEncrypting() : shown_.size() > 1; }, 60000);
        } else if (verb == "reopen") {
            cleanup();
            open();
        } else if (verb == "hold" && !args.isEmpty()) {
            while (auto buffer = ChunkBuffers::shared().tryTake(1)) {
                buffers_.push_back(std::move(*buffer));
            }
        } else if (verb == "hold") {
            QThreadPool::globalInstance()->setMaxThreadCount(1);
            QThreadPool::globalInstance()->start(
                [held = hold_.future()]() mutable { held.waitForFinished(); });
        } else if (verb == "release") {
            hold_ = QPromise<void>(); // the one it replaces ends, cancelled
            buffers_.clear();
            QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
        } else if (verb == "rm" || verb == "mkdir") {
            fs::remove_all(at(args[0]).toStdString());
            return verb == "rm" || fs::create_directory(at(args[0]).toStdString());
        } else if (verb == "job") {
            expected_ << "srcPath:" + at("in/" + args[0]) + " srcName:" + args[0]
                      << "dstPath:" + at(args[1]) + '/' + args[0] + ".enc";
        } else {
            expected_ << (verb == "failed"
                              ? "failed:" + at("in/" + args[0]) + ": *"
                              : "ignored:" + (args[0].contains(':') ? args[0] : at(args[0])));
        }
        return true;
    }

private slots:
    void initTestCase() { QVERIFY(ToolkitTranslation::install(*qApp)); }
    void init() {
        scratch_ = std::make_unique<Scratch>();
        for (const char* name :
             {"in/a.txt", "in/b.png", "in/c.pdf", "in/中文 名.JSON", "in/big.txt"}) {
            writeFile(scratch_->path() / name, name);
        }
        for (const char* name : {"in/d.png", "out", "输出 目录"}) {
            fs::create_directories(scratch_->path() / name);
        }
        fs::resize_file(scratch_->path() / "in/big.txt", 3 << 20);
        expected_ = shown_ = QStringList();
        open();
    }

    // The window goes first, so that a job it started is cancelled before anything held lets
    // it go on.
    void cleanup() {
        delegate_.reset();
        window_.reset();
        step("release", {});
        QThreadPool::globalInstance()->waitForDone();
    }

    void flow_data() {
        // A row of tests/data/ui/flows.txt: the steps (see step) | the message at the end | the
        // encrypt button at the end (1 enabled) | every file in the output folders | a text the
        // message area showed on the way.
        QTest::addColumn<QString>("row");
        QFile table(CORVIX_TEST_DATA_DIR "/ui/flows.txt");
        QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
        int rows = 0;
        for (const QString& line : QString::fromUtf8(table.readAll()).split('\n')) {
            if (!line.startsWith('#') && line.contains('\t')) {
                QTest::newRow(qPrintable(line.section('\t', 0, 0)))
                    << line.section('\t', 1).replace("\\n", "\n");
                ++rows;
            }
        }
        QCOMPARE(rows, 7);
    }

    void flow() {
        QFETCH(QString, row);
        const QStringList column = row.split('|');
        QString failed;
        testing::internal::CaptureStdout();
        for (const QString& line : column[0].split(';', Qt::SkipEmptyParts)) {
            const QStringList args = line.section(' ', 1).split(',', Qt::SkipEmptyParts);
            failed = failed.isEmpty() && !step(line.section(' ', 0, 0), args) ? line : failed;
        }
        // The framework's own warnings go to stdout too; a '*' stands for the rest of a line.
        const QString out = QString::fromStdString(testing::internal::GetCapturedStdout())
                                .remove(QRegularExpression("(QWARN|   Loc:).*\n"))
                                .trimmed();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const QString want = QRegularExpression::escape(expected_.join('\n')).replace("\\*", ".*");
        QVERIFY2(QRegularExpression('^' + want + '$').match(out).hasMatch(), qPrintable(out));
        QCOMPARE(c_->labMessage()->toPlainText(), column[1]);
        QCOMPARE(c_->btnEncrypt()->isEnabled(), column[2] == "1");
        QVERIFY(column[4].isEmpty() || shown_.contains(column[4]));
        QStringList written;
        for (const std::string& name : scratch_->tree()) {
            if (name.find('/') != std::string::npos && !name.starts_with("in/")) {
                written << QString::fromStdString(name);
                const fs::path file = scratch_->path() / name;
                const auto plain = FileCipher::decryptToBytes(file, *CorvixKey::material());
                QVERIFY(plain && *plain == readBytes(scratch_->path() / "in" / file.stem()));
            }
        }
        QCOMPARE(written.join(';'), column[3]);
    }

    void geometry_data() {
        // A row: the window size asked for (1×1 gives the minimum) | how wide the output line's
        // text is unwrapped, in pixels | the lines it then takes in the window.
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("textWidth");
        QTest::addColumn<int>("lines");
        QTest::newRow("600x400") << QSize(600, 400) << 0 << 1;
        QTest::newRow("600x400, output on two lines") << QSize(600, 400) << 800 << 2;
        QTest::newRow("minimum") << QSize(1, 1) << 0 << 1;
        QTest::newRow("minimum, output wrapped only there") << QSize(1, 1) << 450 << 2;
    }

    // 16 points from the root view's edges and between neighbours, the buttons 100 × 50, the rule
    // as wide as its text, the output line as high as its wrapped text, the message area down to
    // 16 above the bottom and at least three lines high; the minimum window is just wide enough
    // for the buttons and shows every control whole.
    void geometry() {
        QFETCH(QSize, size);
        QFETCH(int, textWidth);
        QFETCH(int, lines);
        BaseTextView* out = c_->labOutput();
        QString text = "输出目录:";
        while (out->fontMetrics().horizontalAdvance(text) < textWidth) {
            text += "/build-output";
        }
        out->setPlainText(text);
        window_->resize(size);
        QWidget* root = c_->view();
        auto* rule = root->findChild<BaseTextView*>("labRule");
        QTextEdit* message = c_->labMessage();
        const int line = message->fontMetrics().lineSpacing();
        const bool minimum = size == QSize(1, 1);
        const auto broken = [&]() -> QString {
            const std::pair<const char*, bool> rules[] = {
                {"root", root->geometry() == window_->centralWidget()->rect()},
                {"window", window_->size() == (minimum ? window_->minimumSize() : size)},
                {"buttons", c_->btnChooseSrc()->geometry() == QRect(16, 16, 100, 50) &&
                                c_->btnChooseDst()->geometry() == QRect(132, 16, 100, 50) &&
                                c_->btnEncrypt()->geometry() == QRect(248, 16, 100, 50)},
                {"rule", rule->pos() == QPoint(16, 82) &&
                             qAbs(rule->width() - rule->fontMetrics().horizontalAdvance(
                                                      rule->toPlainText())) <= 3 &&
                             rule->height() >= rule->document()->size().height()},
                {"output",
                 out->geometry() == QRect(16, rule->geometry().bottom() + 17, root->width() - 32,
                                          qCeil(out->document()->size().height())) &&
                     out->document()->firstBlock().layout()->lineCount() == lines},
                {"message",
                 message->geometry() == QRect(QPoint(16, out->geometry().bottom() + 17),
                                              QPoint(root->width() - 17, root->height() - 17)) &&
                     message->height() >= 3 * line},
                {"minimum", !minimum || (root->width() == 364 && message->height() < 4 * line)},
            };
            const auto* first =
                std::ranges::find(rules, false, &std::pair<const char*, bool>::second);
            return first == std::end(rules) ? QString() : first->first;
        };
        QString failed;
        QVERIFY2(QTest::qWaitFor([&] { return (failed = broken()).isEmpty(); }),
                 qPrintable(failed));
    }

    void colorFromHexTakesTheFirstSixDigits() {
        QCOMPARE(colorFromHex("1e90FF80", 0.5).name(QColor::HexArgb), "#801e90ff");
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
