// The server's table work on real files: load-time creation, the start-up
// check with its upgrades and rebuilds, the day's journal, the repair, and
// tables that are damaged or were written by another xBase program.

#include "common/LastCommand.h"
#include "platform/Registry.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/PinTestPrinters.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/TableOps.h"
#include "server/settings/ServerSettings.h"
#include "server/shell/ServerCore.h"
#include "support/CodeTables.h"
#include "support/TempDir.h"
#include "xbase/Error.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

using namespace tarvina;
using namespace tarvina::server;
using common::DateTime;
using xbase::TableEngine;

namespace {

std::string Path(const QString& p) {
    return QFile::encodeName(p).toStdString();
}

// "name type width" of each field.
QStringList FieldsText(const std::vector<xbase::test::FieldSpec>& fields) {
    QStringList out;
    for (const auto& f : fields) {
        out << QStringLiteral("%1 %2 %3").arg(f.name, f.type).arg(f.width);
    }
    return out;
}

// The program creates the very layout the engine's tests work on.
const QStringList kCodeFields = FieldsText(xbase::test::CodeFields());
const QStringList kHistoryFields = FieldsText(xbase::test::HistoryFields());
const QStringList kJournalFields = {"EQUIPO C 64", "MAC C 17",   "PIN C 6",    "FDESDE D 8",
                                    "HDESDE C 8",  "FHASTA D 8", "HHASTA C 8", "MINSOL N 8"};
const QStringList kHistoryTags = {"FECHOR|DTOS(FECHA)+ HORA|.not. deleted()|16",
                                  "PINFECHOR|PIN + DTOS(FECHA)+ HORA|.not. deleted()|22",
                                  "PIN|PIN|.not. deleted()|6"};
QStringList CodeTags(const QString& macCondition) {
    return {"FECHOR|DTOS(FECHA)+ HORA|.not. deleted()|16", "MAC|MAC|" + macCondition + "|17",
            "PIN|PIN|.not. deleted()|6"};
}

QStringList FieldsOf(const QString& path) {
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(path), false);
    QStringList out;
    for (const auto& f : t.Fields()) {
        out << QString::fromStdString(f.name) + " " + QChar(f.type) + " " +
                   QString::number(f.width);
    }
    return out;
}

// "name|key|condition|key length", by name, as the index file lists its tags.
QStringList TagsOf(const QString& path) {
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(path), false);
    QStringList out;
    for (const auto& tag : t.Tags()) {
        out << QString::fromStdString(tag.name + "|" + tag.keyExpr + "|" + tag.forExpr + "|" +
                                      std::to_string(tag.keyLength));
    }
    out.sort();
    return out;
}

// "PIN SALDO EQUIPO", with "*" before a deleted row, in file order.
QStringList CodeRows(const QString& path) {
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(path), false);
    QStringList out;
    for (t.First(); !t.Eof(); t.Next()) {
        out << QString::fromStdString((t.Deleted() ? "*" : "") + t.GetString("PIN") + " " +
                                      std::to_string(t.GetInteger("SALDO")) + " " +
                                      t.GetString("EQUIPO"));
    }
    return out;
}

QStringList PinsOf(const QString& path) {
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(path), false);
    QStringList out;
    for (t.First(); !t.Eof(); t.Next()) {
        out << QString::fromStdString((t.Deleted() ? "*" : "") + t.GetString("PIN"));
    }
    return out;
}

// A code table of the layout before EQUIPO, with the one tag it had.
void CreateOldCodeTable(const QString& path) {
    xbase::test::CreateIndexedCodeTable(Path(path), xbase::test::CodeLayout::BeforeEquipo,
                                        xbase::test::CodeTags::PinOnly);
}

void AddCode(const QString& path, const char* pin, int saldo, const char* mac = "",
             bool deleted = false) {
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(path), false);
    xbase::test::AppendCode(t, {pin, saldo, xbase::Date{2024, 1, 10}, "08:30:00", mac});
    if (deleted) {
        t.Delete();
    }
    t.Commit();
}

