#include "Key/KeyFile.h"

#include "Basics/Encodings.h"
#include "Files/Descriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace corvix {

namespace {

struct LineForm {
    std::string_view name;
    std::size_t digits;
    std::string_view holds;
};

constexpr std::array<LineForm, 2> kLines = {{{"key:", 64, "the key"}, {"iv:", 32, "the IV"}}};

Error failed(std::string reason) {
    return Error::of(Errc::badKeyMaterial, {}, std::move(reason));
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

// Whether line `number` has the form `form`.
Outcome<> checkLine(std::string_view line, std::size_t number, const LineForm& form) {
    // Built by appending: GCC 12 misreads `"literal" + std::string` at -O3 (-Wrestrict).
    std::string where = "line ";
    where.append(std::to_string(number)).append(": ");
    std::string shape = "\"";
    shape.append(form.name)
        .append("\" and ")
        .append(std::to_string(form.digits))
        .append(" hex digits");
    if (!line.starts_with(form.name)) {
        return failed(where + "expected " + shape);
    }
    const std::string_view digits = line.substr(form.name.size());
    const auto notHex = std::find_if(digits.begin(), digits.end(), [](char c) {
        return hexDigitValue(static_cast<unsigned char>(c)) < 0;
    });
    if (notHex != digits.end()) {
        const auto column =
            form.name.size() + 1 + static_cast<std::size_t>(notHex - digits.begin());
        return failed(where + std::string(form.holds) +
                      " has a character that is not a hex digit (column " + std::to_string(column) +
                      ")");
    }
    if (digits.size() != form.digits) {
        return failed(where + std::string(form.holds) + " has " + std::to_string(digits.size()) +
                      " hex digits, not " + std::to_string(form.digits));
    }
    return {};
}

using Clock = std::chrono::steady_clock;

// Up to `most` bytes of `fd`, to its end or until `patience` has passed, whichever comes first.
Outcome<std::string> readUpTo(int fd, std::size_t most, std::chrono::milliseconds patience) {
    const Clock::time_point deadline = Clock::now() + patience;
    std::string text;
    char piece[512];
    while (text.size() < most) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd ready{fd, POLLIN, 0};
        const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (polled == 0) {
            const auto ms = patience.count();
            return Error{systemError(ETIMEDOUT),
                         {},
                         "not written whole and closed within " +
                             (ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds"
                                             : std::to_string(ms) + " ms")};
        }
        const ssize_t count =
            polled < 0 ? -1 : ::read(fd, piece, std::min(sizeof piece, most - text.size()));
        if (count == 0) {
            break;
        }
        if (count > 0) {
            text.append(piece, static_cast<std::size_t>(count));
        } else if (errno != EINTR && errno != EAGAIN) {
            return Error::system(errno, {}, "cannot read");
        }
    }
    return text;
}

} // namespace

Outcome<KeyMaterial> KeyFile::parse(std::string_view text) {
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
        if (Outcome<> checked = checkLine(lines[i], i + 1, kLines[i]); !checked) {
            return checked.error();
        }
        values[i] = bytesFromHex(lines[i].substr(kLines[i].name.size()));
    }
    if (lines.size() > kLines.size()) {
        return failed("line " + std::to_string(kLines.size() + 1) +
                      ": a key file holds two lines, \"key:\" and \"iv:\", and nothing else");
    }
    return KeyMaterial::from(std::move(values[0]), std::move(values[1]));
}

Outcome<KeyMaterial> KeyFile::read(const std::string& path, std::chrono::milliseconds patience) {
    // Not blocking, so that opening a FIFO does not wait for a writer: poll() waits instead.
    Descriptor owned(
        path == "-" ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (path != "-" && !owned.isOpen()) {
        return Error::system(errno, path, "cannot open");
    }
    auto text = readUpTo(path == "-" ? STDIN_FILENO : owned.get(), kLargestFile + 1, patience);
    if (!text) {
        return Error{text.error().code, path, text.error().reason};
    }
    if (text->size() > kLargestFile) {
        return Error::of(Errc::badKeyMaterial, path,
                         "larger than " + std::to_string(kLargestFile) + " bytes: not a key file");
    }
    auto material = parse(*text);
    if (!material) {
        return Error{material.error().code, path, material.error().reason};
    }
    return material;
}

std::string KeyFile::text(const KeyMaterial& material) {
    return std::string(kLines[0].name) + hexText(material.key()) + "\n" +
           std::string(kLines[1].name) + hexText(material.iv()) + "\n";
}

} // namespace corvix
