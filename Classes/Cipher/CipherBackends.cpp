#include "Cipher/CipherBackends.h"

#include <atomic>

namespace corvix {

std::optional<std::size_t> runAlone(const CipherJob& job) {
    ChunkCipher cipher(job.direction, *job.material);
    const auto produced = cipher.run(job.data, job.length, job.data);
    return produced ? std::optional<std::size_t>(*produced) : std::nullopt;
}

namespace {

// OpenSSL runs one chunk at a time: CBC encryption is one block after another, so a second
// chunk gains nothing from sharing a core.
class OpenSslEngine final : public CipherEngine {
public:
    void start(CipherJob& job, std::vector<CipherJob*>& finished) override {
        job.produced = runAlone(job);
        finished.push_back(&job);
    }
    void advance(std::vector<CipherJob*>& /*finished*/) override {}
    [[nodiscard]] std::size_t inProgress() const override { return 0; }
};

std::unique_ptr<CipherEngine> makeOpenSslEngine() {
    return std::make_unique<OpenSslEngine>();
}

constexpr CipherBackend kOpenSsl{"openssl", 1, &makeOpenSslEngine};

std::vector<const CipherBackend*>& registered() {
    static std::vector<const CipherBackend*> backends{&kOpenSsl};
    return backends;
}

std::atomic<const CipherBackend*> chosenBackend{nullptr};

} // namespace

std::vector<const CipherBackend*> CipherBackends::all() {
    return registered();
}

const CipherBackend& CipherBackends::chosen() {
    const CipherBackend* backend = chosenBackend.load();
    return backend != nullptr ? *backend : *registered().front();
}

void CipherBackends::choose(const CipherBackend& backend) {
    chosenBackend.store(&backend);
}

bool CipherBackends::add(const CipherBackend& backend) {
    registered().insert(registered().begin(), &backend);
    return true;
}

} // namespace corvix
