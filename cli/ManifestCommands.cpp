#include "ManifestCommands.h"

#include <filesystem>
#include <set>

namespace corvix::cli {

namespace fs = std::filesystem;

namespace {

// A path with the links on its way resolved, so that two spellings of one place compare equal.
fs::path resolved(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::weakly_canonical(path.empty() ? "." : path, error);
    return error ? fs::path(path).lexically_normal() : absolute;
}

std::string folderOf(const std::string& manifestPath) {
    return fs::path(manifestPath).parent_path().string();
}

} // namespace

std::optional<std::string> ManifestCommands::listedPath(const std::string& file,
                                                        const std::string& manifestPath) {
    const fs::path relative = resolved(file).lexically_relative(resolved(folderOf(manifestPath)));
    if (relative.empty() || *relative.begin() == "..") {
        return std::nullopt;
    }
    return relative.generic_string();
}

std::optional<Error> ManifestCommands::unlistable(const std::vector<FileTask>& tasks,
                                                  const std::string& manifestPath) {
    for (const FileTask& task : tasks) {
        const std::string file = task.output().value_or(task.input());
        if (task.isSettled()) {
            continue;
        }
        const auto listed = listedPath(file, manifestPath);
        if (!listed) {
            return Error::of(Errc::unlistedFile, file,
                             "lies outside the folder of the manifest " + manifestPath);
        }
        if (Outcome<> listable = Manifest::checkPath(*listed); !listable) {
            return Error{listable.error().code, file, listable.error().reason};
        }
    }
    return std::nullopt;
}

Outcome<std::string> ManifestCommands::key(const std::string& path, bool isPrivate) {
    auto text = Manifest::readKey(path);
    if (!text) {
        return text.error();
    }
    Manifest trial;
    const Outcome<> usable = isPrivate ? trial.sign(*text) : trial.checkSignature(*text);
    if (!usable && usable.error().code == Errc::badSigningKey) {
        return Error{usable.error().code, path, usable.error().reason};
    }
    return text;
}

Outcome<ManifestCommands::Checked>
ManifestCommands::load(const std::string& path, const std::optional<std::string>& publicKey) {
    auto manifest = Manifest::load(path);
    if (!manifest) {
        return manifest.error();
    }
    Checked checked{std::move(*manifest), std::nullopt};
    if (publicKey) {
        if (Outcome<> signature = checked.manifest.checkSignature(*publicKey); !signature) {
            checked.signature = Error{signature.error().code, path, signature.error().reason};
        }
    }
    return checked;
}

std::vector<FileTask> ManifestCommands::missing(const std::vector<FileTask>& tasks,
                                                const Manifest& manifest,
                                                const std::string& manifestPath) {
    std::set<std::string> found;
    for (const FileTask& task : tasks) {
        if (auto listed = listedPath(task.input(), manifestPath)) {
            found.insert(std::move(*listed));
        }
    }
    std::vector<FileTask> absent;
    for (const ManifestEntry& entry : manifest.files) {
        if (!found.contains(entry.path)) {
            const std::string shown = (fs::path(folderOf(manifestPath)) / entry.path).string();
            absent.emplace_back(shown, Error::of(Errc::missingFile, shown,
                                                 "is listed in the manifest and missing"));
        }
    }
    return absent;
}

} // namespace corvix::cli
