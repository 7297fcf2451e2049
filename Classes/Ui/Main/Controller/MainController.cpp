#include "MainController.h"

#include "Crypto/Console.h"
#include "FailureReason.h"
#include "Format/FileCipher.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"

#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPromise>
#include <QTextEdit>
#include <QThreadPool>
#include <QUnhandledException>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <chrono>
#include <corvix/CorvixKey.h>
#include <exception>
#include <optional>
#include <string>

namespace corvix {

namespace {

constexpr int kSpacing = 16;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 50;
constexpr int kMessageLines = 3;
// Progress reaches the window at most ten times a second.
constexpr std::chrono::milliseconds kProgressInterval{100};
const QString kRunning = QStringLiteral("正在加密...");
// A job that stops by a fault of its own, not of one file: the message says so, with the reason.
const QString kJobFailed = QStringLiteral("加密失败：");
// The types the input panel offers.
const QStringList kInputTypes = {QStringLiteral("jpg"), QStringLiteral("png"),
                                 QStringLiteral("txt"), QStringLiteral("json")};

void print(const QString& line) {
    Console::printLine(line.toStdString());
}

void addSubview(QWidget& root, QWidget* view) {
    view->setParent(&root);
    view->show();
}

// A read-only text view in `root` showing `text`. The colour goes through the palette, so it
// colours the whole text, whatever is set later.
template <typename View>
View* addTextView(QWidget& root, const QString& name, const QColor& color, const QString& text) {
    auto* view = new View;
    view->setObjectName(name);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Text, color);
    view->setPalette(palette);
    view->setPlainText(text);
    view->setReadOnly(true);
    addSubview(root, view);
    return view;
}

std::string nativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

MainController::MainController(QObject* parent) : BaseViewController(parent) {
    connect(&job_, &QFutureWatcher<QStringList>::progressTextChanged, this,
            &MainController::onEncryptProgress);
    connect(&job_, &QFutureWatcher<QStringList>::finished, this,
            &MainController::onEncryptFinished);
}

MainController::~MainController() {
    job_.disconnect(this);
    job_.cancel();
}

void MainController::viewDidLoad() {
    BaseViewController::viewDidLoad();
    setupViews();
}

void MainController::setupViews() {
    QWidget& root = *view();
    root.setAutoFillBackground(true);
    root.setAcceptDrops(true);
    setLayerBackgroundColor(root, Qt::white);

    btnChooseSrc_ = BaseButton::buttonWithTitle(QStringLiteral("选择输入文件\n(可多选)"), this,
                                                &MainController::onClickChooseSrc);
    btnChooseSrc_->setObjectName(QStringLiteral("btnChooseSrc"));
    addSubview(root, btnChooseSrc_);

    btnChooseDst_ = BaseButton::buttonWithTitle(QStringLiteral("选择输出目录"), this,
                                                &MainController::onClickChooseDst);
    btnChooseDst_->setObjectName(QStringLiteral("btnChooseDst"));
    addSubview(root, btnChooseDst_);

    btnEncrypt_ = BaseButton::buttonWithTitle(QStringLiteral("点击加密"), this,
                                              &MainController::onClickEncrypt);
    btnEncrypt_->setObjectName(QStringLiteral("btnEncrypt"));
    btnEncrypt_->setEnabled(false);
    addSubview(root, btnEncrypt_);

    labRule_ = addTextView<BaseTextView>(root, QStringLiteral("labRule"), Qt::red,
                                         QStringLiteral("加密文件命名规则: 原文件名.enc"));
    labOutput_ = addTextView<BaseTextView>(root, QStringLiteral("labOutput"), QColor(128, 0, 128),
                                           QStringLiteral("输出目录:"));
    labMessage_ = addTextView<QTextEdit>(root, QStringLiteral("labMessage"), Qt::blue,
                                         QStringLiteral("提示信息"));
    labMessage_->setAutoFillBackground(true);

    setupLayout();
    root.installEventFilter(this);
}

// The row of three 100 × 50 buttons, 16 points apart; below it, each 16 points under the one
// before, the rule at the size of its text, the output line across the width at the height of
// its (possibly wrapped) text, and the message area taking what is left; everything 16 points
// inside the root view's edges. The layouts give the smallest root view that still shows every
// control whole, and the window takes it as its own minimum.
void MainController::setupLayout() {
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(kSpacing);
    for (BaseButton* button : {btnChooseSrc_, btnChooseDst_, btnEncrypt_}) {
        button->setFixedSize(kButtonWidth, kButtonHeight);
        buttons->addWidget(button);
    }
    buttons->addStretch();

    auto* screen = new QVBoxLayout(view());
    screen->setContentsMargins(kSpacing, kSpacing, kSpacing, kSpacing);
    screen->setSpacing(kSpacing);
    screen->addLayout(buttons);

    labRule_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    screen->addWidget(labRule_, 0, Qt::AlignLeft);

    screen->addWidget(labOutput_);

    // The message area never gets lower than a few lines: the state, the progress, a failure.
    labMessage_->setMinimumHeight(kMessageLines * labMessage_->fontMetrics().lineSpacing() +
                                  2 * labMessage_->frameWidth() +
                                  2 * static_cast<int>(labMessage_->document()->documentMargin()));
    screen->addWidget(labMessage_, 1);
}

void MainController::onClickChooseSrc() {
    Console::printLine("onClickChooseSrc");
    srcUrls_.clear();
    chooseSrcFiles([this](const QList<QUrl>& urls) { onSrcFilesChosen(urls); });
}

void MainController::onClickChooseDst() {
    Console::printLine("onClickChooseDst");
    chooseDstDir([this](const QString& path) { onDstDirChosen(path); });
}

QFileDialog* MainController::makePanel(const QString& acceptLabel) {
    // The desktop's own dialog where it offers one, the toolkit's otherwise (its texts come
    // from the toolkit's translation); window-modal, it behaves as a sheet on the window.
    auto* panel = new QFileDialog(view()->window());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setLabelText(QFileDialog::Accept, acceptLabel);
    panel_ = panel;
    return panel;
}

QFileDialog* MainController::openPanel() const {
    return panel_.data();
}

void MainController::chooseSrcFiles(const std::function<void(const QList<QUrl>&)>& completion) {
    QFileDialog* panel = makePanel(QStringLiteral("选择输入文件"));
    panel->setNameFilter(QStringLiteral("jpg, png, txt, json (*.jpg *.png *.txt *.json)"));
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setOption(QFileDialog::ReadOnly);
    connect(panel, &QDialog::finished, this, [panel, completion](int response) {
        Console::printLine("response:" + std::to_string(response));
        if (response == QDialog::Accepted) {
            // A name typed into the panel escapes its filter; the types are enforced here.
            completion(takeInputs(panel->selectedUrls()));
        }
    });
    panel->open();
}

void MainController::chooseDstDir(const std::function<void(const QString&)>& completion) {
    QFileDialog* panel = makePanel(QStringLiteral("选择选择输出目录"));
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    connect(panel, &QDialog::finished, this, [panel, completion](int response) {
        Console::printLine("response:" + std::to_string(response));
        const QList<QUrl> urls = panel->selectedUrls();
        if (response == QDialog::Accepted && !urls.isEmpty()) {
            completion(urls.first().toLocalFile());
        }
    });
    panel->open();
}

void MainController::onSrcFilesChosen(const QList<QUrl>& urls) {
    srcUrls_.append(urls);
    srcChosenDuringJob_ = encrypting_;
    updateEncryptButton();
}

// A drop is taken as a copy whatever the source proposes: a file manager that heard "move"
// could delete the files it dragged here.
bool MainController::eventFilter(QObject* watched, QEvent* event) {
    const bool isDrag = event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove;
    if (watched == view() && (isDrag || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!drop->mimeData()->hasUrls() || !(drop->possibleActions() & Qt::CopyAction)) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (!isDrag) {
            onFilesDropped(drop->mimeData()->urls());
        }
        return true;
    }
    return BaseViewController::eventFilter(watched, event);
}

QList<QUrl> MainController::takeInputs(const QList<QUrl>& urls) {
    QList<QUrl> taken;
    for (const QUrl& url : urls) {
        const QFileInfo file(url.toLocalFile());
        if (url.isLocalFile() && file.isFile() &&
            kInputTypes.contains(file.suffix(), Qt::CaseInsensitive)) {
            taken.append(url);
        } else {
            print(QStringLiteral("ignored:") +
                  (url.isLocalFile() ? url.toLocalFile() : url.toDisplayString()));
        }
    }
    return taken;
}

// The input panel's confirmation with the files it would have offered; a drop that brings none
// of them leaves the earlier choice as it was.
void MainController::onFilesDropped(const QList<QUrl>& urls) {
    const QList<QUrl> taken = takeInputs(urls);
    if (taken.isEmpty()) {
        return;
    }
    srcUrls_.clear();
    onSrcFilesChosen(taken);
}

void MainController::onDstDirChosen(const QString& path) {
    print(QStringLiteral("path:") + path);
    labOutput_->setPlainText(QStringLiteral("输出目录:") + path);
    dstDir_ = path;
    updateEncryptButton();
}

void MainController::updateEncryptButton() {
    // One job at a time: two jobs could write the same destination at once.
    btnEncrypt_->setEnabled(!srcUrls_.isEmpty() && !dstDir_.isEmpty() && !encrypting_);
}

void MainController::onClickEncrypt() {
    if (encrypting_) {
        return;
    }
    Console::printLine("onClickEncrypt");
    auto material = CorvixKey::material();
    if (!material) {
        labMessage_->setPlainText(kJobFailed + QString::fromStdString(material.error().reason));
        return;
    }
    btnEncrypt_->setEnabled(false);
    labMessage_->setPlainText(kRunning);
    encrypting_ = true;
    srcChosenDuringJob_ = false;
    // The job gets copies of the list and the directory taken now, on this thread, so later
    // choices cannot race with it; it writes to the directory in force at the click.
    job_.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), &MainController::encryptFiles,
                                     srcUrls_, dstDir_, std::move(*material)));
}

