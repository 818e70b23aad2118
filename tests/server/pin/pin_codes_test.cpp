#include "common/Cp1252.h"
#include "protocol/Codes.h"
#include "protocol/Line.h"
#include "server/PinTestPrinters.h"
#include "server/PinWorld.h"
#include "xbase/PosixFileSystem.h"

#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using namespace tarvina::server::test;

namespace {

QByteArray StartingWith(const QList<QByteArray>& lines, const QByteArray& prefix) {
    for (const QByteArray& l : lines) {
        if (l.startsWith(prefix)) {
            return l;
        }
    }
    return {};
}

} // namespace

using PinCodesTest = PinWorld;

TEST_F(PinCodesTest, NewCodeIsAcceptedBoundAndGranted) {
    addCode("00A1F3", 30);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    Station& b = station("PC-02", "00-11-22-33-44-66", "192.168.0.12");
    setPin(a, "00A1F3");
    codes->ProcesaPIn(a.record);

    const QList<QByteArray> got = a.lines();
    ASSERT_FALSE(got.isEmpty());
    EXPECT_EQ(got.first(), "39100A1F3");
    EXPECT_EQ(StartingWith(got, "04"), "0430,<Gen>,");
    const auto row = codeRow("00A1F3");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->chora, "10:00:00");
    EXPECT_EQ(row->cfecha, (xbase::Date{2026, 3, 7}));
    EXPECT_EQ(row->mac, "00-11-22-33-44-55");
    EXPECT_EQ(row->equipo, "PC-01");
    EXPECT_EQ(row->saldo, 30);
    const auto hist = historyRows();
    ASSERT_EQ(hist.size(), 1);
    EXPECT_EQ(hist[0].pin, "00A1F3");
    EXPECT_EQ(hist[0].asig, 30);
    EXPECT_EQ(hist[0].consumo, 0);
    EXPECT_EQ(hist[0].chora, "10:00:00");
    EXPECT_EQ(hist[0].cfecha, (xbase::Date{2026, 3, 7}));
    EXPECT_EQ(hist[0].fecha, (xbase::Date{2026, 3, 7}));
    EXPECT_EQ(pinOf(a), "00A1F3");
    EXPECT_TRUE(consoleLines.isEmpty());

    // The same code at a second computer while in use.
    setPin(b, "00A1F3");
    codes->ProcesaPIn(b.record);
    EXPECT_EQ(b.lines(), QList<QByteArray>{"39000A1F3"});
    EXPECT_EQ(consoleLines, QStringList{"PC-02: Intento de PIN inválido 00A1F3"});
    EXPECT_EQ(pinOf(b), "");
    EXPECT_EQ(historyRows().size(), 1);

    // An empty code, one too long, lower case or not hexadecimal: refused
    // like an unknown one.
    for (const QString& bad : {QString(), QStringLiteral("00A1F3X"), QStringLiteral("00a1f3"),
                               QStringLiteral("00A1\u00d13"), QStringLiteral("00A1")}) {
        setPin(b, bad);
        codes->ProcesaPIn(b.record);
        EXPECT_EQ(b.lines(), QList<QByteArray>{"390" + common::ToCp1252(bad)});
        EXPECT_EQ(pinOf(b), "");
    }
    EXPECT_EQ(codeRow("00A1F3")->mac, "00-11-22-33-44-55");

    // A computer whose connection is gone gets no answer at all.
    Station& c = station("PC-03", "00-11-22-33-44-77", "192.168.0.13");
    c.powerOff();
    setPin(c, "00A1F3");
    const int before = consoleLines.size();
    codes->ProcesaPIn(c.record);
    EXPECT_EQ(consoleLines.size(), before);
}

TEST_F(PinCodesTest, ALockReportedBeforeTheGrantDoesNotEndTheNewUse) {
    // The station's lock report, still queued, is handled right after its
    // typed code was granted in the same idle pass.
    addCode("0ABCDE", 30);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    setState(a, 1);
    setPin(a, "0ABCDE");
    codes->ProcesaPIn(a.record);
    codes->EndCodeUse(a.record);
    EXPECT_EQ(codeRow("0ABCDE")->chora, "10:00:00");
    EXPECT_EQ(codeRow("0ABCDE")->saldo, 30);
    EXPECT_EQ(historyRows().size(), 1);
    EXPECT_EQ(pinOf(a), "0ABCDE");

    // The lock that follows the use ends it.
    setState(a, 2);
    clock.advanceMinutes(10);
    setState(a, 1);
    codes->EndCodeUse(a.record);
    EXPECT_EQ(codeRow("0ABCDE")->chora, "");
    EXPECT_EQ(codeRow("0ABCDE")->saldo, 20);
    EXPECT_EQ(historyRows().last().consumo, 10);
    EXPECT_EQ(pinOf(a), "");
}

