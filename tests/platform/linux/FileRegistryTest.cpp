#include "platform/linux/FileRegistry.h"

#include "platform/RegFile.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvina::platform;

namespace {

const QString kKey = "\\Software\\Velt\\Tarvina";

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

FileRegistry::Paths PathsIn(const tarvina::test::TempDir& dir) {
    return {dir.file("user.reg"), dir.file("machine.reg")};
}

QStringList TempFiles(const QString& folder) {
    return QDir(folder).entryList({".user.reg.*"}, QDir::Files | QDir::Hidden);
}

} // namespace

TEST(FileRegistry, AllKindsRoundTripThroughTheFile) {
    tarvina::test::TempDir dir;
    const QString tricky = QString::fromUtf8("C:\\Archivos \"x\"\nfin ñ");
    {
        FileRegistry r(PathsIn(dir));
        ASSERT_TRUE(r.writeString(Root::CurrentUser, kKey, "Pais", "Venezuela"));
        ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "NLines", 10));
        ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "Neg", -1));
        ASSERT_TRUE(
            r.writeBinary(Root::CurrentUser, kKey, "Entrada", QByteArray("\x00\x01\xff", 3)));
        ASSERT_TRUE(r.writeString(Root::CurrentUser, kKey, "Ru\"ta", tricky));
        ASSERT_TRUE(r.writeString(Root::CurrentUser, kKey, "", "por defecto"));
        ASSERT_TRUE(r.writeInteger(Root::LocalMachine, kKey, "ClienteModo", 2));
    }
    EXPECT_EQ(ReadAll(dir.file("user.reg")),
              QByteArray("REGEDIT4\n\n"
                         "[HKEY_CURRENT_USER\\Software]\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Velt]\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Velt\\Tarvina]\n"
                         "\"Pais\"=\"Venezuela\"\n"
                         "\"NLines\"=dword:0000000a\n"
                         "\"Neg\"=dword:ffffffff\n"
                         "\"Entrada\"=hex:00,01,ff\n"
                         "\"Ru\\\"ta\"=\"C:\\\\Archivos \\\"x\\\"\\nfin \xC3\xB1\"\n"
                         "@=\"por defecto\"\n\n"));
    EXPECT_TRUE(ReadAll(dir.file("machine.reg"))
                    .contains("[HKEY_LOCAL_MACHINE\\Software\\Velt\\"
                              "Tarvina]\n\"ClienteModo\"=dword:00000002"));

    FileRegistry again(PathsIn(dir));
    EXPECT_TRUE(again.loadProblems(Root::CurrentUser).isEmpty());
    EXPECT_EQ(again.readString(Root::CurrentUser, kKey, "PAIS"), QString("Venezuela"));
    EXPECT_EQ(again.readInteger(Root::CurrentUser, kKey, "nlines"), 10);
    EXPECT_EQ(again.readInteger(Root::CurrentUser, kKey, "Neg"), -1);
    EXPECT_EQ(again.readBinary(Root::CurrentUser, kKey, "Entrada"), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(again.readString(Root::CurrentUser, kKey, "ru\"TA"), tricky);
    EXPECT_EQ(again.readString(Root::CurrentUser, kKey, ""), QString("por defecto"));
    EXPECT_EQ(again.readInteger(Root::LocalMachine, kKey, "ClienteModo"), 2);
    EXPECT_EQ(again.valueNames(Root::CurrentUser, kKey),
              QStringList({"Pais", "NLines", "Neg", "Entrada", "Ru\"ta", ""}));
    // The user's file is private to its owner.
    EXPECT_EQ(QFile::permissions(dir.file("user.reg")) & (QFile::ReadOther | QFile::ReadGroup),
              QFile::Permissions());
}

