#include <corvix/EncryptedFileDevice.h>

namespace corvix {

EncryptedFileDevice::EncryptedFileDevice(std::string path, KeyMaterial material, QObject* parent)
    : QIODevice(parent),
      reader_(std::make_unique<EncryptedFileReader>(std::move(path), std::move(material))) {}

EncryptedFileDevice::EncryptedFileDevice(std::string path, KeyMaterial material,
                                         std::optional<std::string> header, QObject* parent)
    : QIODevice(parent), reader_(std::make_unique<EncryptedFileReader>(
                             std::move(path), std::move(material), std::move(header))) {}

EncryptedFileDevice::~EncryptedFileDevice() = default;

bool EncryptedFileDevice::open(OpenMode mode) {
    if (!reader_ || isOpen() || (mode & ReadWrite) != ReadOnly ||
        (mode & (Append | Truncate | NewOnly))) {
        setErrorString(QStringLiteral("an encrypted file device opens once, for reading only"));
        return false;
    }
    if (const Outcome<> opened = reader_->open(); !opened) {
        reader_.reset();
        setErrorString(QString::fromStdString(opened.error().message()));
        return false;
    }
    // The reader keeps decrypted chunks already; a second buffer in QIODevice would copy them.
    return QIODevice::open(mode | Unbuffered);
}

void EncryptedFileDevice::close() {
    QIODevice::close();
    reader_.reset();
}

qint64 EncryptedFileDevice::size() const {
    return reader_ && isOpen() ? static_cast<qint64>(reader_->size()) : 0;
}

qint64 EncryptedFileDevice::readData(char* data, qint64 maxSize) {
    const auto got =
        reader_->read(static_cast<std::uint64_t>(pos()), reinterpret_cast<std::uint8_t*>(data),
                      static_cast<std::size_t>(maxSize));
    if (!got) {
        setErrorString(QString::fromStdString(got.error().message()));
        return -1;
    }
    return static_cast<qint64>(*got);
}

qint64 EncryptedFileDevice::writeData(const char* /*data*/, qint64 /*maxSize*/) {
    return -1;
}

} // namespace corvix
