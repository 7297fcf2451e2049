#include "MainController.h"

#include "Crypto/AESUtils.h"
#include "Key/Console.h"
#include "Key/CorvixKey.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"

#include <QDialog>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QTextEdit>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <string>

namespace corvix {

namespace {

constexpr std::string_view kHeaderText = "quorveth";
constexpr int kSpacing = 16;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 50;
// The types the input panel offers.
const QStringList kInputTypes = {QStringLiteral("jpg"), QStringLiteral("png"),
                                 QStringLiteral("txt"), QStringLiteral("json")};

void print(const QString& line) {
    printLine(line.toStdString());
}

// Colours the whole text, whatever is set later, since it goes through the palette.
void setTextColor(QTextEdit& view, const QColor& color) {
    QPalette palette = view.palette();
    palette.setColor(QPalette::Text, color);
    view.setPalette(palette);
}

void addSubview(QWidget& root, QWidget* view) {
    view->setParent(&root);
    view->show();
}

std::string nativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

MainController::MainController(QObject* parent) : BaseViewController(parent) {
    connect(&job_, &QFutureWatcher<int>::finished, this, &MainController::onEncryptFinished);
}

MainController::~MainController() {
    stopJob_->store(true);
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

    labRule_ = new BaseTextView;
    labRule_->setObjectName(QStringLiteral("labRule"));
    setTextColor(*labRule_, Qt::red);
    labRule_->setPlainText(QStringLiteral("加密文件命名规则: 原文件名.enc"));
    labRule_->setReadOnly(true);
    addSubview(root, labRule_);

    labOutput_ = new BaseTextView;
    labOutput_->setObjectName(QStringLiteral("labOutput"));
    setTextColor(*labOutput_, QColor(128, 0, 128));
    labOutput_->setPlainText(QStringLiteral("输出目录:"));
    labOutput_->setReadOnly(true);
    addSubview(root, labOutput_);

    labMessage_ = new QTextEdit;
    labMessage_->setObjectName(QStringLiteral("labMessage"));
    labMessage_->setAutoFillBackground(true);
    setTextColor(*labMessage_, Qt::blue);
    labMessage_->setReadOnly(true);
    labMessage_->setPlainText(QStringLiteral("提示信息"));
    addSubview(root, labMessage_);
}

void MainController::layoutViews() {
    const QRect bounds = view()->rect();
    const int innerWidth = std::max(0, bounds.width() - 2 * kSpacing);

    // A row of three buttons, each 16 points right of the one before.
    int left = kSpacing;
    for (BaseButton* button : {btnChooseSrc_, btnChooseDst_, btnEncrypt_}) {
        button->setGeometry(left, kSpacing, kButtonWidth, kButtonHeight);
        left += kButtonWidth + kSpacing;
    }

    // Below it, each 16 points under the one before: the rule at the size of its text, the
    // output line across the width at the height of its (possibly wrapped) text, and the
    // message area taking what is left down to 16 points above the bottom edge.
    const int ruleTop = kSpacing + kButtonHeight + kSpacing;
    labRule_->setGeometry(QRect(QPoint(kSpacing, ruleTop), labRule_->sizeHint()));

    const int outputTop = ruleTop + labRule_->height() + kSpacing;
    labOutput_->setGeometry(kSpacing, outputTop, innerWidth,
                            labOutput_->heightForWidth(innerWidth));

    const int messageTop = outputTop + labOutput_->height() + kSpacing;
    labMessage_->setGeometry(kSpacing, messageTop, innerWidth,
                             std::max(0, bounds.height() - kSpacing - messageTop));
}

void MainController::onClickChooseSrc() {
    printLine("onClickChooseSrc");
    srcUrls_.clear();
    chooseSrcFiles([this](const QList<QUrl>& urls) { onSrcFilesChosen(urls); });
}

void MainController::onClickChooseDst() {
    printLine("onClickChooseDst");
    chooseDstDir([this](const QString& path) { onDstDirChosen(path); });
}

QFileDialog* MainController::makePanel() {
    // The toolkit's own dialog on every platform, so the settings below mean the same
    // everywhere; window-modal, it behaves as a sheet on the window.
    auto* panel = new QFileDialog(view()->window());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setWindowModality(Qt::WindowModal);
    return panel;
}

QFileDialog* MainController::openPanel() const {
    return panel_.data();
}

void MainController::chooseSrcFiles(const std::function<void(const QList<QUrl>&)>& completion) {
    QFileDialog* panel = makePanel();
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("选择输入文件"));
    panel->setNameFilter(QStringLiteral("jpg, png, txt, json (*.jpg *.png *.txt *.json)"));
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setOption(QFileDialog::ReadOnly);
    connect(panel, &QDialog::finished, this, [panel, completion](int response) {
        printLine("response:" + std::to_string(response));
        if (response == QDialog::Accepted) {
            completion(panel->selectedUrls());
        }
    });
    panel_ = panel;
    panel->open();
}

void MainController::chooseDstDir(const std::function<void(const QString&)>& completion) {
    QFileDialog* panel = makePanel();
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("选择选择输出目录"));
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    connect(panel, &QDialog::finished, this, [panel, completion](int response) {
        printLine("response:" + std::to_string(response));
        const QList<QUrl> urls = panel->selectedUrls();
        if (response == QDialog::Accepted && !urls.isEmpty()) {
            completion(urls.first().toLocalFile());
        }
    });
    panel_ = panel;
    panel->open();
}

