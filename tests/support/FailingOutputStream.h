#pragma once

#include "Crypto/OutputStream.h"
#include "Key/Bytes.h"

#include <cstddef>
#include <limits>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

/// The failing device: takes at most `perWrite` bytes a call, and once `capacity` bytes are in,
/// fails every write as a full disk does.
class FailingOutputStream final : public OutputStream {
public:
    explicit FailingOutputStream(std::size_t capacity,
                                 std::size_t perWrite = std::numeric_limits<std::size_t>::max())
        : capacity_(capacity), perWrite_(perWrite) {}

    [[nodiscard]] bool hasSpaceAvailable() const override { return !failed_; }
    std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) override;

    Bytes written;

private:
    std::size_t capacity_;
    std::size_t perWrite_;
    bool failed_ = false;
};

} // namespace legacy
} // namespace corvix::test
