#include "client/station/ClientSettings.h"

#include "common/Password.h"
#include "platform/fake/MemoryRegistry.h"

#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using platform::Root;

namespace {
const QString kKey = QStringLiteral("\\Software\\Velt\\Tarvina");
}

TEST(ClientSettings, WithoutTheKeyEveryDefaultStands) {
    platform::MemoryRegistry reg;
    const ClientSettings s = ClientSettings::Read(reg);
    EXPECT_EQ(s.password, common::ScramblePassword("mirlo"));
    EXPECT_EQ(s.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(s.background, QStringLiteral("zu26x.gif"));
    EXPECT_EQ(s.alarmSnd, QStringLiteral("alarm.wav"));
    EXPECT_EQ(s.intDisconn, 2000);
    EXPECT_EQ(s.intConn, 5000);
    EXPECT_EQ(s.intNewConn, 1500);
    EXPECT_EQ(s.timeout, 0);
    EXPECT_EQ(s.alphaBlend, 255);
    EXPECT_FALSE(s.msgAtBlock);
}

TEST(ClientSettings, NegativeIntervalsAndMistypedValuesTakeDefaultsZeroIsKept) {
    platform::MemoryRegistry reg;
    reg.writeInteger(Root::LocalMachine, kKey, "IntConn", -5);
    reg.writeInteger(Root::LocalMachine, kKey, "IntDisconn", 0);
    reg.writeString(Root::LocalMachine, kKey, "IntNewConn", "700"); // wrong kind
    reg.writeInteger(Root::LocalMachine, kKey, "MsgAtBlock", 1);
    reg.writeInteger(Root::LocalMachine, kKey, "AlphaBlend", 128);
    reg.writeString(Root::LocalMachine, kKey, "WinBackgroundStyle", "2");
    reg.writeString(Root::LocalMachine, kKey, "WinBackgroundTile", "x");
    reg.writeString(Root::LocalMachine, kKey, "Password", "");
    const ClientSettings s = ClientSettings::Read(reg);
    EXPECT_EQ(s.intConn, 5000);
    EXPECT_EQ(s.intDisconn, 0);
    EXPECT_EQ(s.intNewConn, 1500);
    EXPECT_TRUE(s.msgAtBlock);
    EXPECT_EQ(s.alphaBlend, 128);
    EXPECT_EQ(s.winBackgroundStyle, 2);
    EXPECT_EQ(s.winBackgroundTile, 0);
    // An empty password does not replace the built-in one; with the key
    // present, missing texts read as empty.
    EXPECT_EQ(s.password, common::ScramblePassword("mirlo"));
    EXPECT_TRUE(s.host.isEmpty());
    EXPECT_TRUE(s.background.isEmpty());
}

TEST(ClientSettings, ExitWritesTheListedValuesButNotTheGlbOnes) {
    platform::MemoryRegistry reg;
    ClientSettings s = ClientSettings::Defaults();
    s.host = "caja";
    s.winBackgroundStyle = 3;
    s.glbBarraInvisible = true;
    QString err;
    ASSERT_TRUE(s.write(reg, "/opt/puesto", "/opt/puesto/puesto", 200, &err));
    EXPECT_EQ(reg.readString(Root::LocalMachine, kKey, "Host").value_or(""), "caja");
    EXPECT_EQ(reg.readString(Root::LocalMachine, kKey, "WinBackgroundStyle").value_or(""), "3");
    EXPECT_EQ(reg.readInteger(Root::LocalMachine, kKey, "AlphaBlend").value_or(0), 200);
    EXPECT_EQ(reg.readString(Root::LocalMachine, kKey, "CurDir").value_or(""), "/opt/puesto");
    EXPECT_EQ(reg.readString(Root::LocalMachine, kKey, "PuestoExeName").value_or(""),
              "/opt/puesto/puesto");
    EXPECT_FALSE(reg.valueExists(Root::LocalMachine, kKey, "GlbBarraInvisible"));
    const ClientSettings back = ClientSettings::Read(reg);
    EXPECT_EQ(back.password, s.password);
    EXPECT_EQ(back.host, "caja");
    EXPECT_EQ(back.intNewConn, 1500);

    reg.setFailSaves(true);
    EXPECT_FALSE(s.write(reg, "/", "/x", 255, &err));
    EXPECT_FALSE(err.isEmpty());
}

// The names, their spelling and their kinds are those of every station's
// store already out there: the exit writes exactly these, in this order.
TEST(ClientSettings, ExitWritesTheStoredNamesAndKindsOfEarlierVersions) {
    platform::MemoryRegistry reg;
    ASSERT_TRUE(ClientSettings::Defaults().write(reg, "/opt/puesto", "puesto", 255));
    QStringList written;
    for (const QString& name : reg.valueNames(Root::LocalMachine, kKey))
        written << name + (reg.valueKind(Root::LocalMachine, kKey, name) ==
                                   platform::ValueKind::Integer
                               ? QStringLiteral(":i")
                               : QStringLiteral(":s"));
    EXPECT_EQ(written.join(u' '),
              QStringLiteral("Password:s Host:s Background:s MsgAtBlock:i WinBackground:s "
                             "WinBackgroundTile:s WinBackgroundStyle:s AlarmSnd:s CurDir:s "
                             "PuestoExeName:s AlphaBlend:i IntDisconn:i IntConn:i IntNewConn:i "
                             "timeout:i"));
}
