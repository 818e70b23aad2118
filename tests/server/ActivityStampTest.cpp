#include "server/shell/ActivityStamp.h"

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

TEST(ActivityStamp, WritesEightBytesAndReadsThemBack) {
    test::TempDir dir;
    const ActivityStamp stamp(dir.path());
    const DateTime fallback = DateTime::FromParts(2024, 1, 1, 0, 0, 0);
    EXPECT_EQ(stamp.read(fallback), fallback); // none yet
    const DateTime t = DateTime::FromParts(2024, 3, 4, 10, 30, 15);
    ASSERT_TRUE(stamp.write(t));
    EXPECT_EQ(QFileInfo(stamp.path()).size(), 8);
    EXPECT_EQ(QFileInfo(stamp.path()).fileName(), QStringLiteral("taquilla.dtu"));
    EXPECT_DOUBLE_EQ(stamp.read(fallback).days(), t.days());
}

TEST(ActivityStamp, DamagedStampsGiveTheFallback) {
    test::TempDir dir;
    const ActivityStamp stamp(dir.path());
    const DateTime fallback = DateTime::FromParts(2024, 1, 1, 0, 0, 0);
    for (const QByteArray& bytes :
         {QByteArray("abc"), Double(45000.5) + "x", Double(std::nan("")),
          Double(std::numeric_limits<double>::infinity()), Double(-3), Double(1e12)}) {
        WriteRaw(stamp.path(), bytes);
        EXPECT_EQ(stamp.read(fallback), fallback) << bytes.toHex().toStdString();
    }
}

TEST(ActivityStamp, AFolderThatCannotBeWrittenIsReported) {
    test::TempDir dir;
    WriteRaw(dir.file("no-folder"), "a file where the folder should be");
    const ActivityStamp stamp(dir.file("no-folder"));
    QString error;
    EXPECT_FALSE(stamp.write(DateTime::FromParts(2024, 3, 4, 10, 0, 0), &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
} // namespace tarvina::server