void MainController::encryptFiles(QPromise<QStringList>& promise, const QList<QUrl>& urls,
                                  const QString& dstDir, const KeyMaterial& material) {
    // The sizes as the job starts, so the percentage counts the bytes of the whole job.
    QList<std::uint64_t> sizes;
    std::uint64_t total = 0;
    for (const QUrl& url : urls) {
        sizes.append(
            static_cast<std::uint64_t>(std::max<qint64>(0, QFileInfo(url.toLocalFile()).size())));
        total += sizes.back();
    }
    // The watcher passes on only rising progress values; the text carries what the window shows.
    int updates = 0;
    std::optional<std::chrono::steady_clock::time_point> lastUpdate;
    const auto progress = [&](qsizetype file, std::uint64_t bytesDone) {
        const auto now = std::chrono::steady_clock::now();
        if (lastUpdate && now - *lastUpdate < kProgressInterval) {
            return;
        }
        lastUpdate = now;
        const auto percent = total == 0 ? 100 : std::min(bytesDone, total) * 100 / total;
        promise.setProgressValueAndText(
            ++updates, QStringLiteral("%1/%2 · %3%").arg(file + 1).arg(urls.size()).arg(percent));
    };

    QStringList failures;
    std::uint64_t bytesBefore = 0;
    for (qsizetype i = 0; i < urls.size() && !promise.isCanceled(); ++i) {
        const QString srcPath = urls[i].toLocalFile();
        const QString srcName = urls[i].fileName();
        const QString dstPath = dstDir + u'/' + srcName + QStringLiteral(".enc");
        print(QStringLiteral("srcPath:") + srcPath + QStringLiteral(" srcName:") + srcName);
        print(QStringLiteral("dstPath:") + dstPath);
        progress(i, bytesBefore);
        const ChunkCallbacks callbacks{
            [&](std::uint64_t done, std::uint64_t) { progress(i, bytesBefore + done); },
            [&promise] { return promise.isCanceled(); }};
        const std::string source = nativePath(srcPath);
        Outcome<> outcome;
        // An exception would end the program when the result reaches the window; it fails the
        // file instead, like any other fault.
        try {
            outcome = FileCipher::encrypt(source, nativePath(dstPath), FileFormat::kHeaderText,
                                          material, callbacks);
        } catch (const std::exception& error) {
            outcome = Error::system(EIO, source, error.what());
        }
        // A cancellation only happens when the screen goes away; it is no failure.
        if (!outcome && outcome.error().code != Errc::cancelled) {
            print(QStringLiteral("failed:") + srcPath + QStringLiteral(": ") +
                  QString::fromStdString(outcome.error().messageAfter(source)));
            failures.append(srcName + QStringLiteral(": ") +
                            FailureReason::inWords(outcome.error(), source));
        }
        bytesBefore += sizes[i];
    }
    promise.addResult(failures);
}

