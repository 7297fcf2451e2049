#include "MainScreen.h"
#include "StdoutLines.h"
#include "Ui/Base/BaseButton.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace corvix;

namespace {

// What the window system does when urls are dragged onto `target` and let go: a drag enter,
// then, if some widget took it, the drop. Gives the drop action the screen agreed to, or
// Qt::IgnoreAction when it refused the drag.
Qt::DropAction drop(QWidget* target, QMimeData* data,
                    Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction) {
    const QPoint centre = target->rect().center();
    QDragEnterEvent enter(centre, offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return Qt::IgnoreAction;
    }
    QDropEvent release(centre, offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
    return release.isAccepted() ? release.dropAction() : Qt::IgnoreAction;
}

Qt::DropAction dropUrls(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    return drop(target, &data);
}

QUrl makeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(path.toUtf8()) != path.toUtf8().size()) {
        return {};
    }
    return QUrl::fromLocalFile(path);
}

} // namespace

class MainControllerDropTest : public QObject {
    Q_OBJECT

private slots:
    void dropIsAConfirmedInputChoice();
    void laterDropsReplaceTheList();
    void dragsAreTakenOnlyAsCopiesOfUrls();

private:
    QTemporaryDir dir_;
};

void MainControllerDropTest::dropIsAConfirmedInputChoice() {
    const QString in = dir_.path() + QStringLiteral("/拖放 in");
    const QString out = dir_.path() + QStringLiteral("/drop out");
    QVERIFY(QDir().mkpath(in + QStringLiteral("/folder.png")));
    QVERIFY(QDir().mkpath(out));
    const QList<QUrl> taken{
        makeFile(in + QStringLiteral("/photo.JPG")), makeFile(in + QStringLiteral("/b.png")),
        makeFile(in + QStringLiteral("/notes.txt")), makeFile(in + QStringLiteral("/data.Json"))};
    const QUrl pdf = makeFile(in + QStringLiteral("/paper.pdf"));
    const QUrl remote(QStringLiteral("https://example.org/remote.png"));
    QVERIFY(!taken.contains(QUrl()) && !pdf.isEmpty());

    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    QVERIFY(screen.chooseDir(out));

    // Onto the message area, a child of the screen, as a user would most often aim.
    StdoutLines capture;
    QCOMPARE(
        dropUrls(c.labMessage()->viewport(),
                 {taken[0], pdf, taken[1], QUrl::fromLocalFile(in + QStringLiteral("/folder.png")),
                  taken[2], remote, taken[3]}),
        Qt::CopyAction);
    QCOMPARE(c.srcUrls(), taken);
    QVERIFY(screen.encryptEnabled());
    QTest::mouseClick(c.btnEncrypt(), Qt::LeftButton);
    QVERIFY(screen.waitForJob());
    QCOMPARE(capture.stop().mid(0, 4),
             (QStringList{"ignored:" + pdf.toLocalFile(), "ignored:" + in + "/folder.png",
                          "ignored:" + remote.toString(), "onClickEncrypt"}));
    for (const QUrl& url : taken) {
        QCOMPARE(decryptedFile(out + u'/' + url.fileName() + ".enc"), url.toLocalFile().toUtf8());
    }
}

void MainControllerDropTest::laterDropsReplaceTheList() {
    const QUrl first = makeFile(dir_.path() + QStringLiteral("/first.txt"));
    const QUrl second = makeFile(dir_.path() + QStringLiteral("/second.json"));
    const QUrl other = makeFile(dir_.path() + QStringLiteral("/other.gif"));
    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;
    QWidget* root = c.view();

    StdoutLines capture;
    dropUrls(root, {first});
    dropUrls(root, {second});
    QCOMPARE(c.srcUrls(), QList<QUrl>{second});
    // Nothing usable in it: the earlier choice stays, as a cancelled panel would leave it.
    dropUrls(root, {other});
    QCOMPARE(capture.stop(), QStringList{"ignored:" + other.toLocalFile()});
    QCOMPARE(c.srcUrls(), QList<QUrl>{second});
    // No output directory yet: the selection rule keeps the encrypt button off.
    QVERIFY(!c.btnEncrypt()->isEnabled());
}

void MainControllerDropTest::dragsAreTakenOnlyAsCopiesOfUrls() {
    const QUrl file = makeFile(dir_.path() + QStringLiteral("/moved.png"));
    MainScreen screen;
    QVERIFY(screen.launch());
    MainController& c = *screen.controller;

    QMimeData text;
    text.setText(file.toLocalFile());
    QCOMPARE(drop(c.view(), &text), Qt::IgnoreAction);

    // Agreeing to a move would let the source delete the files it dragged here.
    QMimeData urls;
    urls.setUrls({file});
    QCOMPARE(drop(c.view(), &urls, Qt::MoveAction), Qt::IgnoreAction);
    QDropEvent moveOnly(QPointF(5, 5), Qt::MoveAction, &urls, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(c.view(), &moveOnly);
    QVERIFY(c.srcUrls().isEmpty());

    QCOMPARE(drop(c.view(), &urls, Qt::MoveAction | Qt::CopyAction), Qt::CopyAction);
    QCOMPARE(c.srcUrls(), QList<QUrl>{file});
}

QTEST_MAIN(MainControllerDropTest)
#include "MainControllerDropTest.moc"
