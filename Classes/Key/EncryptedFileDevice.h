#pragma once

#include "../Crypto/EncryptedFileReader.h"
#include "KeyMaterial.h"

#include <QIODevice>
#include <memory>
#include <string>

namespace corvix {

/// A read-only, random-access QIODevice over the plaintext of an encrypted file, so that
/// QImageReader, QTextStream and anything else that takes a device read an asset in place,
/// with about 2 MiB of it in memory whatever its size.
///
/// open() takes ReadOnly (with Text if wanted) and fails, with errorString(), as
/// EncryptedFileReader::open() does. A chunk that cannot be read or does not decrypt fails the
/// read that touches it (-1, errorString() says why). Like every QIODevice, one thread uses it
/// at a time.
class EncryptedFileDevice final : public QIODevice {
public:
    EncryptedFileDevice(std::string path, KeyMaterial material,
                        std::optional<std::string> header = std::string(FileCipher::kHeaderText),
                        QObject* parent = nullptr);
    ~EncryptedFileDevice() override;

    bool open(OpenMode mode) override;
    void close() override;
    [[nodiscard]] bool isSequential() const override { return false; }
    [[nodiscard]] qint64 size() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    std::string path_;
    KeyMaterial material_;
    std::optional<std::string> header_;
    std::unique_ptr<EncryptedFileReader> reader_;
};

} // namespace corvix
