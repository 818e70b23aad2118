#include "client/session/SessionFile.h"

#include "support/TempDir.h"

#include <QFile>
#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>

using namespace tarvina::client;

namespace {

// A record built byte by byte from the layout, independent of the encoder.
QByteArray HandBuilt(quint8 countMode, double written, double start, const QByteArray& minutes,
                     const QByteArray& user, quint8 state, const QByteArray& pin,
                     const QByteArray& tag) {
    QByteArray r(384, '\0');
    r[0] = static_cast<char>(countMode);
    auto putD = [&](int at, double v) {
        quint64 bits;
        std::memcpy(&bits, &v, 8);
        for (int i = 0; i < 8; ++i)
            r[at + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    };
    putD(8, written);
    putD(16, start);
    auto putS = [&](int at, const QByteArray& s) {
        r[at] = static_cast<char>(s.size());
        for (int i = 0; i < s.size(); ++i)
            r[at + 1 + i] = s[i];
    };
    putS(24, minutes);
    putS(57, user);
    r[313] = static_cast<char>(state);
    putS(314, pin);
    putS(347, tag);
    return r;
}

} // namespace

TEST(SessionFile, EncodesByteForByteAndCutsLongTexts) {
    SessionRecord rec;
    rec.countMode = 1;
    rec.written = 45355.5;
    rec.start = 45355.25;
    rec.minutes = "60";
    rec.user = "Ana Pe\xf1"
               "a";
    rec.state = 2;
    rec.pin = "A1B2C3";
    rec.tag = "-1";
    EXPECT_EQ(EncodeSessionRecord(rec), HandBuilt(1, 45355.5, 45355.25, "60",
                                                  "Ana Pe\xf1"
                                                  "a",
                                                  2, "A1B2C3", "-1"));

    rec.minutes = QByteArray(40, '9');
    rec.user = QByteArray(300, 'u');
    const QByteArray bytes = EncodeSessionRecord(rec);
    ASSERT_EQ(bytes.size(), 384);
    EXPECT_EQ(static_cast<quint8>(bytes[24]), 32);
    EXPECT_EQ(static_cast<quint8>(bytes[57]), 255);
    EXPECT_EQ(bytes[313], 2); // the user did not spill into the state
    const auto back = DecodeSessionRecord(bytes, nullptr);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->minutes, QByteArray(32, '9'));
    EXPECT_EQ(back->user, QByteArray(255, 'u'));
}

TEST(SessionFile, DecodesAHandMadeRecordIgnoringBytesAfterEachText) {
    QByteArray r = HandBuilt(0, 1.0, 45355.4375, "30", "Luis", 2, "", "-1");
    r[24 + 1 + 2] = 'Z'; // junk after the minutes text is not part of it
    QString err;
    const auto rec = DecodeSessionRecord(r, &err);
    ASSERT_TRUE(rec) << err.toStdString();
    EXPECT_EQ(rec->countMode, 0);
    EXPECT_DOUBLE_EQ(rec->start, 45355.4375);
    EXPECT_EQ(rec->minutes, "30");
    EXPECT_EQ(rec->user, "Luis");
    EXPECT_EQ(rec->state, 2);
    EXPECT_TRUE(rec->pin.isEmpty());
    EXPECT_EQ(rec->tag, "-1");
}

TEST(SessionFile, RefusesShortLongAndGarbledRecords) {
    const QByteArray good = HandBuilt(0, 1.0, 45355.4, "30", "Luis", 2, "", "-1");
    QString err;
    EXPECT_FALSE(DecodeSessionRecord(good.left(383), &err));
    EXPECT_FALSE(err.isEmpty());
    EXPECT_FALSE(DecodeSessionRecord(good + 'x', &err));
    EXPECT_FALSE(DecodeSessionRecord(QByteArray(), &err));

    QByteArray bad = good;
    bad[314] = 33; // PIN length beyond its field
    EXPECT_FALSE(DecodeSessionRecord(bad, &err));
    bad = good;
    bad[313] = 7; // no such state
    EXPECT_FALSE(DecodeSessionRecord(bad, &err));
    bad = good;
    bad[0] = 2; // no such count mode
    EXPECT_FALSE(DecodeSessionRecord(bad, &err));
    bad = HandBuilt(0, 1.0, std::numeric_limits<double>::quiet_NaN(), "30", "Luis", 2, "", "-1");
    EXPECT_FALSE(DecodeSessionRecord(bad, &err));
    bad = HandBuilt(0, 1.0, 1e300, "30", "Luis", 2, "", "-1");
    EXPECT_FALSE(DecodeSessionRecord(bad, &err));
}

TEST(SessionFile, FileRoundTripAndMissingFile) {
    tarvina::test::TempDir dir;
    QString err;
    EXPECT_FALSE(ReadSessionFile(dir.file("session.dta"), &err));
    EXPECT_TRUE(err.isEmpty()); // absent is not damaged
    SessionRecord rec;
    rec.user = "Ana";
    rec.minutes = "15";
    rec.start = 45000.5;
    ASSERT_TRUE(WriteSessionFile(dir.file("session.dta"), rec, &err));
    QFile f(dir.file("session.dta"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.size(), 384);
    const auto back = ReadSessionFile(dir.file("session.dta"), &err);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->user, "Ana");
    EXPECT_DOUBLE_EQ(back->start, 45000.5);
}
