// Tests that need a process in which the key material has not been used yet. CTest runs each
// test in a process of its own; run by hand, all but the first skip.

#include "EncryptedFiles.h"
#include "Key/CorvixKey.h"
#include "Key/CorvixUtils.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <latch>
#include <thread>
#include <vector>

namespace corvix {
namespace {

namespace fs = std::filesystem;

#define REQUIRE_FRESH_PROCESS()                                                                    \
    if (CorvixUtils::isKeyMaterialLoaded()) {                                                      \
        GTEST_SKIP() << "needs a process that has not used the key material yet";                  \
    }

TEST(CorvixUtilsFirstUse, ConcurrentFirstUseSharesOneKeyAndIv) {
    REQUIRE_FRESH_PROCESS();
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<const Bytes*> keys(kThreads);
    std::vector<const Bytes*> ivs(kThreads);
    std::vector<char> worked(kThreads); // not vector<bool>: its bits share words
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            // Each thread reaches the key material through a different door.
            switch (i % 3) {
            case 0:
                worked[i] = CorvixUtils::encryptText("thread").has_value();
                break;
            case 1:
                worked[i] = CorvixUtils::decryptText("HSyM7B/IxqbwlCXFpkpkEw==") == "hello";
                break;
            default:
                worked[i] = CorvixUtils::key().size() == 32;
                break;
            }
            keys[i] = &CorvixUtils::key();
            ivs[i] = &CorvixUtils::iv();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_TRUE(worked[i]) << i;
        EXPECT_EQ(keys[i], keys[0]) << i;
        EXPECT_EQ(ivs[i], ivs[0]) << i;
    }
    EXPECT_EQ(*keys[0], CorvixKey::aesKey());
    EXPECT_EQ(*ivs[0], CorvixKey::ivBytes());
    EXPECT_EQ(keys[0]->size(), 32U);
    EXPECT_EQ(ivs[0]->size(), 16U);
}

TEST(CorvixUtilsFirstUse, ResourcesNotFoundLeaveTheKeyMaterialAlone) {
    REQUIRE_FRESH_PROCESS();
    const fs::path folder = CorvixUtils::resourceDirectory();
    EXPECT_EQ(folder, fs::read_symlink("/proc/self/exe").parent_path() / "resources");
    fs::create_directories(folder);
    const fs::path outside = folder.parent_path() / "first-use-outside.txt.enc";
    const fs::path inside = folder / "first-use-inside.txt.enc";
    ASSERT_TRUE(test::writeEncrypted(outside, "outside"));
    ASSERT_TRUE(test::writeEncrypted(inside, "inside"));

    EXPECT_FALSE(CorvixUtils::decryptResourceText("first-use-absent.txt.enc").has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText("../first-use-outside.txt.enc").has_value());
    EXPECT_FALSE(CorvixUtils::decryptResourceText(outside.string()).has_value());
    EXPECT_FALSE(CorvixUtils::isKeyMaterialLoaded());

    EXPECT_EQ(CorvixUtils::decryptResourceText("first-use-inside.txt.enc"), "inside");
    EXPECT_TRUE(CorvixUtils::isKeyMaterialLoaded());
    fs::remove(outside);
    fs::remove(inside);
}

} // namespace
} // namespace corvix
