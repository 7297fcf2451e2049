// key-scan PROGRAM KEY_FILE: looks in PROGRAM for two runs of 48 bytes, anywhere, whose XOR is
// the key file's key and IV, as an attacker who knows one header line would test every such pair.
// Exits 1, naming both offsets, when it finds one; 0 when no pair gives the material.

#include "Key/KeyFile.h"
#include "TestKit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    using namespace corvix;
    const auto material =
        argc == 3 ? KeyFile::read(argv[2]) : Error::of(Errc::notOpen, {}, "usage");
    if (!material) {
        std::fprintf(stderr, "key-scan: %s\n", material.error().message().c_str());
        return 2;
    }
    Bytes secret = material->key();
    secret.insert(secret.end(), material->iv().begin(), material->iv().end());
    const Bytes program = test::readBytes(argv[1]);
    const std::size_t width = secret.size();
    // Every window by its first eight bytes, sorted, so each partner is found by a search.
    const auto prefix = [](const std::uint8_t* at) {
        std::uint64_t value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    std::vector<std::pair<std::uint64_t, std::size_t>> windows;
    for (std::size_t at = 0; at + width <= program.size(); ++at) {
        windows.emplace_back(prefix(&program[at]), at);
    }
    std::sort(windows.begin(), windows.end());
    Bytes partner(width);
    for (std::size_t at = 0; at + width <= program.size(); ++at) {
        for (std::size_t i = 0; i < width; ++i) {
            partner[i] = program[at + i] ^ secret[i];
        }
        auto match = std::lower_bound(windows.begin(), windows.end(),
                                      std::pair{prefix(partner.data()), std::size_t{0}});
        for (; match != windows.end() && match->first == prefix(partner.data()); ++match) {
            if (std::equal(partner.begin(), partner.end(), &program[match->second])) {
                std::printf("the key material is the XOR of the bytes at %zu and %zu\n", at,
                            match->second);
                return 1;
            }
        }
    }
    return 0;
}
