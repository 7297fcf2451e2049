// The readers over arbitrary files: the input, repeated when its last byte is 0xF0 or above (up
// to 256 KiB, four times the stream reader's buffer, so that its scan for 0x0D and its reads
// cross refills; small bodies take its buffered reads, large ones its direct reads). The file
// readers (decryptFileToBytes; decryptFile runs the same reading into a file) must agree with a
// plain reading of the format: skip past the first 0x0D, decrypt each 1048592-byte piece alone.

#include "Format/FileCipher.h"
#include "Fuzz.h"

#include <corvix/CorvixKey.h>

using namespace corvix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const KeyMaterial material = *CorvixKey::material();
    const unsigned last = size == 0 ? 0 : data[size - 1];
    Bytes file(data, data + size);
    for (std::size_t i = 1;
         last >= 0xF0 && i < (1U << (last - 0xEF)) && file.size() + size <= (256U << 10); ++i) {
        file.insert(file.end(), data, data + size);
    }
    const auto found = std::find(file.begin(), file.end(), FileFormat::kHeaderEnd);
    const Bytes body(found == file.end() ? found : found + 1, file.end());
    const auto expected = found == file.end()
                              ? std::nullopt
                              : chunkByChunk(AESUtils::decryptBytes, body, 1048592, material);
    require(AESUtils::decryptFileToBytes(fuzzFile(file, "in"), material) == expected);
    return 0;
}
