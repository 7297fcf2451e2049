#include "EncryptedFileReader.h"

#include "FileCipher.h"
#include "HeaderCheck.h"

#include <algorithm>
#include <cstring>

namespace corvix {

namespace {

constexpr std::uint64_t kPlainChunk = FileCipher::kPlainChunkSize;
constexpr std::uint64_t kCipherChunk = FileCipher::kCipherChunkSize;

} // namespace

EncryptedFileReader::EncryptedFileReader(std::string path, KeyMaterial material,
                                         std::optional<std::string> header)
    : path_(std::move(path)), material_(std::move(material)), header_(std::move(header)),
      file_(path_), cipher_(ChunkCipher::Direction::Decrypt, material_.key, material_.iv) {}

RunOutcome EncryptedFileReader::open() {
    if (auto problem = ChunkCipher::problemWith(material_.key, material_.iv)) {
        return RunOutcome::failed(*problem);
    }
    if (!file_.open()) {
        return RunOutcome::failed("cannot open " + path_ + ": " + file_.error().message());
    }
    if (header_) {
        if (RunOutcome checked = HeaderCheck::check(file_, *header_, material_);
            !checked.succeeded()) {
            return checked;
        }
    }
    const auto fileSize = file_.size();
    const auto headerLength = file_.skipPast(FileCipher::kHeaderEnd);
    if (!fileSize || !headerLength || *headerLength >= *fileSize) {
        if (file_.error()) {
            return RunOutcome::failed("cannot read " + path_ + ": " + file_.error().message());
        }
        return RunOutcome::failed("no header terminator (0x0D): not an encrypted file");
    }
    bodyStart_ = *headerLength + 1;
    bodyLength_ = *fileSize - bodyStart_;
    if (bodyLength_ % ChunkCipher::kBlockSize != 0) {
        return RunOutcome::failed("truncated body (" + std::to_string(bodyLength_) +
                                  " bytes, not whole 16-byte blocks)");
    }
    chunkCount_ = (bodyLength_ + kCipherChunk - 1) / kCipherChunk;
    if (chunkCount_ > 0) {
        std::string reason;
        const auto lastLength = lastChunkLength(reason);
        if (!lastLength) {
            return RunOutcome::failed(reason);
        }
        size_ = (chunkCount_ - 1) * kPlainChunk + *lastLength;
    }
    opened_ = true;
    return RunOutcome::completed();
}

std::optional<std::size_t> EncryptedFileReader::read(std::uint64_t offset, std::uint8_t* buffer,
                                                     std::size_t n, std::string* reason) {
    if (!opened_) {
        if (reason != nullptr) {
            *reason = path_ + " is not open";
        }
        return std::nullopt;
    }
    if (offset >= size_) {
        return 0;
    }
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - offset));
    const std::lock_guard lock(mutex_);
    std::string why;
    for (std::size_t done = 0; done < n;) {
        const std::uint64_t at = offset + done;
        const Slot* slot = chunk(at / kPlainChunk, why);
        if (slot == nullptr) {
            if (reason != nullptr) {
                *reason = why;
            }
            return std::nullopt;
        }
        const auto within = static_cast<std::size_t>(at % kPlainChunk);
        const std::size_t count = std::min(n - done, slot->length - within);
        std::memcpy(buffer + done, slot->data.get() + within, count);
        done += count;
    }
    return n;
}

const EncryptedFileReader::Slot* EncryptedFileReader::chunk(std::uint64_t index,
                                                            std::string& reason) {
    auto slot = std::find_if(slots_.begin(), slots_.end(),
                             [index](const Slot& kept) { return kept.index == index; });
    const bool kept = slot != slots_.end();
    if (!kept) {
        // An empty slot first, else the one used longest ago.
        slot = std::find_if(slots_.begin(), slots_.end(),
                            [](const Slot& candidate) { return !candidate.index; });
        if (slot == slots_.end()) {
            slot = slots_.end() - 1;
        }
    }
    std::rotate(slots_.begin(), slot, slot + 1);
    Slot& front = slots_.front();
    if (!kept && !load(front, index, reason)) {
        front.index.reset();
        return nullptr;
    }
    return &front;
}