TEST(FileRegistry, BatchesSaveAtTheirEndAndFailuresAreKept) {
    tarvina::test::TempDir dir;
    FileRegistry r(PathsIn(dir));
    {
        SaveBatch batch(r);
        ASSERT_TRUE(r.writeString(Root::CurrentUser, kKey, "Pais", "Chile"));
        EXPECT_FALSE(QFile::exists(dir.file("user.reg")));
        EXPECT_TRUE(batch.commit());
    }
    EXPECT_TRUE(ReadAll(dir.file("user.reg")).contains("\"Pais\"=\"Chile\""));

    // A folder that cannot hold the file: the write says so, the value stays
    // in memory and is saved once the folder is usable.
    tarvina::test::TempDir other;
    const QString blocked = other.file("sub");
    QFile blocker(blocked);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    blocker.close();
    FileRegistry bad({blocked + "/user.reg", blocked + "/machine.reg"});
    EXPECT_FALSE(bad.writeString(Root::CurrentUser, kKey, "Pais", "Chile"));
    EXPECT_FALSE(bad.lastError(Root::CurrentUser).isEmpty());
    EXPECT_TRUE(bad.isDirty(Root::CurrentUser));
    EXPECT_EQ(bad.readString(Root::CurrentUser, kKey, "Pais"), QString("Chile"));
    ASSERT_TRUE(QFile::remove(blocked));
    EXPECT_TRUE(bad.flush());
    EXPECT_TRUE(ReadAll(blocked + "/user.reg").contains("Chile"));
}

TEST(FileRegistry, DefaultPathsFollowTheEnvironment) {
    const QByteArray old = qgetenv("TARVINA_REGISTRY");
    qputenv("TARVINA_REGISTRY", "/tmp/regs");
    EXPECT_EQ(FileRegistry::DefaultPaths().user, "/tmp/regs/user.reg");
    EXPECT_EQ(FileRegistry::DefaultPaths().machine, "/tmp/regs/machine.reg");
    qunsetenv("TARVINA_REGISTRY");
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/cfg");
    EXPECT_EQ(FileRegistry::DefaultPaths().user, "/tmp/cfg/tarvina/user.reg");
    EXPECT_EQ(FileRegistry::DefaultPaths().machine, "/etc/tarvina/machine.reg");
    if (oldXdg.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldXdg);
    if (!old.isEmpty())
        qputenv("TARVINA_REGISTRY", old);
}

namespace {

// Runs a child process that opens the registry, writes, and is killed by
// SIGKILL when its save reaches stage. Returns true when it died that way.
bool ChildKilledAt(const FileRegistry::Paths& paths, AtomicStage stage) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        FileRegistry r(paths);
        r.setSaveHook([stage](AtomicStage s) {
            if (s == stage)
                ::raise(SIGKILL);
        });
        r.writeString(Root::CurrentUser, kKey, "Pais", QString(100000, u'n'));
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

} // namespace

TEST(FileRegistry, AProcessKilledMidSaveLeavesTheOldFileOrTheNew) {
    tarvina::test::TempDir dir;
    {
        FileRegistry r(PathsIn(dir));
        ASSERT_TRUE(r.writeString(Root::CurrentUser, kKey, "Pais", "Chile"));
        ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "NLines", 3));
    }
    const QByteArray original = ReadAll(dir.file("user.reg"));
    for (AtomicStage stage : {AtomicStage::TempCreated, AtomicStage::HalfWritten,
                              AtomicStage::Written, AtomicStage::Synced}) {
        ASSERT_TRUE(ChildKilledAt(PathsIn(dir), stage));
        EXPECT_EQ(ReadAll(dir.file("user.reg")), original) << int(stage);
    }
    // The dead children's temporary files are cleared by the next save.
    EXPECT_FALSE(TempFiles(dir.path()).isEmpty());
    {
        FileRegistry r(PathsIn(dir));
        EXPECT_EQ(r.readString(Root::CurrentUser, kKey, "Pais"), QString("Chile"));
        ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "NLines", 4));
    }
    EXPECT_TRUE(TempFiles(dir.path()).isEmpty());

    // Killed right after the rename: the new content is complete.
    ASSERT_TRUE(ChildKilledAt(PathsIn(dir), AtomicStage::Renamed));
    FileRegistry after(PathsIn(dir));
    EXPECT_TRUE(after.loadProblems(Root::CurrentUser).isEmpty());
    EXPECT_EQ(after.readString(Root::CurrentUser, kKey, "Pais"), QString(100000, u'n'));
    EXPECT_EQ(after.readInteger(Root::CurrentUser, kKey, "NLines"), 4);
}

