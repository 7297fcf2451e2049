#include "Key/CorvixUtils.h"

#include "EncryptedFiles.h"
#include "Files.h"
#include "Key/Encodings.h"
#include "ScratchDir.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvix {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;
using test::writeEncrypted;

// Expected values come from the openssl command, not from this code:
//   K=<the key string's SHA-256, as `corvix-cli key` prints it>
//   I=$(printf 4630295817204468 | xxd -p)
//   printf 'TEXT' | openssl enc -aes-256-cbc -K $K -iv $I | base64 -w0
const char* const kKeyHex = "c7e2b25901e076867cb3e9bad29fc87b53dd33f8111b17074e1ea9c2b11bd37f";
const char* const kSealedEmpty = "QXRgLk/2J3esCguqDXxtCg==";
const char* const kSealedHello = "HSyM7B/IxqbwlCXFpkpkEw==";
const char* const kSealedGreeting = "E1JfQ1KFD/r1CvrRLajEZMzJd2FHX50rHCifi/FBqn4=";
const char* const kGreeting = "Grüße, 世界\n";

QImage samplePicture() {
    QImage picture(7, 5, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, qRgba(x * 36, y * 60, (x * y * 13) % 256, 255 - x * y));
        }
    }
    return picture;
}

std::string pngOf(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(picture.save(&buffer, "PNG"));
    return bytes.toStdString();
}

void expectSamePicture(const std::optional<QImage>& actual, const QImage& expected) {
    ASSERT_TRUE(actual.has_value());
    EXPECT_EQ(actual->convertToFormat(QImage::Format_ARGB32), expected);
}

TEST(CorvixUtilsText, KeyMaterialIsTheBuiltInOne) {
    EXPECT_EQ(CorvixUtils::key(), bytesFromHex(kKeyHex));
    EXPECT_EQ(CorvixUtils::iv(), utf8Bytes("4630295817204468"));
    EXPECT_EQ(&CorvixUtils::key(), &CorvixUtils::key());
}

TEST(CorvixUtilsText, EncryptsAsTheOpensslCommandDoes) {
    for (const auto& [plain, sealed] :
         {std::pair{"", kSealedEmpty}, {"hello", kSealedHello}, {kGreeting, kSealedGreeting}}) {
        EXPECT_EQ(CorvixUtils::encryptText(plain), sealed);
        EXPECT_EQ(CorvixUtils::decryptText(sealed), plain);
    }
}

TEST(CorvixUtilsText, RoundTripsEveryText) {
    const std::vector<std::string> texts = {
        "",
        "a",
        "exactly sixteen!",
        std::string("nul\0inside", 10),
        kGreeting,
        std::string(100000, 'x') + "😀",
    };
    for (const std::string& text : texts) {
        const auto sealed = CorvixUtils::encryptText(text);
        ASSERT_TRUE(sealed.has_value()) << text.size();
        EXPECT_EQ(sealed->size() % 4, 0U);
        EXPECT_EQ(sealed->find('\n'), std::string::npos);
        EXPECT_EQ(CorvixUtils::decryptText(*sealed), text) << text.size();
    }
}

TEST(CorvixUtilsText, GivesNothingForWhatItCannotGiveBack) {
    EXPECT_FALSE(CorvixUtils::encryptText("\xff\xfe").has_value());
    EXPECT_FALSE(CorvixUtils::decryptText("").has_value());
    EXPECT_FALSE(CorvixUtils::decryptText("not base64!").has_value());
    EXPECT_FALSE(CorvixUtils::decryptText(std::string(kSealedHello) + "\n").has_value());
}

TEST(CorvixUtilsFile, ReadsTextBackWhole) {
    ScratchDir folder;
    // A two-byte character split by the first chunk boundary: the text is decoded only whole.
    const std::string text = std::string(1048575, 'a') + "é and more\nlast line";
    ASSERT_TRUE(writeEncrypted(folder / "big.txt.enc", text));
    EXPECT_EQ(CorvixUtils::decryptFileText(folder.file("big.txt.enc")), text);

    ASSERT_TRUE(writeEncrypted(folder / "empty.txt.enc", ""));
    EXPECT_EQ(CorvixUtils::decryptFileText(folder.file("empty.txt.enc")), "");
}

TEST(CorvixUtilsFile, PngIsAPictureAndNotText) {
    ScratchDir folder;
    const QImage picture = samplePicture();
    const std::string path = folder.file("photo.png.enc");
    ASSERT_TRUE(writeEncrypted(path, pngOf(picture)));

    EXPECT_FALSE(CorvixUtils::decryptFileText(path).has_value());
    expectSamePicture(CorvixUtils::decryptFileImage(path), picture);
    expectSamePicture(CorvixUtils::decryptFileToImage(path), picture);
}

