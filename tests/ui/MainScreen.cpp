#include "MainScreen.h"

#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

bool MainScreen::launch() {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        return false;
    }
    delegate.applicationDidFinishLaunching();
    controller = qobject_cast<corvix::MainController*>(delegate.controller());
    return controller != nullptr;
}

QString MainScreen::message() const {
    return controller->labMessage()->toPlainText();
}

QString MainScreen::output() const {
    return controller->labOutput()->toPlainText();
}

bool MainScreen::encryptEnabled() const {
    return controller->btnEncrypt()->isEnabled();
}

QList<QUrl> MainScreen::chooseFiles(const QString& dir, const QStringList& names) {
    QTest::mouseClick(controller->btnChooseSrc(), Qt::LeftButton);
    QFileDialog* panel = controller->openPanel();
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

bool MainScreen::chooseDir(const QString& dir) {
    QTest::mouseClick(controller->btnChooseDst(), Qt::LeftButton);
    QFileDialog* panel = controller->openPanel();
    if (panel == nullptr || !panel->isVisible()) {
        return false;
    }
    panel->setDirectory(dir);
    return press(*panel, QDialogButtonBox::Open);
}

bool MainScreen::readyToEncrypt(const QString& out, const QString& in, const QStringList& names) {
    return chooseDir(out) && chooseFiles(in, names).size() == names.size();
}

bool MainScreen::cancelPanel(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
    QFileDialog* panel = controller->openPanel();
    return panel != nullptr && panel->isVisible() && press(*panel, QDialogButtonBox::Cancel);
}

bool MainScreen::waitForJob() {
    return QTest::qWaitFor([&] { return !controller->isEncrypting(); }, 60000);
}

QPushButton* MainScreen::panelButton(QFileDialog& panel, QDialogButtonBox::StandardButton which) {
    auto* box = panel.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return box == nullptr ? nullptr : box->button(which);
}

bool MainScreen::press(QFileDialog& panel, QDialogButtonBox::StandardButton which) {
    QPushButton* button = panelButton(panel, which);
    if (button == nullptr || !button->isEnabled()) {
        return false;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    return !panel.isVisible();
}

QByteArray decryptedFile(const QString& path) {
    const auto plain = corvix::AESUtils::decryptFileToBytes(QFile::encodeName(path).toStdString(),
                                                            corvix::CorvixKey::aesKey(),
                                                            corvix::CorvixKey::ivBytes());
    return plain ? QByteArray(reinterpret_cast<const char*>(plain->data()),
                              static_cast<qsizetype>(plain->size()))
                 : QByteArray("<does not decrypt>");
}
