#include "Format/FileCipher.h"

#include "Basics/Encodings.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace corvix {

namespace {

// The error that stopped a run, told by the file that reports one, else the run's own, which
// is about the source.
Error explained(Error error, const FileInputStream& input, const AtomicFileWriter* output) {
    if (input.error()) {
        return Error::system(input.error(), input.path(), "cannot read");
    }
    if (output != nullptr && output->failure()) {
        return *output->failure();
    }
    if (error.path.empty()) {
        error.path = input.path();
    }
    return error;
}

Outcome<> finished(Outcome<> outcome, const FileInputStream& input, AtomicFileWriter& output) {
    if (!outcome) {
        output.discard();
        return explained(outcome.error(), input, &output);
    }
    return output.commit();
}

// A run from the file at `srcPath` into a new file at `dstPath`.
template <typename Run>
Outcome<> betweenFiles(const std::string& srcPath, const std::string& dstPath, Run run) {
    FileInputStream input(srcPath);
    if (Outcome<> opened = input.open(); !opened) {
        return opened;
    }
    AtomicFileWriter output(dstPath);
    return run(input, output);
}

} // namespace

Outcome<> FileCipher::encrypt(const std::string& srcPath, const std::string& dstPath,
                              std::string_view header, const KeyMaterial& material,
                              const ChunkCallbacks& callbacks) {
    return betweenFiles(srcPath, dstPath, [&](FileInputStream& input, AtomicFileWriter& output) {
        return encrypt(input, output, header, material, callbacks);
    });
}

Outcome<> FileCipher::encrypt(FileInputStream& input, AtomicFileWriter& output,
                              std::string_view header, const KeyMaterial& material,
                              const ChunkCallbacks& callbacks, ManifestEntry* listing) {
    Run alone{input, output, callbacks, listing};
    encryptEach({&alone, 1}, header, material);
    return alone.outcome;
}

void FileCipher::encryptEach(std::span<Run> runs, std::string_view header,
                             const KeyMaterial& material) {
    auto line = FileFormat::headerLine(header, material);
    const Bytes headerDigest = line ? sha256(*line) : Bytes{};
    if (line) {
        line->push_back(FileFormat::kHeaderEnd);
    }
    std::vector<ChunkRun> bodies;
    std::vector<ChunkCallbacks> listed; // the runs' callbacks, and where they list the chunks
    listed.reserve(runs.size());
    std::vector<Run*> started;
    for (Run& run : runs) {
        if (!line) {
            run.outcome = Error{line.error().code, run.source.path(), line.error().reason};
        } else if (Outcome<> created = run.output.create(run.source.permissions()); !created) {
            run.outcome = created;
        } else if (writeFully(run.output, line->data(), line->size()) != line->size()) {
            run.outcome = finished(Error::system(EIO, run.output.destination(), "cannot write"),
                                   run.source, run.output);
        } else {
            ChunkCallbacks& callbacks = listed.emplace_back(run.callbacks);
            if (ManifestEntry* entry = run.listing; entry != nullptr) {
                *entry = {{}, line->size(), headerDigest, {}};
                callbacks.onChunkDigest = [entry](std::size_t length, const Bytes& digest) {
                    entry->length += length;
                    entry->chunks.push_back(digest);
                };
            }
            bodies.push_back({run.source, run.source.size(), run.output, callbacks});
            started.push_back(&run);
        }
    }
    const ChunkPipeline pipeline(ChunkCipher::Direction::Encrypt, material);
    pipeline.runEach(bodies);
    for (std::size_t i = 0; i < started.size(); ++i) {
        started[i]->outcome = finished(bodies[i].outcome, started[i]->source, started[i]->output);
    }
}

Outcome<> FileCipher::decrypt(const std::string& srcPath, const std::string& dstPath,
                              const KeyMaterial& material,
                              std::optional<std::string_view> expectedHeader,
                              const ChunkCallbacks& callbacks) {
    return betweenFiles(srcPath, dstPath, [&](FileInputStream& input, AtomicFileWriter& output) {
        return decrypt(input, output, material, expectedHeader, callbacks);
    });
}