// What does not decrypt, as damaged files and wrong keys, the file-format tests cover.
TEST(CorvixUtilsFile, GivesNothingForWhatIsNotItsKind) {
    ScratchDir folder;
    const std::string text = folder.file("note.txt.enc");
    ASSERT_TRUE(writeEncrypted(text, "just words"));
    EXPECT_FALSE(CorvixUtils::decryptFileImage(text).has_value());
    const std::string empty = folder.file("empty.png.enc");
    ASSERT_TRUE(writeEncrypted(empty, ""));
    EXPECT_FALSE(CorvixUtils::decryptFileImage(empty).has_value());
    EXPECT_FALSE(CorvixUtils::decryptFileText(folder.file("absent.enc")).has_value());
    EXPECT_FALSE(CorvixUtils::decryptFileImage(folder.file("absent.enc")).has_value());
}

// Resources live in `resources` beside this test's executable. Tests of this file may run at
// the same time in separate processes, so each one uses names of its own.
class CorvixUtilsResource : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = CorvixUtils::resourceDirectory();
        fs::create_directories(folder_);
        prefix_ =
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-";
    }
    void TearDown() override {
        for (const fs::path& path : created_) {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    }

    // Returns the resource name of a new encrypted file at folder/`name` (or outside it).
    std::string addEncrypted(const fs::path& where, const std::string& name,
                             const std::string& plain) {
        const fs::path path = where / (prefix_ + name);
        fs::create_directories(path.parent_path());
        EXPECT_TRUE(writeEncrypted(path, plain));
        created_.push_back(path);
        return prefix_ + name;
    }
    std::string addLink(const std::string& name, const fs::path& target) {
        const fs::path path = folder_ / (prefix_ + name);
        fs::create_symlink(target, path);
        created_.push_back(path);
        return prefix_ + name;
    }

    fs::path folder_;
    std::string prefix_;
    std::vector<fs::path> created_;
};

TEST_F(CorvixUtilsResource, PresentResourcesDecrypt) {
    // With an application object the folder comes from Qt; without, the first-use test checks.
    EXPECT_EQ(folder_, fs::read_symlink("/proc/self/exe").parent_path() / "resources");
    const std::string text = addEncrypted(folder_, "hello.txt.enc", kGreeting);
    EXPECT_EQ(CorvixUtils::decryptResourceText(text), kGreeting);
    EXPECT_EQ(CorvixUtils::decryptResourceText("./" + text), kGreeting);

    const QImage picture = samplePicture();
    const std::string image = addEncrypted(folder_, "dir/logo.png.enc", pngOf(picture));
    expectSamePicture(CorvixUtils::decryptResourceImage(image), picture);
    EXPECT_FALSE(CorvixUtils::decryptResourceText(image).has_value());
    created_.push_back(folder_ / (prefix_ + "dir"));

    const std::string inner = addLink("inner-link.enc", folder_ / text);
    EXPECT_EQ(CorvixUtils::decryptResourceText(inner), kGreeting);
}

TEST_F(CorvixUtilsResource, AbsentResourcesGiveNothing) {
    const std::string present = addEncrypted(folder_, "sub/there.txt.enc", "here");
    created_.push_back(folder_ / (prefix_ + "sub"));
    EXPECT_FALSE(CorvixUtils::decryptResourceText(prefix_ + "missing.txt.enc").has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceImage(prefix_ + "missing.png.enc").has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText("").has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText(prefix_ + "sub").has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText(present + "/").has_value());
    EXPECT_EQ(CorvixUtils::decryptResourceText(present), "here");
}

TEST_F(CorvixUtilsResource, NamesThatLeaveTheFolderGiveNothing) {
    const fs::path beside = folder_.parent_path();
    const std::string outside = addEncrypted(beside, "outside.txt.enc", "secret next door");
    const std::string inside = addEncrypted(folder_, "inside.txt.enc", "inside");
    const std::string link = addLink("out-link.enc", beside / outside);

    EXPECT_FALSE(CorvixUtils::decryptResourceText("../" + outside).has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText((beside / outside).string()).has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText("x/../../" + outside).has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText("../resources/" + inside).has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText(link).has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText(inside + std::string("\0/x", 3)).has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceImage("../" + outside).has_value());
    EXPECT_EQ(CorvixUtils::decryptResourceText(inside), "inside");
}

} // namespace
} // namespace corvix

int main(int argc, char** argv) {
    // An application object makes the resource lookup take its folder from Qt, as in an app.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
