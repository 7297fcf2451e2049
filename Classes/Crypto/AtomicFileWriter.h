#pragma once

#include "OutputStream.h"

#include <string>
#include <system_error>

namespace corvix {

/// Writes a file so that it appears whole or not at all. The bytes go to a hidden temporary
/// file beside the destination (".NAME.XXXXXX.part", with a very long NAME shortened to fit the
/// file system's limit); commit() renames it over the destination,
/// and every other ending (failure, cancellation, destruction) removes it. A run that is killed
/// leaves at most that hidden file, never a torn destination, and an earlier file at the
/// destination survives every failed run.
class AtomicFileWriter final : public OutputStream {
public:
    explicit AtomicFileWriter(std::string destination);
    ~AtomicFileWriter() override;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    /// Creates the temporary file; false (with error()) when the folder does not take it.
    [[nodiscard]] bool create();

    [[nodiscard]] bool hasSpaceAvailable() const override;
    std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) override;

    /// Closes the temporary file and renames it over the destination; when that replaces a file,
    /// the new bytes are flushed to disk first.
    [[nodiscard]] bool commit();

    /// Closes and removes the temporary file; the destination is left as it was.
    void discard();

    [[nodiscard]] std::error_code error() const { return error_; }
    [[nodiscard]] const std::string& temporaryPath() const { return temporary_; }

private:
    void fail(int errorNumber);
    /// A replaced file keeps its permission bits; a new one gets the usual 0666 less umask.
    void keepPermissionsOfDestination();

    std::string destination_;
    std::string temporary_;
    int fd_ = -1;
    bool replacing_ = false;
    std::error_code error_;
};

} // namespace corvix
