#include "ScratchFolder.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <stdexcept>

namespace corvix::reliability {

ScratchFolder::ScratchFolder() {
    std::filesystem::create_directories(CORVIX_SCRATCH_DIR);
    std::string pattern = (std::filesystem::path(CORVIX_SCRATCH_DIR) / "run-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder in " CORVIX_SCRATCH_DIR);
    }
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ScratchFolder::temporaryFiles(const std::filesystem::path& folder) {
    static const std::regex kTemporary(R"(\..+\.[a-z0-9]{6}\.part)");
    std::vector<std::string> names = entries(folder);
    std::erase_if(names,
                  [](const std::string& name) { return !std::regex_match(name, kTemporary); });
    return names;
}

} // namespace corvix::reliability
