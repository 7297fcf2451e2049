#include "TestFiles.h"

#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

namespace corvix::reliability {

std::optional<Bytes> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string fileDigest(const std::filesystem::path& path) {
    const auto content = readFile(path);
    return content ? hexText(sha256(*content)) : "absent";
}

Bytes patternBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

void encryptWithBuiltInKey(const std::filesystem::path& source,
                           const std::filesystem::path& target) {
    bool completed = false;
    AESUtils::encryptFile(source.string(), target.string(), "quorveth", CorvixKey::aesKey(),
                          CorvixKey::ivBytes(), {}, [&] { completed = true; });
    ASSERT_TRUE(completed) << "cannot encrypt " << source;
}

} // namespace corvix::reliability
