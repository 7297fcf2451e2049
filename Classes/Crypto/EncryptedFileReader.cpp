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
    if (!ChunkCipher::acceptsKeyMaterial(material_.key, material_.iv)) {
        return RunOutcome::failed("the key must be 16, 24 or 32 bytes and the IV at least 16");
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
        const Slot* last = chunk(chunkCount_ - 1, reason);
        if (last == nullptr) {
            return RunOutcome::failed(reason);
        }
        size_ = (chunkCount_ - 1) * kPlainChunk + last->length;
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

bool EncryptedFileReader::load(Slot& slot, std::uint64_t index, std::string& reason) {
    // Chunks are counted from 1 in messages, as the file decryptors count them.
    const std::string name = "chunk " + std::to_string(index + 1);
    const bool last = index + 1 == chunkCount_;
    const std::uint64_t start = bodyStart_ + index * kCipherChunk;
    const auto length =
        static_cast<std::size_t>(last ? bodyLength_ - index * kCipherChunk : kCipherChunk);
    if (!slot.data) {
        slot.data =
            std::make_unique_for_overwrite<std::uint8_t[]>(kCipherChunk + ChunkCipher::kBlockSize);
    }
    std::error_code error;
    if (file_.readAt(start, slot.data.get(), length, error) != length) {
        reason = error ? "cannot read " + path_ + ": " + error.message()
                       : "the file ends inside " + name + ": it was cut short after it was opened";
        return false;
    }
    const auto produced = cipher_.run(slot.data.get(), length, slot.data.get());
    if (!produced) {
        reason = name + " (file bytes " + std::to_string(start) + " to " +
                 std::to_string(start + length) + ") does not decrypt (wrong key or damaged data)";
        return false;
    }
    // Only the last chunk may be short; once its length is known it must not change either.
    const bool lengthKnown = !last || opened_;
    const std::uint64_t expected = last ? size_ - index * kPlainChunk : kPlainChunk;
    if (lengthKnown && *produced != expected) {
        reason = name + " decrypts to " + std::to_string(*produced) + " bytes where " +
                 std::to_string(expected) + " belong: the file changed or is not of the format";
        return false;
    }
    slot.index = index;
    slot.length = *produced;
    return true;
}

} // namespace corvix
