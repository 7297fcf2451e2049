// Peak memory of CorvixUtils' file operations on a 100 MiB asset, one operation per process (the
// caller takes each process's peak with /usr/bin/time), beside the way they worked before: the
// whole plaintext from AESUtils::decryptFileToBytes first, then the text or the picture made of it.
//
//   utils_bench make DIR              writes DIR/text.enc (100 MiB of UTF-8 text) and
//                                     DIR/image.enc (a PGM picture of 100 MiB)
//   utils_bench text|image FILE.enc   CorvixUtils::decryptFileText or decryptFileImage
//   utils_bench text-whole|image-whole FILE.enc
//                                     decryptFileToBytes, then utf8Text or QImage::fromData
// Each operation prints its seconds.

#include "Basics/Encodings.h"
#include "Format/FileCipher.h"

#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <chrono>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/CorvixUtils.h>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kAssetSize = 100 * 1048576;

bool seal(const std::string& plainPath, const std::string& sealedPath) {
    const bool sealed = corvix::FileCipher::encrypt(plainPath, sealedPath, "quorveth",
                                                    *corvix::CorvixKey::material())
                            .ok();
    std::remove(plainPath.c_str());
    return sealed;
}

bool make(const std::string& folder) {
    std::string text;
    const std::string line = "Grüße, 世界: one line of an asset's text, again and again.\n";
    while (text.size() + line.size() <= kAssetSize) {
        text += line;
    }
    text.append(kAssetSize - text.size(), '.');
    std::ofstream(folder + "/text") << text;
    // A grey PGM picture of 10240 x 10240 pixels, one byte each.
    QImage picture(10240, 10240, QImage::Format_Grayscale8);
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* row = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            row[x] = static_cast<std::uint8_t>((x ^ y) + x / 40);
        }
    }
    return picture.save(QString::fromStdString(folder + "/image"), "PGM") &&
           seal(folder + "/text", folder + "/text.enc") &&
           seal(folder + "/image", folder + "/image.enc");
}

bool run(const std::string& operation, const std::string& path) {
    if (operation == "text") {
        return corvix::CorvixUtils::decryptFileText(path).has_value();
    }
    if (operation == "image") {
        return corvix::CorvixUtils::decryptFileImage(path).has_value();
    }
    const auto plain = corvix::AESUtils::decryptFileToBytes(path, corvix::CorvixUtils::key(),
                                                            corvix::CorvixUtils::iv());
    if (!plain) {
        return false;
    }
    if (operation == "text-whole") {
        return corvix::utf8Text(*plain).has_value();
    }
    return !QImage::fromData(QByteArrayView(plain->data(), static_cast<qsizetype>(plain->size())))
                .isNull();
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "make") {
        return make(args[1]) ? 0 : 1;
    }
    const std::vector<std::string> operations = {"text", "image", "text-whole", "image-whole"};
    if (args.size() != 2 ||
        std::find(operations.begin(), operations.end(), args[0]) == operations.end()) {
        std::fputs("usage: utils_bench make DIR | text|image|text-whole|image-whole FILE.enc\n",
                   stderr);
        return 2;
    }
    // Qt refuses to decode pictures above 128 MiB unless told otherwise, the same way on both
    // paths; an app that ships such assets raises the limit as this does.
    QImageReader::setAllocationLimit(1024);
    const auto start = std::chrono::steady_clock::now();
    if (!run(args[0], args[1])) {
        return 1;
    }
    std::printf("%.3f\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
