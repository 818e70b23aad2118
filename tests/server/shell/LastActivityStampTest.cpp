#include "server/shell/LastActivityStamp.h"

#include "support/TempDir.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace tarvina::server {
namespace {

using common::DateTime;

void WriteRaw(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray Double(double d) {
    return QByteArray(reinterpret_cast<const char*>(&d), sizeof d);
}

TEST(LastActivityStamp, WritesEightLittleEndianBytesAndReadsThemBack) {
    test::TempDir dir;
    const LastActivityStamp stamp(LastActivityStamp::PathFor(dir.path(), "taquilla"));
    EXPECT_FALSE(stamp.read().has_value()); // none yet
    const DateTime t = DateTime::FromParts(2024, 3, 4, 10, 30, 15);
    ASSERT_TRUE(stamp.write(t));
    EXPECT_EQ(QFileInfo(stamp.path()).fileName(), QStringLiteral("taquilla.dtu"));
    QFile f(stamp.path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), Double(t.days())); // this machine is little-endian, as the file
    ASSERT_TRUE(stamp.read().has_value());
    EXPECT_DOUBLE_EQ(stamp.read()->days(), t.days());
}

TEST(LastActivityStamp, DamagedStampsReadAsNone) {
    test::TempDir dir;
    const LastActivityStamp stamp(dir.file("taquilla.dtu"));
    for (const QByteArray& bytes :
         {QByteArray("abc"), Double(45000.5) + "x", Double(std::nan("")),
          Double(std::numeric_limits<double>::infinity()), Double(-3), Double(1e12)}) {
        WriteRaw(stamp.path(), bytes);
        EXPECT_FALSE(stamp.read().has_value()) << bytes.toHex().toStdString();
    }
}

TEST(LastActivityStamp, AFolderThatCannotBeWrittenIsReported) {
    test::TempDir dir;
    WriteRaw(dir.file("no-folder"), "a file where the folder should be");
    const LastActivityStamp stamp(dir.file("no-folder") + QStringLiteral("/taquilla.dtu"));
    QString error;
    EXPECT_FALSE(stamp.write(DateTime::FromParts(2024, 3, 4, 10, 0, 0), &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
} // namespace tarvina::server
