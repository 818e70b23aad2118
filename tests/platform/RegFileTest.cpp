#include "platform/RegFile.h"

#include <gtest/gtest.h>
#include <random>

using namespace tarvina::platform;

TEST(RegFile, ReadsWhatRegeditWrites) {
    // CR LF line ends, a byte-order mark, comments, a wrapped hex value,
    // abbreviations of the root and an upper-case dword.
    const QByteArray text = "\xEF\xBB\xBFREGEDIT4\r\n\r\n; comment\r\n"
                            "[HKEY_LOCAL_MACHINE\\Software\\Velt\\Tarvina\\Background]\r\n"
                            "\"uno.jpg\"=dword:0000000A\r\n"
                            "\"Raw\"=hex:01,02,\\\r\n  03,04\r\n"
                            "  \"Spaced\" = \"v\"  \r\n"
                            "[HKLM\\Software]\r\n@=\"d\"\r\n";
    const RegParseResult r = ParseRegFile(text, Root::LocalMachine);
    EXPECT_TRUE(r.problems.isEmpty()) << r.problems.join("; ").toStdString();
    const QString bg = "Software\\Velt\\Tarvina\\Background";
    ASSERT_NE(r.tree.findValue(bg, "UNO.JPG"), nullptr);
    EXPECT_EQ(r.tree.findValue(bg, "uno.jpg")->integer, 10);
    EXPECT_EQ(r.tree.findValue(bg, "raw")->bytes, QByteArray("\x01\x02\x03\x04"));
    EXPECT_EQ(r.tree.findValue(bg, "Spaced")->text, "v");
    EXPECT_EQ(r.tree.findValue("Software", "")->text, "d");
}

TEST(RegFile, SerializeThenParseIsTheIdentity) {
    RegistryTree t;
    const QString weird = QString::fromUtf8("\\\"\r\n\t ;[]=@ ñ €") + QChar(0x1F);
    t.setValue("A\\B", {weird, ValueKind::Text, weird, 0, {}});
    t.setValue("A\\B", {"n", ValueKind::Integer, {}, std::numeric_limits<qint32>::min(), {}});
    t.setValue("A", {"empty", ValueKind::Binary, {}, 0, QByteArray()});
    t.setValue("A", {"s", ValueKind::Text, QString(), 0, {}});
    const QByteArray text = SerializeRegFile(t, Root::CurrentUser);
    const RegParseResult r = ParseRegFile(text, Root::CurrentUser);
    EXPECT_TRUE(r.problems.isEmpty());
    EXPECT_EQ(SerializeRegFile(r.tree, Root::CurrentUser), text);
    EXPECT_EQ(r.tree.findValue("a\\b", weird)->text, weird);
    EXPECT_EQ(r.tree.findValue("a\\b", "N")->integer, std::numeric_limits<qint32>::min());
    EXPECT_EQ(r.tree.findValue("a", "empty")->kind, ValueKind::Binary);
    EXPECT_EQ(r.tree.findValue("a", "s")->kind, ValueKind::Text);
}

TEST(RegFile, RandomDamageNeverCrashesAndKeepsBounds) {
    RegistryTree t;
    for (int i = 0; i < 30; ++i) {
        t.setValue("Software\\Velt\\Tarvina",
                   {QString("v%1").arg(i), ValueKind::Text, QString("texto %1").arg(i), 0, {}});
        t.setValue("Software\\Velt\\Tarvina\\Background",
                   {QString("b%1.jpg").arg(i), ValueKind::Integer, {}, i, {}});
        t.setValue("Software", {QString("h%1").arg(i), ValueKind::Binary, {}, 0, "\x01\x02"});
    }
    const QByteArray good = SerializeRegFile(t, Root::CurrentUser);
    std::mt19937 rng(5);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bad = good;
        const int edits = 1 + int(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = qsizetype(rng() % bad.size());
            switch (rng() % 4) {
            case 0:
                bad[at] = char(rng() % 256);
                break;
            case 1:
                bad.remove(at, qsizetype(rng() % 20));
                break;
            case 2:
                bad.insert(at, QByteArray(int(rng() % 5), "\\\"[]\n"[rng() % 5]));
                break;
            default:
                bad.truncate(at);
                break;
            }
            if (bad.isEmpty())
                bad = "[";
        }
        const RegParseResult r = ParseRegFile(bad, Root::CurrentUser);
        ASSERT_LE(r.problems.size(), kMaxReportedProblems);
        // Whatever was understood serializes to a file that parses cleanly.
        const QByteArray again = SerializeRegFile(r.tree, Root::CurrentUser);
        ASSERT_TRUE(ParseRegFile(again, Root::CurrentUser).problems.isEmpty()) << round;
    }
    // Files over the size limit are cut, not read whole.
    const RegParseResult big =
        ParseRegFile(QByteArray(kMaxRegFileSize + 10, '\n'), Root::CurrentUser);
    EXPECT_FALSE(big.problems.isEmpty());
}

TEST(RegFile, EntryCountIsBounded) {
    QByteArray text = "REGEDIT4\n\n";
    for (int i = 0; i < kMaxRegEntries + 50; ++i)
        text += "[HKEY_CURRENT_USER\\k" + QByteArray::number(i) + "]\n";
    const RegParseResult r = ParseRegFile(text, Root::CurrentUser);
    EXPECT_EQ(r.tree.keys().size(), kMaxRegEntries);
    EXPECT_EQ(r.skippedLines, 50);
    EXPECT_TRUE(r.problems.first().contains("too many"));
}
