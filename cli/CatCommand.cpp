#include "CatCommand.h"

#include "Basics/TextEscape.h"
#include "Crypto/Console.h"
#include "Format/FileFormat.h"

#include <algorithm>
#include <corvix/EncryptedFileReader.h>
#include <cstdio>

namespace corvix::cli {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;

int failed(const Error& error) {
    std::fputs((escaped("corvix-cli: " + error.message(), EscapeStyle::Terminal) + "\n").c_str(),
               stderr);
    return kFailed;
}

} // namespace

int CatCommand::run(const CatRequest& request, const KeyMaterial& material) {
    EncryptedFileReader reader(request.path, material, std::string(FileFormat::kHeaderText),
                               request.listed);
    if (const Outcome<> opened = reader.open(); !opened) {
        return failed(opened.error());
    }
    std::uint64_t at = std::min(request.offset, reader.size());
    const std::uint64_t end =
        at + std::min(reader.size() - at, request.length.value_or(reader.size()));
    // Pieces end at chunk boundaries, so each read decrypts one chunk and copies it once.
    constexpr std::uint64_t kChunk = FileFormat::kPlainChunkSize;
    Bytes piece(kChunk);
    while (at < end) {
        const auto wanted = static_cast<std::size_t>(std::min(end - at, kChunk - at % kChunk));
        const auto got = reader.read(at, piece.data(), wanted);
        if (!got) {
            return failed(got.error());
        }
        if (!Console::write({reinterpret_cast<const char*>(piece.data()), *got})) {
            return failed(
                Error::system(Console::error(), request.path, "cannot write to standard output"));
        }
        at += *got;
    }
    return kDone;
}

} // namespace corvix::cli
