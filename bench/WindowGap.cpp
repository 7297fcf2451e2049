// How responsive the window stays while it encrypts: the main window as the program starts it,
// COUNT files of SIZE dropped on it, an output folder chosen in its panel, then its encrypt
// button pressed. A zero-interval timer fires once per turn of the event loop; the longest time
// between two turns is the longest the window was deaf. The progress lines shown on the way are
// counted too. The screen's own diagnostics share standard output; the figures are the lines
// that start with two spaces.
//
//   QT_QPA_PLATFORM=offscreen window_gap [SIZE [FOLDER [COUNT]]]
//
// SIZE is in MiB, or in KiB with a K after it (defaults: 1024, the temp folder, one file).

#include "App/AppDelegate.h"
#include "App/MainWindow.h"
#include "Ui/Base/BaseButton.h"
#include "Ui/Main/Controller/MainController.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

// A file of `size` zero bytes; the file system need not store them.
bool makeSource(const QString& path, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

// Drops `paths` on the screen as a file manager would.
void dropFiles(QWidget& target, const QList<QUrl>& paths) {
    QMimeData data;
    data.setUrls(paths);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
}

// Opens the output panel and confirms `folder` in it.
bool chooseFolder(corvix::MainController& screen, const QString& folder) {
    screen.btnChooseDst()->click();
    QFileDialog* panel = screen.openPanel();
    auto* buttons = panel == nullptr ? nullptr : panel->findChild<QDialogButtonBox*>();
    if (buttons == nullptr) {
        return false;
    }
    panel->setDirectory(folder);
    buttons->button(QDialogButtonBox::Open)->click();
    return screen.dstDir() == folder;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QByteArray sizeText = argc > 1 ? QByteArray(argv[1]) : QByteArray("1024");
    const qint64 size = sizeText.endsWith('K') ? sizeText.chopped(1).toLongLong() << 10
                                               : sizeText.toLongLong() << 20;
    const int count = argc > 3 ? QByteArray(argv[3]).toInt() : 1;
    const QTemporaryDir work(argc > 2 ? QString::fromLocal8Bit(argv[2]) +
                                            QStringLiteral("/window_gap.XXXXXX")
                                      : QDir::tempPath() + QStringLiteral("/window_gap.XXXXXX"));
    const auto source = [&](int i) { return work.path() + QStringLiteral("/f%1.json").arg(i); };
    QList<QUrl> sources;
    for (int i = 0; i < count && size > 0 && work.isValid() && makeSource(source(i), size); ++i) {
        sources.append(QUrl::fromLocalFile(source(i)));
    }
    if (count <= 0 || sources.size() != count || !QDir(work.path()).mkdir(QStringLiteral("out"))) {
        std::fprintf(stderr, "window_gap: cannot make %d files of %s in %s\n", count,
                     sizeText.constData(), qPrintable(work.path()));
        return 1;
    }

    corvix::MainWindow window;
    window.show();
    corvix::AppDelegate delegate(window);
    delegate.applicationDidFinishLaunching();
    auto& screen = *qobject_cast<corvix::MainController*>(delegate.controller());
    dropFiles(*screen.view(), sources);
    if (!chooseFolder(screen, work.path() + QStringLiteral("/out")) ||
        !screen.btnEncrypt()->isEnabled()) {
        std::fprintf(stderr, "window_gap: the window is not ready to encrypt\n");
        return 1;
    }
    // A user's hand takes longer to reach the button than the closed panel takes to go.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    long turns = 0;
    long progressLines = 0;
    QObject::connect(screen.labMessage(), &QTextEdit::textChanged, [&] {
        progressLines += screen.labMessage()->toPlainText().contains(u'%') ? 1 : 0;
    });
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
        ++turns;
        if (!screen.isEncrypting()) {
            QApplication::quit();
        }
    });
    clock.start();
    tick.start();
    screen.btnEncrypt()->click();
    QApplication::exec();
    const qint64 total = clock.nsecsElapsed();

    bool whole = true;
    for (int i = 0; i < count; ++i) {
        whole = whole &&
                QFileInfo(work.path() + QStringLiteral("/out/f%1.json.enc").arg(i)).size() > size;
    }
    const QByteArray job =
        QByteArray::number(count) + " x " +
        (sizeText.endsWith('K') ? sizeText.chopped(1) + " KiB" : sizeText + " MiB") +
        " through the window";
    std::printf("  %-44s %8.3f s\n", job.constData(), total / 1e9);
    std::printf("  %-44s %8ld\n", "event-loop turns", turns);
    std::printf("  %-44s %8.2f ms   (goal < 50)\n", "longest gap between two turns",
                longestGap / 1e6);
    std::printf("  %-44s %8ld\n", "progress lines shown", progressLines);
    std::printf("  %-44s %8.1f     (goal <= 10)\n", "progress lines a second",
                progressLines / (total / 1e9));
    if (!whole || screen.labMessage()->toPlainText() != QStringLiteral("加密完成")) {
        std::fprintf(stderr, "window_gap: the job did not finish: %s\n",
                     qPrintable(screen.labMessage()->toPlainText()));
        return 1;
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
