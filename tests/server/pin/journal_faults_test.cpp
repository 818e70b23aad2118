// The usage journal's writes on a failing disk, and with the power going at
// each of their changes: a failure reaches the cashier in Spanish, and what is
// left on the disk opens sound with every entry written before the cut.

#include "common/LastCommand.h"
#include "platform/fake/FakeClock.h"
#include "server/computers/ComputerRegistry.h"
#include "server/computers/ServerContext.h"
#include "server/net/HandOff.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/TableOps.h"
#include "server/pin/UsageJournal.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "xbase/TableEngine.h"

#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace tarvina;
using namespace tarvina::server;
using common::DateTime;
using xbase::FaultyFileSystem;
using xbase::MemoryFileSystem;

namespace {

const QString kProgram = QStringLiteral("/cafe");
const QString kJournal = QStringLiteral("/cafe/report/07032026.dbf");
const QString kReport = QStringLiteral("/cafe/report/07032026.html");
const std::string kHistory = "/cafe/192.168.0.11.txt";

double Days(int h, int m) {
    return DateTime::FromParts(2026, 3, 7, h, m, 0).days();
}

std::string Text(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

void CreateJournal(xbase::IFileSystem& fs) {
    common::LastCommand lastCommand;
    fs.MakeFolders("/cafe/report");
    TableOps(fs, kProgram, lastCommand).CreaDiario(kJournal);
}

// One run of the cashier's program on fs: the day's journal and report
// open, one computer in the list.
struct CashierRun {
    explicit CashierRun(xbase::IFileSystem& fs)
        : clock(DateTime::FromParts(2026, 3, 7, 10, 0, 0)),
          ctx(clock, registry, handoff, lastCommand, kProgram), tbDiario(fs), report(fs) {
        tbDiario.Open(kJournal.toStdString(), false);
        tbDiario.SetOrder("EQUIPO");
        report.OpenHtmlList(kReport, UsageReportHeaderLines(clock.now()));
        UsageJournal::Hooks hooks;
        hooks.generalError = [this](const QString& e) { errors << e; };
        journal = std::make_unique<UsageJournal>(fs, ctx, &tbDiario, &report, kProgram, hooks);
        ComputersGuard guard(registry.lock());
        pc = registry.addRecord("192.168.0.11", "00-11-22-33-44-55");
        pc->address = "192.168.0.11";
        pc->mac = "00-11-22-33-44-55";
        pc->name = "PC-01";
        pc->user = "ana";
    }

    void change(int state, double start = 0, double end = 0) {
        {
            ComputersGuard guard(registry.lock());
            pc->state = quint8(state);
            if (start != 0) {
                pc->start = start;
                pc->end = end;
            }
        }
        journal->Statuspinchange(pc);
    }

    // Two sessions of an hour, each opened and closed in the journal, its
    // line in the history file and its row in the report.
    // `completed` counts the state changes done before the first error.
    void twoSessions(int* completed) {
        auto step = [&](int state, double start = 0, double end = 0) {
            change(state, start, end);
            if (errors.isEmpty()) {
                ++*completed;
            }
        };
        step(1);
        step(2, Days(10, 0), Days(11, 0));
        clock.set(DateTime::FromParts(2026, 3, 7, 11, 0, 0));
        step(1);
        step(2, Days(11, 5), Days(12, 5));
        clock.set(DateTime::FromParts(2026, 3, 7, 12, 5, 0));
        step(1);
    }

    platform::FakeClock clock;
    ComputerRegistry registry;
    HandOff handoff;
    common::LastCommand lastCommand;
    ServerContext ctx;
    xbase::TableEngine tbDiario;
    HtmlListFile report;
    std::unique_ptr<UsageJournal> journal;
    TCompItem* pc = nullptr;
    QStringList errors;
};

struct JournalRow {
    std::string hdesde, hhasta;
};

std::vector<JournalRow> JournalRows(xbase::IFileSystem& fs, const std::string& where) {
    xbase::TableEngine t(fs);
    t.Open(kJournal.toStdString(), false);
    EXPECT_TRUE(t.Verify().empty()) << where;
    std::vector<JournalRow> rows;
    t.SetOrder("EQUIPO");
    for (t.First(); !t.Eof(); t.Next()) {
        rows.push_back({t.GetString("HDESDE"), t.GetString("HHASTA")});
    }
    EXPECT_EQ(rows.size(), t.RecordCount()) << where << ": the tag misses rows";
    return rows;
}

TEST(JournalFaults, DiskErrorsReachTheCashierInSpanish) {
    MemoryFileSystem mem;
    CreateJournal(mem);
    FaultyFileSystem faulty(mem);
    CashierRun run(faulty);
    run.change(1);
    run.change(2, Days(10, 0), Days(11, 0));
    ASSERT_TRUE(run.errors.isEmpty()) << run.errors.join('\n').toStdString();

    // Nothing can be written any more: the journal row, the history file
    // and the report each say so, and none is taken for done.
    faulty.FailWrite(faulty.Writes() + 1);
    faulty.FailSync(true);
    run.clock.set(DateTime::FromParts(2026, 3, 7, 11, 0, 0));
    run.change(1);
    const QString all = run.errors.join('\n');
    EXPECT_TRUE(all.contains("Falla al escribir el diario de uso")) << all.toStdString();
    EXPECT_TRUE(all.contains("No se pudo escribir /cafe/192.168.0.11.txt")) << all.toStdString();
    EXPECT_TRUE(all.contains("No se pudo escribir " + kReport)) << all.toStdString();
    EXPECT_FALSE(mem.Exists(kHistory));
    EXPECT_FALSE(mem.Exists(kReport.toStdString()));

    // Once the disk works again the next save writes what was kept.
    faulty.Reset();
    run.errors.clear();
    run.change(2, Days(11, 5), Days(12, 5));
    run.clock.set(DateTime::FromParts(2026, 3, 7, 12, 5, 0));
    run.change(1);
    EXPECT_TRUE(run.errors.isEmpty()) << run.errors.join('\n').toStdString();
    const std::string report = Text(mem.Contents(kReport.toStdString()));
    EXPECT_EQ(Count(report, "\t\t<TR>\r\n"), 2) << "one row per session";
    const std::string history = Text(mem.Contents(kHistory));
    EXPECT_NE(history.find("Desde: 10:00:00 hasta 11:00:00"), std::string::npos);
    EXPECT_NE(history.find("Desde: 11:05:00 hasta 12:05:00"), std::string::npos);
    JournalRows(mem, "after the failures");

    // A station whose address could name another folder gets no file.
    {
        ComputersGuard guard(run.registry.lock());
        run.pc->address = "../etc/passwd";
        run.pc->history.clear();
    }
    run.errors.clear();
    run.change(2, Days(12, 10), Days(13, 10));
    run.clock.set(DateTime::FromParts(2026, 3, 7, 13, 10, 0));
    run.change(1);
    ASSERT_EQ(run.errors.size(), 1);
    EXPECT_TRUE(run.errors[0].startsWith("No se pudo guardar el historial"));
    EXPECT_FALSE(mem.Exists("/etc/passwd.txt"));
}

TEST(JournalFaults, PowerCutAtEveryChangeLeavesWholeFilesAndEveryEntryWritten) {
    // The run without a cut: how many state changes there are.
    int total = 0;
    {
        MemoryFileSystem mem;
        CreateJournal(mem);
        CashierRun run(mem);
        run.twoSessions(&total);
        ASSERT_TRUE(run.errors.isEmpty()) << run.errors.join('\n').toStdString();
    }
    int cuts = 0;
    for (int at = 1;; ++at) {
        MemoryFileSystem mem;
        CreateJournal(mem);
        FaultyFileSystem faulty(mem);
        faulty.TrackPowerCut();
        faulty.CrashAtChange(at);
        int completed = 0;
        QStringList errors;
        {
            CashierRun run(faulty);
            run.twoSessions(&completed);
            errors = run.errors;
        }
        if (!faulty.Crashed()) {
            EXPECT_EQ(completed, total);
            break;
        }
        faulty.PowerCut();
        ++cuts;
        const std::string where = "cut at change " + std::to_string(at) + " after " +
                                  std::to_string(completed) + " state changes (" +
                                  errors.join(" / ").toStdString() + ")";

        // The next start, after a run that did not close in order.
        common::LastCommand lastCommand;
        TableOps ops(mem, kProgram, lastCommand);
        ASSERT_NO_THROW(ops.DropJournalIndex(kJournal)) << where;
        ASSERT_NO_THROW(ops.CreaDiario(kJournal)) << where;
        const std::vector<JournalRow> rows = JournalRows(mem, where);
        // Changes 2 and 4 open a row, 3 and 5 close it: what was written
        // before the cut is there.
        EXPECT_GE(rows.size(), completed >= 4 ? 2u : completed >= 2 ? 1u : 0u) << where;
        if (completed >= 3) {
            ASSERT_GE(rows.size(), 1u) << where;
            EXPECT_EQ(rows[0].hhasta, "11:00:00") << where;
        }
        if (completed >= 5) {
            ASSERT_EQ(rows.size(), 2u) << where;
            EXPECT_EQ(rows[1].hhasta, "12:05:00") << where;
        }

        // The history file and the report are the old ones or the new ones,
        // never a part.
        const std::string history = Text(mem.Contents(kHistory));
        if (!history.empty()) {
            EXPECT_TRUE(EndsWith(history, "\r\n")) << where;
            EXPECT_NE(history.find("Inicio de operaciones\r\n"), std::string::npos) << where;
        }
        if (completed >= 3) {
            EXPECT_NE(history.find("Desde: 10:00:00 hasta 11:00:00"), std::string::npos) << where;
        }
        const std::string report = Text(mem.Contents(kReport.toStdString()));
        if (!report.empty()) {
            EXPECT_TRUE(EndsWith(report, "</HTML>\r\n")) << where;
        }
        if (completed >= 5) {
            EXPECT_NE(report.find("12:05:00"), std::string::npos) << where;
        }
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
    EXPECT_GT(cuts, 10);
}

} // namespace
