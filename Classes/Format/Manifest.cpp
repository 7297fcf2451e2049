#include "Basics/Encodings.h"
#include "Files/AtomicFileWriter.h"
#include "Files/FileInputStream.h"
#include "Format/FileCipher.h"
#include "Format/FileFormat.h"

#include <algorithm>
#include <cerrno>
#include <corvix/Manifest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <set>

namespace corvix {

namespace {

using nlohmann::json;

constexpr std::size_t kDigestSize = 32;
constexpr std::size_t kSignatureSize = 64;
constexpr std::size_t kLargestKey = 64 * 1024;

Error malformed(const std::string& path, const std::string& reason) {
    return Error::of(Errc::malformedManifest, path, "not a manifest this program reads: " + reason);
}

std::optional<Bytes> digestFrom(const json& value) {
    if (!value.is_string() || value.get_ref<const std::string&>().size() != 2 * kDigestSize) {
        return std::nullopt;
    }
    const std::string& text = value.get_ref<const std::string&>();
    Bytes digest = bytesFromHex(text);
    return hexText(digest) == text ? std::optional<Bytes>(std::move(digest)) : std::nullopt;
}

// `object` has exactly the members `names`, where the last may be absent when `lastOptional`.
bool hasMembers(const json& object, std::initializer_list<const char*> names,
                bool lastOptional = false) {
    const std::size_t present = static_cast<std::size_t>(std::count_if(
        names.begin(), names.end(), [&](const char* name) { return object.contains(name); }));
    return object.is_object() && object.size() == present &&
           present >= names.size() - (lastOptional ? 1 : 0);
}

std::optional<ManifestEntry> entryFrom(const json& file) {
    if (!hasMembers(file, {"chunks_sha256", "header_sha256", "length", "path"}) ||
        !file["path"].is_string() || !file["length"].is_number_unsigned() ||
        !file["chunks_sha256"].is_array()) {
        return std::nullopt;
    }
    ManifestEntry entry{
        file["path"].get<std::string>(), file["length"].get<std::uint64_t>(), {}, {}};
    auto header = digestFrom(file["header_sha256"]);
    if (!header) {
        return std::nullopt;
    }
    entry.header = std::move(*header);
    for (const json& chunk : file["chunks_sha256"]) {
        auto digest = digestFrom(chunk);
        if (!digest) {
            return std::nullopt;
        }
        entry.chunks.push_back(std::move(*digest));
    }
    return entry;
}

json document(const Manifest& manifest) {
    json files = json::array();
    for (const ManifestEntry& entry : manifest.files) {
        json chunks = json::array();
        for (const Bytes& digest : entry.chunks) {
            chunks.push_back(hexText(digest));
        }
        files.push_back({{"path", entry.path},
                         {"length", entry.length},
                         {"header_sha256", hexText(entry.header)},
                         {"chunks_sha256", std::move(chunks)}});
    }
    return {{"version", Manifest::kVersion},
            {"chunk_size", FileFormat::kPlainChunkSize},
            {"files", std::move(files)}};
}

std::string dumped(const json& value, int indent) {
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

// A key that needs a passphrase does not load: nothing here may ask for one.
int noPassphrase(char* /*buffer*/, int /*size*/, int /*writing*/, void* /*data*/) {
    return -1;
}

Outcome<Key> ed25519Key(std::string_view pem, bool isPrivate) {
    Key key;
    if (pem.size() <= kLargestKey) {
        const std::unique_ptr<BIO, decltype(&BIO_free)> bio(
            BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
        if (bio) {
            key.reset(isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr)
                                : PEM_read_bio_PUBKEY(bio.get(), nullptr, noPassphrase, nullptr));
        }
    }
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) {
        return Error::of(Errc::badSigningKey, {},
                         isPrivate ? "not an Ed25519 private key in PEM without a passphrase "
                                     "(openssl genpkey -algorithm ed25519 makes one)"
                                   : "not an Ed25519 public key in PEM (openssl pkey -pubout "
                                     "makes one from the private key)");
    }
    return key;
}

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

} // namespace

Outcome<> ManifestEntry::checkOpening(const std::string& file, const Bytes& line,
                                      std::uint64_t fileLength) const {
    if (sha256(line) != header) {
        return Error::of(Errc::changedChunk, file, "the header line differs from the manifest");
    }
    if (fileLength != length) {
        return Error::of(Errc::changedLength, file,
                         std::to_string(fileLength) + " bytes long; the manifest lists " +
                             std::to_string(length));
    }
    return {};
}

Outcome<> ManifestEntry::checkChunk(const std::string& file, std::uint64_t index,
                                    const std::uint8_t* data, std::size_t n) const {
    if (index < chunks.size() && sha256(data, n) == chunks[index]) {
        return {};
    }
    return Error::of(Errc::changedChunk, file,
                     FileFormat::chunkName(index) + " differs from the manifest");
}

Outcome<> ManifestEntry::checkFound(const std::string& file, const ManifestEntry& found) const {
    std::string differences;
    const auto note = [&differences](const std::string& difference) {
        differences.append(differences.empty() ? "" : "; ").append(difference);
    };
    if (found.header != header) {
        note("the header line differs");
    }
    if (found.length != length) {
        note(std::to_string(found.length) + " bytes long, the manifest lists " +
             std::to_string(length));
    }
    const auto [listed, now] =
        std::mismatch(chunks.begin(), chunks.end(), found.chunks.begin(), found.chunks.end());
    if (listed != chunks.end() || now != found.chunks.end()) {
        const auto index = static_cast<std::uint64_t>(listed - chunks.begin());
        note(FileFormat::chunkName(index) + (listed == chunks.end()      ? " is not listed"
                                             : now == found.chunks.end() ? " is missing"
                                                                         : " differs"));
    }
    if (differences.empty()) {
        return {};
    }
    return Error::of(found.length != length ? Errc::changedLength : Errc::changedChunk, file,
                     "changed since the manifest was made: " + differences);
}

Outcome<Manifest> Manifest::parse(std::string_view text, const std::string& shownPath) {
    const json manifest = json::parse(text, nullptr, false);
    if (manifest.is_discarded()) {
        return malformed(shownPath, "not JSON");
    }
    if (!hasMembers(manifest, {"chunk_size", "files", "version", "signature"}, true) ||
        !manifest["files"].is_array()) {
        return malformed(shownPath, "the members are not version, chunk_size, files and an "
                                    "optional signature");
    }
    if (manifest["version"] != kVersion) {
        return malformed(shownPath, "version " + dumped(manifest["version"], -1) +
                                        ", where this program reads version " +
                                        std::to_string(kVersion));
    }
    if (manifest["chunk_size"] != FileFormat::kPlainChunkSize) {
        return malformed(shownPath, "chunks of " + dumped(manifest["chunk_size"], -1) +
                                        " bytes, where the format has " +
                                        std::to_string(FileFormat::kPlainChunkSize));
    }
    Manifest parsed;
    if (manifest.contains("signature")) {
        const json& signature = manifest["signature"];
        parsed.signature = signature.is_string()
                               ? bytesFromBase64(signature.get_ref<const std::string&>())
                               : Bytes();
        if (parsed.signature.size() != kSignatureSize) {
            return malformed(shownPath, "the signature is not 64 bytes in base64");
        }
    }
    std::set<std::string> paths;
    for (const json& file : manifest["files"]) {
        auto entry = entryFrom(file);
        const std::string where = "file " + std::to_string(parsed.files.size() + 1);
        if (!entry) {
            return malformed(shownPath, where + " is not a path, a length and SHA-256 digests "
                                                "in 64 lower-case hex digits");
        }
        if (Outcome<> listable = checkPath(entry->path); !listable) {
            return malformed(shownPath, where + ": " + listable.error().reason);
        }
        if (!paths.insert(entry->path).second) {
            return malformed(shownPath, where + " is listed twice");
        }
        parsed.files.push_back(std::move(*entry));
    }
    return parsed;
}

Outcome<Manifest> Manifest::load(const std::string& path) {
    const auto text = FileInputStream::readText(path, kLargestFile);
    if (!text) {
        return text.error();
    }
    if (text->size() > kLargestFile) {
        return malformed(path, "larger than " + std::to_string(kLargestFile) + " bytes");
    }
    return parse(*text, path);
}

Outcome<ManifestEntry> Manifest::describe(const std::string& file, std::string listedPath) {
    FileInputStream input(file);
    if (Outcome<> opened = input.open(); !opened) {
        return opened.error();
    }
    auto entry = FileCipher::describe(input);
    if (entry) {
        entry->path = std::move(listedPath);
    }
    return entry;
}

Outcome<> Manifest::checkPath(const std::string& path) {
    bool listable = isUtf8(path) && !path.empty() && path.front() != '/' &&
                    std::none_of(path.begin(), path.end(),
                                 [](unsigned char c) { return c < 0x20 || c == 0x7F; });
    for (std::size_t start = 0; listable && start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part(path.data() + start, end - start);
        listable = !part.empty() && part != "." && part != "..";
        start = end + 1;
    }
    if (listable) {
        return {};
    }
    return Error::of(Errc::malformedManifest, path,
                     "cannot be listed: a manifest lists relative paths in UTF-8, without control "
                     "characters and without empty, \".\" or \"..\" parts");
}

const ManifestEntry* Manifest::find(std::string_view path) const {
    const auto found = std::find_if(files.begin(), files.end(), [path](const ManifestEntry& entry) {
        return entry.path == path;
    });
    return found == files.end() ? nullptr : &*found;
}

Outcome<> Manifest::add(ManifestEntry entry) {
    if (Outcome<> listable = checkPath(entry.path); !listable) {
        return listable;
    }
    signature.clear();
    const auto at = std::lower_bound(
        files.begin(), files.end(), entry.path,
        [](const ManifestEntry& listed, const std::string& path) { return listed.path < path; });
    if (at != files.end() && at->path == entry.path) {
        *at = std::move(entry);
    } else {
        files.insert(at, std::move(entry));
    }
    return {};
}

std::string Manifest::signedBytes() const {
    return dumped(document(*this), -1);
}

std::string Manifest::text() const {
    json whole = document(*this);
    if (!signature.empty()) {
        whole["signature"] = base64Text(signature);
    }
    return dumped(whole, 2) + "\n";
}

Outcome<> Manifest::write(const std::string& path) const {
    const std::string content = text();
    AtomicFileWriter output(path);
    if (Outcome<> created = output.create(); !created) {
        return created;
    }
    if (writeFully(output, bytesOf(content), content.size()) != content.size()) {
        output.discard();
        return output.failure() ? *output.failure() : Error::system(EIO, path, "cannot write");
    }
    return output.commit();
}

Outcome<> Manifest::sign(std::string_view privateKeyPem) {
    const auto key = ed25519Key(privateKeyPem, true);
    if (!key) {
        return key.error();
    }
    const std::string message = signedBytes();
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    Bytes made(kSignatureSize);
    std::size_t length = made.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key->get()) != 1 ||
        EVP_DigestSign(context.get(), made.data(), &length, bytesOf(message), message.size()) !=
            1 ||
        length != kSignatureSize) {
        return Error::of(Errc::badSigningKey, {}, "OpenSSL cannot sign with the key");
    }
    signature = std::move(made);
    return {};
}

Outcome<> Manifest::checkSignature(std::string_view publicKeyPem) const {
    const auto key = ed25519Key(publicKeyPem, false);
    if (!key) {
        return key.error();
    }
    if (signature.empty()) {
        return Error::of(Errc::unsignedManifest, {},
                         "the manifest is not signed, and a public key was given to check it");
    }
    const std::string message = signedBytes();
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key->get()) != 1 ||
        EVP_DigestVerify(context.get(), signature.data(), signature.size(), bytesOf(message),
                         message.size()) != 1) {
        return Error::of(Errc::badSignature, {},
                         "the signature does not verify with the public key: the manifest was "
                         "changed, or another key signed it");
    }
    return {};
}

Outcome<std::string> Manifest::readKey(const std::string& path) {
    auto text = FileInputStream::readText(path, kLargestKey);
    if (text && text->size() > kLargestKey) {
        return Error::of(Errc::badSigningKey, path, "larger than a key file in PEM");
    }
    return text;
}

} // namespace corvix
