// The till table end to end: a use that ends through the usage journal, a
// code sold, a payment, a voided row, a restart and a close; then the power
// going at each change the till makes to the disk.

#include "common/Currency.h"
#include "common/LastCommand.h"
#include "platform/fake/FakeClock.h"
#include "server/computers/ComputerRegistry.h"
#include "server/computers/ServerContext.h"
#include "server/net/HandOff.h"
#include "server/pin/TableOps.h"
#include "server/pin/Till.h"
#include "server/pin/TillReport.h"
#include "server/pin/UsageJournal.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "xbase/TableEngine.h"

#include <gtest/gtest.h>
#include <memory>

using namespace tarvina;
using namespace tarvina::server;
using common::DateTime;
using xbase::FaultyFileSystem;
using xbase::MemoryFileSystem;

namespace {

const QString kProgram = QStringLiteral("/cafe");
const QString kJournal = QStringLiteral("/cafe/report/10122026.dbf");
const QString kTill = QStringLiteral("/cafe/data/Caja.dbf");

DateTime At(int h, int m) {
    return DateTime::FromParts(2026, 12, 10, h, m, 0);
}

Tariff OneTwenty() {
    TariffPageFields f;
    f.hourPrice = QStringLiteral("1.20");
    f.codePrices = QStringList{{}, {}, {}, QStringLiteral("0.50")};
    return ApplyTariffPage(f).tariff;
}

void MakeTables(xbase::IFileSystem& fs) {
    common::LastCommand lastCommand;
    fs.MakeFolders("/cafe/report");
    TableOps ops(fs, kProgram, lastCommand);
    ops.CreaDiario(kJournal);
    ops.CreaCaja();
}

// One run of the cashier's program: the journal feeding the till.
struct Counter {
    explicit Counter(xbase::IFileSystem& fs)
        : clock(At(10, 0)), ctx(clock, registry, handoff, lastCommand, kProgram), tbDiario(fs),
          till(fs, clock) {
        tbDiario.Open(kJournal.toStdString(), false);
        tbDiario.SetOrder("EQUIPO");
        till.open(kTill);
        till.setTariff(OneTwenty());
        UsageJournal::Hooks hooks;
        hooks.generalError = [this](const QString& e) { errors << e; };
        hooks.useEnded = [this](const UsageJournal::UseEnd& u) {
            till.useEnded(u.computer, u.user, u.start, u.minutes, u.code);
        };
        journal = std::make_unique<UsageJournal>(fs, ctx, &tbDiario, nullptr, kProgram, hooks);
        ComputersGuard guard(registry.lock());
        pc = registry.addRecord("192.168.0.11", "00-11-22-33-44-55");
        pc->address = "192.168.0.11";
        pc->name = "PC-01";
        pc->user = "ana";
    }

    void change(int state, const DateTime& start = {}, const QString& pin = {}) {
        {
            ComputersGuard guard(registry.lock());
            pc->state = quint8(state);
            pc->pin = pin;
            if (start.days() != 0) {
                pc->start = start.days();
                pc->end = start.addMinutes(60).days();
            }
        }
        journal->Statuspinchange(pc);
    }

    platform::FakeClock clock;
    ComputerRegistry registry;
    HandOff handoff;
    common::LastCommand lastCommand;
    ServerContext ctx;
    xbase::TableEngine tbDiario;
    Till till;
    std::unique_ptr<UsageJournal> journal;
    TCompItem* pc = nullptr;
    QStringList errors;
};

} // namespace

