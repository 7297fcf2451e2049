#pragma once

#include "Files/OpenFolder.h"

#include <corvix/Outcome.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace corvix::cli {

/// The folder that outputs are written under. It is made (where missing) and opened, and every
/// output is then reached from that open folder one name at a time: plain names only (no "..",
/// ".", root or empty part), and a folder on the way that is a symbolic link is refused rather
/// than followed, so nothing lands outside the folder even while the tree changes.
class OutputFolder {
public:
    /// An empty root stands for the current folder. A folder that every output of a run shares
    /// (-o DIR) is opened once, on first use, and held open; the folder of one input's output is
    /// opened for that output alone, so a run over many files does not hold a descriptor each.
    OutputFolder(std::string root, bool shared);

    /// Where the output `relative` is shown to be.
    [[nodiscard]] std::string pathOf(const std::string& relative) const;
    /// `relative` below `folder` as one path; an empty folder is the current one.
    [[nodiscard]] static std::string joined(const std::string& folder, const std::string& relative);

    /// The open folder that is to hold the output `relative`, made where missing: for an output
    /// right under a shared root, the root itself.
    [[nodiscard]] Outcome<std::shared_ptr<const OpenFolder>>
    prepare(const std::string& relative) const;

private:
    /// A shared root, opened by the first task that needs it; every copy sees it.
    struct Opened {
        std::once_flag once;
        std::optional<Outcome<std::shared_ptr<const OpenFolder>>> root;
    };

    /// The root, freshly opened (and made where missing).
    [[nodiscard]] Outcome<std::shared_ptr<const OpenFolder>> openRoot() const;

    std::string root_;
    std::shared_ptr<Opened> opened_;
};

} // namespace corvix::cli
