#include "Files.h"

#include "Key/Encodings.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

namespace {

void write(const std::filesystem::path& path, const char* data, std::size_t size) {
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

template <typename Container> Container read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Container(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

void writeFile(const std::filesystem::path& path, const Bytes& content) {
    write(path, reinterpret_cast<const char*>(content.data()), content.size());
}

void writeText(const std::filesystem::path& path, std::string_view content) {
    write(path, content.data(), content.size());
}

Bytes readFile(const std::filesystem::path& path) {
    return read<Bytes>(path);
}

std::string readText(const std::filesystem::path& path) {
    return read<std::string>(path);
}

std::optional<Bytes> readIfPresent(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    return readFile(path);
}

std::string fileDigest(const std::filesystem::path& path) {
    const auto content = readIfPresent(path);
    return content ? hexText(sha256(*content)) : "absent";
}

std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> temporaryFiles(const std::filesystem::path& folder) {
    static const std::regex kTemporary(R"(\..+\.[a-z0-9]{6}\.part)");
    std::vector<std::string> names = entriesOf(folder);
    std::erase_if(names,
                  [](const std::string& name) { return !std::regex_match(name, kTemporary); });
    return names;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

Bytes patternBytes(std::size_t count, std::uint32_t seed) {
    Bytes bytes(count);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * (seed + 1);
    for (std::uint8_t& byte : bytes) {
        // xorshift64*: fast, and no two chunks or blocks of the result coincide.
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        byte = static_cast<std::uint8_t>((state * 0x2545F4914F6CDD1DULL) >> 56);
    }
    return bytes;
}

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t count) {
    const std::size_t start = std::min(offset, bytes.size());
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(start);
    return Bytes(first, first + static_cast<std::ptrdiff_t>(std::min(count, bytes.size() - start)));
}

} // namespace legacy
} // namespace corvix::test
