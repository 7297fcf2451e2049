#pragma once

#include "Ui/Base/BaseViewController.h"

#include <QLabel>
#include <QPointer>
#include <string>

namespace corvix {

/// The developer's screen: one "Test" button that decrypts a fixed encrypted configuration file
/// twice, into memory (printing its content) and into a second file beside it, and reports on
/// standard output. Only the `corvix-devtest` program shows it; the main program never does.
///
/// The input path is fixed when the program is built (by the build, inside its own tree); the
/// output path is the input path followed by ".json".
class TestController : public BaseViewController {
    Q_OBJECT

public:
    explicit TestController(QObject* parent = nullptr);

    [[nodiscard]] static std::string inputPath();
    [[nodiscard]] static std::string outputPath();

    /// An image view pinned to the top edge and 16 points beyond the right edge; it never shows
    /// a picture.
    [[nodiscard]] QLabel* imvPhoto() const { return imvPhoto_; }

    /// Prints "onClickTest", the content line, then "test11".
    void onClickTest();

protected:
    void viewDidLoad() override;

private:
    /// Prints "content:" and the decrypted text in its debug form: Optional("...") with \" \\ \n
    /// \r \t \0 escaped and every other control character written as \u{HEX}, or nil.
    void printDecryptedConfig();
    void decryptConfigToFile();

    QPointer<QLabel> imvPhoto_;
};

} // namespace corvix
