#include "Cipher/ChunkCipher.h"
#include "Files/FileInputStream.h"
#include "Format/FileFormat.h"

#include <algorithm>
#include <array>
#include <corvix/EncryptedFileReader.h>
#include <cstring>
#include <mutex>

namespace corvix {

namespace {

constexpr std::uint64_t kPlainChunk = FileFormat::kPlainChunkSize;
constexpr std::size_t kBlock = ChunkCipher::kBlockSize;

/// A decrypted chunk, or none (`index` empty); `data` takes the ciphertext first and is
/// decrypted in place, so a kept chunk costs one buffer.
struct Slot {
    std::optional<std::uint64_t> index;
    std::size_t length = 0;
    std::unique_ptr<std::uint8_t[]> data;
};

} // namespace

struct EncryptedFileReader::State {
    State(std::string path, KeyMaterial key, std::optional<std::string> headerText,
          std::optional<ManifestEntry> entry)
        : file(path), material(std::move(key)), header(std::move(headerText)),
          listed(std::move(entry)), cipher(ChunkCipher::Direction::Decrypt, material) {}

    [[nodiscard]] Outcome<> open();
    [[nodiscard]] Outcome<std::size_t> lastChunkLength() const;
    [[nodiscard]] Outcome<const Slot*> chunk(std::uint64_t index);
    [[nodiscard]] Outcome<> load(Slot& slot, std::uint64_t index);

    FileInputStream file;
    KeyMaterial material;
    std::optional<std::string> header;
    std::optional<ManifestEntry> listed;
    ChunkCipher cipher;
    bool opened = false;
    FileFormat::Body body;
    std::uint64_t size = 0;
    std::mutex mutex;
    std::array<Slot, 2> slots; // slots[0] is the one used last
};

EncryptedFileReader::EncryptedFileReader(std::string path, KeyMaterial material)
    : EncryptedFileReader(std::move(path), std::move(material),
                          std::string(FileFormat::kHeaderText)) {}

EncryptedFileReader::EncryptedFileReader(std::string path, KeyMaterial material,
                                         std::optional<std::string> header)
    : EncryptedFileReader(std::move(path), std::move(material), std::move(header), std::nullopt) {}

EncryptedFileReader::EncryptedFileReader(std::string path, KeyMaterial material,
                                         std::optional<std::string> header,
                                         std::optional<ManifestEntry> listed)
    : state_(std::make_unique<State>(std::move(path), std::move(material), std::move(header),
                                     std::move(listed))) {}

EncryptedFileReader::~EncryptedFileReader() = default;

bool EncryptedFileReader::isOpen() const {
    return state_->opened;
}

const std::string& EncryptedFileReader::path() const {
    return state_->file.path();
}

std::uint64_t EncryptedFileReader::size() const {
    return state_->size;
}

Outcome<> EncryptedFileReader::open() {
    return state_->opened ? Outcome<>() : state_->open();
}

Outcome<> EncryptedFileReader::State::open() {
    if (Outcome<> usable = ChunkCipher::available(material); !usable) {
        return Error{usable.error().code, file.path(), usable.error().reason};
    }
    if (Outcome<> opened = file.open(); !opened) {
        return opened;
    }
    const auto line = FileFormat::readHeader(file, material, header);
    if (!line) {
        return line.error();
    }
    if (listed) {
        if (Outcome<> same = listed->checkOpening(file.path(), *line, file.size()); !same) {
            return same;
        }
    }
    auto laidOut = FileFormat::body(file.path(), file.size(), line->size());
    if (!laidOut) {
        return laidOut.error();
    }
    body = *laidOut;
    if (body.chunkCount() > 0) {
        const auto lastLength = lastChunkLength();
        if (!lastLength) {
            return lastLength.error();
        }
        size = (body.chunkCount() - 1) * kPlainChunk + *lastLength;
    }
    opened = true;
    return {};
}

Outcome<std::size_t> EncryptedFileReader::read(std::uint64_t offset, std::uint8_t* buffer,
                                               std::size_t n) {
    State& state = *state_;
    if (!state.opened) {
        return Error::of(Errc::notOpen, path(), "is not open");
    }
    if (offset >= state.size) {
        return std::size_t{0};
    }
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, state.size - offset));
    const std::lock_guard lock(state.mutex);
    for (std::size_t done = 0; done < n;) {
        const std::uint64_t at = offset + done;
        const auto slot = state.chunk(at / kPlainChunk);
        if (!slot) {
            return slot.error();
        }
        const auto within = static_cast<std::size_t>(at % kPlainChunk);
        const std::size_t count = std::min(n - done, (*slot)->length - within);
        std::memcpy(buffer + done, (*slot)->data.get() + within, count);
        done += count;
    }
    return n;
}