void AddHistory(const QString& path, const char* pin, bool deleted = false) {
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(path), false);
    xbase::test::AppendHistory(t, {pin, 30, xbase::Date{2024, 1, 10}, "08:30:00"});
    if (deleted) {
        t.Delete();
    }
    t.Commit();
}

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Every file of a folder with its bytes and modification time.
std::map<QString, std::pair<QByteArray, qint64>> Snapshot(const QString& folder) {
    std::map<QString, std::pair<QByteArray, qint64>> out;
    for (const QFileInfo& fi : QDir(folder).entryInfoList(QDir::Files)) {
        out[fi.fileName()] = {Bytes(fi.filePath()), fi.lastModified().toMSecsSinceEpoch()};
    }
    return out;
}

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

class TableOpsTest : public ::testing::Test {
protected:
    TableOpsTest() : data(dir.file("data")) {
        hooks.splash = [this](const QString& t) { splash << t; };
        hooks.notice = [this](const QString& t) { notices << t; };
        hooks.now = [] { return DateTime::FromParts(2024, 1, 15, 10, 0, 5); };
    }
    TableOps ops() { return TableOps(xbase::RealFileSystem(), dir.path(), lastCommand, hooks); }
    QString file(const QString& name) const { return data + "/" + name; }
    // Both tables as the load-time creation leaves them.
    void createTables() { TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), dir.path()); }

    tarvina::test::TempDir dir;
    QString data;
    common::LastCommand lastCommand;
    TableOps::Hooks hooks;
    QStringList splash, notices;
};

TEST_F(TableOpsTest, FirstStartCreatesBothTablesWithTheirTagsAndTheCheckChangesNothing) {
    const QString program = dir.file("nested/program");
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), program);
    const QString folder = program + "/data";
    ASSERT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(FilesIn(folder),
              QStringList({"CajaHPIN.cdx", "CajaHPIN.dbf", "CajaPIN.cdx", "CajaPIN.dbf"}));
    EXPECT_EQ(FieldsOf(folder + "/CajaPIN.dbf"), kCodeFields);
    EXPECT_EQ(FieldsOf(folder + "/CajaHPIN.dbf"), kHistoryFields);
    EXPECT_EQ(TagsOf(folder + "/CajaPIN.dbf"), CodeTags(".not. deleted() .and. .not. EMPTY(MAC)"));
    EXPECT_EQ(TagsOf(folder + "/CajaHPIN.dbf"), kHistoryTags);

    AddCode(folder + "/CajaPIN.dbf", "0A1B2C", 30);
    const auto before = Snapshot(folder);
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), program);
    TableOps(xbase::RealFileSystem(), program, lastCommand, hooks).ChkTables();
    EXPECT_EQ(Snapshot(folder), before);
    EXPECT_EQ(splash, QStringList({"Procesando registro PIN", "Procesando registro histo. PIN"}));
    EXPECT_EQ(lastCommand.get(), "ChkTables");
    EXPECT_TRUE(notices.isEmpty());
}

TEST_F(TableOpsTest, NamesAreFoundWithoutRegardToCase) {
    QDir().mkpath(dir.file("DATA"));
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), dir.path());
    EXPECT_FALSE(QFileInfo::exists(dir.file("data")));
    ASSERT_TRUE(QFile::rename(dir.file("DATA/CajaPIN.dbf"), dir.file("DATA/CAJAPIN.DBF")));
    ASSERT_TRUE(QFile::rename(dir.file("DATA/CajaPIN.cdx"), dir.file("DATA/cajapin.cdx")));
    const auto before = Snapshot(dir.file("DATA"));
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), dir.path());
    ops().ChkTables();
    EXPECT_EQ(Snapshot(dir.file("DATA")), before);
}

