#pragma once

#include "Key/Bytes.h"
#include "Ui/Base/BaseViewController.h"

#include <QFutureWatcher>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

class QFileDialog;
class QTextEdit;

namespace corvix {

class BaseButton;
class BaseTextView;

/// The encryption screen: choose input files and an output directory, then encrypt every input
/// file into DIR/NAME.enc on a worker thread while the window stays responsive. Diagnostics go
/// to standard output; the window shows only the job's state and how many files failed.
/// Files dropped on the screen count as input files confirmed in the input panel.
class MainController : public BaseViewController {
    Q_OBJECT

public:
    explicit MainController(QObject* parent = nullptr);
    /// A job still running is told to stop: it abandons its current file at the next chunk
    /// (the core leaves no partial output) and starts no other, so quitting never waits long.
    ~MainController() override;

    [[nodiscard]] BaseButton* btnChooseSrc() const { return btnChooseSrc_; }
    [[nodiscard]] BaseButton* btnChooseDst() const { return btnChooseDst_; }
    [[nodiscard]] BaseButton* btnEncrypt() const { return btnEncrypt_; }
    [[nodiscard]] BaseTextView* labOutput() const { return labOutput_; }
    [[nodiscard]] QTextEdit* labMessage() const { return labMessage_; }
    [[nodiscard]] const QList<QUrl>& srcUrls() const { return srcUrls_; }
    [[nodiscard]] const QString& dstDir() const { return dstDir_; }

    /// The open panel this screen is showing, or null; a test or an assistive tool drives the
    /// real dialog through it.
    [[nodiscard]] QFileDialog* openPanel() const;
    /// True from a click on the encrypt button until that job's completion step has run.
    [[nodiscard]] bool isEncrypting() const { return encrypting_; }

public slots:
    void onClickChooseSrc();
    void onClickChooseDst();
    void onClickEncrypt();

protected:
    void viewDidLoad() override;
    void layoutViews() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupViews();

    void chooseSrcFiles(const std::function<void(const QList<QUrl>&)>& completion);
    void chooseDstDir(const std::function<void(const QString&)>& completion);
    [[nodiscard]] QFileDialog* makePanel();
    void onSrcFilesChosen(const QList<QUrl>& urls);
    void onFilesDropped(const QList<QUrl>& urls);
    void onDstDirChosen(const QString& path);
    void updateEncryptButton();

    /// The job body, on a worker thread; works only on the copies it is given. Returns the
    /// number of files that failed.
    [[nodiscard]] static int encryptFiles(const QList<QUrl>& urls, const QString& dstDir,
                                          const Bytes& key, const Bytes& iv,
                                          const std::shared_ptr<const std::atomic_bool>& stop);
    void onEncryptFinished();

    BaseButton* btnChooseSrc_ = nullptr;
    BaseButton* btnChooseDst_ = nullptr;
    BaseButton* btnEncrypt_ = nullptr;
    BaseTextView* labOutput_ = nullptr;
    QTextEdit* labMessage_ = nullptr;
    // Owned by the root view like every other view; kept only so the layout can place it.
    BaseTextView* labRule_ = nullptr;
    QList<QUrl> srcUrls_;
    QString dstDir_;

    QPointer<QFileDialog> panel_;
    QFutureWatcher<int> job_;
    bool encrypting_ = false;
    std::shared_ptr<std::atomic_bool> stopJob_ = std::make_shared<std::atomic_bool>(false);
};

} // namespace corvix