Outcome<const Slot*> EncryptedFileReader::State::chunk(std::uint64_t index) {
    auto slot = std::find_if(slots.begin(), slots.end(),
                             [index](const Slot& kept) { return kept.index == index; });
    const bool kept = slot != slots.end();
    if (!kept) {
        // An empty slot first, else the one used longest ago: the last, where the search ends.
        slot = std::find_if(slots.begin(), slots.end() - 1,
                            [](const Slot& candidate) { return !candidate.index; });
    }
    std::rotate(slots.begin(), slot, slot + 1);
    Slot& front = slots.front();
    if (!kept) {
        if (Outcome<> loaded = load(front, index); !loaded) {
            front.index.reset();
            return loaded.error();
        }
    }
    return &front;
}

Outcome<std::size_t> EncryptedFileReader::State::lastChunkLength() const {
    // CBC decrypts a block with the block before it as its IV (the file's IV for a chunk's
    // first), and only the padding of the last block can fail: decrypting that block alone tells
    // the chunk's length, which the chunk rule then checks.
    const std::uint64_t index = body.chunkCount() - 1;
    const std::size_t length = body.chunkLength(index);
    const std::size_t tailLength = length > kBlock ? 2 * kBlock : kBlock;
    std::array<std::uint8_t, 2 * kBlock> tail{};
    const auto got =
        file.readAt(body.chunkStart(index) + length - tailLength, tail.data(), tailLength);
    if (!got || *got != tailLength) {
        return got ? FileFormat::chunkFailure(file.path(), index) : got.error();
    }
    std::array<std::uint8_t, 2 * kBlock> plain{};
    ChunkCipher last(ChunkCipher::Direction::Decrypt, material);
    const auto produced = last.run(tail.data() + tailLength - kBlock, kBlock, plain.data(),
                                   tailLength == 2 * kBlock ? tail.data() : nullptr);
    if (!produced) {
        return FileFormat::chunkFailure(file.path(), index);
    }
    const std::size_t plainLength = length - kBlock + *produced;
    if (Outcome<> kept = FileFormat::checkChunk(file.path(), index, true, plainLength); !kept) {
        return kept.error();
    }
    return plainLength;
}

Outcome<> EncryptedFileReader::State::load(Slot& slot, std::uint64_t index) {
    const std::size_t length = body.chunkLength(index);
    if (!slot.data) {
        slot.data =
            std::make_unique_for_overwrite<std::uint8_t[]>(FileFormat::kCipherChunkSize + kBlock);
    }
    const auto got = file.readAt(body.chunkStart(index), slot.data.get(), length);
    if (!got) {
        return got.error();
    }
    if (*got != length) {
        return Error::of(Errc::sourceChanged, file.path(),
                         "the file ends inside chunk " + std::to_string(index + 1) +
                             ": it was cut short after it was opened");
    }
    if (listed) {
        if (Outcome<> same = listed->checkChunk(file.path(), index, slot.data.get(), length);
            !same) {
            return same;
        }
    }
    const auto produced = cipher.run(slot.data.get(), length, slot.data.get());
    if (!produced) {
        return FileFormat::chunkFailure(file.path(), index);
    }
    const bool last = index + 1 == body.chunkCount();
    if (Outcome<> kept = FileFormat::checkChunk(file.path(), index, last, *produced); !kept) {
        return kept.error();
    }
    // The last chunk must also keep the length open() found: the file may have changed since.
    if (last && (body.chunkCount() - 1) * kPlainChunk + *produced != size) {
        return Error::of(Errc::sourceChanged, file.path(),
                         "the last chunk changed after the file was opened");
    }
    slot.index = index;
    slot.length = *produced;
    return {};
}

} // namespace corvix
