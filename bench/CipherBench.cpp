// Cost of the byte-array wrappers over one bare OpenSSL EVP call on a 1 MiB chunk.

#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

namespace {

constexpr std::size_t kChunk = 1048576;

const corvix::Bytes& plainChunk() {
    static const corvix::Bytes chunk = [] {
        corvix::Bytes bytes(kChunk);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
        }
        return bytes;
    }();
    return chunk;
}

// One EVP init/update/final over the chunk into a preallocated buffer: the floor any wrapper
// is measured against.
void bareEvp(benchmark::State& state, int encrypting) {
    const corvix::Bytes key = corvix::CorvixKey::aesKey();
    const corvix::Bytes iv = corvix::CorvixKey::ivBytes();
    corvix::Bytes input = plainChunk();
    if (encrypting == 0) {
        input = *corvix::AESUtils::encryptBytes(plainChunk(), kChunk, key, iv);
    }
    corvix::Bytes output(input.size() + 16);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int produced = 0;
        int last = 0;
        EVP_CipherInit_ex(context, EVP_aes_256_cbc(), nullptr, key.data(), iv.data(), encrypting);
        EVP_CipherUpdate(context, output.data(), &produced, input.data(), static_cast<int>(input.size()));
        EVP_CipherFinal_ex(context, output.data() + produced, &last);
        benchmark::DoNotOptimize(output.data());
    }
    EVP_CIPHER_CTX_free(context);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk));
}

void BM_BareEvpEncrypt(benchmark::State& state) { bareEvp(state, 1); }
void BM_BareEvpDecrypt(benchmark::State& state) { bareEvp(state, 0); }

void BM_EncryptBytes(benchmark::State& state) {
    const corvix::Bytes key = corvix::CorvixKey::aesKey();
    const corvix::Bytes iv = corvix::CorvixKey::ivBytes();
    for (auto _ : state) {
        auto sealed = corvix::AESUtils::encryptBytes(plainChunk(), kChunk, key, iv);
        benchmark::DoNotOptimize(sealed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk));
}

void BM_DecryptBytes(benchmark::State& state) {
    const corvix::Bytes key = corvix::CorvixKey::aesKey();
    const corvix::Bytes iv = corvix::CorvixKey::ivBytes();
    const corvix::Bytes sealed = *corvix::AESUtils::encryptBytes(plainChunk(), kChunk, key, iv);
    for (auto _ : state) {
        auto plain = corvix::AESUtils::decryptBytes(sealed, static_cast<std::int64_t>(sealed.size()), key, iv);
        benchmark::DoNotOptimize(plain);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk));
}

} // namespace

BENCHMARK(BM_BareEvpEncrypt);
BENCHMARK(BM_EncryptBytes);
BENCHMARK(BM_BareEvpDecrypt);
BENCHMARK(BM_DecryptBytes);
BENCHMARK_MAIN();