TEST_F(TableOpsTest, AnOlderCodeTableIsUpgradedKeepingItsLiveRows) {
    QDir().mkpath(data);
    TableOps::CreateHistoryTable(xbase::RealFileSystem(), data);
    CreateOldCodeTable(file("CajaPIN.dbf"));
    AddCode(file("CajaPIN.dbf"), "0A1B2C", 30, "00-11-22-33-44-55");
    AddCode(file("CajaPIN.dbf"), "0D3E4F", 5, "", true);
    AddCode(file("CajaPIN.dbf"), "1F2F3F", 45);

    ops().ChkTables();
    EXPECT_EQ(FilesIn(data),
              QStringList({"CajaHPIN.cdx", "CajaHPIN.dbf", "CajaPIN.cdx", "CajaPIN.dbf"}));
    EXPECT_EQ(FieldsOf(file("CajaPIN.dbf")), kCodeFields);
    EXPECT_EQ(CodeRows(file("CajaPIN.dbf")), QStringList({"0A1B2C 30 ", "1F2F3F 45 "}));
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));

    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(file("CajaPIN.dbf")), false);
    t.SetOrder("MAC");
    ASSERT_TRUE(t.Seek("00-11-22-33-44-55"));
    EXPECT_EQ(t.GetString("PIN"), "0A1B2C");
    ASSERT_TRUE(t.GetDate("FECHA").has_value());
    EXPECT_EQ(*t.GetDate("FECHA"), (xbase::Date{2024, 1, 10}));
    EXPECT_EQ(t.GetString("HORA"), "08:30:00");
    EXPECT_TRUE(t.Verify().empty());
}

TEST_F(TableOpsTest, DbaseIndexFilesHandTheTablesToTheCheckAsBackups) {
    createTables();
    AddCode(file("CajaPIN.dbf"), "0A1B2C", 30);
    AddCode(file("CajaPIN.dbf"), "0D3E4F", 10);
    AddHistory(file("CajaHPIN.dbf"), "0A1B2C");
    WriteBytes(file("CAJAPIN.MDX"), "old index");
    WriteBytes(file("CajaPIN.bak"), "an older backup");
    WriteBytes(file("CajaHPIN.mdx"), "old index");
    WriteBytes(file("cajapin.obf"), "x");
    WriteBytes(file("CajaHPIN.obf"), "x");

    ops().TableHousekeeping();
    EXPECT_EQ(FilesIn(data),
              QStringList({"CajaHPIN.bak", "CajaHPIN.cdx", "CajaPIN.bak", "CajaPIN.cdx"}));
    EXPECT_EQ(PinsOf(file("CajaPIN.bak")), QStringList({"0A1B2C", "0D3E4F"}));

    ops().ChkTables();
    EXPECT_EQ(FilesIn(data),
              QStringList({"CajaHPIN.cdx", "CajaHPIN.dbf", "CajaPIN.cdx", "CajaPIN.dbf"}));
    EXPECT_EQ(CodeRows(file("CajaPIN.dbf")), QStringList({"0A1B2C 30 ", "0D3E4F 10 "}));
    EXPECT_EQ(PinsOf(file("CajaHPIN.dbf")), QStringList({"0A1B2C"}));
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
    EXPECT_EQ(TagsOf(file("CajaHPIN.dbf")), kHistoryTags);
}

TEST_F(TableOpsTest, AnUpgradeLeftOverWinsOverABackupWhichStays) {
    QDir().mkpath(data);
    TableOps::CreateHistoryTable(xbase::RealFileSystem(), data);
    CreateOldCodeTable(file("CajaPIN.137.dbf"));
    AddCode(file("CajaPIN.137.dbf"), "137137", 1);
    QFile::remove(file("CajaPIN.137.cdx"));
    TableOps::CreateCodeTable(xbase::RealFileSystem(), data);
    ASSERT_TRUE(QFile::rename(file("CajaPIN.dbf"), file("CajaPIN.bak")));
    AddCode(file("CajaPIN.bak"), "BAKBAK", 2);
    QFile::remove(file("CajaPIN.cdx"));
    const QByteArray backup = Bytes(file("CajaPIN.bak"));

    ops().ChkTables();
    EXPECT_EQ(CodeRows(file("CajaPIN.dbf")), QStringList({"137137 1 "}));
    EXPECT_FALSE(QFileInfo::exists(file("CajaPIN.137.dbf")));
    EXPECT_EQ(Bytes(file("CajaPIN.bak")), backup);
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
}