TEST(TillTest, UseEndsIsPaidVoidedSurvivesARestartAndCloses) {
    MemoryFileSystem mem;
    MakeTables(mem);
    {
        Counter run(mem);
        run.change(1);
        run.change(2, At(10, 0));
        // Running: 30 minutes so far cost 0.60; nothing is owed yet.
        EXPECT_EQ(run.till.runningCost(At(10, 0), At(10, 30)), 60);
        EXPECT_EQ(run.till.due(QStringLiteral("PC-01")), 0);
        // 45 minutes and 20 seconds: the journal charges 45, at 1.20 an hour 0.90.
        run.clock.set(At(10, 45).addSeconds(20));
        run.change(1);
        run.change(1); // a repeated lock charges nothing more
        ASSERT_TRUE(run.errors.isEmpty()) << run.errors.join('\n').toStdString();
        EXPECT_EQ(run.till.due(QStringLiteral("PC-01")), 90);
        EXPECT_EQ(run.till.dueMinutes(QStringLiteral("PC-01")), 45);

        // A use on a code costs nothing at the counter.
        run.change(2, At(11, 0), QStringLiteral("0003E8"));
        run.clock.set(At(11, 30));
        run.change(1, {}, QStringLiteral("0003E8"));
        EXPECT_EQ(run.till.due(QStringLiteral("PC-01")), 90);

        ASSERT_TRUE(run.till.codeSold(QStringLiteral("00A1B2"), 30));
        ASSERT_EQ(run.till.openMovements().size(), 3u);
        const TillMovement sale = run.till.openMovements()[2];
        EXPECT_EQ(sale.kind, TillConcept::Code);
        EXPECT_EQ(sale.cents, 50);
        EXPECT_TRUE(sale.paid);

        // The sale was a mistake: voided, never edited; twice is refused.
        const TillMovement back = run.till.voidMovement(sale.recno);
        EXPECT_EQ(back.cents, -50);
        EXPECT_EQ(back.pin, QStringLiteral("#%1").arg(sale.recno));
        EXPECT_THROW(run.till.voidMovement(sale.recno), std::invalid_argument);
        EXPECT_THROW(run.till.voidMovement(back.recno), std::invalid_argument);
        const TillTotals t = run.till.totals();
        EXPECT_EQ(t.total, 90);
        EXPECT_EQ(t.due, 90);
        EXPECT_EQ(t.perConcept.at(TillConcept::Code), 50);
        EXPECT_EQ(t.perConcept.at(TillConcept::Void), -50);
    }
    // The next run reads the open till back, the void included.
    Counter run(mem);
    ASSERT_EQ(run.till.openMovements().size(), 4u);
    EXPECT_EQ(run.till.due(QStringLiteral("PC-01")), 90);
    EXPECT_THROW(run.till.voidMovement(run.till.openMovements()[2].recno), std::invalid_argument);
    run.clock.set(At(12, 0));
    EXPECT_EQ(run.till.collect(QStringLiteral("PC-01")), 1);
    EXPECT_EQ(run.till.due(QStringLiteral("PC-01")), 0);
    EXPECT_EQ(run.till.openMovements()[0].paidAt, QStringLiteral("10/12/2026 12:00:00"));

    const Till::Closed first = run.till.closeTill();
    EXPECT_EQ(first.number, 1);
    EXPECT_EQ(first.totals.paid, 90);
    EXPECT_EQ(first.movements.size(), 4u);
    EXPECT_TRUE(run.till.openMovements().empty());
    // A close with nothing in it still takes the next number.
    EXPECT_EQ(run.till.closeTill().number, 2);

    // On the disk as any xBase program reads it.
    xbase::TableEngine t(mem);
    t.Open(kTill.toStdString(), false);
    EXPECT_TRUE(t.Verify().empty());
    t.GoTo(1);
    EXPECT_EQ(t.GetString("CONCEPTO"), "USO");
    EXPECT_EQ(t.GetString("MONTO"), "0.90");
    EXPECT_TRUE(t.GetLogical("COBRADO"));
    EXPECT_EQ(t.GetInteger("CIERRE"), 1);
    t.Close();
    Till again(mem, run.clock);
    again.open(kTill);
    EXPECT_EQ(again.lastClose(), 2);
    EXPECT_TRUE(again.openMovements().empty());
}

TEST(TillTest, PowerCutAtEveryChangeKeepsEveryMovementReported) {
    for (int at = 1;; ++at) {
        MemoryFileSystem mem;
        MakeTables(mem);
        FaultyFileSystem faulty(mem);
        faulty.TrackPowerCut();
        faulty.CrashAtChange(at);
        int stored = 0;
        {
            platform::FakeClock clock(At(9, 0));
            Till till(faulty, clock);
            till.setTariff(OneTwenty());
            try {
                till.open(kTill);
                for (int i = 0; i < 3; ++i) {
                    till.codeSold(QStringLiteral("00000%1").arg(i), 30);
                    ++stored;
                }
                till.useEnded(QStringLiteral("PC-02"), QStringLiteral("luis"), At(9, 0), 60, {});
                ++stored;
            } catch (const std::exception&) {
            }
        }
        if (!faulty.Crashed()) {
            EXPECT_EQ(stored, 4);
            EXPECT_GT(at, 4);
            break;
        }
        faulty.PowerCut();
        const std::string where = "cut at change " + std::to_string(at);
        common::LastCommand lastCommand;
        TableOps ops(mem, kProgram, lastCommand);
        ops.DropIndexesAfterUncleanClose();
        ASSERT_NO_THROW(ops.CreaCaja()) << where;
        platform::FakeClock clock(At(9, 30));
        Till till(mem, clock);
        ASSERT_NO_THROW(till.open(kTill)) << where;
        EXPECT_GE(int(till.openMovements().size()), stored) << where;
        xbase::TableEngine t(mem);
        t.Open(kTill.toStdString(), false);
        EXPECT_TRUE(t.Verify().empty()) << where;
    }
}

