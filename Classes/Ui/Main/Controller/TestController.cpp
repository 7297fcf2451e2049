#include "TestController.h"

#include "Basics/TextEscape.h"
#include "Crypto/Console.h"
#include "Ui/Base/BaseButton.h"

#include <QHBoxLayout>
#include <QWidgetItem>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/CorvixUtils.h>
#include <optional>

#ifndef CORVIX_DEVTEST_CONFIG_PATH
#error "the build fixes CORVIX_DEVTEST_CONFIG_PATH, the absolute path of config.json.enc"
#endif

namespace corvix {

namespace {

constexpr const char* kInputPath = CORVIX_DEVTEST_CONFIG_PATH;
constexpr const char* kOutputPath = CORVIX_DEVTEST_CONFIG_PATH ".json";
constexpr int kSpacing = 16;

// A layout item that places its widget `overhang` points right of where its layout puts it. The
// photo's right edge lies 16 points beyond the root view's right edge, not inside it, which no
// margin can say (a negative one means the style's default).
class OverhangingItem final : public QWidgetItem {
public:
    OverhangingItem(QWidget* widget, int overhang) : QWidgetItem(widget), overhang_(overhang) {}
    void setGeometry(const QRect& rect) override {
        QWidgetItem::setGeometry(rect.translated(overhang_, 0));
    }

private:
    int overhang_;
};

// The text as a quoted, escaped literal; it never carries a raw control character, so the
// content stays on one line whatever the file holds.
std::string debugForm(const std::optional<std::string>& text) {
    return text ? "Optional(\"" + escaped(*text, EscapeStyle::Debug) + "\")" : "nil";
}

} // namespace

TestController::TestController(QObject* parent) : BaseViewController(parent) {
    // The window says which program this is: it looks like the main window otherwise.
    setTitle(QStringLiteral("Corvix – 开发者测试屏幕 (developer test screen)"));
}

std::string TestController::inputPath() {
    return kInputPath;
}

std::string TestController::outputPath() {
    return kOutputPath;
}

void TestController::viewDidLoad() {
    BaseViewController::viewDidLoad();
    QWidget& root = *view();
    root.setAutoFillBackground(true);
    setLayerBackgroundColor(root, Qt::white);

    // The root view holds the button; nothing else keeps it.
    BaseButton* test =
        BaseButton::buttonWithTitle(QStringLiteral("Test"), this, &TestController::onClickTest);
    test->setObjectName(QStringLiteral("btnTest"));
    test->setParent(&root);
    test->show();

    imvPhoto_ = new QLabel(&root);
    imvPhoto_->setObjectName(QStringLiteral("imvPhoto"));
    imvPhoto_->setScaledContents(true);
    imvPhoto_->show();

    // The button at its own size, 16 points from the top and left edges; the photo at its own
    // size, 16 points from the top, against the root view's right edge and then moved 16 points
    // beyond it. The bottom margin keeps the button whole at the window's minimum size.
    auto* layout = new QHBoxLayout(&root);
    layout->setContentsMargins(kSpacing, kSpacing, 0, kSpacing);
    layout->setSpacing(kSpacing);
    layout->addWidget(test, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addStretch();
    auto* photo = new OverhangingItem(imvPhoto_, kSpacing);
    photo->setAlignment(Qt::AlignRight | Qt::AlignTop);
    layout->addItem(photo);
}

void TestController::onClickTest() {
    Console::printLine("onClickTest");
    printDecryptedConfig();
    decryptConfigToFile();
}

void TestController::printDecryptedConfig() {
    Console::printLine("content:" + debugForm(CorvixUtils::decryptFileText(kInputPath)));
}

void TestController::decryptConfigToFile() {
    AESUtils::decryptFile(kInputPath, kOutputPath, CorvixKey::aesKey(), CorvixKey::ivBytes());
    Console::printLine("test11");
}

} // namespace corvix
