#include "HeaderCheck.h"

#include "../Key/Encodings.h"
#include "AESUtils.h"
#include "FileCipher.h"
#include "FileInputStream.h"

#include <algorithm>
#include <cstdint>

namespace corvix {

namespace {

// Far longer than the header line of any sensible header text, so only the start of a file
// has to be held; a longer line cannot be the expected one.
constexpr std::size_t kLongestHeaderLine = 4096;

RunOutcome unreadable(const FileInputStream& input) {
    return RunOutcome::failed("cannot read " + input.path() + ": " + input.error().message());
}

RunOutcome noTerminator() {
    return RunOutcome::failed("no header terminator (0x0D): not an encrypted file");
}

RunOutcome otherHeader(std::string_view header) {
    return RunOutcome::failed("header does not decrypt to the header text \"" +
                              std::string(header) + "\" (other key or not an encrypted file)");
}

} // namespace

RunOutcome HeaderCheck::check(const std::string& path, std::string_view header,
                              const KeyMaterial& material) {
    FileInputStream input(path);
    if (!input.open()) {
        return RunOutcome::failed("cannot open " + path + ": " + input.error().message());
    }
    return check(input, header, material);
}

RunOutcome HeaderCheck::check(FileInputStream& input, std::string_view header,
                              const KeyMaterial& material) {
    Bytes start(kLongestHeaderLine);
    start.resize(readFully(input, start.data(), start.size()));
    if (input.error()) {
        return unreadable(input);
    }
    const auto terminator = std::find(start.begin(), start.end(), FileCipher::kHeaderEnd);
    if (terminator == start.end()) {
        // The line is too long to match; still tell a foreign header from no header at all.
        if (start.size() < kLongestHeaderLine || !input.skipPast(FileCipher::kHeaderEnd)) {
            return input.error() ? unreadable(input) : noTerminator();
        }
        return otherHeader(header);
    }
    const std::string line(start.begin(), terminator);
    const auto text = AESUtils::decryptString(line, material.key, material.iv);
    if (!text || *text != header) {
        return otherHeader(header);
    }
    if (!input.rewind()) {
        return unreadable(input);
    }
    return RunOutcome::completed();
}

} // namespace corvix