TEST_F(TableOpsTest, RowsThatCannotBeCopiedStayInTheirFile) {
    QDir().mkpath(data);
    TableOps::CreateHistoryTable(xbase::RealFileSystem(), data);
    WriteBytes(file("CajaPIN.137.dbf"), QByteArray(40, '\x03'));
    const QByteArray old = Bytes(file("CajaPIN.137.dbf"));

    ops().ChkTables();
    EXPECT_EQ(Bytes(file("CajaPIN.137.dbf")), old);
    EXPECT_TRUE(CodeRows(file("CajaPIN.dbf")).isEmpty());
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
    EXPECT_FALSE(QFileInfo::exists(file("CajaPIN.new.dbf")));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].startsWith("No se pudieron recuperar los registros de CajaPIN.137.dbf"))
        << notices[0].toStdString();
}

TEST_F(TableOpsTest, AfterAnUncleanCloseBothIndexesAreRebuiltAndDeletedRowsPackedAway) {
    createTables();
    AddCode(file("CajaPIN.dbf"), "0A1B2C", 30);
    AddCode(file("CajaPIN.dbf"), "0D3E4F", 0, "", true);
    AddCode(file("CajaPIN.dbf"), "1A1A1A", 15, "00-11-22-33-44-55");
    AddHistory(file("CajaHPIN.dbf"), "0D3E4F", true);
    AddHistory(file("CajaHPIN.dbf"), "0A1B2C");

    ops().DropIndexesAfterUncleanClose();
    EXPECT_EQ(splash, QStringList({"Falla en último cierre - Reorganizando."}));
    EXPECT_EQ(FilesIn(data), QStringList({"CajaHPIN.dbf", "CajaPIN.dbf"}));
    ops().ChkTables();
    EXPECT_EQ(PinsOf(file("CajaPIN.dbf")), QStringList({"0A1B2C", "1A1A1A"}));
    EXPECT_EQ(PinsOf(file("CajaHPIN.dbf")), QStringList({"0A1B2C"}));
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
    EXPECT_EQ(TagsOf(file("CajaHPIN.dbf")), kHistoryTags);
    for (const char* name : {"CajaPIN.dbf", "CajaHPIN.dbf"}) {
        TableEngine t(xbase::RealFileSystem());
        t.Open(Path(file(name)), false);
        EXPECT_TRUE(t.Verify().empty()) << name;
    }
}

TEST_F(TableOpsTest, ADamagedTableIsSetAsideAndAFreshOneTakesItsPlace) {
    createTables();
    WriteBytes(file("CajaPIN.dbf"), QByteArray("\x03garbage that is no table header"));
    WriteBytes(file("CajaHPIN.dbf"), QByteArray(33, '\0'));
    const QByteArray codes = Bytes(file("CajaPIN.dbf"));
    const QByteArray history = Bytes(file("CajaHPIN.dbf"));

    ops().ChkTables();
    EXPECT_EQ(Bytes(file("CajaPIN.dañado-15012024100005.dbf")), codes);
    EXPECT_EQ(Bytes(file("CajaHPIN.dañado-15012024100005.dbf")), history);
    EXPECT_EQ(FieldsOf(file("CajaPIN.dbf")), kCodeFields);
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
    EXPECT_EQ(FieldsOf(file("CajaHPIN.dbf")), kHistoryFields);
    EXPECT_EQ(TagsOf(file("CajaHPIN.dbf")), kHistoryTags);
    EXPECT_EQ(notices, QStringList({"El archivo CajaPIN.dbf está dañado: se conserva como "
                                    "CajaPIN.dañado-15012024100005.dbf y se crea uno nuevo.",
                                    "El archivo CajaHPIN.dbf está dañado: se conserva como "
                                    "CajaHPIN.dañado-15012024100005.dbf y se crea uno nuevo."}));

    // Damaged again within the same second: the first copy is not replaced.
    WriteBytes(file("CajaPIN.dbf"), QByteArray("\x03short"));
    ops().ChkTables();
    EXPECT_EQ(Bytes(file("CajaPIN.dañado-15012024100005.dbf")), codes);
    EXPECT_EQ(Bytes(file("CajaPIN.dañado-15012024100005-2.dbf")), QByteArray("\x03short"));
}

