// Reading in place against decrypting whole, one measure per process so that the peak resident
// memory of a process (taken by /usr/bin/time) belongs to that measure alone:
//
//   reader_bench random FILE.enc COUNT   open and read 4 KiB at a random offset, COUNT times;
//                                        prints the median and the slowest open + read in ms
//   reader_bench to-bytes FILE.enc       AESUtils::decryptFileToBytes; prints its seconds
//   reader_bench sequential FILE.enc     the whole plaintext through the reader, 1 MiB at a time
//   reader_bench decrypt FILE.enc        FileCipher's whole-file decryption into nothing (what
//                                        decryptFile does, less the file); both print MB/s

#include "Files/Streams.h"
#include "Format/FileCipher.h"

#include <algorithm>
#include <chrono>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/EncryptedFileReader.h>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int randomReads(const std::string& path, int count) {
    std::mt19937_64 generator(20261207);
    std::vector<double> times;
    std::uint64_t size = 0;
    std::uint8_t piece[4096];
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        corvix::EncryptedFileReader reader(path, *corvix::CorvixKey::material());
        if (!reader.open().ok()) {
            return 1;
        }
        size = reader.size();
        const std::uint64_t offset = generator() % (size - sizeof piece);
        if (const auto got = reader.read(offset, piece, sizeof piece);
            !got || *got != sizeof piece) {
            return 1;
        }
        times.push_back(secondsSince(start) * 1000);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.3f %.3f\n", times[times.size() / 2], times.back());
    return 0;
}

int sequential(const std::string& path) {
    const auto start = Clock::now();
    corvix::EncryptedFileReader reader(path, *corvix::CorvixKey::material());
    if (!reader.open().ok()) {
        return 1;
    }
    std::vector<std::uint8_t> piece(corvix::FileFormat::kPlainChunkSize);
    for (std::uint64_t at = 0; at < reader.size();) {
        const auto got = reader.read(at, piece.data(), piece.size());
        if (!got) {
            return 1;
        }
        at += *got;
    }
    std::printf("%.0f\n", static_cast<double>(reader.size()) / 1e6 / secondsSince(start));
    return 0;
}

int decrypt(const std::string& path) {
    const auto start = Clock::now();
    corvix::FileInputStream input(path);
    corvix::DiscardingOutputStream nowhere;
    if (!input.open() || !corvix::FileCipher::decryptInto(
                             input, nowhere, *corvix::CorvixKey::material(), std::nullopt)) {
        return 1;
    }
    const double seconds = secondsSince(start);
    corvix::EncryptedFileReader reader(path, *corvix::CorvixKey::material());
    if (!reader.open().ok()) {
        return 1;
    }
    std::printf("%.0f\n", static_cast<double>(reader.size()) / 1e6 / seconds);
    return 0;
}

int toBytes(const std::string& path) {
    const auto start = Clock::now();
    const corvix::KeyMaterial material = *corvix::CorvixKey::material();
    if (!corvix::AESUtils::decryptFileToBytes(path, material.key(), material.iv())) {
        return 1;
    }
    std::printf("%.3f\n", secondsSince(start));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "random") {
        return randomReads(args[1], std::max(1, std::atoi(args[2].c_str())));
    }
    if (args.size() == 2 && args[0] == "sequential") {
        return sequential(args[1]);
    }
    if (args.size() == 2 && args[0] == "decrypt") {
        return decrypt(args[1]);
    }
    if (args.size() == 2 && args[0] == "to-bytes") {
        return toBytes(args[1]);
    }
    std::fputs("usage: reader_bench random|to-bytes|sequential|decrypt FILE.enc [COUNT]\n", stderr);
    return 2;
}