TEST_F(PinCodesTest, ChargingRoundsAtFourTenthsOfAMinute) {
    const DateTime start = DateTime::FromParts(2026, 3, 7, 10, 0, 0);
    EXPECT_EQ(PinCodes::MinutesCharged(start, start.addSeconds(620)), 10); // 10 min 20 s
    EXPECT_EQ(PinCodes::MinutesCharged(start, start.addSeconds(630)), 11); // 10 min 30 s
    EXPECT_EQ(PinCodes::MinutesCharged(start, start.addSeconds(24)), 1);   // 0.4 of a minute
    EXPECT_EQ(PinCodes::MinutesCharged(start, start.addSeconds(23)), 0);
    EXPECT_EQ(PinCodes::MinutesCharged(start, start.addSeconds(-300)), 0); // clock set back
    EXPECT_FALSE(PinCodes::UseStart(xbase::Date{2026, 3, 7}, "1x:00:00"));
    EXPECT_FALSE(PinCodes::UseStart(std::nullopt, "10:00:00"));
    EXPECT_EQ(PinCodes::UseStart(xbase::Date{2026, 3, 7}, "10:00:05"), start.addSeconds(5));

    // Through the end of a use: 60 minutes, 10 min 30 s used leaves 49.
    addCode("0BEEF0", 60);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    setPin(a, "0BEEF0");
    codes->ProcesaPIn(a.record);
    clock.advanceSeconds(630);
    setState(a, 1);
    codes->EndCodeUse(a.record);
    EXPECT_EQ(codeRow("0BEEF0")->saldo, 49);
    EXPECT_EQ(historyRows().last().consumo, 11);
}

TEST_F(PinCodesTest, UsedUpCodeIsRetiredReturnedCodeServesAgain) {
    addCode("030303", 30);
    addCode("060606", 60);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    Station& b = station("PC-02", "00-11-22-33-44-66", "192.168.0.12");
    setPin(a, "030303");
    codes->ProcesaPIn(a.record);
    setPin(b, "060606");
    codes->ProcesaPIn(b.record);
    a.lines();
    b.lines();

    clock.advanceMinutes(20);
    setState(b, 1);
    codes->EndCodeUse(b.record);
    EXPECT_EQ(pinOf(b), "");
    auto row = codeRow("060606");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->saldo, 40);
    EXPECT_EQ(row->chora, "");
    EXPECT_FALSE(row->cfecha);
    EXPECT_EQ(row->mac, "");
    EXPECT_EQ(row->equipo, "PC-02"); // the last computer stays named

    clock.advanceMinutes(9);
    setState(a, 1);
    codes->EndCodeUse(a.record);
    EXPECT_FALSE(codeRow("030303")); // 1 minute left: retired
    const auto hist = historyRows();
    ASSERT_EQ(hist.size(), 4);
    EXPECT_EQ(hist[2].pin, "060606");
    EXPECT_EQ(hist[2].consumo, 20);
    EXPECT_EQ(hist[2].chora, "10:00:00");
    EXPECT_EQ(hist[2].hora, "10:20:00");
    EXPECT_EQ(hist[3].consumo, 29);

    // Typed again: the retired code is refused, the returned one grants 40.
    setState(a, 1);
    setPin(a, "030303");
    codes->ProcesaPIn(a.record);
    EXPECT_EQ(a.lines().first(), "390030303");
    setPin(a, "060606");
    codes->ProcesaPIn(a.record);
    const QList<QByteArray> got = a.lines();
    EXPECT_EQ(got.first(), "391060606");
    EXPECT_EQ(StartingWith(got, "04"), "0440,<Gen>,");
    EXPECT_EQ(historyRows().last().asig, 40);

    // A record not locked, or holding another computer's code, charges nothing.
    setState(b, 2);
    setPin(b, "060606");
    codes->EndCodeUse(b.record);
    setState(b, 1);
    codes->EndCodeUse(b.record);
    EXPECT_EQ(historyRows().size(), 5);
    EXPECT_EQ(codeRow("060606")->mac, "00-11-22-33-44-55");
}

