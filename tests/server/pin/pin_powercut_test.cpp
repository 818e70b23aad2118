// The server's table steps with the power going at each of their changes to
// the disk: the next start's check must accept or repair what is left, and
// every code the program reported as stored must still be there.

#include "common/LastCommand.h"
#include "platform/fake/FakeClock.h"
#include "server/pin/CodeGenerator.h"
#include "server/pin/CodesPage.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/TableOps.h"
#include "support/CodeTables.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "xbase/Error.h"
#include "xbase/TableEngine.h"

#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>

using namespace tarvina;
using namespace tarvina::server;
using xbase::FaultyFileSystem;
using xbase::MemoryFileSystem;
using xbase::TableEngine;

namespace {

const QString kProgram = QStringLiteral("/cafe");
const char* kCodes = "/cafe/data/CajaPIN.dbf";
const char* kHistory = "/cafe/data/CajaHPIN.dbf";
const QString kJournal = QStringLiteral("/cafe/report/07032026.dbf");
const QString kCodeList = QStringLiteral("/cafe/pin/07032026.html");

using Codes = std::map<std::string, std::int64_t>; // code -> minutes

// Appends the codes and commits them, as the codes page does before it
// prints a ticket: once Commit returns they count as stored.
void StoreCodes(xbase::IFileSystem& fs, const Codes& codes, Codes* stored = nullptr) {
    TableEngine t(fs);
    t.Open(kCodes, false);
    for (const auto& [code, minutes] : codes) {
        xbase::test::AppendCode(t, {code, minutes, xbase::Date{2026, 3, 7}, "10:00:00", ""});
    }
    t.Commit();
    if (stored != nullptr) {
        stored->insert(codes.begin(), codes.end());
    }
    t.Close();
}

void AddHistory(xbase::IFileSystem& fs, const std::string& code) {
    TableEngine t(fs);
    t.Open(kHistory, false);
    xbase::test::AppendHistory(t, {code, 30, xbase::Date{2026, 3, 6}, "18:00:00"});
    t.Commit();
    t.Close();
}

// A café's disk as the previous run left it: both tables with their tags,
// a few codes, one history row.
Codes Seed(MemoryFileSystem& mem) {
    TableOps::CreateTablesAtLoad(mem, kProgram);
    const Codes codes = {{"0003E8", 30}, {"0003E9", 60}, {"00A1B2", 90}, {"0FFFFF", 15}};
    StoreCodes(mem, codes);
    AddHistory(mem, "0003E8");
    return codes;
}

// The next start after the power came back: the run did not close in order.
void Restart(xbase::IFileSystem& fs) {
    common::LastCommand lastCommand;
    TableOps ops(fs, kProgram, lastCommand);
    ops.TableHousekeeping();
    ops.DropIndexesAfterUncleanClose();
    ops.ChkTables();
    ops.DropJournalIndex(kJournal);
    ops.CreaDiario(kJournal);
}

// Both tables open with their tags, agree with their records, and hold every
// stored code with its minutes.
void ExpectSound(MemoryFileSystem& mem, const Codes& stored, const std::string& where) {
    TableEngine codes(mem);
    ASSERT_NO_THROW(codes.Open(kCodes, false)) << where;
    EXPECT_TRUE(codes.Verify().empty()) << where;
    codes.SetOrder("PIN");
    for (const auto& [code, minutes] : stored) {
        ASSERT_TRUE(codes.Seek(code) && !codes.Eof()) << where << ": lost " << code;
        EXPECT_EQ(codes.GetString("PIN"), code) << where;
        EXPECT_EQ(codes.GetInteger("SALDO"), minutes) << where << ": " << code;
    }
    TableEngine history(mem);
    ASSERT_NO_THROW(history.Open(kHistory, false)) << where;
    EXPECT_TRUE(history.Verify().empty()) << where;
    history.SetOrder("PINFECHOR");
    TableEngine journal(mem);
    ASSERT_NO_THROW(journal.Open(kJournal.toStdString(), false)) << where;
    journal.SetOrder("EQUIPO");
    // The day's list of codes is the old one or the new one, never a part.
    const std::vector<unsigned char> list = mem.Contents(kCodeList.toStdString());
    const std::string end = "</HTML>\r\n";
    if (!list.empty()) {
        EXPECT_TRUE(list.size() > end.size() &&
                    std::equal(end.begin(), end.end(), list.end() - std::ptrdiff_t(end.size())))
            << where;
    }
}

// Runs `step` on a freshly seeded disk with the power cut at its first,
// second, ... change until a run completes; after each cut the next start
// must go through and leave sound tables with every stored code. `step`
// adds to `stored` the codes it reports as stored.
void CutAtEveryChange(const std::string& name,
                      const std::function<void(xbase::IFileSystem&, Codes& stored)>& step) {
    int cuts = 0;
    for (int at = 1;; ++at) {
        MemoryFileSystem mem;
        Codes stored = Seed(mem);
        FaultyFileSystem faulty(mem);
        faulty.TrackPowerCut();
        faulty.CrashAtChange(at);
        bool finished = false;
        try {
            step(faulty, stored);
            finished = true;
        } catch (const std::exception&) {
            ASSERT_TRUE(faulty.Crashed()) << name << ": failed without a cut at " << at;
        }
        if (finished) {
            break;
        }
        faulty.PowerCut();
        ++cuts;
        const std::string where = name + ", cut at change " + std::to_string(at);
        ASSERT_NO_THROW(Restart(mem)) << where;
        ExpectSound(mem, stored, where);
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
    EXPECT_GT(cuts, 10) << name; // the step did change the disk
}

TEST(PowerCut, StartUpCheckAfterAnUncleanClose) {
    CutAtEveryChange("start-up check", [](xbase::IFileSystem& fs, Codes&) { Restart(fs); });
}

TEST(PowerCut, StoringABatchOfCodes) {
    CutAtEveryChange("batch", [](xbase::IFileSystem& fs, Codes& stored) {
        StoreCodes(fs, {{"0B0001", 45}, {"0B0002", 45}, {"0B0003", 45}}, &stored);
    });
}

TEST(PowerCut, BatchThroughTheCodesPage) {
    // A ticket is the customer's proof: every printed code must survive.
    CutAtEveryChange("codes page", [](xbase::IFileSystem& fs, Codes& stored) {
        platform::FakeClock clock(common::DateTime::FromParts(2026, 3, 7, 10, 0, 0));
        HtmlListFile list(fs);
        list.OpenHtmlList(kCodeList, CodeListHeaderLines(clock.now()));
        SeededCodeRandom random(11);
        CodesPage page(fs, clock, list, random,
                       [&stored](const TicketCode& c) { stored[c.pin.toStdString()] = c.saldo; });
        page.openTable(QString::fromLatin1(kCodes));
        page.CreateCodes(3, "45", true);
        page.CreateCodes(2, "60", true);
    });
}

TEST(PowerCut, TablesReCreatedFromAnOldVersionsFiles) {
    // A dBASE index beside the tables marks the files of an old version:
    // the start re-creates both tables from them.
    CutAtEveryChange("re-creation", [](xbase::IFileSystem& fs, Codes&) {
        fs.Create("/cafe/data/CajaPIN.mdx");
        fs.Create("/cafe/data/CajaHPIN.mdx");
        fs.SyncFolder("/cafe/data");
        common::LastCommand lastCommand;
        TableOps ops(fs, kProgram, lastCommand);
        ops.TableHousekeeping();
        ops.ChkTables();
    });
}

TEST(PowerCut, OperatorsRepair) {
    CutAtEveryChange("repair", [](xbase::IFileSystem& fs, Codes&) {
        common::LastCommand lastCommand;
        TableOps(fs, kProgram, lastCommand).RepairTables({});
    });
}

TEST(PowerCut, RunWithoutACutLeavesTheTablesAsTheyWere) {
    MemoryFileSystem mem;
    const Codes stored = Seed(mem);
    FaultyFileSystem faulty(mem);
    faulty.TrackPowerCut();
    Restart(faulty);
    faulty.PowerCut(); // everything the start wrote was synced
    ExpectSound(mem, stored, "no cut");
    TableEngine codes(mem);
    codes.Open(kCodes, false);
    EXPECT_EQ(codes.RecordCount(), stored.size());
}

} // namespace
