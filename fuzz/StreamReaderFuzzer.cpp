// The buffered file reader: skipPast followed by reads of every size, over files up to 256 KiB
// (the input repeated), so that the scan and the reads cross buffer refills. What comes out
// must be the file's bytes after the first delimiter, in order, then a clean end.

#include "Crypto/FileInputStream.h"
#include "FuzzFile.h"
#include "Key/Encodings.h"

#include <algorithm>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const auto delimiter = provider.ConsumeIntegral<std::uint8_t>();
    const auto copies = provider.ConsumeIntegralInRange<std::size_t>(1, 1024);
    std::vector<std::size_t> readSizes(provider.ConsumeIntegralInRange<std::size_t>(1, 8));
    for (auto& readSize : readSizes) {
        readSize = provider.ConsumeIntegralInRange<std::size_t>(0, 300000);
    }
    const std::vector<std::uint8_t> unit = provider.ConsumeRemainingBytes<std::uint8_t>();
    // Up to 256 KiB: four times the reader's buffer, still quick to write.
    const std::size_t fits =
        std::max<std::size_t>(1, (std::size_t{256} << 10) / std::max<std::size_t>(1, unit.size()));
    std::vector<std::uint8_t> content;
    content.reserve(unit.size() * std::min(copies, fits));
    for (std::size_t i = 0; i < std::min(copies, fits); ++i) {
        content.insert(content.end(), unit.begin(), unit.end());
    }
    FuzzFile& file = FuzzFile::instance();
    if (!file.write(content.data(), content.size())) {
        return 0;
    }

    corvix::FileInputStream stream(file.path());
    if (!stream.open() || stream.size() != content.size()) {
        std::abort();
    }
    const auto found = std::find(content.begin(), content.end(), delimiter);
    const auto skipped = stream.skipPast(delimiter);
    if (found == content.end()) {
        if (skipped || stream.hasBytesAvailable()) {
            std::abort();
        }
        return 0;
    }
    if (skipped != static_cast<std::uint64_t>(found - content.begin())) {
        std::abort();
    }

    std::vector<std::uint8_t> rest;
    std::vector<std::uint8_t> buffer;
    for (std::size_t turn = 0; stream.hasBytesAvailable(); ++turn) {
        // Sizes cycle through the chosen ones; a zero-size read must change nothing.
        const std::size_t want =
            std::max<std::size_t>(readSizes[turn % readSizes.size()], turn % 2);
        buffer.assign(want, 0);
        const std::size_t got = corvix::readFully(stream, buffer.data(), want);
        if (got > want) {
            std::abort();
        }
        rest.insert(rest.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        if (turn > 2 * content.size() + 4) {
            std::abort(); // a reader that never reaches its end
        }
    }
    if (!std::equal(rest.begin(), rest.end(), found + 1, content.end()) ||
        rest.size() != static_cast<std::size_t>(content.end() - found - 1)) {
        std::abort();
    }
    return 0;
}