TEST_F(PinCodesTest, PeriodicCheckLocksAndClosesOut) {
    addCode("0AAAAA", 30);
    addCode("0BBBBB", 30);
    addCode("0CCCCC", 60);
    addCode("0DDDDD", 30); // never used
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    Station& b = station("PC-02", "00-11-22-33-44-66", "192.168.0.12");
    Station& c = station("PC-03", "00-11-22-33-44-77", "192.168.0.13");
    setPin(a, "0AAAAA");
    codes->ProcesaPIn(a.record);
    setPin(b, "0BBBBB");
    codes->ProcesaPIn(b.record);
    setPin(c, "0CCCCC");
    codes->ProcesaPIn(c.record);
    a.lines();
    b.lines();
    c.lines();

    // Within the time nothing happens.
    clock.advanceMinutes(10);
    codes->VerificaPin();
    EXPECT_EQ(historyRows().size(), 3);
    EXPECT_TRUE(a.lines().isEmpty());
    EXPECT_EQ(lastCommand.get(), "Verifica pin");

    // b is powered off; c now runs another code; a is out of time.
    b.powerOff();
    setPin(c, "0DDDDD");
    clock.advanceMinutes(21); // 31 minutes since the start
    codes->VerificaPin();
    EXPECT_FALSE(checkRunning);
    const QList<QByteArray> toA = a.lines();
    ASSERT_EQ(toA.size(), 1);
    EXPECT_EQ(toA.first(), protocol::FormatToClient(protocol::tc::Lock)) << "a is locked";
    EXPECT_TRUE(codeRow("0AAAAA"));  // charged only when a reports itself locked
    EXPECT_FALSE(codeRow("0BBBBB")); // full elapsed time charged, retired
    const auto c2 = codeRow("0CCCCC");
    ASSERT_TRUE(c2);
    EXPECT_EQ(c2->saldo, 29);
    EXPECT_EQ(c2->mac, "");
    const auto hist = historyRows();
    ASSERT_EQ(hist.size(), 5);
    QList<std::pair<std::string, qint64>> consumed;
    for (int i = 3; i < 5; ++i) {
        consumed << std::pair{hist[i].pin, hist[i].consumo};
    }
    EXPECT_TRUE(consumed.contains(std::pair<std::string, qint64>{"0BBBBB", 31}));
    EXPECT_TRUE(consumed.contains(std::pair<std::string, qint64>{"0CCCCC", 31}));
    EXPECT_GT(gridRefreshes, 3);

    // A bound code whose computer is unknown closes out once its time is up.
    Station& d = station("PC-04", "00-11-22-33-44-88", "192.168.0.14");
    addCode("0EEEEE", 15);
    setPin(d, "0EEEEE");
    codes->ProcesaPIn(d.record);
    {
        // The computer's MAC changes (a new network card): the row's MAC
        // names no known computer any more.
        ComputersGuard guard(registry.lock());
        d.record->mac = "00-11-22-33-44-99";
    }
    tbPin.SetOrder("PIN");
    ASSERT_TRUE(tbPin.Seek("0EEEEE"));
    tbPin.Edit();
    tbPin.SetString("MAC", "0A-0B-0C-0D-0E-0F");
    tbPin.Post();
    tbPin.Commit();
    clock.advanceMinutes(16);
    codes->VerificaPin();
    EXPECT_FALSE(codeRow("0EEEEE")) << consoleLines.join("\n").toStdString();
}

TEST_F(PinCodesTest, MovedSessionRebindsAndWaitingEntriesAreDropped) {
    addCode("0F0F0F", 60);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    Station& b = station("PC-02", "00-11-22-33-44-66", "192.168.0.12");
    setPin(a, "0F0F0F");
    codes->ProcesaPIn(a.record);
    clock.advanceMinutes(10);
    // MoveUser copies the code to b and clears it on a; b confirms.
    setPin(b, "0F0F0F");
    setPin(a, "");
    EXPECT_TRUE(codes->ApplyPinAssign("0F0F0F", b.record));
    auto row = codeRow("0F0F0F");
    EXPECT_EQ(row->mac, "00-11-22-33-44-66");
    EXPECT_EQ(row->equipo, "PC-02");
    EXPECT_EQ(row->chora, "10:00:00"); // the use keeps its first start

    clock.advanceMinutes(15);
    setState(b, 1);
    codes->EndCodeUse(b.record);
    EXPECT_EQ(codeRow("0F0F0F")->saldo, 35);
    EXPECT_EQ(historyRows().last().consumo, 25);
    EXPECT_EQ(historyRows().last().chora, "10:00:00");

    // An entry that cannot match waits, then leaves after two minutes.
    setPin(a, "0F0F0F");
    EXPECT_FALSE(codes->ApplyPinAssign("0F0F0F", a.record)); // not in use any more
    clock.advanceSeconds(119);
    EXPECT_FALSE(codes->ApplyPinAssign("0F0F0F", a.record));
    clock.advanceSeconds(1);
    EXPECT_TRUE(codes->ApplyPinAssign("0F0F0F", a.record));
    EXPECT_TRUE(consoleLines.last().contains("0F0F0F"));
    // A moved session without a code confirms an empty code: nothing to bind.
    EXPECT_TRUE(codes->ApplyPinAssign(QString(), a.record));
}

