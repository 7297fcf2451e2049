// The QIODevice over an encrypted file: the table of reads through seek() and read().

#include "ReadRanges.h"

#include <corvix/CorvixKey.h>
#include <corvix/EncryptedFileDevice.h>
#include <gtest/gtest.h>

namespace corvix {

TEST(EncryptedFileDevice, EveryRangeReadsAsThePlaintext) {
    const test::Scratch dir;
    const Bytes plain = test::sealRangesFile(dir.path());
    EncryptedFileDevice device((dir / "file.enc").string(), *CorvixKey::material());
    ASSERT_TRUE(device.open(QIODevice::ReadOnly)) << device.errorString().toStdString();
    EXPECT_EQ(device.size(), static_cast<qint64>(plain.size()));
    for (const auto& [name, offset, length] : test::readRanges()) {
        ASSERT_TRUE(device.seek(offset)) << name;
        const QByteArray read = device.read(length);
        EXPECT_EQ(Bytes(read.begin(), read.end()), test::bytesIn(plain, offset, length)) << name;
    }
}

} // namespace corvix
