// The multi-buffer backend: Intel's multi-buffer crypto library encrypts the chunks of a batch
// side by side. Each chunk is a CBC stream of its own, where every block waits for the one
// before; the library interleaves sixteen streams in the lanes of one core's AES unit, so a
// batch costs about what one chunk costs alone. This program's own part is the PKCS#7 padding
// block and the chaining of the pieces the library's length limit asks for.

#include "Cipher/CipherBackends.h"

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

// Chunks enter free lanes as others finish, so the lanes stay full while chunks keep coming.
class MultiBufferEngine final : public CipherEngine {
public:
    MultiBufferEngine() : manager_(alloc_mb_mgr(0)) {
        if (manager_) {
            init_mb_mgr_auto(manager_.get(), nullptr);
        }
        for (Lane& lane : lanes_) {
            freeLanes_.push_back(&lane);
        }
    }

    void start(CipherJob& job, std::vector<CipherJob*>& finished) override {
        // CBC decryption has no chain to wait for, and OpenSSL runs it at full speed. OpenSSL
        // also stands in when the library could not set up.
        if (job.direction == ChunkCipher::Direction::Decrypt || !manager_) {
            finishAlone(job, finished);
            return;
        }
        // A small chunk alone would run the lanes with one of sixteen in use, slower than
        // OpenSSL's one stream (a small file is one such chunk), so it waits for company: the
        // next chunk takes it into the lanes, an advance() with none runs it alone.
        if (waiting_ != nullptr) {
            enter(*std::exchange(waiting_, nullptr), finished);
        } else if (inProgress() == 0 && job.length < kLargestPiece) {
            waiting_ = &job;
            return;
        }
        enter(job, finished);
    }

    // Each lane in progress has exactly one piece in the library, so a flush always gives one
    // back while a lane is in progress.
    void advance(std::vector<CipherJob*>& finished) override {
        if (waiting_ != nullptr) {
            finishAlone(*std::exchange(waiting_, nullptr), finished);
            return;
        }
        if (inProgress() == 0) {
            return;
        }
        if (const IMB_JOB* piece = IMB_FLUSH_JOB(manager_.get())) {
            collect(*piece, finished);
        }
        submitContinuations(finished);
    }

    [[nodiscard]] std::size_t inProgress() const override {
        return lanes_.size() - freeLanes_.size() + (waiting_ != nullptr ? 1 : 0);
    }

private:
    // One chunk's encryption in progress.
    struct Lane {
        CipherJob* job = nullptr;
        std::size_t paddedLength = 0;
        std::size_t offset = 0;
        alignas(16) std::array<std::uint8_t, kExpandedKeySize> encryptionKeys{};
        alignas(16) std::array<std::uint8_t, kExpandedKeySize> decryptionKeys{};
    };

    static void finishAlone(CipherJob& job, std::vector<CipherJob*>& finished) {
        job.produced = runAlone(job);
        finished.push_back(&job);
    }

    void enter(CipherJob& job, std::vector<CipherJob*>& finished) {
        if (freeLanes_.empty()) {
            finishAlone(job, finished);
            return;
        }
        Lane& lane = *freeLanes_.back();
        freeLanes_.pop_back();
        lane = Lane{&job};
        if (!expandKey(lane)) {
            finish(lane, finished, true);
            return;
        }
        // PKCS#7: 1 to 16 bytes, each holding the count, up to the next whole block.
        const std::size_t padding = kBlock - job.length % kBlock;
        std::memset(job.data + job.length, static_cast<int>(padding), padding);
        lane.paddedLength = job.length + padding;
        submitPiece(lane, finished);
        submitContinuations(finished);
    }

    bool expandKey(Lane& lane) {
        const KeyMaterial& material = *lane.job->material;
        auto* encryption = lane.encryptionKeys.data();
        auto* decryption = lane.decryptionKeys.data();
        switch (material.key().size()) {
        case IMB_KEY_128_BYTES:
            IMB_AES_KEYEXP_128(manager_.get(), material.key().data(), encryption, decryption);
            return true;
        case IMB_KEY_192_BYTES:
            IMB_AES_KEYEXP_192(manager_.get(), material.key().data(), encryption, decryption);
            return true;
        case IMB_KEY_256_BYTES:
            IMB_AES_KEYEXP_256(manager_.get(), material.key().data(), encryption, decryption);
            return true;
        default:
            return false;
        }
    }

    void submitPiece(Lane& lane, std::vector<CipherJob*>& finished) {
        IMB_JOB* job = IMB_GET_NEXT_JOB(manager_.get());
        std::uint8_t* piece = lane.job->data + lane.offset;
        const std::size_t length = std::min(kLargestPiece, lane.paddedLength - lane.offset);
        job->cipher_mode = IMB_CIPHER_CBC;
        job->cipher_direction = IMB_DIR_ENCRYPT;
        job->chain_order = IMB_ORDER_CIPHER_HASH;
        job->hash_alg = IMB_AUTH_NULL;
        job->enc_keys = lane.encryptionKeys.data();
        job->dec_keys = lane.decryptionKeys.data();
        job->key_len_in_bytes = lane.job->material->key().size();
        job->src = piece;
        job->dst = piece;
        job->cipher_start_src_offset_in_bytes = 0;
        job->msg_len_to_cipher_in_bytes = length;
        job->hash_start_src_offset_in_bytes = 0;
        job->msg_len_to_hash_in_bytes = 0;
        job->iv = lane.offset == 0 ? lane.job->material->iv().data() : piece - kBlock;
        job->iv_len_in_bytes = kBlock;
        job->user_data = &lane;
        lane.offset += length;
        for (const IMB_JOB* done = IMB_SUBMIT_JOB(manager_.get()); done != nullptr;
             done = IMB_GET_COMPLETED_JOB(manager_.get())) {
            collect(*done, finished);
        }
    }

    // A returned piece stops being valid at the next IMB_GET_NEXT_JOB, so the lane it frees is
    // only noted here and its next piece submitted afterwards.
    void collect(const IMB_JOB& piece, std::vector<CipherJob*>& finished) {
        Lane& lane = *static_cast<Lane*>(piece.user_data);
        const bool failed = piece.status != IMB_STATUS_COMPLETED;
        if (failed || lane.offset >= lane.paddedLength) {
            finish(lane, finished, failed);
        } else {
            continuing_.push_back(&lane);
        }
    }

    // While the lanes are full, each piece submitted runs the lanes until another is done; this
    // goes on until a chunk is finished and leaves a lane empty.
    void submitContinuations(std::vector<CipherJob*>& finished) {
        while (!continuing_.empty()) {
            Lane& lane = *continuing_.back();
            continuing_.pop_back();
            submitPiece(lane, finished);
        }
    }

    void finish(Lane& lane, std::vector<CipherJob*>& finished, bool failed) {
        lane.job->produced = failed ? std::nullopt : std::optional<std::size_t>(lane.paddedLength);
        finished.push_back(lane.job);
        freeLanes_.push_back(&lane);
    }

    std::unique_ptr<IMB_MGR, ManagerDeleter> manager_;
    std::array<Lane, kLanes> lanes_;
    std::vector<Lane*> freeLanes_;
    std::vector<Lane*> continuing_;
    CipherJob* waiting_ = nullptr; // a small chunk that came to an empty engine
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