void MainController::onSrcFilesChosen(const QList<QUrl>& urls) {
    srcUrls_.append(urls);
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

// The input panel's confirmation with the files it would have offered; a drop that brings none
// of them leaves the earlier choice as it was.
void MainController::onFilesDropped(const QList<QUrl>& urls) {
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
    printLine("onClickEncrypt");
    btnEncrypt_->setEnabled(false);
    labMessage_->setPlainText(QStringLiteral("正在加密..."));
    Bytes key = CorvixKey::aesKey();
    Bytes iv = CorvixKey::ivBytes();
    encrypting_ = true;
    // The job gets copies of the list and the directory taken now, on this thread, so later
    // choices cannot race with it; it writes to the directory in force at the click.
    job_.setFuture(QtConcurrent::run(QThreadPool::globalInstance(), &MainController::encryptFiles,
                                     srcUrls_, dstDir_, std::move(key), std::move(iv),
                                     std::shared_ptr<const std::atomic_bool>(stopJob_)));
}

int MainController::encryptFiles(const QList<QUrl>& urls, const QString& dstDir, const Bytes& key,
                                 const Bytes& iv,
                                 const std::shared_ptr<const std::atomic_bool>& stop) {
    int failed = 0;
    for (const QUrl& url : urls) {
        if (stop->load()) {
            break;
        }
        const QString srcPath = url.toLocalFile();
        const QString srcName = url.fileName();
        const QString dstPath = dstDir + u'/' + srcName + QStringLiteral(".enc");
        print(QStringLiteral("srcPath:") + srcPath + QStringLiteral(" srcName:") + srcName);
        print(QStringLiteral("dstPath:") + dstPath);
        AESUtils::encryptFile(
            nativePath(srcPath), nativePath(dstPath), kHeaderText, key, iv, {}, {},
            [&](bool cancelled) {
                // A cancellation only happens when the screen goes away; it is no failure.
                if (!cancelled) {
                    ++failed;
                    print(QStringLiteral("failed:") + srcPath);
                }
            },
            [&stop] { return stop->load(); });
    }
    return failed;
}

void MainController::onEncryptFinished() {
    encrypting_ = false;
    const int failed = job_.result();
    btnEncrypt_->setEnabled(false);
    labMessage_->setPlainText(failed == 0 ? QStringLiteral("加密完成")
                                          : QStringLiteral("加密完成，失败 %1 个文件").arg(failed));
    srcUrls_.clear();
}

} // namespace corvix
