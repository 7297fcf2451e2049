#pragma once

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "Ui/Main/Controller/MainController.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QList>
#include <QUrl>

/// The main window as the program starts it (window, delegate, encryption screen), driven
/// through its real buttons and file panels as a user would.
struct MainScreen {
    corvix::MainWindow window;
    corvix::AppDelegate delegate{window};
    corvix::MainController* controller = nullptr;

    [[nodiscard]] bool launch();
    [[nodiscard]] QString message() const;
    [[nodiscard]] QString output() const;
    [[nodiscard]] bool encryptEnabled() const;

    /// Opens the input panel and confirms `names` from `dir`, typed into the panel's file name
    /// field. Gives the URLs the panel returned, none when it did not close.
    QList<QUrl> chooseFiles(const QString& dir, const QStringList& names);
    /// Opens the output panel and confirms the directory `dir`.
    bool chooseDir(const QString& dir);
    /// Chooses the output directory `out` and then `names` from `in`.
    bool readyToEncrypt(const QString& out, const QString& in, const QStringList& names);
    /// Opens the panel of `button` and cancels it.
    bool cancelPanel(QAbstractButton* button);
    bool waitForJob();

    [[nodiscard]] static QPushButton* panelButton(QFileDialog& panel,
                                                  QDialogButtonBox::StandardButton which);
    /// Presses the panel's confirm or cancel button; true when the panel closed.
    static bool press(QFileDialog& panel, QDialogButtonBox::StandardButton which);
};

/// The decryption of the file at `path` with the built-in key material, or "<does not decrypt>".
[[nodiscard]] QByteArray decryptedFile(const QString& path);
