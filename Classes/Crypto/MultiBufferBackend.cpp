// The multi-buffer backend: Intel's multi-buffer crypto library encrypts the chunks of a batch
// side by side. Each chunk is a CBC stream of its own, where every block waits for the one
// before; the library interleaves sixteen streams in the lanes of one core's AES unit, so a
// batch costs about what one chunk costs alone. This program's own part is the PKCS#7 padding
// block and the chaining of the pieces the library's length limit asks for.

#include "CipherBackends.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <intel-ipsec-mb.h>
#include <memory>
#include <vector>

namespace corvix {

namespace {

constexpr std::size_t kLanes = 16;
constexpr std::size_t kBlock = ChunkCipher::kBlockSize;
// The library refuses a CBC job of 64 KiB or more. A chunk goes through in pieces of whole
// blocks below that, each piece starting from the last ciphertext block of the one before.
constexpr std::size_t kLargestPiece = 65536 - kBlock;
// The round keys of AES-256, the largest key.
constexpr std::size_t kExpandedKeySize = 15 * kBlock;

struct ManagerDeleter {
    void operator()(IMB_MGR* manager) const { free_mb_mgr(manager); }
};

class MultiBufferEngine final : public CipherEngine {
public:
    MultiBufferEngine() : manager_(alloc_mb_mgr(0)) {
        if (manager_) {
            init_mb_mgr_auto(manager_.get(), nullptr);
        }
    }

    void run(std::span<CipherJob* const> jobs) override {
        for (std::size_t first = 0; first < jobs.size(); first += kLanes) {
            runSideBySide(jobs.subspan(first, std::min(kLanes, jobs.size() - first)));
        }
    }

private:
    // One chunk's encryption in progress.
    struct Lane {
        CipherJob* job = nullptr;
        std::size_t paddedLength = 0;
        std::size_t offset = 0;
        bool failed = false;
        alignas(16) std::array<std::uint8_t, kExpandedKeySize> encryptionKeys{};
        alignas(16) std::array<std::uint8_t, kExpandedKeySize> decryptionKeys{};
    };

    void runSideBySide(std::span<CipherJob* const> jobs) {
        ready_.clear();
        std::size_t used = 0;
        for (CipherJob* job : jobs) {
            if (job->direction == ChunkCipher::Direction::Decrypt || !manager_) {
                // CBC decryption has no chain to wait for, and OpenSSL runs it at full speed;
                // OpenSSL also stands in when the library could not set up.
                ChunkCipher cipher(job->direction, job->material->key, job->material->iv);
                job->produced = cipher.run(job->data, job->length, job->data);
                continue;
            }
            Lane& lane = lanes_[used++];
            lane = Lane{job};
            if (expandKey(lane)) {
                // PKCS#7: 1 to 16 bytes, each holding the count, up to the next whole block.
                const std::size_t padding = kBlock - job->length % kBlock;
                std::memset(job->data + job->length, static_cast<int>(padding), padding);
                lane.paddedLength = job->length + padding;
                ready_.push_back(&lane);
            } else {
                lane.failed = true;
            }
        }
        for (;;) {
            while (!ready_.empty()) {
                Lane* lane = ready_.back();
                ready_.pop_back();
                submitPiece(*lane);
            }
            IMB_JOB* finished = IMB_FLUSH_JOB(manager_.get());
            if (finished == nullptr) {
                break;
            }
            collect(*finished);
        }
        for (std::size_t i = 0; i < used; ++i) {
            Lane& lane = lanes_[i];
            lane.job->produced =
                lane.failed ? std::nullopt : std::optional<std::size_t>(lane.paddedLength);
        }
    }

    bool expandKey(Lane& lane) {
        const KeyMaterial& material = *lane.job->material;
        if (material.iv.size() < kBlock) {
            return false;
        }
        auto* encryption = lane.encryptionKeys.data();
        auto* decryption = lane.decryptionKeys.data();
        switch (material.key.size()) {
        case IMB_KEY_128_BYTES:
            IMB_AES_KEYEXP_128(manager_.get(), material.key.data(), encryption, decryption);
            return true;
        case IMB_KEY_192_BYTES:
            IMB_AES_KEYEXP_192(manager_.get(), material.key.data(), encryption, decryption);
            return true;
        case IMB_KEY_256_BYTES:
            IMB_AES_KEYEXP_256(manager_.get(), material.key.data(), encryption, decryption);
            return true;
        default:
            return false;
        }
    }

    void submitPiece(Lane& lane) {
        IMB_JOB* job = IMB_GET_NEXT_JOB(manager_.get());
        std::uint8_t* piece = lane.job->data + lane.offset;
        const std::size_t length = std::min(kLargestPiece, lane.paddedLength - lane.offset);
        job->cipher_mode = IMB_CIPHER_CBC;
        job->cipher_direction = IMB_DIR_ENCRYPT;
        job->chain_order = IMB_ORDER_CIPHER_HASH;
        job->hash_alg = IMB_AUTH_NULL;
        job->enc_keys = lane.encryptionKeys.data();
        job->dec_keys = lane.decryptionKeys.data();
        job->key_len_in_bytes = lane.job->material->key.size();
        job->src = piece;
        job->dst = piece;
        job->cipher_start_src_offset_in_bytes = 0;
        job->msg_len_to_cipher_in_bytes = length;
        job->hash_start_src_offset_in_bytes = 0;
        job->msg_len_to_hash_in_bytes = 0;
        job->iv = lane.offset == 0 ? lane.job->material->iv.data() : piece - kBlock;
        job->iv_len_in_bytes = kBlock;
        job->user_data = &lane;
        lane.offset += length;
        // A returned job stops being valid at the next IMB_GET_NEXT_JOB, so the lanes it frees
        // are only noted here and submitted afterwards.
        for (IMB_JOB* finished = IMB_SUBMIT_JOB(manager_.get()); finished != nullptr;
             finished = IMB_GET_COMPLETED_JOB(manager_.get())) {
            collect(*finished);
        }
    }

    void collect(const IMB_JOB& finished) {
        Lane& lane = *static_cast<Lane*>(finished.user_data);
        if (finished.status != IMB_STATUS_COMPLETED) {
            lane.failed = true;
        } else if (lane.offset < lane.paddedLength) {
            ready_.push_back(&lane);
        }
    }

    std::unique_ptr<IMB_MGR, ManagerDeleter> manager_;
    std::array<Lane, kLanes> lanes_;
    std::vector<Lane*> ready_;
};

std::unique_ptr<CipherEngine> makeEngine() {
    return std::make_unique<MultiBufferEngine>();
}

constexpr CipherBackend kMultiBuffer{"ipsec_mb", kLanes, &makeEngine};

// Linked in whole (see Classes/CMakeLists.txt), so this runs before main in every program that
// links the backend, and makes it the default.
[[maybe_unused]] const bool kAdded = CipherBackends::add(kMultiBuffer);

} // namespace

} // namespace corvix
