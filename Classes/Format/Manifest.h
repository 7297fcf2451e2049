#pragma once

#include <corvix/Bytes.h>
#include <corvix/Outcome.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvix {

/// What a manifest holds for one encrypted file: the digest of every byte of it, taken over the
/// ciphertext, so that a file is checked without its key.
struct ManifestEntry {
    /// Relative to the manifest's folder, its parts separated by '/'.
    std::string path;
    /// The file's length in bytes.
    std::uint64_t length = 0;
    /// SHA-256 of the header line (the bytes before its 0x0D).
    Bytes header;
    /// SHA-256 of each ciphertext chunk, in order.
    std::vector<Bytes> chunks;

    /// Whether a file whose header line is `line` and whose length is `fileLength` can be the
    /// listed one: Errc::changedChunk for another header line, Errc::changedLength for another
    /// length. `file` names the file in the failure.
    [[nodiscard]] Outcome<> checkOpening(const std::string& file, const Bytes& line,
                                         std::uint64_t fileLength) const;
    /// Whether ciphertext chunk `index` (from 0) is the listed one (else Errc::changedChunk).
    [[nodiscard]] Outcome<> checkChunk(const std::string& file, std::uint64_t index,
                                       const std::uint8_t* data, std::size_t n) const;
    /// Whether `found`, the file as Manifest::describe() finds it now, is the listed one; the
    /// reason names each difference: the header line, the length and the first chunk.
    [[nodiscard]] Outcome<> checkFound(const std::string& file, const ManifestEntry& found) const;
};

/// A list of encrypted files with the digests of their chunks, optionally signed with Ed25519,
/// kept as a JSON file beside the files (the README describes the format and which bytes the
/// signature covers). Keys are PEM, as `openssl genpkey -algorithm ed25519` and
/// `openssl pkey -pubout` write them.
struct Manifest {
    static constexpr int kVersion = 1;
    /// A manifest or key file larger than this is refused unread.
    static constexpr std::size_t kLargestFile = std::size_t{1} << 28;

    /// In the order they were added or read; each path once.
    std::vector<ManifestEntry> files;
    /// The Ed25519 signature of signedBytes(); empty for an unsigned manifest.
    Bytes signature;

    /// The manifest in `text`, or Errc::malformedManifest naming `shownPath`.
    [[nodiscard]] static Outcome<Manifest> parse(std::string_view text,
                                                 const std::string& shownPath = {});
    [[nodiscard]] static Outcome<Manifest> load(const std::string& path);
    /// The encrypted file at `file` as it is now, listed as `listedPath`.
    [[nodiscard]] static Outcome<ManifestEntry> describe(const std::string& file,
                                                         std::string listedPath);
    /// Whether `path` can be listed: relative, in UTF-8, without control characters, empty,
    /// "." or ".." parts (Errc::malformedManifest).
    [[nodiscard]] static Outcome<> checkPath(const std::string& path);

    /// The entry listed as `path`, or null.
    [[nodiscard]] const ManifestEntry* find(std::string_view path) const;
    /// Lists `entry`, in place of an entry of the same path, in path order; drops the signature.
    [[nodiscard]] Outcome<> add(ManifestEntry entry);

    /// What a signature covers: the manifest without its signature as canonical JSON.
    [[nodiscard]] std::string signedBytes() const;
    /// The manifest as its file holds it.
    [[nodiscard]] std::string text() const;
    /// Writes text() to `path` atomically: the file appears whole or not at all.
    [[nodiscard]] Outcome<> write(const std::string& path) const;

    /// Signs with the Ed25519 private key in `privateKeyPem` (Errc::badSigningKey).
    [[nodiscard]] Outcome<> sign(std::string_view privateKeyPem);
    /// Errc::badSigningKey when `publicKeyPem` is no Ed25519 public key, Errc::unsignedManifest,
    /// or Errc::badSignature when the signature is not that of the key.
    [[nodiscard]] Outcome<> checkSignature(std::string_view publicKeyPem) const;
    /// The PEM text of the key file at `path`.
    [[nodiscard]] static Outcome<std::string> readKey(const std::string& path);
};

} // namespace corvix
