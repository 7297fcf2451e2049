#pragma once

#include "../Key/Bytes.h"
#include "OutputStream.h"

namespace corvix {

/// An output stream that appends to a byte array in memory.
class ByteArrayOutputStream final : public OutputStream {
public:
    explicit ByteArrayOutputStream(Bytes& target) : target_(target) {}

    [[nodiscard]] bool hasSpaceAvailable() const override { return true; }

    std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) override {
        target_.insert(target_.end(), buffer, buffer + n);
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    Bytes& target_;
};

} // namespace corvix
