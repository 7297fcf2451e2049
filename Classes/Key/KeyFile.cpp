#include "KeyFile.h"

#include "../Crypto/FileInputStream.h"
#include "Encodings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace corvix {

namespace {

struct LineForm {
    std::string_view name;
    std::size_t digits;
    std::string_view holds;
};

constexpr std::array<LineForm, 2> kLines = {{{"key:", 64, "the key"}, {"iv:", 32, "the IV"}}};

KeyFile::Parsed failed(std::string error) {
    return {std::nullopt, std::move(error)};
}

std::vector<std::string_view> linesOf(std::string_view text) {
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return lines;
        }
        start = end + 1;
    }
}

// The reason line `number` does not have the form `form`, or an empty text when it has.
std::string lineError(std::string_view line, std::size_t number, const LineForm& form) {
    // Built by appending: GCC 12 misreads `"literal" + std::string` at -O3 (-Wrestrict).
    std::string where = "line ";
    where.append(std::to_string(number)).append(": ");
    std::string shape = "\"";
    shape.append(form.name)
        .append("\" and ")
        .append(std::to_string(form.digits))
        .append(" hex digits");
    if (!line.starts_with(form.name)) {
        return where + "expected " + shape;
    }
    const std::string_view digits = line.substr(form.name.size());
    const auto notHex = std::find_if(digits.begin(), digits.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) == 0;
    });
    if (notHex != digits.end()) {
        const auto column =
            form.name.size() + 1 + static_cast<std::size_t>(notHex - digits.begin());
        return where + std::string(form.holds) +
               " has a character that is not a hex digit (column " + std::to_string(column) + ")";
    }
    if (digits.size() != form.digits) {
        return where + std::string(form.holds) + " has " + std::to_string(digits.size()) +
               " hex digits, not " + std::to_string(form.digits);
    }
    return {};
}

} // namespace

KeyFile::Parsed KeyFile::parse(std::string_view text) {
    if (text.empty()) {
        return failed("the file is empty");
    }
    const std::vector<std::string_view> lines = linesOf(text);
    std::array<Bytes, kLines.size()> values;
    for (std::size_t i = 0; i < kLines.size(); ++i) {
        if (i == lines.size()) {
            return failed("line " + std::to_string(i + 1) + " is missing: expected \"" +
                          std::string(kLines[i].name) + "\"");
        }
        if (std::string error = lineError(lines[i], i + 1, kLines[i]); !error.empty()) {
            return failed(std::move(error));
        }
        values[i] = bytesFromHex(lines[i].substr(kLines[i].name.size()));
    }
    if (lines.size() > kLines.size()) {
        return failed("line " + std::to_string(kLines.size() + 1) +
                      ": a key file holds two lines, \"key:\" and \"iv:\", and nothing else");
    }
    return {KeyMaterial{std::move(values[0]), std::move(values[1])}, {}};
}

KeyFile::Parsed KeyFile::read(const std::string& path) {
    FileInputStream input(path);
    if (!input.open()) {
        return failed(input.error().message());
    }
    std::string text(kLargestFile + 1, '\0');
    text.resize(readFully(input, reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
    if (input.error()) {
        return failed(input.error().message());
    }
    if (text.size() > kLargestFile) {
        return failed("larger than " + std::to_string(kLargestFile) + " bytes: not a key file");
    }
    return parse(text);
}

std::string KeyFile::text(const KeyMaterial& material) {
    return std::string(kLines[0].name) + hexText(material.key) + "\n" +
           std::string(kLines[1].name) + hexText(material.iv) + "\n";
}

} // namespace corvix
