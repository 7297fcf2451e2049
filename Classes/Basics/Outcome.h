#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

namespace corvix {

/// The failures that are Corvix's own. Failures of the system keep their errno, in
/// std::generic_category(). A new code goes last, and its message last in Outcome.cpp's table.
enum class Errc {
    cancelled = 1,      ///< asked to stop (shouldCancel, a signal, the window closing)
    noHeaderTerminator, ///< no 0x0D within the longest header line
    otherHeader,        ///< the header line does not decrypt to the expected header text
    truncatedBody,      ///< a body that is not whole 16-byte blocks
    chunkDoesNotDecrypt,
    chunkWrongLength, ///< a chunk that decrypts to a length no writer makes
    sourceChanged,    ///< the file changed size while it was read
    badKeyMaterial,   ///< a key of another size than 16, 24 or 32 bytes, or an IV under 16
    cipherUnavailable,
    notOpen,
    // A file checked against a manifest:
    changedChunk,      ///< its header line or a chunk is not the one listed
    changedLength,     ///< its length is not the one listed
    missingFile,       ///< listed, and not there
    unlistedFile,      ///< there, and not listed
    malformedManifest, ///< not a manifest this program reads
    unsignedManifest,  ///< no signature, where a public key asks for one
    badSignature,      ///< a signature that the public key does not verify
    badSigningKey,     ///< not an Ed25519 key in PEM
};

/// The category of Errc; its name is "corvix".
[[nodiscard]] const std::error_category& errorCategory();
[[nodiscard]] std::error_code make_error_code(Errc code);

/// Why something failed: a code to act on, the file or folder it concerns, and the reason in
/// words without that path ("cannot open: No such file or directory").
struct Error {
    std::error_code code;
    std::string path;
    std::string reason;

    /// "PATH: REASON", or the reason alone when no path is concerned.
    [[nodiscard]] std::string message() const;
    /// The message as told right after the name of `subject` ("IN: WHY"): the reason alone
    /// when the failure concerns the subject itself, else the whole message.
    [[nodiscard]] std::string messageAfter(std::string_view subject) const;

    /// A failure of the system: `what` then the system's words for `number` (an errno).
    [[nodiscard]] static Error system(int number, std::string path, std::string_view what);
    [[nodiscard]] static Error system(const std::error_code& code, std::string path,
                                      std::string_view what);
    [[nodiscard]] static Error of(Errc code, std::string path, std::string reason);
};

/// The result of anything that can fail: a value, or the Error that kept it from being made.
template <typename T = void> class [[nodiscard]] Outcome {
public:
    Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Outcome(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    [[nodiscard]] bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    [[nodiscard]] T& operator*() & { return std::get<0>(state_); }
    [[nodiscard]] const T& operator*() const& { return std::get<0>(state_); }
    [[nodiscard]] T&& operator*() && { return std::get<0>(std::move(state_)); }
    [[nodiscard]] T* operator->() { return &std::get<0>(state_); }
    [[nodiscard]] const T* operator->() const { return &std::get<0>(state_); }
    [[nodiscard]] const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <> class [[nodiscard]] Outcome<void> {
public:
    Outcome() = default;
    Outcome(Error error) : error_(std::move(error)) {}

    [[nodiscard]] bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

} // namespace corvix

template <> struct std::is_error_code_enum<corvix::Errc> : std::true_type {};
