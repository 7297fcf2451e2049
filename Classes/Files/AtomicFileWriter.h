#pragma once

#include "Files/Descriptor.h"
#include "Files/OpenFolder.h"
#include "Files/Streams.h"

#include <array>
#include <corvix/Outcome.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvix {

/// Writes a file so that it appears whole or not at all; nobody else can read it until then.
///
/// A new file is written as an unnamed file in the destination's folder and linked in under its
/// name by commit(), so a run that is killed leaves nothing at all; nobody can open it before,
/// so it has its final mode from the start. A file that replaces another (or any file, where the
/// file system has no unnamed files) is written, with mode 0600 until it is complete, to a
/// hidden temporary file beside the destination (".NAME.XXXXXX.part", a very long NAME
/// shortened to fit the file system's limit) that commit() renames over it; a killed run may
/// leave that file, which walks know by its name. Every other ending (failure, cancellation,
/// destruction) removes what was written, and an earlier file at the destination survives every
/// failed run.
///
/// The folder is held open from the start, so the file lands in that folder even when it is
/// renamed, or swapped for a link, while the file is written. A short write waits for the next
/// one (or commit()), so that a small file goes out in one system call.
class AtomicFileWriter final : public OutputStream {
public:
    /// A writer for the file at `destination`; the folders on the way are taken as the path
    /// names them.
    explicit AtomicFileWriter(std::string destination);
    /// A writer for the file `name` in `folder` (which it shares), shown as `shownPath` in
    /// messages.
    AtomicFileWriter(std::shared_ptr<const OpenFolder> folder, std::string name,
                     std::string shownPath);
    ~AtomicFileWriter() override;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    /// What stands at the destination: nothing when the name is free, else its status (of a
    /// link itself). It is looked at once; create() goes by the same look.
    [[nodiscard]] Outcome<std::optional<struct stat>> existing();

    /// Makes the file to write into. `permissions`: the bits a new file ends with, less the
    /// umask; a replaced file keeps its own. Fails when the folder does not take the file, or
    /// when the destination exists and is not a regular file (a folder, a device, a FIFO, a
    /// socket or a link to one), which is then left as it is.
    [[nodiscard]] Outcome<> create(unsigned permissions = 0666);

    [[nodiscard]] bool hasSpaceAvailable() const override;
    std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) override;

    /// Gives the file its final mode and puts it in place. A replaced file's new bytes are
    /// flushed to disk before the rename, so a power cut cannot leave an empty file where a
    /// good one used to be; a brand-new file has nothing to lose and skips that flush.
    [[nodiscard]] Outcome<> commit();

    /// Closes and removes what was written; the destination is left as it was.
    void discard();

    /// The failure that stopped the writer: set once create(), a write or commit() fails.
    [[nodiscard]] const std::optional<Error>& failure() const { return failure_; }
    [[nodiscard]] const std::string& destination() const { return shown_; }

    /// Whether `name` has the form of the temporary file of a run that was killed.
    [[nodiscard]] static bool isTemporaryName(std::string_view name);

private:
    [[nodiscard]] bool openFolder();
    /// Writes what is held back, before `n` bytes more; false when it failed.
    [[nodiscard]] bool writeHeld(const std::uint8_t* buffer, std::size_t n);
    [[nodiscard]] bool openUnnamed();
    [[nodiscard]] bool openNamed();
    /// Tries `attempt` with fresh temporary names until one is free, which it keeps; when none
    /// is, notes the failure as `what` ("cannot create a file beside it").
    template <typename Attempt>
    [[nodiscard]] bool takeTemporaryName(std::string_view what, Attempt attempt);
    [[nodiscard]] bool linkUnnamed();
    /// commit() up to its failure, if any: the flush, the close and the file's name.
    [[nodiscard]] bool putInPlace();
    /// Notes the first failure; `what` says what was being done ("cannot write").
    void fail(int errorNumber, std::string_view what);
    [[nodiscard]] Error failed();

    std::shared_ptr<const OpenFolder> folder_;
    std::string folderPath_; // for a writer made from a path, until the folder is open
    std::string name_;
    std::string shown_;
    std::string temporary_; // the temporary file's name in the folder, when it has one
    Descriptor fd_;
    std::optional<std::optional<struct stat>> existing_; // once looked at
    std::array<std::uint8_t, 256> held_{};
    std::size_t heldSize_ = 0;
    unsigned mode_ = 0600;
    bool replacing_ = false;
    std::optional<Error> failure_;
};

} // namespace corvix