TEST(TillTest, DamagedTableIsSetAsideAndANewOneStarted) {
    MemoryFileSystem mem;
    MakeTables(mem);
    {
        auto f = mem.Open(kTill.toStdString(), true);
        const char junk[] = "no es una tabla";
        f->WriteAt(0, junk, sizeof junk);
        f->Truncate(sizeof junk);
    }
    QStringList notices;
    common::LastCommand lastCommand;
    TableOps::Hooks hooks;
    hooks.notice = [&](const QString& t) { notices << t; };
    hooks.now = [] { return At(8, 0); };
    TableOps(mem, kProgram, lastCommand, hooks).CreaCaja();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].startsWith(QStringLiteral("El archivo Caja.dbf está dañado")));
    EXPECT_TRUE(mem.Exists("/cafe/data/Caja.dañado-10122026080000.dbf"));
    platform::FakeClock clock(At(8, 0));
    Till till(mem, clock);
    EXPECT_NO_THROW(till.open(kTill));
}

TEST(TillTest, CloseReportShowsTheDayInPicturesAndSaysSoWhenEmpty) {
    MemoryFileSystem mem;
    MakeTables(mem);
    platform::FakeClock clock(At(10, 30));
    Till till(mem, clock);
    till.open(kTill);
    till.setTariff(OneTwenty());
    // A station's name is its own words: markup stays text.
    till.useEnded(QStringLiteral("<script>PC</script>"), QStringLiteral("ana"), At(9, 45), 45, {});
    clock.set(At(11, 10));
    till.useEnded(QStringLiteral("PC-02"), QStringLiteral("luis"), At(10, 10), 60, {});
    till.collect(QStringLiteral("PC-02"));
    till.codeSold(QStringLiteral("00A1B2"), 30);

    const QString path = CloseTillWithReport(till, mem, kProgram, QStringLiteral("Cyber & Co"));
    EXPECT_EQ(path, QStringLiteral("/cafe/report/Caja-20261210-1.html"));
    const auto bytes = mem.Contents(path.toStdString());
    const QString html =
        QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    EXPECT_EQ(html.count(QStringLiteral("<svg")), 2);
    EXPECT_FALSE(html.contains(QStringLiteral("<script")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;script&gt;PC&lt;/script&gt;")));
    EXPECT_TRUE(html.contains(QStringLiteral("Cyber &amp; Co")));
    EXPECT_TRUE(html.contains(common::FormatCurrency(120 + 50))); // paid: PC-02 and the code

    // Computers in use per hour: the first use touched 9 and 10, the second 10 and 11.
    TillMovement a, b;
    a.kind = b.kind = TillConcept::Use;
    a.computer = QStringLiteral("A");
    b.computer = QStringLiteral("B");
    a.when = At(10, 30);
    a.minutes = 45;
    b.when = At(11, 10);
    b.minutes = 60;
    b.paid = true;
    b.cents = 120;
    const TillHours h = HoursOf({a, b});
    EXPECT_EQ(h.computers[9], 1);
    EXPECT_EQ(h.computers[10], 2);
    EXPECT_EQ(h.computers[11], 1);
    EXPECT_EQ(h.cents[11], 120);
    EXPECT_EQ(h.cents[10], 0);

    // A close with nothing in it: a report that says so.
    const QString empty = CloseTillWithReport(till, mem, kProgram, QStringLiteral("Cyber"));
    EXPECT_EQ(empty, QStringLiteral("/cafe/report/Caja-20261210-2.html"));
    const auto none = mem.Contents(empty.toStdString());
    EXPECT_NE(std::string(none.begin(), none.end()).find("No hubo movimientos en este cierre."),
              std::string::npos);
}
