// The server's own keys: the keymap text loses exactly its server actions,
// and blocking and unblocking load the disarmed and then the original map.
#include "platform/linux/X11ServerKeys.h"

#include "support/TempDir.h"
#include "support/XDisplay.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using tarvina::platform::X11ServerKeys;
using tarvina::test::TempDir;
using tarvina::test::TestDisplay;

namespace {

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// A stand-in keymap compiler: "-w 0 -xkb DISPLAY -" prints the folder's
// current map, "-w 0 - DISPLAY" stores what it is given as load.N and makes
// it current; a "fail" file makes every call fail.
QString FakeTool(const TempDir& dir) {
    const QString path = dir.file(QStringLiteral("xkbcomp"));
    Write(path, "#!/bin/sh\n"
                "d=$(dirname \"$0\")\n"
                "[ -e \"$d/fail\" ] && exit 1\n"
                "if [ \"$3\" = \"-xkb\" ]; then cat \"$d/current\"; exit 0; fi\n"
                "n=$(ls \"$d\" | grep -c '^load\\.')\n"
                "cat > \"$d/load.$n\"\n"
                "cp \"$d/load.$n\" \"$d/current\"\n");
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeUser);
    return path;
}

} // namespace

TEST(X11ServerKeys, TheDisplaysKeymapLosesOnlyItsServerActions) {
    X11ServerKeys keys(TestDisplay().display().toLocal8Bit());
    const QByteArray map = keys.readKeymap();
    ASSERT_FALSE(map.isEmpty());
    ASSERT_GT(X11ServerKeys::ServerActions(map), 0);
    EXPECT_TRUE(map.contains("SwitchScreen("));
    const QByteArray disarmed = X11ServerKeys::Disarm(map);
    EXPECT_EQ(X11ServerKeys::ServerActions(disarmed), 0);
    // The keys keep their symbols; other actions stay as they were.
    EXPECT_TRUE(disarmed.contains("XF86Switch_VT_1"));
    EXPECT_EQ(disarmed.count("SetMods("), map.count("SetMods("));
    EXPECT_EQ(disarmed.count("NoAction()") - map.count("NoAction()"),
              X11ServerKeys::ServerActions(map));
}

TEST(X11ServerKeys, BlockLoadsTheDisarmedMapAndUnblockTheSavedOne) {
    TempDir dir;
    const QByteArray original =
        "xkb_keymap {\n"
        "  interpret XF86Switch_VT_1 { action= SwitchScreen(screen=1,!same); };\n"
        "  interpret Terminate_Server { action = Terminate(); };\n"
        "  interpret XF86_Ungrab { action= Private(type=0x86,data[0]=0x55); };\n"
        "  interpret Shift_L { action= SetMods(modifiers=Shift); };\n"
        "};\n";
    Write(dir.file(QStringLiteral("current")), original);
    X11ServerKeys keys(":7", FakeTool(dir));

    ASSERT_TRUE(keys.block());
    EXPECT_TRUE(keys.blocked());
    const QByteArray loaded = Read(dir.file(QStringLiteral("load.0")));
    EXPECT_EQ(X11ServerKeys::ServerActions(loaded), 0);
    EXPECT_TRUE(loaded.contains("SetMods(modifiers=Shift)"));
    EXPECT_EQ(loaded.count("NoAction()"), 3);
    // Blocking again loads nothing more (and keeps the first saved map).
    ASSERT_TRUE(keys.block());
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("load.1"))));

    ASSERT_TRUE(keys.unblock());
    EXPECT_FALSE(keys.blocked());
    EXPECT_EQ(Read(dir.file(QStringLiteral("load.1"))), original);
    ASSERT_TRUE(keys.unblock()); // nothing left to undo
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("load.2"))));
}

TEST(X11ServerKeys, FailuresAreReportedAndNothingIsHalfDone) {
    TempDir dir;
    Write(dir.file(QStringLiteral("current")),
          "xkb_keymap { interpret X { action= Terminate(); }; };\n");
    X11ServerKeys keys(":7", FakeTool(dir));
    Write(dir.file(QStringLiteral("fail")), "");
    EXPECT_FALSE(keys.block());
    EXPECT_FALSE(keys.blocked());

    // A map without server actions needs nothing loaded.
    QFile::remove(dir.file(QStringLiteral("fail")));
    Write(dir.file(QStringLiteral("current")), "xkb_keymap { };\n");
    EXPECT_TRUE(keys.block());
    EXPECT_FALSE(keys.blocked());
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("load.0"))));

    // No tool at all, and output that is no keymap.
    X11ServerKeys missing(":7", dir.file(QStringLiteral("no-such-tool")));
    EXPECT_FALSE(missing.block());
    Write(dir.file(QStringLiteral("current")), "garbage");
    EXPECT_FALSE(keys.block());
}
