#pragma once

#include <QIODevice>
#include <corvix/EncryptedFileReader.h>
#include <corvix/KeyMaterial.h>
#include <memory>
#include <optional>
#include <string>

namespace corvix {

/// A read-only, random-access QIODevice over the plaintext of an encrypted file, so that
/// QImageReader, QTextStream and anything else that takes a device read an asset in place,
/// with about 2 MiB of it in memory whatever its size.
///
/// open() takes ReadOnly (with Text if wanted), once, and fails, with errorString(), as
/// EncryptedFileReader::open() does. A chunk that cannot be read or does not decrypt fails the
/// read that touches it (-1, errorString() says why). Like every QIODevice, one thread uses it
/// at a time.
class EncryptedFileDevice final : public QIODevice {
public:
    /// A device over a file whose header line decrypts to the system's header text.
    EncryptedFileDevice(std::string path, KeyMaterial material, QObject* parent = nullptr);
    /// `header`: the text the header line must decrypt to; nothing takes it unread.
    EncryptedFileDevice(std::string path, KeyMaterial material, std::optional<std::string> header,
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
    std::unique_ptr<EncryptedFileReader> reader_; // none once closed
};

} // namespace corvix
