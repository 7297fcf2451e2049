// The main window as the program starts it, driven headless through its real buttons, file
// panels and drops: one table row per user flow.

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "App/ToolkitTranslation.h"
#include "Format/FileCipher.h"
#include "TestKit.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"
#include "Ui/Base/ColorFromHex.h"
#include "Ui/Main/Controller/MainController.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPromise>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <corvix/CorvixKey.h>

using namespace corvix;
using namespace corvix::test;

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Scratch> scratch_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<AppDelegate> delegate_;
    MainController* c_ = nullptr;
    QStringList expected_; // the lines the steps so far must have printed
    QStringList shown_;    // every text the message area showed
    QPromise<void> hold_;  // what a held worker thread waits for

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
    // its first progress. "reopen" closes the window and opens it again. "size 1,1" resizes the
    // window: every control is whole and 16 from the edges, the message area shows three lines at
    // least, the rule is as wide as its text (a BaseTextView). "hold" leaves one worker thread,
    // busy until "release", so a job waits to start. "rm" and "mkdir" change files behind the
    // window's back. "job a.txt,out" expects the job's lines for in/a.txt, "failed a.txt" its
    // failure (any reason), "ignored in/c.pdf" a name not taken. False when the step did not work
    // as a user would see it.
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
        } else if (verb == "size") {
            window_->resize(args[0].toInt(), args[1].toInt());
            QWidget* root = c_->view();
            auto* rule = root->findChild<BaseTextView*>("labRule");
            return QTest::qWaitFor([&] {
                       return root->geometry() == window_->centralWidget()->rect() &&
                              window_->rect().contains(window_->centralWidget()->geometry());
                   }) &&
                   root->childrenRect() == root->rect().adjusted(16, 16, -16, -16) &&
                   c_->labMessage()->y() == c_->labOutput()->geometry().bottom() + 17 &&
                   c_->labMessage()->height() >=
                       3 * c_->labMessage()->fontMetrics().lineSpacing() &&
                   qAbs(rule->width() -
                        rule->fontMetrics().horizontalAdvance(rule->toPlainText())) <= 3 &&
                   colorFromHex("1e90FF80", 0.5).name(QColor::HexArgb) == "#801e90ff";
        } else if (verb == "reopen") {
            cleanup();
            open();
        } else if (verb == "hold") {
            QThreadPool::globalInstance()->setMaxThreadCount(1);
            QThreadPool::globalInstance()->start(
                [held = hold_.future()]() mutable { held.waitForFinished(); });
        } else if (verb == "release") {
            hold_ = QPromise<void>(); // the one it replaces ends, cancelled
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
        fs::resize_file(scratch_->path() / "in/big.txt", 512 << 20);
        expected_ = shown_ = QStringList();
        open();
    }

    void cleanup() {
        step("release", {});
        delegate_.reset();
        window_.reset();
        QThreadPool::globalInstance()->waitForDone();
    }

    void flow_data() {
        // A row: the steps (see step) | the message at the end | the encrypt button at the end
        // (1 enabled) | every file in the output folders | a text the message area showed on the
        // way.
        QTest::addColumn<QString>("row");
        QTest::newRow("whole run, then ready again")
            << "src in/b.png,in/中文 名.JSON;dst out;encrypt;job b.png,out;"
               "job 中文 名.JSON,out;wait;src in/a.txt|加密完成|1|"
               "out/b.png.enc;out/中文 名.JSON.enc|正在加密...\n1/2 · 0%";
        QTest::newRow("cancelled panels leave an empty list")
            << "dst out;src in/a.txt;src;dst;encrypt;wait|加密完成|0||";
        QTest::newRow("output folder alone, typed name of another type, window sizes")
            << "dst 输出 目录;src in/a.txt;src in/c.pdf;ignored in/c.pdf;size 900,640;size 1,1|"
               "提示信息|0||";
        QTest::newRow("failures named")
            << "dst out;src in/a.txt,in/c.pdf,in/b.png;ignored in/c.pdf;rm in/a.txt;"
               "mkdir in/b.png;encrypt;job a.txt,out;failed a.txt;job b.png,out;failed b.png;wait;"
               "rm out;src in/中文 名.JSON;encrypt;job 中文 名.JSON,out;failed 中文 名.JSON;wait|"
               "加密完成，失败 1 个文件\n中文 名.JSON: 输出目录不存在|0||"
               "加密完成，失败 2 个文件\na.txt: 文件不存在\nb.png: 不是普通文件";
        QTest::newRow("choice during a job is for the next")
            << "dst out;src in/a.txt;hold;encrypt;src in/b.png;dst 输出 目录;off;release;"
               "job a.txt,out;wait;encrypt;job b.png,输出 目录;wait|加密完成|0|"
               "out/a.txt.enc;输出 目录/b.png.enc|";
        QTest::newRow("closing during a job leaves no partial file")
            << "dst out;src in/big.txt,in/a.txt;encrypt;job big.txt,out;wait progress;reopen|"
               "提示信息|0||";
        QTest::newRow("drops")
            << "dst out;drop in/b.png;drop in/a.txt,in/c.pdf,in/d.png,https://example.org/r.png;"
               "ignored in/c.pdf;ignored in/d.png;ignored https://example.org/r.png;"
               "drop in/c.pdf;ignored in/c.pdf;dropmove in/b.png;encrypt;job a.txt,out;wait|"
               "加密完成|0|out/a.txt.enc|";
    }

    void flow() {
        QFETCH(QString, row);
        const QStringList column = row.split('|');
        QString failed;
        StdoutCapture capture;
        for (const QString& line : column[0].split(';', Qt::SkipEmptyParts)) {
            const QStringList args = line.section(' ', 1).split(',', Qt::SkipEmptyParts);
            failed = failed.isEmpty() && !step(line.section(' ', 0, 0), args) ? line : failed;
        }
        // The framework's own warnings go to stdout too; a '*' stands for the rest of a line.
        const QString out = QString::fromStdString(capture.text())
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
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
