#include "Ui/Base/BaseButton.h"
#include "Ui/Base/BaseTextView.h"
#include "Ui/Base/BaseViewController.h"
#include "Ui/Base/ColorFromHex.h"

#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>

using namespace corvix;

namespace {

// A screen that records what the base class runs and when.
class ProbeController : public BaseViewController {
public:
    int loads = 0;
    int childrenAtLoad = -1;

protected:
    void viewDidLoad() override {
        BaseViewController::viewDidLoad();
        ++loads;
        childrenAtLoad = static_cast<int>(view()->children().size());
    }
};

class Target : public QObject {
public:
    int clicks = 0;
    void onClick() { ++clicks; }
};

bool sameRgba(const QColor& actual, int red, int green, int blue, double alpha) {
    return actual.red() == red && actual.green() == green && actual.blue() == blue &&
           qAbs(actual.alphaF() - alpha) < 0.01;
}

} // namespace

class BaseControlsTest : public QObject {
    Q_OBJECT

private slots:
    void colorFromHexReadsThreePairs_data();
    void colorFromHexReadsThreePairs();
    void rootViewIsBuiltOnceOnFirstUse();
    void layerBackgroundNeedsAutoFill();
    void buttonFactoryConnectsTheAction();
    void textViewTakesTheSizeOfItsText();
};

void BaseControlsTest::colorFromHexReadsThreePairs_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("alpha");
    QTest::addColumn<int>("red");
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("blue");

    QTest::newRow("dodger blue") << "1E90FF" << 1.0 << 30 << 144 << 255;
    QTest::newRow("half opacity") << "1E90FF" << 0.5 << 30 << 144 << 255;
    QTest::newRow("lower case") << "1e90ff" << 1.0 << 30 << 144 << 255;
    QTest::newRow("extra digits ignored") << "1E90FF80" << 1.0 << 30 << 144 << 255;
    QTest::newRow("pair without a number") << "zz90FF" << 1.0 << 0 << 144 << 255;
    QTest::newRow("number sign shifts the pairs") << "#1E90FF" << 1.0 << 0 << 233 << 15;
    QTest::newRow("number ends inside a pair") << "1Z2Y3X" << 1.0 << 1 << 2 << 3;
    QTest::newRow("leading space skipped") << " 1 2 3" << 1.0 << 1 << 2 << 3;
    QTest::newRow("too short is black") << "1E90F" << 0.25 << 0 << 0 << 0;
    QTest::newRow("empty is black") << "" << 1.0 << 0 << 0 << 0;
    // Three UTF-16 units of which one is half of a surrogate pair: still too short.
    QTest::newRow("short with surrogates") << QString::fromUtf8("\xF0\x9F\x98\x80"
                                                                "12")
                                           << 1.0 << 0 << 0 << 0;
    QTest::newRow("alpha above one clamped") << "FFFFFF" << 2.0 << 255 << 255 << 255;
}

void BaseControlsTest::colorFromHexReadsThreePairs() {
    QFETCH(QString, text);
    QFETCH(double, alpha);
    QFETCH(int, red);
    QFETCH(int, green);
    QFETCH(int, blue);

    const QColor color = alpha == 1.0 ? colorFromHex(text) : colorFromHex(text, alpha);
    QVERIFY(color.isValid());
    QVERIFY2(sameRgba(color, red, green, blue, qBound(0.0, alpha, 1.0)),
             qPrintable(color.name(QColor::HexArgb)));
}

void BaseControlsTest::rootViewIsBuiltOnceOnFirstUse() {
    ProbeController controller;
    QVERIFY(!controller.isViewLoaded());
    QCOMPARE(controller.loads, 0);

    QWidget* root = controller.view();
    QVERIFY(root != nullptr);
    QCOMPARE(controller.view(), root);
    QCOMPARE(controller.loads, 1);
    QCOMPARE(controller.childrenAtLoad, 0);
    QCOMPARE(root->geometry(), QRect(0, 0, 0, 0));

    // The controller owns its root view until a parent takes it.
    QPointer<QWidget> watched(root);
    {
        ProbeController other;
        watched = other.view();
    }
    QVERIFY(watched.isNull());
}

void BaseControlsTest::layerBackgroundNeedsAutoFill() {
    QWidget plain;
    const QColor before = plain.palette().color(QPalette::Window);
    setLayerBackgroundColor(plain, Qt::red);
    QVERIFY(!plain.autoFillBackground());
    QCOMPARE(plain.palette().color(QPalette::Window), before);

    QWidget filled;
    filled.setAutoFillBackground(true);
    setLayerBackgroundColor(filled, Qt::white);
    QCOMPARE(filled.palette().color(QPalette::Window), QColor(Qt::white));
}

void BaseControlsTest::buttonFactoryConnectsTheAction() {
    Target target;
    std::unique_ptr<BaseButton> button(
        BaseButton::buttonWithTitle(QStringLiteral("点击加密"), &target, &Target::onClick));
    QCOMPARE(button->text(), QStringLiteral("点击加密"));
    button->resize(100, 50);
    button->show();
    QTest::mouseClick(button.get(), Qt::LeftButton);
    QCOMPARE(target.clicks, 1);

    button->setEnabled(false);
    QTest::mouseClick(button.get(), Qt::LeftButton);
    QCOMPARE(target.clicks, 1);
}

void BaseControlsTest::textViewTakesTheSizeOfItsText() {
    QWidget parent;
    auto& view = *new BaseTextView(&parent);
    const QString text = QStringLiteral("加密文件命名规则: 原文件名.enc");
    view.setPlainText(text);
    const QFontMetrics metrics(view.font());

    // One unwrapped line, as wide as the text and one line high, with nothing added around it.
    const QSize size = view.sizeHint();
    QVERIFY2(size.width() >= metrics.horizontalAdvance(text) - 1 &&
                 size.width() <= metrics.horizontalAdvance(text) + 3,
             qPrintable(QString::number(size.width())));
    QVERIFY2(size.height() >= metrics.height() - 1 && size.height() <= metrics.lineSpacing() + 3,
             qPrintable(QString::number(size.height())));

    // Squeezed to half its width the text wraps onto more lines.
    QVERIFY(view.heightForWidth(size.width() / 2) > size.height());
    QCOMPARE(view.heightForWidth(size.width()), size.height());

    // Typing makes the parent's layout ask again, and the new size holds the longer text.
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QCoreApplication::processEvents();
    bool relaidOut = false;
    class LayoutSpy : public QObject {
    public:
        explicit LayoutSpy(bool& flag) : flag_(flag) {}
        bool eventFilter(QObject*, QEvent* event) override {
            flag_ = flag_ || event->type() == QEvent::LayoutRequest;
            return false;
        }

    private:
        bool& flag_;
    } spy(relaidOut);
    parent.installEventFilter(&spy);
    view.moveCursor(QTextCursor::End);
    QTest::keyClicks(&view, QStringLiteral(" more"));
    QTRY_VERIFY(relaidOut);
    QVERIFY(view.sizeHint().width() > size.width());
    QCOMPARE(view.sizeHint().height(), size.height());
}

QTEST_MAIN(BaseControlsTest)
#include "BaseControlsTest.moc"
