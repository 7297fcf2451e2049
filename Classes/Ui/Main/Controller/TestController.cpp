#include "TestController.h"

#include "Basics/TextEscape.h"
#include "Crypto/Console.h"
#include "Ui/Base/BaseButton.h"

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
}

void TestController::layoutViews() {
    const QRect bounds = view()->rect();
    if (auto* test = view()->findChild<BaseButton*>(QStringLiteral("btnTest"))) {
        test->setGeometry(QRect(QPoint(kSpacing, kSpacing), test->sizeHint()));
    }
    // Its right edge lies 16 points beyond the root view's right edge, not inside it.
    const QSize photo = imvPhoto_->sizeHint().expandedTo(QSize(0, 0));
    imvPhoto_->setGeometry(bounds.width() + kSpacing - photo.width(), kSpacing, photo.width(),
                           photo.height());
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
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    AESUtils::decryptFile(kInputPath, kOutputPath, key, iv);
    Console::printLine("test11");
}

} // namespace corvix