Outcome<> FileCipher::decrypt(FileInputStream& input, AtomicFileWriter& output,
                              const KeyMaterial& material,
                              std::optional<std::string_view> expectedHeader,
                              const ChunkCallbacks& callbacks) {
    // The output file is made before reading so a folder that cannot take it fails early; it
    // only becomes the destination when the whole body has decrypted.
    if (Outcome<> created = output.create(input.permissions()); !created) {
        return created;
    }
    return finished(decryptInto(input, output, material, expectedHeader, callbacks), input, output);
}

Outcome<> FileCipher::decryptInto(FileInputStream& input, OutputStream& output,
                                  const KeyMaterial& material,
                                  std::optional<std::string_view> expectedHeader,
                                  const ChunkCallbacks& callbacks) {
    const auto line = FileFormat::readHeader(input, material, expectedHeader);
    if (!line) {
        return line.error();
    }
    const auto body = FileFormat::body(input.path(), input.size(), line->size());
    if (!body) {
        return body.error();
    }
    const ChunkPipeline pipeline(ChunkCipher::Direction::Decrypt, material);
    Outcome<> run = pipeline.run(input, body->length, output, callbacks);
    return run ? run : explained(run.error(), input, nullptr);
}

Outcome<ManifestEntry> FileCipher::describe(FileInputStream& input) {
    const auto line = FileFormat::readHeader(input);
    if (!line) {
        return line.error();
    }
    const auto body = FileFormat::body(input.path(), input.size(), line->size());
    if (!body) {
        return body.error();
    }
    ManifestEntry entry{{}, input.size(), sha256(*line), std::vector<Bytes>(body->chunkCount())};
    // The chunks are read with positioned reads and hashed side by side: on this thread, and on
    // one more for each further core while the shared chunk buffers have one free.
    std::atomic<std::uint64_t> next{0};
    std::mutex failing;
    std::optional<Error> failure;
    const auto hashChunks = [&](const ChunkBuffers::Lease& buffer) {
        for (std::uint64_t index = next++; index < entry.chunks.size(); index = next++) {
            const std::size_t length = body->chunkLength(index);
            const auto got = input.readAt(body->chunkStart(index), buffer.data(), length);
            entry.chunks[index] = got && *got == length ? sha256(buffer.data(), length) : Bytes();
            if (entry.chunks[index].empty()) {
                const std::lock_guard lock(failing);
                failure = !got             ? got.error()
                          : *got != length ? Error::of(Errc::sourceChanged, input.path(),
                                                       "the file shrank while it was read")
                                           : Error::of(Errc::cipherUnavailable, input.path(),
                                                       "OpenSSL's SHA-256 failed");
                next = entry.chunks.size();
            }
        }
    };
    if (!entry.chunks.empty()) {
        // The lease that waits comes first: a run that waits for one must hold none.
        const ChunkBuffers::Lease own = ChunkBuffers::shared().take(FileFormat::kCipherChunkSize);
        std::vector<std::jthread> helpers;
        for (std::size_t more = 1;
             more <
             std::min<std::uint64_t>(std::thread::hardware_concurrency(), entry.chunks.size());
             ++more) {
            auto buffer = ChunkBuffers::shared().tryTake(FileFormat::kCipherChunkSize);
            try {
                if (buffer) {
                    helpers.emplace_back(
                        [&hashChunks, lease = std::move(*buffer)] { hashChunks(lease); });
                }
            } catch (const std::system_error&) {
                // The system gives no more threads: the ones there are share the chunks.
            }
        }
        hashChunks(own);
    }
    if (failure) {
        return *failure;
    }
    return entry;
}

Outcome<Bytes> FileCipher::decryptToBytes(const std::string& path, const KeyMaterial& material) {
    FileInputStream input(path);
    if (Outcome<> opened = input.open(); !opened) {
        return opened.error();
    }
    try {
        Bytes plain;
        ByteArrayOutputStream output(plain);
        if (Outcome<> run = decryptInto(input, output, material, std::nullopt); !run) {
            return run.error();
        }
        return plain;
    } catch (const std::bad_alloc&) {
        return Error::system(ENOMEM, path, "cannot hold the plaintext");
    }
}

} // namespace corvix
