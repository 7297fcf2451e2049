#pragma once

// The table of reads in tests/data/read-ranges.tsv (name, offset, length) and the file it is
// made for: three full chunks and a short one, sealed by the openssl command.

#include "Basics/Encodings.h"
#include "TestKit.h"

#include <algorithm>
#include <corvix/CorvixKey.h>
#include <ios>
#include <sstream>
#include <tuple>

namespace corvix::test {

/// In the stream library's types, which the tests' readers all take.
using ReadRange = std::tuple<std::string, std::streamoff, std::streamsize>;

inline std::vector<ReadRange> readRanges() {
    std::vector<ReadRange> rows;
    std::istringstream in(readFile(fs::path(CORVIX_TEST_DATA_DIR) / "read-ranges.tsv"));
    std::streamoff offset = 0;
    std::streamsize length = 0;
    for (std::string name; in >> name >> offset >> length;) {
        rows.emplace_back(name, offset, length);
    }
    return rows;
}

/// The bytes of `all` from `offset` on, at most `length` of them.
inline Bytes bytesIn(const Bytes& all, std::size_t offset, std::size_t length) {
    offset = std::min(offset, all.size());
    return Bytes(all.begin() + offset,
                 all.begin() + offset + std::min(length, all.size() - offset));
}

/// Pattern bytes written to FOLDER/plain and sealed into FOLDER/file.enc by the openssl command,
/// a writer that shares no code with ours: the header text on one base64 line, 0x0D, then every
/// 1 MiB piece sealed on its own.
inline Bytes sealRangesFile(const fs::path& folder) {
    const Bytes plain = pattern(3 * 1048576 + 1000, 7);
    writeFile(folder / "plain", plain);
    // A failed run leaves file.enc empty or cut short, which the tests then fail to read.
    std::ignore = run(
        {"/bin/sh", "-c",
         "{ printf quorveth | \"$0\" enc -aes-256-cbc -K $1 -iv $2 -a -A && printf '\\r' && split"
         " -d -b 1048576 plain piece. && for p in piece.*; do \"$0\" enc -aes-256-cbc -K $1 -iv"
         " $2 -in $p || exit 1; done; } > file.enc",
         CORVIX_OPENSSL_COMMAND, CorvixKey::aesKeyHex(), hexText(CorvixKey::ivBytes())},
        folder);
    return plain;
}

} // namespace corvix::test
