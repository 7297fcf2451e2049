#pragma once

#include <algorithm>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

// What the fuzz targets share.

// A check that failed ends the run, for libFuzzer to keep the input.
inline void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// Bytes as a file of this fuzzing process in /dev/shm, rewritten with each input: in memory, so
// that rewriting it never waits for a disk. run-fuzzers.sh removes the files.
inline std::string fuzzFile(const corvix::Bytes& b, const std::string& name) {
    const std::string path = "/dev/shm/corvix-fuzz-" + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::ssize(b));
    return path;
}

// Each `chunk` bytes of `input` through AESUtils::encryptBytes or decryptBytes on its own, the
// results one after another; nothing when one fails.
template <typename Operation>
std::optional<corvix::Bytes> chunkByChunk(Operation op, const corvix::Bytes& input,
                                          std::size_t chunk, const corvix::KeyMaterial& m) {
    corvix::Bytes output;
    for (std::size_t at = 0; at < input.size(); at += chunk) {
        const corvix::Bytes rest(input.begin() + at, input.end());
        const auto done =
            op(rest, std::min<std::ptrdiff_t>(chunk, std::ssize(rest)), m.key(), m.iv());
        if (!done) {
            return std::nullopt;
        }
        output.insert(output.end(), done->begin(), done->end());
    }
    return output;
}
