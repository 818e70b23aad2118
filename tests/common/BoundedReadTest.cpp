#include "common/BoundedRead.h"

#include "support/TempDir.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace tarvina::common;

TEST(BoundedRead, ASmallFileUnderALargeBoundCostsWhatItHoldsAndALargeOneIsCut) {
    tarvina::test::TempDir dir;
    const QString path = dir.file("user.reg");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("REGEDIT4\n");
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray small = ReadAtMost(f, 16 * 1024 * 1024 + 1);
    EXPECT_EQ(small, "REGEDIT4\n");
    EXPECT_LT(small.capacity(), 1024 * 1024);

    const QByteArray big(200 * 1024 + 7, 'x');
    {
        QFile w(path);
        ASSERT_TRUE(w.open(QIODevice::WriteOnly | QIODevice::Truncate));
        w.write(big);
    }
    QFile again(path);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(ReadAtMost(again, 150 * 1024 + 1).size(), 150 * 1024 + 1);
    EXPECT_EQ(ReadAtMost(again, 1 << 20).size(), big.size() - (150 * 1024 + 1));
}
