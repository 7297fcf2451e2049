// Encryption and back, for every key size and every backend the build has: the pipeline, with a
// chunk size of the input's choosing (whole blocks, up to 200000 bytes, so that the multi-buffer
// backend chains pieces), gives each chunk encrypted on its own by the one-shot operation, one
// after another, and decrypts them back, as the one-shot operations do.

#include "Files/FileInputStream.h"
#include "Files/Streams.h"
#include "Format/ChunkPipeline.h"
#include "Fuzz.h"

#include <corvix/AESUtils.h>
#include <fuzzer/FuzzedDataProvider.h>

using namespace corvix;
using enum ChunkCipher::Direction;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::size_t keySize = provider.PickValueInArray({16, 24, 32});
    const auto material = KeyMaterial::from(provider.ConsumeBytes<std::uint8_t>(keySize),
                                            provider.ConsumeBytes<std::uint8_t>(16));
    const auto chunk = 16 * provider.ConsumeIntegralInRange<std::size_t>(1, 12500);
    const auto copies = provider.ConsumeIntegralInRange<std::size_t>(1, 64);
    const Bytes unit = provider.ConsumeRemainingBytes<std::uint8_t>();
    Bytes plain;
    for (std::size_t i = 0; i < copies; ++i) {
        plain.insert(plain.end(), unit.begin(), unit.end());
    }
    if (!material) {
        return 0; // too little input for the key material
    }
    const Bytes sealed = chunkByChunk(AESUtils::encryptBytes, plain, chunk, *material).value();
    for (const CipherBackend* backend : CipherBackends::all()) {
        for (const bool encrypting : {true, false}) {
            const Bytes& input = encrypting ? plain : sealed;
            FileInputStream stream(fuzzFile(input, "in"));
            Bytes output;
            ByteArrayOutputStream sink(output);
            const ChunkPipeline pipeline(encrypting ? Encrypt : Decrypt, *material, chunk,
                                         *backend);
            require(stream.open() && pipeline.run(stream, input.size(), sink, {}).ok() &&
                    output == (encrypting ? sealed : plain));
        }
    }
    return 0;
}
