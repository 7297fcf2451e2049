#include <corvix/Outcome.h>
#include <iterator>

namespace corvix {

namespace {

class CorvixCategory final : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "corvix"; }

    [[nodiscard]] std::string message(int value) const override {
        // In the order of Errc, which starts at 1.
        static constexpr const char* kMessages[] = {
            "cancelled",
            "no header terminator",
            "header does not decrypt to the header text",
            "truncated body",
            "chunk does not decrypt",
            "chunk of the wrong length",
            "the file changed while it was read",
            "key material of the wrong size",
            "cipher unavailable",
            "not open",
            "a chunk differs from the manifest",
            "the length differs from the manifest",
            "a listed file is missing",
            "the manifest does not list the file",
            "malformed manifest",
            "the manifest is not signed",
            "the manifest's signature does not verify",
            "not an Ed25519 key in PEM",
        };
        static_assert(std::size(kMessages) == static_cast<std::size_t>(Errc::badSigningKey));
        const bool known = value >= 1 && static_cast<std::size_t>(value) <= std::size(kMessages);
        return known ? kMessages[value - 1] : "unknown error";
    }
};

} // namespace

const std::error_category& errorCategory() {
    static const CorvixCategory category;
    return category;
}

std::error_code make_error_code(Errc code) {
    return {static_cast<int>(code), errorCategory()};
}

std::string Error::message() const {
    return path.empty() ? reason : path + ": " + reason;
}

std::string Error::messageAfter(std::string_view subject) const {
    return path.empty() || path == subject ? reason : message();
}

Error Error::system(int number, std::string path, std::string_view what) {
    return system(std::error_code(number, std::generic_category()), std::move(path), what);
}

Error Error::system(const std::error_code& code, std::string path, std::string_view what) {
    std::string reason(what);
    reason.append(what.empty() ? "" : ": ").append(code.message());
    return {code, std::move(path), std::move(reason)};
}

Error Error::of(Errc code, std::string path, std::string reason) {
    return {code, std::move(path), std::move(reason)};
}

} // namespace corvix
