#include "server/PinTestPrinters.h"
#include "server/pin/CodeGenerator.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace tarvina::server;

namespace {

// Plays back a list of draws and records the bounds asked for.
class ScriptedRandom final : public CodeRandom {
public:
    explicit ScriptedRandom(QList<quint32> values) : values_(std::move(values)) {}
    quint32 below(quint32 bound) override {
        bounds << bound;
        return values_.isEmpty() ? 0 : values_.takeFirst();
    }
    QList<quint32> bounds;

private:
    QList<quint32> values_;
};

} // namespace

TEST(PinCodeGen, DrawingRuleCoversOnlyItsRange) {
    ScriptedRandom lowest({0});
    EXPECT_EQ(DrawCode(lowest, [](const QString&) { return false; }), "0003E8");
    EXPECT_EQ(lowest.bounds, QList<quint32>{16776215u});
    ScriptedRandom highest({16776214u});
    EXPECT_EQ(DrawCode(highest, [](const QString&) { return false; }), "FFFFFE");

    SeededCodeRandom seeded(12345);
    for (int i = 0; i < 2000; ++i) {
        const QString code = DrawCode(seeded, [](const QString&) { return false; });
        ASSERT_TRUE(IsWellFormedCode(code)) << code.toStdString();
        const uint v = code.toUInt(nullptr, 16);
        ASSERT_GE(v, 1000u);
        ASSERT_LE(v, 16777214u);
    }
}

TEST(PinCodeGen, LiveCodeIsRedrawnDeletedCodeAccepted) {
    // The lookup answers for live codes only: a deleted code is not one.
    const QSet<QString> live = {"0003E9", "0003EA"};
    ScriptedRandom random({1, 2, 3});
    QStringList asked;
    const QString code = DrawCode(random, [&](const QString& c) {
        asked << c;
        return live.contains(c);
    });
    EXPECT_EQ(code, "0003EB");
    EXPECT_EQ(asked, (QStringList{"0003E9", "0003EA", "0003EB"}));

    ScriptedRandom stuck({});
    EXPECT_THROW(DrawCode(stuck, [](const QString&) { return true; }), std::runtime_error);
}

TEST(PinCodeGen, WellFormedCodesAndBatchTime) {
    EXPECT_TRUE(IsWellFormedCode(QStringLiteral("0A1B2F")));
    EXPECT_TRUE(IsWellFormedCode(QByteArrayView("FFFFFE")));
    EXPECT_FALSE(IsWellFormedCode(QStringLiteral("0a1b2f")));  // lower case
    EXPECT_FALSE(IsWellFormedCode(QStringLiteral("0A1B2F0"))); // seven characters
    EXPECT_FALSE(IsWellFormedCode(QStringLiteral("0A1B2")));
    EXPECT_FALSE(IsWellFormedCode(QStringLiteral("0A1B2G")));
    EXPECT_FALSE(IsWellFormedCode(QByteArrayView("0A\xc1"
                                                 "B2F",
                                                 6)));
    EXPECT_FALSE(IsWellFormedCode(QByteArrayView("0A\0B2F", 6)));
    EXPECT_FALSE(IsWellFormedCode(QStringLiteral("")));

    EXPECT_FALSE(CreateButtonEnabled("abc"));
    EXPECT_FALSE(CreateButtonEnabled("0"));
    EXPECT_FALSE(CreateButtonEnabled("-5"));
    EXPECT_FALSE(CreateButtonEnabled(""));
    EXPECT_FALSE(CreateButtonEnabled("99999999999")); // wider than the balance field
    EXPECT_TRUE(CreateButtonEnabled("45"));
    EXPECT_EQ(BatchMinutes("45"), 45);
    EXPECT_EQ(BatchMinutes("abc"), 0);
}