TEST_F(TableOpsTest, ADamagedIndexIsRebuiltFromTheRows) {
    createTables();
    AddCode(file("CajaPIN.dbf"), "0A1B2C", 30);
    AddHistory(file("CajaHPIN.dbf"), "0A1B2C");
    const QByteArray codes = Bytes(file("CajaPIN.dbf"));
    WriteBytes(file("CajaPIN.cdx"), QByteArray(600, '\x7f'));
    WriteBytes(file("CajaHPIN.cdx"), QByteArray(10, '\x01'));

    ops().ChkTables();
    EXPECT_EQ(CodeRows(file("CajaPIN.dbf")), QStringList({"0A1B2C 30 "}));
    EXPECT_EQ(PinsOf(file("CajaHPIN.dbf")), QStringList({"0A1B2C"}));
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
    EXPECT_EQ(TagsOf(file("CajaHPIN.dbf")), kHistoryTags);
    EXPECT_EQ(notices, QStringList({"El índice CajaPIN.cdx está dañado: se reconstruye.",
                                    "El índice CajaHPIN.cdx está dañado: se reconstruye."}));
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(file("CajaPIN.dbf")), false);
    t.SetOrder("PIN");
    EXPECT_TRUE(t.Seek("0A1B2C"));
}

TEST_F(TableOpsTest, CreaDiarioCreatesTheJournalAndRebuildsAMissingIndex) {
    const QString path = dir.file("report/15012024.dbf");
    QDir().mkpath(dir.file("report"));
    ops().CreaDiario(path);
    EXPECT_EQ(lastCommand.get(), "CreaDiario");
    EXPECT_EQ(FieldsOf(path), kJournalFields);
    const QStringList tags = {"EQUIPO|EQUIPO|.not. deleted()|64",
                              "MAC|MAC|.not. deleted() .and. .not. EMPTY(MAC)|17"};
    EXPECT_EQ(TagsOf(path), tags);

    {
        TableEngine t(xbase::RealFileSystem());
        t.Open(Path(path), false);
        t.Append();
        t.SetString("EQUIPO", "192.168.0.7");
        t.SetString("MAC", "00-11-22-33-44-55");
        t.SetInteger("MINSOL", 30);
        t.Post();
        t.Commit();
    }
    ASSERT_TRUE(QFile::remove(dir.file("report/15012024.cdx")));
    const QByteArray rows = Bytes(path);
    ops().CreaDiario(path);
    EXPECT_EQ(Bytes(path).mid(32), rows.mid(32)); // the same rows; the header keeps its fields
    EXPECT_EQ(TagsOf(path), tags);
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(path), false);
    t.SetOrder("MAC");
    ASSERT_TRUE(t.Seek("00-11-22-33-44-55"));
    EXPECT_EQ(t.GetString("EQUIPO"), "192.168.0.7");

    // A journal that no longer reads is set aside like the code tables.
    t.Close();
    WriteBytes(path, QByteArray("\x03no"));
    ops().CreaDiario(path);
    EXPECT_EQ(Bytes(dir.file("report/15012024.dañado-15012024100005.dbf")), QByteArray("\x03no"));
    EXPECT_EQ(FieldsOf(path), kJournalFields);
    EXPECT_EQ(TagsOf(path), tags);
}

