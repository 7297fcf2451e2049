// Encrypts a text file and a picture with the core, then reads them back with the runtime: as a
// file, as a bundled resource and as base64 text. Exits 0 when everything came back.

#include <Crypto/AESUtils.h>
#include <Key/CorvixKey.h>
#include <Key/CorvixUtils.h>
#include <QBuffer>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

namespace fs = std::filesystem;
using corvix::AESUtils;
using corvix::CorvixKey;
using corvix::CorvixUtils;

int failures = 0;

void check(bool ok, const std::string& what) {
    std::cout << (ok ? "ok " : "FAILED ") << what << '\n';
    failures += ok ? 0 : 1;
}

bool seal(const fs::path& plain, const fs::path& sealed, const std::string& content) {
    std::ofstream(plain, std::ios::binary) << content;
    bool done = false;
    AESUtils::encryptFile(plain.string(), sealed.string(), "quorveth", CorvixKey::aesKey(),
                          CorvixKey::ivBytes(), {}, [&] { done = true; });
    return done;
}

} // namespace

int main() {
    // The built-in key material, as the openssl command computes it.
    check(CorvixUtils::encryptText("") == "QXRgLk/2J3esCguqDXxtCg==", "encryptText");
    check(CorvixUtils::decryptText("HSyM7B/IxqbwlCXFpkpkEw==") == "hello", "decryptText");

    const fs::path here = fs::read_symlink("/proc/self/exe").parent_path();
    const std::string text = "{\"name\": \"consumer\"}\n";
    check(seal(here / "config.json", here / "config.json.enc", text) &&
              CorvixUtils::decryptFileText((here / "config.json.enc").string()) == text,
          "decryptFileText");

    QImage picture(3, 2, QImage::Format_ARGB32);
    picture.fill(qRgba(10, 200, 30, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    fs::create_directories(here / "resources");
    const auto image =
        seal(here / "logo.png", here / "resources" / "logo.png.enc", png.toStdString())
            ? CorvixUtils::decryptResourceImage("logo.png.enc")
            : std::nullopt;
    check(image && image->convertToFormat(QImage::Format_ARGB32) == picture,
          "decryptResourceImage");
    check(!CorvixUtils::decryptResourceText("../config.json.enc"),
          "resources stay in their folder");
    return failures == 0 ? 0 : 1;
}
