// The registry's rules, checked on the in-memory store and on the file store
// alike.
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/FileRegistry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <memory>

using namespace tarvina::platform;

namespace {

const QString kKey = "\\Software\\Velt\\Tarvina";

class RegistryRules : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam())
            reg_ = std::make_unique<FileRegistry>(
                FileRegistry::Paths{dir_.file("user.reg"), dir_.file("machine.reg")});
        else
            reg_ = std::make_unique<MemoryRegistry>();
    }
    tarvina::test::TempDir dir_;
    std::unique_ptr<Registry> reg_;
};

} // namespace

TEST_P(RegistryRules, MissingAndWrongKindValues) {
    Registry& r = *reg_;
    // Missing text is the empty text; missing integer or raw value is an error.
    EXPECT_EQ(r.readString(Root::CurrentUser, kKey, "Pais"), QString());
    EXPECT_EQ(r.readInteger(Root::CurrentUser, kKey, "NLines"), std::nullopt);
    EXPECT_EQ(r.readBinary(Root::CurrentUser, kKey, "Entrada"), std::nullopt);
    EXPECT_FALSE(r.keyExists(Root::CurrentUser, kKey));

    ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "ToolBarFlat", 1));
    ASSERT_TRUE(r.writeString(Root::CurrentUser, kKey, "Pais", "Chile"));
    ASSERT_TRUE(r.writeBinary(Root::CurrentUser, kKey, "Entrada", EncodeDateTimeValue(45292.5)));
    // Any value of another kind is an error, text included.
    EXPECT_EQ(r.readString(Root::CurrentUser, kKey, "ToolBarFlat"), std::nullopt);
    EXPECT_EQ(r.readInteger(Root::CurrentUser, kKey, "Pais"), std::nullopt);
    EXPECT_EQ(r.readBinary(Root::CurrentUser, kKey, "Pais"), std::nullopt);
    EXPECT_EQ(r.readInteger(Root::CurrentUser, kKey, "Entrada"), std::nullopt);
    EXPECT_EQ(r.valueKind(Root::CurrentUser, kKey, "entrada"), ValueKind::Binary);
    EXPECT_EQ(DecodeDateTimeValue(*r.readBinary(Root::CurrentUser, kKey, "Entrada")), 45292.5);
    // The roots are apart.
    EXPECT_FALSE(r.valueExists(Root::LocalMachine, kKey, "Pais"));
    EXPECT_TRUE(r.valueExists(Root::CurrentUser, kKey, "PAIS"));
}

TEST_P(RegistryRules, NamesAndKeysIgnoreCaseAndKeepTheirFirstSpelling) {
    Registry& r = *reg_;
    ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "LastOutSTD", 1));
    ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "Otro", 2));
    ASSERT_TRUE(r.writeInteger(Root::CurrentUser, "software\\VELT\\tarvina\\", "LastOutStd", 3));
    EXPECT_EQ(r.readInteger(Root::CurrentUser, "\\\\SOFTWARE\\velt\\TARVINA", "lastoutstd"), 3);
    EXPECT_EQ(r.valueNames(Root::CurrentUser, kKey), QStringList({"LastOutSTD", "Otro"}));
    EXPECT_TRUE(r.keyExists(Root::CurrentUser, "\\Software\\Velt"));
    EXPECT_TRUE(r.keyExists(Root::CurrentUser, "\\"));
    EXPECT_EQ(r.subKeyNames(Root::CurrentUser, "\\software"), QStringList({"Velt"}));
}

TEST_P(RegistryRules, OrderIsInsertionOrderAndSurvivesRewrites) {
    Registry& r = *reg_;
    const QString banners = kKey + "\\Background";
    for (const char* n : {"zeta.jpg", "alfa.jpg", "medio.bmp"})
        ASSERT_TRUE(r.writeInteger(Root::LocalMachine, banners, n, 5));
    ASSERT_TRUE(r.writeInteger(Root::LocalMachine, banners, "ALFA.JPG", 9)); // keeps its place
    ASSERT_TRUE(r.deleteValue(Root::LocalMachine, banners, "zeta.jpg"));
    ASSERT_TRUE(r.writeInteger(Root::LocalMachine, banners, "Zeta.jpg", 7)); // goes last
    EXPECT_EQ(r.valueNames(Root::LocalMachine, banners),
              QStringList({"alfa.jpg", "medio.bmp", "Zeta.jpg"}));
    EXPECT_EQ(r.readInteger(Root::LocalMachine, banners, "alfa.jpg"), 9);
    EXPECT_FALSE(r.deleteValue(Root::LocalMachine, banners, "nada"));
}

TEST_P(RegistryRules, DeletingKeysTakesTheirSubKeys) {
    Registry& r = *reg_;
    ASSERT_TRUE(r.writeString(Root::LocalMachine, kKey, "Server", "caja"));
    ASSERT_TRUE(r.writeInteger(Root::LocalMachine, kKey + "\\Background", "a.jpg", 5));
    ASSERT_TRUE(r.writeInteger(Root::LocalMachine, "\\Software\\VeltOtro", "x", 1));
    ASSERT_TRUE(r.deleteKey(Root::LocalMachine, "\\software\\velt\\tarvina"));
    EXPECT_FALSE(r.keyExists(Root::LocalMachine, kKey));
    EXPECT_FALSE(r.keyExists(Root::LocalMachine, kKey + "\\Background"));
    EXPECT_TRUE(r.keyExists(Root::LocalMachine, "\\Software\\Velt")); // the parent stays
    EXPECT_TRUE(r.valueExists(Root::LocalMachine, "\\Software\\VeltOtro", "x"));
    EXPECT_FALSE(r.deleteKey(Root::LocalMachine, kKey));
    EXPECT_TRUE(r.createKey(Root::LocalMachine, kKey));
    EXPECT_TRUE(r.keyExists(Root::LocalMachine, kKey));
    EXPECT_TRUE(r.valueNames(Root::LocalMachine, kKey).isEmpty());
    // Names a file line cannot carry are refused, not mangled.
    EXPECT_FALSE(r.writeString(Root::LocalMachine, "\\a\nb", "x", "y"));
    EXPECT_FALSE(r.writeString(Root::LocalMachine, kKey, QString(20000, u'n'), "y"));
}

INSTANTIATE_TEST_SUITE_P(Stores, RegistryRules, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "File" : "Memory"; });

TEST(MemoryRegistry, FailedSavesAreReportedAndTheBatchSavesOnce) {
    MemoryRegistry r;
    {
        SaveBatch batch(r);
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, QString::number(i), i));
        EXPECT_EQ(r.saveCount(), 0);
    }
    EXPECT_EQ(r.saveCount(), 1);
    r.setFailSaves(true);
    EXPECT_FALSE(r.writeString(Root::CurrentUser, kKey, "Pais", "Chile"));
    EXPECT_TRUE(r.isDirty(Root::CurrentUser));
    EXPECT_EQ(r.readString(Root::CurrentUser, kKey, "Pais"), QString("Chile"));
    r.setFailSaves(false);
    EXPECT_TRUE(r.flush());
    EXPECT_FALSE(r.isDirty(Root::CurrentUser));
}
