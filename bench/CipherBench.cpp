// Cost of the byte-array wrappers over one bare OpenSSL EVP call on a 1 MiB chunk; and sixteen
// chunks of 1 MiB through each chunk backend's engine, as the pipeline runs them, beside the
// multi-buffer library's own CBC decryption of the same chunks.

#include "Cipher/CipherBackends.h"

#include <benchmark/benchmark.h>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <openssl/evp.h>
#include <string>
#include <vector>
#ifdef CORVIX_IPSEC_MB
#include <intel-ipsec-mb.h>
#endif

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
        EVP_CipherUpdate(context, output.data(), &produced, input.data(),
                         static_cast<int>(input.size()));
        EVP_CipherFinal_ex(context, output.data() + produced, &last);
        benchmark::DoNotOptimize(output.data());
    }
    EVP_CIPHER_CTX_free(context);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk));
}

void BM_BareEvpEncrypt(benchmark::State& state) {
    bareEvp(state, 1);
}
void BM_BareEvpDecrypt(benchmark::State& state) {
    bareEvp(state, 0);
}

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
        auto plain = corvix::AESUtils::decryptBytes(
            sealed, static_cast<std::int64_t>(sealed.size()), key, iv);
        benchmark::DoNotOptimize(plain);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk));
}

constexpr std::size_t kChunks = 16;

// Sixteen chunks of 1 MiB, encrypted (ready to decrypt) or plain, with room for the padding.
std::vector<corvix::Bytes> chunks(bool sealed) {
    std::vector<corvix::Bytes> all(kChunks, plainChunk());
    for (corvix::Bytes& chunk : all) {
        if (sealed) {
            chunk = *corvix::AESUtils::encryptBytes(chunk, kChunk, corvix::CorvixKey::aesKey(),
                                                    corvix::CorvixKey::ivBytes());
        }
        chunk.resize(chunk.size() + 16);
    }
    return all;
}

void throughEngine(benchmark::State& state, const corvix::CipherBackend* backend,
                   corvix::ChunkCipher::Direction direction) {
    const corvix::KeyMaterial material = *corvix::CorvixKey::material();
    const bool decrypting = direction == corvix::ChunkCipher::Direction::Decrypt;
    const std::vector<corvix::Bytes> inputs = chunks(decrypting);
    std::vector<corvix::Bytes> buffers = inputs;
    std::vector<corvix::CipherJob> jobs(kChunks);
    const auto engine = backend->makeEngine();
    std::vector<corvix::CipherJob*> finished;
    for (auto _ : state) {
        state.PauseTiming();
        buffers = inputs;
        state.ResumeTiming();
        finished.clear();
        for (std::size_t i = 0; i < kChunks; ++i) {
            jobs[i] = corvix::CipherJob{};
            jobs[i].direction = direction;
            jobs[i].material = &material;
            jobs[i].backend = backend;
            jobs[i].data = buffers[i].data();
            jobs[i].length = inputs[i].size() - 16;
            engine->start(jobs[i], finished);
        }
        while (engine->inProgress() > 0) {
            engine->advance(finished);
        }
        benchmark::DoNotOptimize(finished.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunks * kChunk));
}

#ifdef CORVIX_IPSEC_MB
// The library's CBC decryption, one job per chunk (decryption has no chain between blocks, so
// the library runs it at once, lane or no lane); the padding is left unchecked here.
void BM_LibraryCbcDecrypt(benchmark::State& state) {
    const std::vector<corvix::Bytes> inputs = chunks(true);
    std::vector<corvix::Bytes> outputs = inputs;
    IMB_MGR* manager = alloc_mb_mgr(0);
    init_mb_mgr_auto(manager, nullptr);
    alignas(16) std::uint8_t encryptionKeys[240];
    alignas(16) std::uint8_t decryptionKeys[240];
    const corvix::Bytes key = corvix::CorvixKey::aesKey();
    const corvix::Bytes iv = corvix::CorvixKey::ivBytes();
    IMB_AES_KEYEXP_256(manager, key.data(), encryptionKeys, decryptionKeys);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kChunks; ++i) {
            IMB_JOB* job = IMB_GET_NEXT_JOB(manager);
            job->cipher_mode = IMB_CIPHER_CBC;
            job->cipher_direction = IMB_DIR_DECRYPT;
            job->chain_order = IMB_ORDER_CIPHER_HASH;
            job->hash_alg = IMB_AUTH_NULL;
            job->enc_keys = encryptionKeys;
            job->dec_keys = decryptionKeys;
            job->key_len_in_bytes = key.size();
            job->src = inputs[i].data();
            job->dst = outputs[i].data();
            job->cipher_start_src_offset_in_bytes = 0;
            job->msg_len_to_cipher_in_bytes = inputs[i].size() - 16;
            job->hash_start_src_offset_in_bytes = 0;
            job->msg_len_to_hash_in_bytes = 0;
            job->iv = iv.data();
            job->iv_len_in_bytes = 16;
            for (const IMB_JOB* done = IMB_SUBMIT_JOB(manager); done != nullptr;
                 done = IMB_GET_COMPLETED_JOB(manager)) {
            }
        }
        while (IMB_FLUSH_JOB(manager) != nullptr) {
        }
        benchmark::DoNotOptimize(outputs.data());
    }
    free_mb_mgr(manager);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunks * kChunk));
}
BENCHMARK(BM_LibraryCbcDecrypt);
#endif

} // namespace

BENCHMARK(BM_BareEvpEncrypt);
BENCHMARK(BM_EncryptBytes);
BENCHMARK(BM_BareEvpDecrypt);
BENCHMARK(BM_DecryptBytes);

int main(int argc, char** argv) {
    for (const corvix::CipherBackend* backend : corvix::CipherBackends::all()) {
        for (const auto direction :
             {corvix::ChunkCipher::Direction::Encrypt, corvix::ChunkCipher::Direction::Decrypt}) {
            const std::string name =
                std::string("BM_16Chunks") +
                (direction == corvix::ChunkCipher::Direction::Encrypt ? "Encrypt/" : "Decrypt/") +
                std::string(backend->name);
            benchmark::RegisterBenchmark(name.c_str(), throughEngine, backend, direction);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
