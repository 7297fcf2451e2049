#pragma once

#include "Ui/Base/BaseViewController.h"

#include <QFutureWatcher>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <functional>

template <typename T> class QPromise;

class QFileDialog;
class QTextEdit;

namespace corvix {

class BaseButton;
class BaseTextView;

/// The encryption screen: choose input files and an output directory, then encrypt every input
/// file into DIR/NAME.enc on a worker thread while the window stays responsive. Diagnostics go
/// to standard output; the window shows the job's state, its progress (files and bytes done) and
/// afterwards each file that failed with the reason in words. Files dropped on the screen, like
/// the names confirmed in the input panel, are taken only when they are regular files of the
/// offered types. One job runs at a time; input files chosen while it runs are kept for the next.
class MainController : public BaseViewController {
    Q_OBJECT

public:
    explicit MainController(QObject* parent = nullptr);
    /// A job still running is cancelled: it abandons its current file at the next chunk (the
    /// core leaves no partial output) and starts no other, so quitting never waits long.
    ~MainController() override;

    [[nodiscard]] BaseButton* btnChooseSrc() const { return btnChooseSrc_; }
    [[nodiscard]] BaseButton* btnChooseDst() const { return btnChooseDst_; }
    [[nodiscard]] BaseButton* btnEncrypt() const { return btnEncrypt_; }
    [[nodiscard]] BaseTextView* labOutput() const { return labOutput_; }
    [[nodiscard]] QTextEdit* labMessage() const { return labMessage_; }
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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupViews();
    void setupLayout();

    void chooseSrcFiles(const std::function<void(const QList<QUrl>&)>& completion);
    void chooseDstDir(const std::function<void(const QString&)>& completion);
    /// A new panel whose confirm button says `acceptLabel`; it becomes the screen's open panel.
    [[nodiscard]] QFileDialog* makePanel(const QString& acceptLabel);
    /// The urls that are regular local files of the offered types; prints "ignored:" for others.
    [[nodiscard]] static QList<QUrl> takeInputs(const QList<QUrl>& urls);
    void onSrcFilesChosen(const QList<QUrl>& urls);
    void onFilesDropped(const QList<QUrl>& urls);
    void onDstDirChosen(const QString& path);
    void updateEncryptButton();

    /// The job body, on a worker thread; works only on the copies it is given. Reports progress
    /// as text ("3/10 · 45%") at most ten times a second, and as its result one line per failed
    /// file: its name and the reason in words.
    static void encryptFiles(QPromise<QStringList>& promise, const QList<QUrl>& urls,
                             const QString& dstDir, const KeyMaterial& material);
    /// The failed files of the job that ended, or why the job itself stopped (it threw between
    /// files).
    [[nodiscard]] Outcome<QStringList> jobResult() const;
    void onEncryptProgress(const QString& progress);
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
    QFutureWatcher<QStringList> job_;
    bool encrypting_ = false;
    // Input files confirmed since the running job's click: its completion keeps them.
    bool srcChosenDuringJob_ = false;
};

} // namespace corvix
