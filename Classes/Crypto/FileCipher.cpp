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
RunOutcome explained(RunOutcome outcome, const std::string& srcPath, const FileInputStream& input,
                     const std::string& dstPath, const AtomicFileWriter* output) {
    if (outcome.succeeded()) {
        return outcome;
    }
    if (input.error()) {
        return cannot("read", srcPath, input.error());
    }
    if (output != nullptr && output->error()) {
        return cannot("write", dstPath, output->error());
    }
    return outcome;
}

// Checks the key material and opens the source: the failure to report, or nothing.
std::optional<RunOutcome> openSource(FileInputStream& input, const std::string& srcPath,
                                     const KeyMaterial& material) {
    if (auto problem = ChunkCipher::problemWith(material.key, material.iv)) {
        return RunOutcome::failed(*problem);
    }
    if (!input.open()) {
        return cannot("open", srcPath, input.error());
    }
    return std::nullopt;
}

RunOutcome finish(RunOutcome outcome, AtomicFileWriter& output, const std::string& dstPath) {
    if (!outcome.succeeded()) {
        output.discard();
        return outcome;
    }
    if (!output.commit()) {
        return cannot("write", dstPath, output.error());
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
    if (auto refused = openSource(input, srcPath, material)) {
        return *refused;
    }
    const auto total = input.size();
    if (!total) {
        return RunOutcome::failed("cannot read the size of " + srcPath);
    }
    auto line = headerLine(header, material);
    if (!line) {
        return RunOutcome::failed("the header text does not encrypt");
    }
    line->push_back(kHeaderEnd);
    AtomicFileWriter output(dstPath);
    if (!output.create()) {
        return cannot("create a file beside", dstPath, output.error());
    }
    if (writeFully(output, line->data(), line->size()) != line->size()) {
        output.discard();
        return cannot("write", dstPath, output.error());
    }
    const ChunkPipeline pipeline(ChunkCipher::Direction::Encrypt, material, kPlainChunkSize);
    RunOutcome outcome = pipeline.run(input, *total, output, callbacks);
    outcome = explained(std::move(outcome), srcPath, input, dstPath, &output);
    return finish(std::move(outcome), output, dstPath);
}

RunOutcome FileCipher::decrypt(const std::string& srcPath, const std::string& dstPath,
                               const KeyMaterial& material, const ChunkCallbacks& callbacks) {
    AtomicFileWriter output(dstPath);
    // The temporary file is made before reading so a folder that cannot take it fails early;
    // it only becomes the destination when the whole body has decrypted.
    if (!output.create()) {
        return cannot("create a file beside", dstPath, output.error());
    }
    RunOutcome outcome = decryptInto(srcPath, output, material, callbacks);
    if (!outcome.succeeded() && output.error()) {
        outcome = cannot("write", dstPath, output.error());
    }
    return finish(std::move(outcome), output, dstPath);
}

RunOutcome FileCipher::decryptInto(const std::string& srcPath, OutputStream& output,
                                   const KeyMaterial& material, const ChunkCallbacks& callbacks) {
    FileInputStream input(srcPath);
    if (auto refused = openSource(input, srcPath, material)) {
        return *refused;
    }
    const auto size = input.size();
    const auto headerLength = input.skipPast(kHeaderEnd);
    if (!size || !headerLength || *headerLength + 1 > *size) {
        if (input.error()) {
            return cannot("read", srcPath, input.error());
        }
        return RunOutcome::failed("no header terminator (0x0D): not an encrypted file");
    }
    const std::uint64_t bodyLength = *size - *headerLength - 1;
    const ChunkPipeline pipeline(ChunkCipher::Direction::Decrypt, material, kCipherChunkSize);
    RunOutcome outcome = pipeline.run(input, bodyLength, output, callbacks);
    return explained(std::move(outcome), srcPath, input, {}, nullptr);
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