TEST_F(TableOpsTest, ATableWrittenByAnotherProgramIsIndexedAndItsCodesFound) {
    QDir().mkpath(data);
    TableOps::CreateHistoryTable(xbase::RealFileSystem(), data);
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"),
              QStringLiteral(
                  "import sys, dbf\n"
                  "t = dbf.Table(sys.argv[1], 'PIN C(6); SALDO N(9,0); CFECHA D; CHORA C(8); "
                  "FECHA D; HORA C(8); MAC C(17); EQUIPO C(64)', dbf_type='db3')\n"
                  "t.open(dbf.READ_WRITE)\n"
                  "for pin, saldo in (('0B0000', 5), ('0A2222', 20), ('0A1111', 10), "
                  "('0C0000', 7)):\n"
                  "    t.append((pin, saldo, None, '', dbf.Date(2024, 1, 9), '07:00:00', '', ''))\n"
                  "dbf.delete(t[3])\n"
                  "t.close()\n"),
              file("CajaPIN.dbf")});
    if (!py.waitForFinished(30000) || py.exitStatus() != QProcess::NormalExit ||
        py.exitCode() != 0) {
        GTEST_SKIP() << "python3-dbf not usable: " << py.readAllStandardError().toStdString();
    }
    ASSERT_FALSE(QFileInfo::exists(file("CajaPIN.cdx")));

    ops().ChkTables();
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
    EXPECT_EQ(PinsOf(file("CajaPIN.dbf")), QStringList({"0B0000", "0A2222", "0A1111"}));
    TableEngine t(xbase::RealFileSystem());
    t.Open(Path(file("CajaPIN.dbf")), false);
    t.SetOrder("PIN");
    ASSERT_TRUE(t.Seek("0A2222"));
    EXPECT_EQ(t.GetInteger("SALDO"), 20);
    ASSERT_TRUE(t.Seek("0A")); // the first code of the tag beginning so
    EXPECT_EQ(t.GetString("PIN"), "0A1111");
    EXPECT_FALSE(t.Seek("0a2222"));
    EXPECT_FALSE(t.Seek("0C0000")); // deleted by the other program
    t.SetOrder("FECHOR");
    t.First();
    EXPECT_EQ(t.GetString("PIN"), "0B0000");
}

// ---- through the run's own object, as the main window does it ----

class PinRuntimeTablesTest : public ::testing::Test {
protected:
    PinRuntimeTablesTest() : data(env.home() + "/data") {}
    ~PinRuntimeTablesTest() override {
        runtime.close();
        core.reset();
    }
    QString file(const QString& name) const { return data + "/" + name; }
    // The stamps of the previous run: closed in order or not.
    void previousRun(bool closedInOrder) {
        const QString key = QString::fromUtf16(kSettingsKey);
        const double now = clock.now().days();
        store.writeBinary(platform::Root::CurrentUser, key, QStringLiteral("LastInSTD"),
                          platform::EncodeDateTimeValue(now - 1));
        store.writeBinary(platform::Root::CurrentUser, key, QStringLiteral("LastOutSTD"),
                          platform::EncodeDateTimeValue(closedInOrder ? now - 0.5 : now - 2));
    }
    QStringList start() {
        core = std::make_unique<ServerCore>(clock, store, network, env.home(), env.home());
        core->setPort(0);
        core->startUp();
        runtime.setSplash([this](const QString& t) { splash << t; });
        return runtime.start(*core, env.home(), clock.now());
    }

    tarvina::test::ScopedTarvinaEnv env;
    platform::FakeClock clock; // 15 January 2024, 10:00
    platform::MemoryRegistry store;
    platform::TcpNetwork network;
    QString data;
    std::unique_ptr<ServerCore> core;
    PinRuntime runtime{xbase::RealFileSystem()};
    QStringList splash;
};