Outcome<QStringList> MainController::jobResult() const {
    const auto stopped = [](const char* what) {
        return Error{std::make_error_code(std::errc::io_error), {}, what};
    };
    QFuture<QStringList> future = job_.future();
    try {
        try {
            future.waitForFinished(); // throws what the job threw, here on the window's thread
        } catch (const QUnhandledException& unhandled) {
            std::rethrow_exception(unhandled.exception());
        }
        return future.resultCount() > 0 ? future.result() : QStringList();
    } catch (const std::exception& error) {
        return stopped(error.what());
    } catch (...) {
        return stopped("an unknown exception");
    }
}

void MainController::onEncryptProgress(const QString& progress) {
    if (encrypting_) {
        labMessage_->setPlainText(kRunning + u'\n' + progress);
    }
}

void MainController::onEncryptFinished() {
    encrypting_ = false;
    const auto failures = jobResult();
    if (!failures) {
        labMessage_->setPlainText(kJobFailed + QString::fromStdString(failures.error().reason));
    } else {
        labMessage_->setPlainText(
            failures->isEmpty()
                ? QStringLiteral("加密完成")
                : QStringLiteral("加密完成，失败 %1 个文件\n").arg(failures->size()) +
                      failures->join(u'\n'));
    }
    // One job at a time means a choice made while it ran is meant for the next one: only the
    // list this job took is emptied.
    if (!srcChosenDuringJob_) {
        srcUrls_.clear();
    }
    updateEncryptButton();
}

} // namespace corvix
