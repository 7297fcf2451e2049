#include "EncryptedFiles.h"

#include "Crypto/AESUtils.h"
#include "Files.h"
#include "Key/CorvixKey.h"

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

std::uint64_t encryptedSize(std::uint64_t sourceSize) {
    const std::uint64_t rest = sourceSize % kMiB;
    return 25 + sourceSize / kMiB * kCipherChunk + (rest > 0 ? 16 * (rest / 16 + 1) : 0);
}

bool encryptWithBuiltInKey(const std::filesystem::path& source,
                           const std::filesystem::path& target) {
    bool completed = false;
    AESUtils::encryptFile(source.string(), target.string(), "quorveth", CorvixKey::aesKey(),
                          CorvixKey::ivBytes(), {}, [&] { completed = true; });
    return completed;
}

bool writeEncrypted(const std::filesystem::path& target, std::string_view plain) {
    const std::filesystem::path source = target.string() + ".plain";
    writeText(source, plain);
    const bool completed = encryptWithBuiltInKey(source, target);
    std::filesystem::remove(source);
    return completed;
}

} // namespace legacy
} // namespace corvix::test