TEST(FileRegistry, KillingAWriterAtRandomMomentsNeverCorruptsTheFile) {
    tarvina::test::TempDir dir;
    std::mt19937 rng(77);
    int lastSeen = -1;
    for (int round = 0; round < 12; ++round) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            FileRegistry r(PathsIn(dir));
            for (int i = 0;; ++i) {
                SaveBatch batch(r);
                r.writeInteger(Root::CurrentUser, kKey, "Counter", i);
                r.writeString(Root::CurrentUser, kKey, "Pad", QString(150000 + i % 7, u'p'));
                r.writeInteger(Root::CurrentUser, kKey, "Check", i);
            }
        }
        // On a loaded machine the first child might not reach a single save in
        // its few milliseconds; the rounds mean nothing until one has.
        for (int waited = 0; !QFile::exists(dir.file("user.reg")) && waited < 10000; ++waited)
            ::usleep(1000);
        ::usleep(useconds_t(1000 + rng() % 20000));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!QFile::exists(dir.file("user.reg")))
            continue; // killed before its first save
        FileRegistry r(PathsIn(dir));
        ASSERT_TRUE(r.loadProblems(Root::CurrentUser).isEmpty()) << round;
        const auto counter = r.readInteger(Root::CurrentUser, kKey, "Counter");
        ASSERT_TRUE(counter.has_value());
        EXPECT_EQ(r.readInteger(Root::CurrentUser, kKey, "Check"), counter);
        EXPECT_EQ(r.readString(Root::CurrentUser, kKey, "Pad")->size(), 150000 + *counter % 7);
        lastSeen = *counter;
    }
    EXPECT_GE(lastSeen, 0);
}

TEST(FileRegistry, HostileFileLoadsWhatIsSound) {
    tarvina::test::TempDir dir;
    QByteArray text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velt\\Tarvina]\n"
                      "\"Pais\"=\"Chile\"\n"
                      "\"Roto\"=\"sin cierre\n"
                      "\"Hex\"=hex:zz,01\n"
                      "\"Big\"=dword:123456789\n"
                      "garbage line\n";
    text += "\"Long\"=\"" + QByteArray(2 * 1024 * 1024, 'x') + "\"\n";
    text += "[HKEY_LOCAL_MACHINE\\Software]\n\"Ajeno\"=dword:00000001\n";
    text += "[HKEY_CURRENT_USER" + QByteArray(5000, '\\') + "]\n";
    QByteArray deep = "[HKEY_CURRENT_USER";
    for (int i = 0; i < 100000; ++i)
        deep += "\\a";
    text += deep + "]\n\"x\"=dword:1\n";
    text += "[HKEY_CURRENT_USER\\Software\\Velt\\Tarvina]\n\"NLines\"=dword:00000007\n";
    text += QByteArray("\x00\xff\xfe[\n\"", 6);
    QFile f(dir.file("user.reg"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    FileRegistry r(PathsIn(dir));
    EXPECT_EQ(r.readString(Root::CurrentUser, kKey, "Pais"), QString("Chile"));
    EXPECT_EQ(r.readInteger(Root::CurrentUser, kKey, "NLines"), 7);
    for (const char* gone : {"Roto", "Hex", "Big", "Long", "Ajeno", "x"})
        EXPECT_FALSE(r.valueExists(Root::CurrentUser, kKey, gone)) << gone;
    EXPECT_FALSE(r.keyExists(Root::CurrentUser, "\\Software\\Ajeno"));
    const QStringList problems = r.loadProblems(Root::CurrentUser);
    EXPECT_GE(problems.size(), 7);
    EXPECT_TRUE(problems.first().startsWith("line 5:")) << problems.first().toStdString();
    // What was loaded is written back sound.
    ASSERT_TRUE(r.writeInteger(Root::CurrentUser, kKey, "NLines", 8));
    FileRegistry again(PathsIn(dir));
    EXPECT_TRUE(again.loadProblems(Root::CurrentUser).isEmpty());
    EXPECT_EQ(again.valueNames(Root::CurrentUser, kKey), QStringList({"Pais", "NLines"}));
}