TEST_F(PinRuntimeTablesTest, StartChecksTheTablesAndOpensTheHandles) {
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    AddCode(file("CajaPIN.dbf"), "0A1B2C", 30);
    AddCode(file("CajaPIN.dbf"), "0D3E4F", 0, "", true);
    WriteBytes(file("CajaPIN.obf"), "x");
    previousRun(true);

    const QStringList failures = start();
    ASSERT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();
    EXPECT_EQ(splash, QStringList({"Procesando registro PIN", "Procesando registro histo. PIN"}));
    EXPECT_FALSE(QFileInfo::exists(file("CajaPIN.obf")));
    // Closed in order: the index stays and the deleted row with it.
    EXPECT_EQ(PinsOf(file("CajaPIN.dbf")), QStringList({"0A1B2C", "*0D3E4F"}));
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted() .and. .not. EMPTY(MAC)"));
    EXPECT_EQ(runtime.tbPin().Order(), "PIN");
    EXPECT_EQ(runtime.tbPinCheck().Order(), "MAC");
    EXPECT_FALSE(runtime.tbPin().IsExclusive());
    EXPECT_FALSE(runtime.tbPinCheck().IsExclusive());
    EXPECT_EQ(runtime.tbRegPin().Order(), "PINFECHOR");
    EXPECT_EQ(runtime.tbDiario().Order(), "EQUIPO");
    EXPECT_TRUE(QFileInfo::exists(env.home() + "/report/15012024.cdx"));
    EXPECT_TRUE(runtime.tbPin().Seek("0A1B2C"));
}

TEST_F(PinRuntimeTablesTest, StartAfterAnUncleanClosePacksAndRebuildsBeforeOpening) {
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    AddCode(file("CajaPIN.dbf"), "0A1B2C", 30);
    AddCode(file("CajaPIN.dbf"), "0D3E4F", 0, "", true);
    AddHistory(file("CajaHPIN.dbf"), "0D3E4F", true);
    previousRun(false);

    const QStringList failures = start();
    ASSERT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();
    EXPECT_EQ(splash, QStringList({"Falla en último cierre - Reorganizando.",
                                   "Procesando registro PIN", "Procesando registro histo. PIN"}));
    EXPECT_EQ(PinsOf(file("CajaPIN.dbf")), QStringList({"0A1B2C"}));
    EXPECT_TRUE(PinsOf(file("CajaHPIN.dbf")).isEmpty());
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
    EXPECT_TRUE(runtime.tbPinCheck().IsOpen());
}

TEST_F(PinRuntimeTablesTest, AFirstStartIsNotTakenForAnUncleanClose) {
    // No stamps at all: nothing ran before, the tables keep their load-time tags.
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    const QByteArray cdx = Bytes(file("CajaPIN.cdx"));
    ASSERT_TRUE(start().isEmpty());
    EXPECT_FALSE(core->tablesClosedUncleanly());
    EXPECT_EQ(splash, QStringList({"Procesando registro PIN", "Procesando registro histo. PIN"}));
    EXPECT_EQ(Bytes(file("CajaPIN.cdx")), cdx);
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted() .and. .not. EMPTY(MAC)"));

    // Only the start stamp (a run that never closed): suspected.
    runtime.close();
    core.reset();
    splash.clear();
    ASSERT_TRUE(start().isEmpty());
    EXPECT_TRUE(core->tablesClosedUncleanly());
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted()"));
}

TEST_F(PinRuntimeTablesTest, StartReportsADamagedTableAndWorksOnAFreshOne) {
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    WriteBytes(file("CajaPIN.dbf"), QByteArray(20, 'x'));
    previousRun(true);
    const QStringList failures = start();
    ASSERT_EQ(failures.size(), 1) << failures.join("; ").toStdString();
    EXPECT_TRUE(failures[0].contains("CajaPIN.dañado-15012024100000.dbf"));
    EXPECT_TRUE(runtime.tbPin().IsOpen());
    EXPECT_TRUE(runtime.tbPinCheck().IsOpen());
}