TEST_F(PinCodesTest, GuessingIsRefusedWithoutLookupForAMinute) {
    addCode("0ABCDE", 30);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    for (int i = 0; i < 11; ++i) {
        setPin(a, QStringLiteral("%1").arg(0x100000 + i, 6, 16).toUpper());
        codes->ProcesaPIn(a.record);
        clock.advanceSeconds(2);
    }
    EXPECT_TRUE(codes->guessGuardActive(a.record));
    const int lines = consoleLines.size();
    EXPECT_EQ(lines, 12); // 11 refusals and the notice, once
    EXPECT_TRUE(consoleLines.last().contains("Demasiados intentos"));
    a.lines();
    // Even the right code is refused now, without a line on the console.
    setPin(a, "0ABCDE");
    codes->ProcesaPIn(a.record);
    setPin(a, "0ABCDE");
    codes->ProcesaPIn(a.record);
    EXPECT_EQ(a.lines(), (QList<QByteArray>{"3900ABCDE", "3900ABCDE"}));
    EXPECT_EQ(consoleLines.size(), lines);
    EXPECT_FALSE(codeRow("0ABCDE")->chora.size());

    // Another computer is not affected.
    Station& b = station("PC-02", "00-11-22-33-44-66", "192.168.0.12");
    EXPECT_FALSE(codes->guessGuardActive(b.record));

    clock.advanceSeconds(60);
    setPin(a, "0ABCDE");
    codes->ProcesaPIn(a.record);
    EXPECT_EQ(a.lines().first(), "3910ABCDE");

    // Ten refusals in a minute are still within bounds.
    Station& c = station("PC-03", "00-11-22-33-44-77", "192.168.0.13");
    for (int i = 0; i < 10; ++i) {
        setPin(c, "0FFFFF");
        codes->ProcesaPIn(c.record);
    }
    EXPECT_FALSE(codes->guessGuardActive(c.record));
}

TEST_F(PinCodesTest, RepairClosedTablesAndTheCodesPagesRow) {
    addCode("0BEAD0", 30);
    addCode("0BEAD1", 30);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");

    // The code table closed by a repair: the request waits, then fails.
    bool repairing = true;
    int waited = 0;
    PinCodes::Hooks hooks;
    hooks.console = [this](TCompItem* r, const QString& text) {
        consoleLines << ((r ? r->name + ": " : QString()) + text);
    };
    hooks.repairInProgress = [&] { return repairing; };
    hooks.waitForRepair = [&](int ms) {
        waited = ms;
        repairing = false; // the repair ends, but the table is not back
    };
    PinTables closed = tables;
    xbase::TableEngine notOpen(xbase::RealFileSystem());
    closed.tbPin = &notOpen;
    PinCodes blocked(ctx, closed, hooks);
    setPin(a, "0BEAD0");
    blocked.ProcesaPIn(a.record);
    EXPECT_EQ(waited, 120000);
    EXPECT_EQ(consoleLines.last(),
              "PC-01: Falla al solicitar autorización de PIN (problema en base de datos) PC-01");
    EXPECT_TRUE(a.lines().isEmpty());
    EXPECT_THROW(blocked.EndCodeUse([&] {
        setState(a, 1);
        return a.record;
    }()),
                 std::exception);
    // The periodic check is skipped while a repair runs or the program closes.
    repairing = true;
    blocked.VerificaPin();
    EXPECT_EQ(lastCommand.get(), "Verifica pin");

    // The codes page standing on the row whose use ends moves to its first row.
    setState(a, 1);
    setPin(a, "0BEAD1");
    codes->ProcesaPIn(a.record);
    setState(a, 2);
    frame.SetOrder("PIN");
    ASSERT_TRUE(frame.Seek("0BEAD1"));
    clock.advanceMinutes(5);
    setState(a, 1);
    codes->EndCodeUse(a.record);
    EXPECT_EQ(frame.GetString("PIN"), "0BEAD0");
    EXPECT_EQ(codeRow("0BEAD1")->saldo, 25);
}
