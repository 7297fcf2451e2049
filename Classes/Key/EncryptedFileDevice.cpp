#include "EncryptedFileDevice.h"

namespace corvix {

EncryptedFileDevice::EncryptedFileDevice(std::string path, KeyMaterial material,
                                         std::optional<std::string> header, QObject* parent)
    : QIODevice(parent), path_(std::move(path)), material_(std::move(material)),
      header_(std::move(header)) {}

EncryptedFileDevice::~EncryptedFileDevice() = default;

bool EncryptedFileDevice::open(OpenMode mode) {
    if (isOpen() || (mode & ReadWrite) != ReadOnly || (mode & (Append | Truncate | NewOnly))) {
        setErrorString(QStringLiteral("an encrypted file device opens once, for reading only"));
        return false;
    }
    auto reader = std::make_unique<EncryptedFileReader>(path_, material_, header_);
    if (const RunOutcome opened = reader->open(); !opened.succeeded()) {
        setErrorString(QString::fromStdString(opened.reason));
        return false;
    }
    reader_ = std::move(reader);
    // The reader keeps decrypted chunks already; a second buffer in QIODevice would copy them.
    return QIODevice::open(mode | Unbuffered);
}

void EncryptedFileDevice::close() {
    QIODevice::close();
    reader_.reset();
}

qint64 EncryptedFileDevice::size() const {
    return reader_ ? static_cast<qint64>(reader_->size()) : 0;
}

qint64 EncryptedFileDevice::readData(char* data, qint64 maxSize) {
    std::string reason;
    const auto got =
        reader_->read(static_cast<std::uint64_t>(pos()), reinterpret_cast<std::uint8_t*>(data),
                      static_cast<std::size_t>(maxSize), &reason);
    if (!got) {
        setErrorString(QString::fromStdString(reason));
        return -1;
    }
    return static_cast<qint64>(*got);
}

qint64 EncryptedFileDevice::writeData(const char* /*data*/, qint64 /*maxSize*/) {
    return -1;
}

} // namespace corvix
