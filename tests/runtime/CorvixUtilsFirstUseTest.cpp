// Needs a process that has not used the key material yet, and no application object: the
// resource folder then comes from the executable's own path.

#include "Format/FileCipher.h"
#include "TestKit.h"

#include <corvix/CorvixKey.h>
#include <corvix/CorvixUtils.h>
#include <gtest/gtest.h>
#include <latch>
#include <thread>

namespace corvix {
namespace {

TEST(CorvixUtilsFirstUse, LookupsThatFindNothingLeaveTheKeyAloneAndFirstUseIsShared) {
    ASSERT_FALSE(CorvixUtils::isKeyMaterialLoaded());
    const test::fs::path folder = CorvixUtils::resourceDirectory();
    EXPECT_EQ(folder, test::fs::read_symlink("/proc/self/exe").parent_path() / "resources");
    EXPECT_FALSE(CorvixUtils::decryptResourceText("first-use-absent.txt.enc"));
    EXPECT_FALSE(CorvixUtils::decryptResourceText("../first-use-outside.txt.enc"));
    EXPECT_FALSE(CorvixUtils::isKeyMaterialLoaded());

    // Every thread reaches the key material through another door, all at once.
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<std::pair<const Bytes*, const Bytes*>> seen(kThreads);
    std::vector<std::jthread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            if (i % 2 == 0) {
                EXPECT_EQ(CorvixUtils::decryptText("HSyM7B/IxqbwlCXFpkpkEw=="), "hello");
            }
            seen[i] = {&CorvixUtils::key(), &CorvixUtils::iv()};
        });
    }
    threads.clear();
    for (const auto& keys : seen) {
        EXPECT_EQ(keys, seen[0]);
    }
    EXPECT_EQ(*seen[0].first, CorvixKey::aesKey());
    EXPECT_EQ(*seen[0].second, CorvixKey::ivBytes());
}

} // namespace
} // namespace corvix
