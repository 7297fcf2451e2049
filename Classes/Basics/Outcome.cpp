#include <corvix/Outcome.h>

namespace corvix {

namespace {

class CorvixCategory final : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "corvix"; }

    [[nodiscard]] std::string message(int value) const override {
        switch (static_cast<Errc>(value)) {
        case Errc::cancelled:
            return "cancelled";
        case Errc::noHeaderTerminator:
            return "no header terminator";
        case Errc::otherHeader:
            return "header does not decrypt to the header text";
        case Errc::truncatedBody:
            return "truncated body";
        case Errc::chunkDoesNotDecrypt:
            return "chunk does not decrypt";
        case Errc::chunkWrongLength:
            return "chunk of the wrong length";
        case Errc::sourceChanged:
            return "the file changed while it was read";
        case Errc::badKeyMaterial:
            return "key material of the wrong size";
        case Errc::cipherUnavailable:
            return "cipher unavailable";
        case Errc::notOpen:
            return "not open";
        }
        return "unknown error";
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