EncryptedFileReader::Place EncryptedFileReader::place(std::uint64_t index) const {
    const bool last = index + 1 == chunkCount_;
    return {bodyStart_ + index * kCipherChunk,
            static_cast<std::size_t>(last ? bodyLength_ - index * kCipherChunk : kCipherChunk)};
}

std::string EncryptedFileReader::failure(std::uint64_t index, const std::error_code& error) const {
    if (error) {
        return "cannot read " + path_ + ": " + error.message();
    }
    // Chunks are counted from 1 in messages, as the file decryptors count them.
    const auto [start, length] = place(index);
    return "chunk " + std::to_string(index + 1) + " (file bytes " + std::to_string(start) + " to " +
           std::to_string(start + length) + ") does not decrypt (wrong key or damaged data)";
}

std::optional<std::size_t> EncryptedFileReader::lastChunkLength(std::string& reason) const {
    // CBC decrypts a block with the block before it as its IV (the file's IV for a chunk's
    // first), and only the padding of the last block can fail: decrypting that block alone tells
    // the chunk's length and whether the whole chunk would decrypt.
    const std::uint64_t index = chunkCount_ - 1;
    const auto [start, length] = place(index);
    const std::size_t blocks = length > ChunkCipher::kBlockSize ? 2 : 1;
    std::array<std::uint8_t, 2 * ChunkCipher::kBlockSize> tail{};
    std::error_code error;
    const std::size_t tailLength = blocks * ChunkCipher::kBlockSize;
    if (file_.readAt(start + length - tailLength, tail.data(), tailLength, error) != tailLength) {
        reason = failure(index, error);
        return std::nullopt;
    }
    const Bytes iv =
        blocks == 2 ? Bytes(tail.begin(), tail.begin() + ChunkCipher::kBlockSize) : material_.iv;
    std::array<std::uint8_t, 2 * ChunkCipher::kBlockSize> plain{};
    ChunkCipher cipher(ChunkCipher::Direction::Decrypt, material_.key, iv);
    const auto produced = cipher.run(tail.data() + tailLength - ChunkCipher::kBlockSize,
                                     ChunkCipher::kBlockSize, plain.data());
    if (!produced) {
        reason = failure(index, error);
        return std::nullopt;
    }
    return length - ChunkCipher::kBlockSize + *produced;
}

bool EncryptedFileReader::load(Slot& slot, std::uint64_t index, std::string& reason) {
    const auto [start, length] = place(index);
    if (!slot.data) {
        slot.data =
            std::make_unique_for_overwrite<std::uint8_t[]>(kCipherChunk + ChunkCipher::kBlockSize);
    }
    std::error_code error;
    const bool whole = file_.readAt(start, slot.data.get(), length, error) == length;
    const auto produced =
        whole ? cipher_.run(slot.data.get(), length, slot.data.get()) : std::nullopt;
    if (!produced) {
        reason = whole || error ? failure(index, error)
                                : "the file ends inside chunk " + std::to_string(index + 1) +
                                      ": it was cut short after it was opened";
        return false;
    }
    // Every chunk but the last is whole; the last must keep the length open() found.
    const bool last = index + 1 == chunkCount_;
    const std::uint64_t expected = last ? size_ - index * kPlainChunk : kPlainChunk;
    if (*produced != expected) {
        reason = "chunk " + std::to_string(index + 1) + " decrypts to " +
                 std::to_string(*produced) + " bytes where " + std::to_string(expected) +
                 " belong: the file changed or is not of the format";
        return false;
    }
    slot.index = index;
    slot.length = *produced;
    return true;
}

} // namespace corvix
