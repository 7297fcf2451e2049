#pragma once

#include "Crypto/OutputStream.h"

namespace corvix::cli {

/// Takes every byte and keeps none, so a file can be decrypted to the end as a check.
class DiscardingOutputStream final : public OutputStream {
public:
    [[nodiscard]] bool hasSpaceAvailable() const override { return true; }

    std::ptrdiff_t write(const std::uint8_t*, std::size_t n) override {
        return static_cast<std::ptrdiff_t>(n);
    }
};

} // namespace corvix::cli
