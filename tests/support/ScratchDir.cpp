#include "ScratchDir.h"

#include "Files.h"

#include <cstdlib>
#include <stdexcept>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

ScratchDir::ScratchDir() {
    const std::filesystem::path root(CORVIX_TEST_SCRATCH);
    std::filesystem::create_directories(root);
    std::string pattern = (root / "run.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a scratch folder under " + root.string());
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchDir::entries() const {
    return entriesOf(path_);
}

} // namespace legacy
} // namespace corvix::test