TEST_F(PinRuntimeTablesTest, RepairReindexesAndReopensOnlyWhatWasOpen) {
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    AddCode(file("CajaPIN.dbf"), "0A1B2C", 30, "00-11-22-33-44-55");
    AddCode(file("CajaPIN.dbf"), "0D3E4F", 0, "", true);
    previousRun(true);
    ASSERT_TRUE(start().isEmpty());
    TableEngine frame(xbase::RealFileSystem());
    frame.Open(Path(file("CajaPIN.dbf")), false);
    frame.SetOrder("FECHOR");
    runtime.tbRegPin().Close(); // the history frame is closed

    std::vector<std::pair<TableOps::RepairBar, int>> steps;
    bool flagSeen = true;
    runtime.actRepair(
        [&](TableOps::RepairBar bar, int percent) {
            steps.emplace_back(bar, percent);
            flagSeen = flagSeen && runtime.repairInProgress();
        },
        &frame);
    EXPECT_TRUE(flagSeen);
    EXPECT_FALSE(runtime.repairInProgress());
    EXPECT_EQ(core->lastCommand().get(), "dodbreapir");
    ASSERT_FALSE(steps.empty());
    // The code table's bar first, from 0 to 100, then the history's.
    const auto histo = std::find_if(steps.begin(), steps.end(), [](const auto& s) {
        return s.first == TableOps::RepairBar::Histo;
    });
    ASSERT_NE(histo, steps.end());
    EXPECT_EQ(steps.front(), std::make_pair(TableOps::RepairBar::Pin, 0));
    EXPECT_EQ(*histo, std::make_pair(TableOps::RepairBar::Histo, 0));
    EXPECT_EQ((histo - 1)->second, 100);
    EXPECT_EQ(steps.back(), std::make_pair(TableOps::RepairBar::Histo, 100));
    EXPECT_TRUE(std::all_of(steps.begin(), histo,
                            [](const auto& s) { return s.first == TableOps::RepairBar::Pin; }));

    EXPECT_EQ(runtime.tbPin().Order(), "PIN");
    EXPECT_EQ(runtime.tbPinCheck().Order(), "MAC");
    EXPECT_FALSE(runtime.tbRegPin().IsOpen());
    EXPECT_EQ(frame.Order(), "FECHOR");
    // Neither packed nor a new MAC tag.
    EXPECT_EQ(PinsOf(file("CajaPIN.dbf")), QStringList({"0A1B2C", "*0D3E4F"}));
    EXPECT_EQ(TagsOf(file("CajaPIN.dbf")), CodeTags(".not. deleted() .and. .not. EMPTY(MAC)"));
    EXPECT_TRUE(runtime.tbPinCheck().Seek("00-11-22-33-44-55"));
}

TEST_F(PinRuntimeTablesTest, AFailedRepairStillReopensAndClearsTheFlag) {
    TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
    previousRun(true);
    ASSERT_TRUE(start().isEmpty());
    runtime.tbRegPin().Close();
    TableEngine blocker(xbase::RealFileSystem()); // another program holds the history table
    blocker.Open(Path(file("CajaHPIN.dbf")), true);

    bool sawFlag = false;
    try {
        runtime.actRepair([&](TableOps::RepairBar, int) { sawFlag |= runtime.repairInProgress(); });
        ADD_FAILURE() << "the repair went through a locked table";
    } catch (const xbase::XBaseError& e) {
        EXPECT_EQ(e.code(), xbase::XBaseError::Code::Locked);
    }
    EXPECT_TRUE(sawFlag);
    EXPECT_FALSE(runtime.repairInProgress());
    EXPECT_TRUE(runtime.tbPin().IsOpen());
    EXPECT_TRUE(runtime.tbPinCheck().IsOpen());
    EXPECT_FALSE(runtime.tbRegPin().IsOpen());
    EXPECT_EQ(runtime.tbPinCheck().Order(), "MAC");
}

} // namespace
