#pragma once

// Small file helpers shared by the runtime tests.

#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace corvix::testing {

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Encrypts `plain` into `encrypted` with the file encryptor and the built-in key material.
inline void writeEncrypted(const std::filesystem::path& encrypted, const std::string& plain) {
    const std::filesystem::path source = encrypted.string() + ".plain";
    writeFile(source, plain);
    bool completed = false;
    AESUtils::encryptFile(source.string(), encrypted.string(), "quorveth", CorvixKey::aesKey(),
                          CorvixKey::ivBytes(), {}, [&] { completed = true; });
    std::filesystem::remove(source);
    ASSERT_TRUE(completed) << encrypted;
}

/// A fresh private folder, removed again with the object.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "corvix-rt-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

} // namespace corvix::testing
