#include "FileCipher.h"

#include "../Key/Encodings.h"
#include "AtomicFileWriter.h"
#include "ByteArrayOutputStream.h"
#include "ChunkCipher.h"
#include "ChunkPipeline.h"
#include "FileInputStream.h"

#include <new>

namespace corvix {

namespace {

RunOutcome cannot(const std::string& what, const std::string& path, const std::error_code& error) {
    return RunOutcome::failed("cannot " + what + " " + path + ": " + error.message());
}

// Names the system error behind a failed run, when one of the two files reports one.
RunOutcome explained(RunOutcome outcome, const FileInputStream& input,
                     const AtomicFileWriter* output) {
    if (outcome.succeeded()) {
        return outcome;
    }
    if (input.error()) {
        return cannot("read", input.path(), input.error());
    }
    if (output != nullptr && output->error()) {
        return RunOutcome::failed(output->failure());
    }
    return outcome;
}

// Checks the key material and opens the source: the failure to report, or nothing.
std::optional<RunOutcome> openSource(FileInputStream& input, const KeyMaterial& material) {
    if (auto problem = ChunkCipher::problemWith(material.key, material.iv)) {
        return RunOutcome::failed(*problem);
    }
    if (!input.open()) {
        return cannot("open", input.path(), input.error());
    }
    return std::nullopt;
}

RunOutcome finish(RunOutcome outcome, AtomicFileWriter& output) {
    if (!outcome.succeeded()) {
        output.discard();
        return outcome;
    }
    if (!output.commit()) {
        return RunOutcome::failed(output.failure());
    }
    return outcome;
}

} // namespace

std::optional<Bytes> FileCipher::headerLine(std::string_view header, const KeyMaterial& material) {
    const Bytes plain = utf8Bytes(header);
    Bytes sealed(plain.size() + ChunkCipher::kBlockSize);
    ChunkCipher cipher(ChunkCipher::Direction::Encrypt, material.key, material.iv);
    const auto produced = cipher.run(plain.data(), plain.size(), sealed.data());
    if (!produced) {
        return std::nullopt;
    }
    sealed.resize(*produced);
    return base64Bytes(sealed);
}

RunOutcome FileCipher::encrypt(const std::string& srcPath, const std::string& dstPath,
                               std::string_view header, const KeyMaterial& material,
                               const ChunkCallbacks& callbacks) {
    FileInputStream input(srcPath);
    if (auto refused = openSource(input, material)) {
        return *refused;
    }
    AtomicFileWriter output(dstPath);
    return encrypt(input, output, header, material, callbacks);
}

RunOutcome FileCipher::encrypt(FileInputStream& input, AtomicFileWriter& output,
                               std::string_view header, const KeyMaterial& material,
                               const ChunkCallbacks& callbacks) {
    if (auto problem = ChunkCipher::problemWith(material.key, material.iv)) {
        return RunOutcome::failed(*problem);
    }
    const auto total = input.size();
    if (!total) {
        return RunOutcome::failed("cannot read the size of " + input.path());
    }
    auto line = headerLine(header, material);
    if (!line) {
        return RunOutcome::failed("the header text does not encrypt");
    }
    line->push_back(kHeaderEnd);
    if (!output.create(input.permissions())) {
        return RunOutcome::failed(output.failure());
    }
    if (writeFully(output, line->data(), line->size()) != line->size()) {
        output.discard();
        return RunOutcome::failed(output.failure());
    }
    const ChunkPipeline pipeline(ChunkCipher::Direction::Encrypt, material, kPlainChunkSize);
    RunOutcome outcome = pipeline.run(input, *total, output, callbacks);
    return finish(explained(std::move(outcome), input, &output), output);
}

RunOutcome FileCipher::decrypt(const std::string& srcPath, const std::string& dstPath,
                               const KeyMaterial& material, const ChunkCallbacks& callbacks) {
    FileInputStream input(srcPath);
    if (auto refused = openSource(input, material)) {
        return *refused;
    }
    AtomicFileWriter output(dstPath);
    return decrypt(input, output, material, callbacks);
}

RunOutcome FileCipher::decrypt(FileInputStream& input, AtomicFileWriter& output,
                               const KeyMaterial& material, const ChunkCallbacks& callbacks) {
    // The output file is made before reading so a folder that cannot take it fails early; it
    // only becomes the destination when the whole body has decrypted.
    if (!output.create(input.permissions())) {
        return RunOutcome::failed(output.failure());
    }
    RunOutcome outcome = decryptInto(input, output, material, callbacks);
    return finish(explained(std::move(outcome), input, &output), output);
}

RunOutcome FileCipher::decryptInto(const std::string& srcPath, OutputStream& output,
                                   const KeyMaterial& material, const ChunkCallbacks& callbacks) {
    FileInputStream input(srcPath);
    if (auto refused = openSource(input, material)) {
        return *refused;
    }
    return decryptInto(input, output, material, callbacks);
}

RunOutcome FileCipher::decryptInto(FileInputStream& input, OutputStream& output,
                                   const KeyMaterial& material, const ChunkCallbacks& callbacks) {
    if (auto problem = ChunkCipher::problemWith(material.key, material.iv)) {
        return RunOutcome::failed(*problem);
    }
    const auto size = input.size();
    const auto headerLength = input.skipPast(kHeaderEnd);
    if (!size || !headerLength || *headerLength + 1 > *size) {
        if (input.error()) {
            return cannot("read", input.path(), input.error());
        }
        return RunOutcome::failed("no header terminator (0x0D): not an encrypted file");
    }
    const std::uint64_t bodyLength = *size - *headerLength - 1;
    const ChunkPipeline pipeline(ChunkCipher::Direction::Decrypt, material, kCipherChunkSize);
    RunOutcome outcome = pipeline.run(input, bodyLength, output, callbacks);
    return explained(std::move(outcome), input, nullptr);
}

std::optional<Bytes> FileCipher::decryptToBytes(const std::string& path,
                                                const KeyMaterial& material, std::string* reason) {
    try {
        Bytes plain;
        ByteArrayOutputStream output(plain);
        const RunOutcome outcome = decryptInto(path, output, material);
        if (!outcome.succeeded()) {
            if (reason != nullptr) {
                *reason = outcome.reason;
            }
            return std::nullopt;
        }
        return plain;
    } catch (const std::bad_alloc&) {
        if (reason != nullptr) {
            *reason = "not enough memory to hold the plaintext of " + path;
        }
        return std::nullopt;
    }
}

} // namespace corvix
