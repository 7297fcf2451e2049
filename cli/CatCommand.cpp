#include "CatCommand.h"

#include "Basics/TextEscape.h"
#include "Crypto/Console.h"
#include "Format/FileFormat.h"

#include <algorithm>
#include <charconv>
#include <corvix/EncryptedFileReader.h>
#include <cstdio>

namespace corvix::cli {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;

std::optional<std::uint64_t> byteCount(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The value of one of cat's options into `request`; the reason it makes no sense, or nothing.
std::string readOption(const std::string& name, const std::optional<std::string>& value,
                       CatRequest& request) {
    if (name == "--key-file") {
        if (!value || value->empty()) {
            return "--key-file needs a file";
        }
        request.keyFile = *value;
        return {};
    }
    const auto count = value ? byteCount(*value) : std::nullopt;
    if (!count) {
        return name + " needs a whole number of bytes";
    }
    if (name == "--offset") {
        request.offset = *count;
    } else {
        request.length = *count;
    }
    return {};
}

int failed(const Error& error) {
    const std::string line =
        escaped("corvix-cli: " + error.message(), EscapeStyle::Terminal) + "\n";
    std::fputs(line.c_str(), stderr);
    return kFailed;
}

} // namespace

std::optional<CatRequest> CatCommand::parse(const std::vector<std::string>& args,
                                            std::string& error) {
    CatRequest request;
    std::vector<std::string> paths;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (name != "--offset" && name != "--length" && name != "--key-file") {
            error = "unknown option '" + arg + "' for cat";
            return std::nullopt;
        }
        std::optional<std::string> value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        }
        error = readOption(name, value, request);
        if (!error.empty()) {
            return std::nullopt;
        }
    }
    if (paths.size() != 1) {
        error = "cat needs exactly one file";
        return std::nullopt;
    }
    request.path = paths.front();
    return request;
}

int CatCommand::run(const CatRequest& request, const KeyMaterial& material) {
    EncryptedFileReader reader(request.path, material);
    if (const Outcome<> opened = reader.open(); !opened) {
        return failed(opened.error());
    }
    std::uint64_t at = std::min(request.offset, reader.size());
    std::uint64_t end = reader.size();
    if (request.length && *request.length < end - at) {
        end = at + *request.length;
    }
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
