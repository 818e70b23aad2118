#include "../server/BmpSamples.h"
#include "ServerOnLoopback.h"
#include "common/Cp1252.h"
#include "common/Password.h"
#include "protocol/Block.h"
#include "protocol/DateTimeText.h"
#include "server/computers/Senders.h"
#include "server/net/ConsoleRate.h"
#include "server/net/StationConnection.h"
#include "server/session/StationSession.h"
#include "server/session/TimeAssignment.h"
#include "server/shell/ServerCore.h"
#include "simulator/StationSim.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarvina;
using server::IdlePass;
using server::ServerCore;
using server::TCompItem;
using sim::StationSim;

namespace {

constexpr int kWait = 5000;

int ProcessThreads() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

class Loopback : public server::test::ServerOnLoopback {
protected:
    void SetUp() override { startServer(); }

    using ServerOnLoopback::station;
    StationSim* station(const QByteArray& name, const QByteArray& mac, const QString& from,
                        bool handshake) {
        StationSim::Config c = Station(name, mac, from);
        c.answerHandshake = handshake;
        return station(c);
    }
    bool consoleHas(const QString& text) { return core->console().texts().contains(text); }
    // Lines after the first `from` lines, without the CdListQuery ones.
    static QList<QByteArray> Without33(const QList<QByteArray>& lines, int from = 0) {
        QList<QByteArray> out;
        for (int i = from; i < lines.size(); ++i)
            if (lines[i] != "33")
                out.append(lines[i]);
        return out;
    }
};

TEST_F(Loopback, HandshakeInOrderAndRecordFilled) {
    StationSim* s = bound("PC1", "00-11-22-33-44-01", QStringLiteral("127.0.0.11"));
    ASSERT_TRUE(s->waitForLine("33", kWait));
    const QList<QByteArray> lines = s->lines();
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], "48");
    EXPECT_EQ(lines[1], "01");
    const QList<QByteArray> rest = Without33(lines, 2);
    ASSERT_GE(rest.size(), 4);
    EXPECT_EQ(rest[0], "02");
    EXPECT_EQ(rest[1], "400");
    EXPECT_EQ(rest[2], "41");
    EXPECT_EQ(rest[3], "0A1,15,30,60");

    TCompItem* r = record(QStringLiteral("PC1"));
    ASSERT_NE(r, nullptr);
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->mac, QStringLiteral("00-11-22-33-44-01"));
    EXPECT_EQ(r->address, QStringLiteral("127.0.0.11"));
    EXPECT_EQ(r->state, 1);
    EXPECT_EQ(r->versionText, QStringLiteral("V 3.0 (B 0.0)"));
    EXPECT_EQ(core->computers().caption(r->row), QStringLiteral("PC1"));
    EXPECT_EQ(core->computers().cell(r->row, 0), QStringLiteral("Bloq."));
    EXPECT_EQ(core->connectionCount(), 1);
    EXPECT_EQ(ServerCore::TrayHintText(core->connectionCount()),
              QStringLiteral("ZU Tarvina 1 conexión\rEstándar ") + server::ProgramVersionText());
}

TEST_F(Loopback, BindingByMacAddressAndTakeOver) {
    // A reconnect by MAC from another address finds its record intact.
    StationSim* a = bound("PCA", "00-11-22-33-44-21", QStringLiteral("127.0.0.21"));
    a->config().state = 2;
    a->config().user = "Ana";
    a->config().timeLeft = "0.0104166666666667";
    a->config().start = "45000.5";
    a->sendStatusReport();
    a->sendLine("R14");
    a->sendBlock("hola");
    ASSERT_TRUE(waitConsole(QStringLiteral("Mensaje recibido.")));
    TCompItem* r = record(QStringLiteral("PCA"));
    ASSERT_NE(r, nullptr);
    const int rows = core->registry().rowCount();
    a->disconnectFromServer();
    ASSERT_TRUE(waitUntil([&] {
        server::ComputersGuard g(core->registry().lock());
        return r->connection == nullptr && r->state == 0;
    }));
    // The row's view follows through the hand-off queue, after the record.
    EXPECT_TRUE(
        waitUntil([&] { return core->computers().cell(r->row, 0) == QStringLiteral("Desc."); }));
    // It reports the session it restored; the messages were never its.
    StationSim::Config restored = a->config();
    restored.localAddress = QStringLiteral("127.0.0.22");
    StationSim* again = station(restored);
    ASSERT_TRUE(again->waitForLine("0A", kWait));
    settle();
    {
        server::ComputersGuard g(core->registry().lock());
        EXPECT_EQ(core->registry().rowCount(), rows);
        EXPECT_TRUE(r->connection != nullptr);
        EXPECT_EQ(r->user, QStringLiteral("Ana"));
        EXPECT_EQ(r->messages, QStringList{QStringLiteral("hola")});
        EXPECT_DOUBLE_EQ(r->start, 45000.5);
        EXPECT_EQ(r->address, QStringLiteral("127.0.0.22"));
    }

    // "mac not found": found again by address; another computer from that
    // address takes the record over.
    StationSim* b = bound("PCB", "mac not found", QStringLiteral("127.0.0.23"));
    TCompItem* rb = record(QStringLiteral("PCB"));
    ASSERT_NE(rb, nullptr);
    b->disconnectFromServer();
    ASSERT_TRUE(waitUntil([&] {
        server::ComputersGuard g(core->registry().lock());
        return rb->connection == nullptr;
    }));
    bound("PCC", "mac not found", QStringLiteral("127.0.0.23"));
    EXPECT_EQ(record(QStringLiteral("PCC")), rb);
    EXPECT_EQ(core->registry().rowCount(), rows + 1);

    // Identify before MacReport: bound by address, the MAC only stored.
    StationSim* c = station("PCD", "", QStringLiteral("127.0.0.24"), false);
    c->sendLine("R01PCD");
    ASSERT_TRUE(c->waitForLine("0A", kWait) || c->waitForLine("41", kWait));
    TCompItem* rd = record(QStringLiteral("PCD"));
    ASSERT_NE(rd, nullptr);
    c->sendLine("R48AA-BB-CC-DD-EE-24");
    ASSERT_TRUE(waitUntil([&] {
        server::ComputersGuard g(core->registry().lock());
        return rd->mac == QStringLiteral("AA-BB-CC-DD-EE-24");
    }));
    EXPECT_EQ(record(QStringLiteral("PCD")), rd);
    EXPECT_EQ(core->registry().rowCount(), rows + 2);
}

TEST_F(Loopback, CommandsBeforeBindingAreIgnored) {
    StationSim* s = station("PCX", "00-11-22-33-44-31", QStringLiteral("127.0.0.31"), false);
    ASSERT_TRUE(s->waitForLine("01", kWait));
    s->sendLine("R022,Ana,0.01,45000,-1,PCX,V 3.0 (B 0.0)");
    s->sendLine("R04Ana");
    s->sendLine("R0515");
    s->sendLine("R06Ana");
    s->sendLine("R49ABC123");
    s->sendLine("R99");
    ASSERT_TRUE(waitConsole(QStringLiteral("R99- Comando no reconocido (00000099)")));
    EXPECT_EQ(s->lines(), (QList<QByteArray>{"48", "01"}));
    EXPECT_EQ(core->registry().rowCount(), 0);
    EXPECT_EQ(core->codeAssignmentsWaiting(), 0u);
    EXPECT_FALSE(consoleHas(QStringLiteral("Solicita más tiempo (15 minutos)")));
}

TEST_F(Loopback, StatusReportAnswersAndRelockRule) {
    StationSim* s = bound("PCL", "00-11-22-33-44-41", QStringLiteral("127.0.0.41"));
    TCompItem* r = record(QStringLiteral("PCL"));
    ASSERT_NE(r, nullptr);
    s->clearReceived();

    server::Lock(core->context(), r);
    ASSERT_TRUE(s->waitForLine("08", kWait));
    {
        server::ComputersGuard g(core->registry().lock());
        r->end = 0; // as the tick leaves it for a computer not in use
    }
    // Locked by the operator, the station comes back in use with time left:
    // Lock at once from the relock rule and again as the answer.
    s->config().state = 2;
    s->config().timeLeft = "0.0104166666666667";
    s->sendStatusReport();
    ASSERT_TRUE(s->waitForLine("08", kWait, 3));
    settle();
    EXPECT_EQ(s->count("0A"), 0);

    // Entering state 1 clears relock; lock requested with a known end still
    // answers Lock.
    s->config().state = 1;
    s->sendStatusReport();
    ASSERT_TRUE(s->waitForLine("08", kWait, 4));
    {
        server::ComputersGuard g(core->registry().lock());
        EXPECT_FALSE(r->relock);
        EXPECT_TRUE(r->lockRequested);
        r->end = 0; // the tick forgets the end of a computer not in use
    }
    // No time left and no known end: the time-request mode.
    s->config().timeLeft = "0";
    s->sendStatusReport();
    ASSERT_TRUE(s->waitForLine("0A1,15,30,60", kWait));
    // In use again without relock: no Lock from the relock rule.
    s->config().state = 2;
    s->sendStatusReport();
    ASSERT_TRUE(s->waitForLine("0A", kWait, 2));
    settle();
    EXPECT_EQ(s->count("08"), 4);

    // A report whose time left does not convert clears the end.
    s->sendLine("R022,Ana,abc,45000,-1,PCL,V 3.0 (B 0.0)");
    ASSERT_TRUE(s->waitForLine("0A", kWait, 3));
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->end, 0.0);
}

TEST_F(Loopback, OperationsSendTheirExactLines) {
    StationSim* s = bound("PCO", "00-11-22-33-44-51", QStringLiteral("127.0.0.51"));
    StationSim* t = bound("PCT", "00-11-22-33-44-52", QStringLiteral("127.0.0.52"));
    TCompItem* r = record(QStringLiteral("PCO"));
    TCompItem* target = record(QStringLiteral("PCT"));
    ASSERT_NE(r, nullptr);
    ASSERT_NE(target, nullptr);
    auto& ctx = core->context();
    const QByteArray now = protocol::FormatDateTimeNumber(clock.now().days());

    // Refusals send nothing.
    for (const char* bad : {"0", "-5", "abc"})
        EXPECT_EQ(server::GrantAccess(ctx, r, QString::fromLatin1(bad), {}, {}),
                  QStringLiteral("La asignación de tiempo es incorrecta. Intentelo de nuevo"));
    s->clearReceived();
    EXPECT_FALSE(server::GrantAccess(ctx, r, QStringLiteral("  <sin límite> "), {}, {}));
    ASSERT_TRUE(s->waitForLine("0A", kWait));
    EXPECT_EQ(s->lines(), (QList<QByteArray>{"07" + now, "042880,<Gen>,", "0A1,15,30,60"}));

    server::ServerSettings settings = core->settings();
    settings.clientInit = QStringLiteral("notepad.exe");
    settings.clienteModo = 2;
    settings.clienteVal = QStringLiteral("15,30");
    core->applySettings(settings);
    s->clearReceived();
    server::GrantAccess(ctx, r, QStringLiteral("30"), QStringLiteral("Ana"), QStringLiteral("ab"));
    ASSERT_TRUE(s->waitForLine("37", kWait));
    EXPECT_EQ(s->lines(),
              (QList<QByteArray>{"07" + now, "0430,Ana,6162", "0A2,15,30", "37notepad.exe"}));

    // More time: the text as typed; the pending end follows the number.
    {
        server::ComputersGuard g(core->registry().lock());
        r->end = 45000.5;
    }
    s->clearReceived();
    server::AddMinutes(ctx, r, QStringLiteral("abc"), false);
    server::AddMinutes(ctx, r, QStringLiteral("15"), true);
    ASSERT_TRUE(s->waitForLine("5015", kWait));
    EXPECT_EQ(s->lines(), (QList<QByteArray>{"06abc", "5015"}));
    {
        server::ComputersGuard g(core->registry().lock());
        EXPECT_DOUBLE_EQ(r->pendingEnd, 45000.5 + 15 / 1440.0);
    }

    // Moving a use whose end has passed sends negative minutes.
    {
        server::ComputersGuard g(core->registry().lock());
        r->end = clock.now().addMinutes(-10).days();
        r->user = QStringLiteral("Ana");
        r->pin = QStringLiteral("ABC123");
    }
    s->clearReceived();
    t->clearReceived();
    server::MoveUser(ctx, r, target);
    ASSERT_TRUE(s->waitForLine("08", kWait));
    ASSERT_TRUE(t->waitForLine("0A", kWait));
    EXPECT_EQ(t->lines(), (QList<QByteArray>{"49ABC123", "04-10,Ana,", "0A2,15,30"}));
    {
        server::ComputersGuard g(core->registry().lock());
        EXPECT_TRUE(r->lockRequested);
        EXPECT_TRUE(r->relock);
        EXPECT_TRUE(r->user.isEmpty());
        EXPECT_EQ(target->user, QStringLiteral("Ana"));
    }

    // The other operations and the senders (the station keeps quiet).
    s->config().answerStatusQuery = false;
    s->config().answerPinQuery = false;
    s->clearReceived();
    server::SyncTime(ctx, r);
    server::Refresh(ctx, r);
    server::SoftReinit(ctx, r);
    server::WithdrawAccess(ctx, r);
    server::SendNotice(ctx, r, QStringLiteral("hola"));
    server::SendServicePassword(ctx, r, QStringLiteral("  "));
    server::RunRemote(ctx, r, QStringLiteral("calc"));
    server::ScheduleShutdown(ctx, r, 45, u'R');
    server::ScheduleShutdown(ctx, r, 0, u'C');
    server::QueryCdList(ctx, r);
    server::CdTray(ctx, r, u'D', true);
    server::SetVolume(ctx, r, server::VolumeFromPercent(100), 0x8000);
    server::QueryVolume(ctx, r);
    server::QueryLog(ctx, r);
    ASSERT_TRUE(s->waitForLine("51", kWait));
    EXPECT_EQ(s->lines(),
              (QList<QByteArray>{"07" + now, "02", "400", "41", "44", "13", "14hola",
                                 "20" + common::ScramblePassword("  "), "37calc", "0345, R",
                                 "030, C", "33", "34D1", "35FFFF8000", "36", "51"}));
    EXPECT_EQ(ctx.lastCommand.get(), QStringLiteral("Reset"));
}

TEST_F(Loopback, ConsoleTextsOfTheHandlers) {
    StationSim* s = bound("PCM", "00-11-22-33-44-61", QStringLiteral("127.0.0.61"));
    TCompItem* r = record(QStringLiteral("PCM"));
    ASSERT_NE(r, nullptr);
    QList<TCompItem*> typed;
    core->idlePass().add(IdlePass::Step::TypedCodes, [&] {
        while (TCompItem* rec = core->takeTypedCode())
            typed.append(rec);
    });

    s->sendLine("R13Hola operador");
    s->sendLine("r01");
    s->sendLine("R0");
    s->sendLine("R45000000A1,Calc");
    s->sendLine("R0515");
    s->sendLine("R14");
    s->sendBlock("Necesito ayuda -urge");
    s->sendLine("R14");
    s->sendBlock("Otra vez -URGE");
    s->sendLine("R06Ana");
    s->sendLine("R49ABC123");
    s->sendLine("R38 1a2b3c");
    s->sendLine("R41DEF456");
    s->sendLine("R33DE");
    ASSERT_TRUE(waitConsole(QStringLiteral("Cliente recibe PIN ...ABC123")));
    settle();
    const QStringList texts = core->console().texts();
    for (const char16_t* expected :
         {u"Hola operador", u"r01- Comando no reconocido (FFFFFFFF)",
          u"R0- Comando no reconocido (FFFFFFFF)", u"R45- Comando no reconocido (00000045)",
          u"Solicita más tiempo (15 minutos)", u"Necesito ayuda ", u"Mensaje recibido.",
          u"Asignación de tiempo adicional en ejecución"})
        EXPECT_TRUE(texts.contains(QString::fromUtf16(expected)))
            << QString::fromUtf16(expected).toStdString();
    const QString header =
        common::FormatDateTime(QStringLiteral("dd/mm/yy hh:nn:ss"), clock.now()) +
        QStringLiteral(" [PCM]:");
    const qsizetype at = texts.indexOf(QStringLiteral("Hola operador"));
    ASSERT_GT(at, 0);
    EXPECT_EQ(texts[at - 1], header);

    core->IdlePump();
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->messages.size(), 3);
    EXPECT_EQ(r->messages[0],
              common::FormatDateTime(QStringLiteral("dd/mm/yy hh:nn"), clock.now()) +
                  QStringLiteral(" Solicita más tiempo (15 minutos)"));
    EXPECT_EQ(r->messages[2], QStringLiteral("Otra vez -URGE"));
    EXPECT_TRUE(r->attention);
    EXPECT_EQ(r->pin, QStringLiteral("DEF456"));
    EXPECT_EQ(r->cdDrives, QStringLiteral("DE"));
    EXPECT_EQ(typed, QList<TCompItem*>{r});
    ASSERT_EQ(core->codeAssignmentsWaiting(), 1u);
    EXPECT_EQ(core->nextCodeAssignment()->first, QStringLiteral("ABC123"));
}

TEST_F(Loopback, VolumeTransparencyAndSlots) {
    StationSim* s = bound("PCV", "00-11-22-33-44-71", QStringLiteral("127.0.0.71"));
    TCompItem* r = record(QStringLiteral("PCV"));
    int left = -1, right = -1;
    TCompItem* volumeFor = nullptr;
    core->hooks().volume = [&](TCompItem* rec, int l, int rr) {
        volumeFor = rec;
        left = l;
        right = rr;
    };
    QByteArray tasks;
    core->hooks().taskList = [&](TCompItem*, const QByteArray& p) { tasks = p; };
    s->sendLine("R36FFFF8000");
    s->sendLine("R09Calc,\"Mi PC\"");
    s->sendLine("R4300");
    ASSERT_TRUE(waitUntil([&] { return volumeFor != nullptr && !tasks.isEmpty(); }));
    EXPECT_EQ(volumeFor, r);
    EXPECT_EQ(left, 100);
    EXPECT_EQ(right, 50);
    EXPECT_EQ(tasks, "Calc,\"Mi PC\"");
    s->sendLine("R36failed");
    ASSERT_TRUE(waitUntil(
        [&] { return core->statusText(0) == QStringLiteral("Falla cliente en sonido"); }));
    s->sendLine("R36zz");
    ASSERT_TRUE(waitConsole(QStringLiteral("Rec Volumen 'zz' no es un valor hexadecimal válido")));
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->alpha, 3);
}

TEST_F(Loopback, LogReportFileNameStaysInTheFolder) {
    StationSim* s = bound("192.168.0.15", "00-11-22-33-44-81", QStringLiteral("127.0.0.81"));
    s->sendLine("R51");
    s->sendRaw(protocol::EncodeCountedLines({"primera", "segunda"}));
    const QString expected = QDir(env.home()).filePath(QStringLiteral("192.168.0.log"));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(expected); }));
    QFile f(expected);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "primera\nsegunda\n");

    StationSim* h = bound("../../evil", "00-11-22-33-44-82", QStringLiteral("127.0.0.82"));
    h->sendLine("R51");
    h->sendRaw(protocol::EncodeCountedLines({}));
    ASSERT_TRUE(waitUntil(
        [&] { return QFile::exists(QDir(env.home()).filePath(QStringLiteral("evil.log"))); }));
    EXPECT_EQ(server::ClientLogFileName(QStringLiteral("bitacora"), QStringLiteral("127.0.0.82")),
              QStringLiteral("cliente_bitacora.log"));
}

TEST_F(Loopback, HostileLinesAndBlocks) {
    StationSim* s = bound("PCH", "00-11-22-33-44-91", QStringLiteral("127.0.0.91"));
    TCompItem* r = record(QStringLiteral("PCH"));
    s->sendRaw(QByteArray(20000, 'A') + "\r\n");
    s->sendLine("R13sigue");
    ASSERT_TRUE(waitConsole(QStringLiteral("sigue")));
    EXPECT_TRUE(consoleHas(QStringLiteral("Línea de más de 16384 bytes descartada")));
    s->sendStatusReport();
    ASSERT_TRUE(s->waitForLine("0A", kWait, 2));

    // A negative block length closes the connection; nothing is allocated.
    s->sendLine("R14");
    s->sendRaw(protocol::EncodeInt32(-5));
    ASSERT_TRUE(s->waitDisconnected(kWait));
    ASSERT_TRUE(waitConsole(
        QStringLiteral("Bloque rechazado (mensaje, longitud negativa); se cierra la conexión.")));
    ASSERT_TRUE(waitUntil([&] {
        server::ComputersGuard g(core->registry().lock());
        return r->state == 0 && r->connection == nullptr;
    }));

    // A screen picture announced above 64 MiB.
    StationSim* t = bound("PCH", "00-11-22-33-44-91", QStringLiteral("127.0.0.91"));
    t->sendLine("R12");
    t->sendRaw(protocol::EncodeInt32(0x7FFFFFFF));
    ASSERT_TRUE(t->waitDisconnected(kWait));
    ASSERT_TRUE(waitConsole(QStringLiteral("... terminada transferencia de pantalla.")));

    // The server still answers others.
    StationSim* u = bound("PCI", "00-11-22-33-44-92", QStringLiteral("127.0.0.92"));
    EXPECT_TRUE(u->isConnected());
}

TEST_F(Loopback, ThreadsDoNotLeakOverConnectCycles) {
    // 1000 connect/disconnect cycles, 50 at a time.
    bound("PCW", "00-11-22-33-44-A1", QStringLiteral("127.0.0.101")); // warm-up
    sims.clear();
    ASSERT_TRUE(waitUntil([&] { return core->server().threadCount() == 0; }));
    const int base = ProcessThreads();
    ASSERT_GT(base, 0);
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<std::unique_ptr<StationSim>> group;
        for (int i = 0; i < 50; ++i) {
            StationSim::Config c;
            c.name = "PC" + QByteArray::number(i);
            c.mac = "02-00-00-00-00-" + QByteArray::number(i, 16).rightJustified(2, '0').toUpper();
            c.localAddress = QStringLiteral("127.0.1.%1").arg(i + 1);
            group.push_back(std::make_unique<StationSim>(c));
            group.back()->connectTo(QStringLiteral("127.0.0.1"), port);
        }
        for (auto& g : group)
            ASSERT_TRUE(g->waitForLine("01", kWait));
        for (auto& g : group)
            g->abort();
        group.clear();
    }
    ASSERT_TRUE(waitUntil([&] { return core->server().threadCount() == 0; }));
    EXPECT_TRUE(waitUntil([&] { return ProcessThreads() <= base; }))
        << ProcessThreads() << " vs " << base;
    EXPECT_TRUE(waitUntil([&] { return core->connectionCount() == 0; }));
    EXPECT_EQ(ServerCore::TrayHintText(0), QStringLiteral("ZU Tarvina sin conexiones\rEstándar ") +
                                               server::ProgramVersionText());
}

// --- a hostile peer: what one connection, or a crowd of them, may cost ---

TEST_F(Loopback, ConsoleFloodFromAnUnidentifiedConnectionIsCountedNotQueued) {
    StationSim* flood = station("X", "", QStringLiteral("127.0.0.111"), false);
    ASSERT_TRUE(flood->waitForLine("01", kWait));
    constexpr int kLines = 5000;
    QByteArray bytes;
    for (int i = 0; i < kLines; ++i)
        bytes += "R13inundacion " + QByteArray::number(i) + "\r\n";
    flood->sendRaw(bytes);
    // A good station is served while the flood is read.
    StationSim* good = bound("PCG", "00-11-22-33-44-B1", QStringLiteral("127.0.0.112"));
    EXPECT_TRUE(good->isConnected());
    flood->disconnectFromServer();

    // The burst is shown, the rest summed up in one line (or one a second
    // while it lasts) under the station's address.
    const QRegularExpression summary(
        QStringLiteral("^(\\d+) línea(s)? de 127\\.0\\.0\\.111 omitida(s)?$"));
    const auto counts = [&] {
        int shown = 0, omitted = 0;
        for (const QString& t : core->console().texts()) {
            if (t.startsWith(QStringLiteral("inundacion ")))
                ++shown;
            else if (const auto m = summary.match(t); m.hasMatch())
                omitted += m.captured(1).toInt();
        }
        return std::pair(shown, omitted);
    };
    ASSERT_TRUE(waitUntil([&] { return counts().first + counts().second == kLines; }))
        << counts().first << " + " << counts().second;
    // The fake clock stands still: exactly one burst gets through.
    EXPECT_EQ(counts().first, server::ConsoleRate::kBurst);
    EXPECT_LE(core->console().lines().size(), server::ConsoleModel::kTrimAbove);
}

TEST_F(Loopback, LogReportOnlyFromAnIdentifiedStationAndWithinItsCap) {
    StationSim* s = bound("PCLOG", "00-11-22-33-44-B2", QStringLiteral("127.0.0.113"));
    QList<QByteArray> lines;
    for (int i = 0; i < 3000; ++i)
        lines << QByteArray::number(i).rightJustified(999, '.');
    s->sendLine("R51");
    s->sendRaw(protocol::EncodeCountedLines(lines));
    const QString path = QDir(env.home()).filePath(QStringLiteral("PCLOG.log"));
    ASSERT_TRUE(waitUntil([&] {
        for (const QString& t : core->console().texts())
            if (t.contains(QStringLiteral(" líneas de la bitácora de PCLOG omitidas")))
                return true;
        return false;
    }));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_LE(f.size(), server::ClientLogWriter::kCapBytes);
    EXPECT_TRUE(f.readAll().endsWith(lines.last() + "\n"));
    // The station is still served after its reply.
    s->clearReceived();
    s->sendStatusReport();
    EXPECT_TRUE(s->waitForLine("0A", kWait));

    // A connection that never said who it is gets no file: its lines could
    // not be told from commands, so it is closed.
    StationSim* u = station("U", "", QStringLiteral("127.0.0.114"), false);
    ASSERT_TRUE(u->waitForLine("01", kWait));
    u->sendLine("R51");
    u->sendRaw(protocol::EncodeCountedLines({"R01colado"}));
    ASSERT_TRUE(u->waitDisconnected(kWait));
    EXPECT_TRUE(waitConsole(QStringLiteral(
        "Bitácora rechazada (cliente no identificado 127.0.0.114); se cierra la conexión.")));
    QStringList logs = QDir(env.home()).entryList({QStringLiteral("*.log*")}, QDir::Files);
    logs.removeAll(QStringLiteral("bitacora.log"));
    EXPECT_EQ(logs, QStringList{QStringLiteral("PCLOG.log")});
    EXPECT_EQ(record(QStringLiteral("colado")), nullptr);
}

TEST_F(Loopback, UnidentifiedConnectionsAreClosedAfterThirtySeconds) {
    StationSim* silent = station("S", "", QStringLiteral("127.0.0.115"), false);
    ASSERT_TRUE(silent->waitForLine("01", kWait));
    StationSim* good = bound("PCOK", "00-11-22-33-44-B3", QStringLiteral("127.0.0.116"));
    const QString closedText =
        QStringLiteral("1 conexión cerrada por no identificarse en 30 segundos");

    clock.advanceMs(server::StationServer::kIdentifyTimeoutMs - 1);
    core->server().Sweep();
    core->drainHandOff();
    EXPECT_FALSE(consoleHas(closedText));
    clock.advanceMs(1);
    core->server().Sweep();
    ASSERT_TRUE(silent->waitDisconnected(kWait));
    EXPECT_TRUE(waitConsole(closedText));
    // Its thread is gone; the identified station stays.
    EXPECT_TRUE(waitUntil([&] { return core->server().threadCount() == 1; }));
    EXPECT_TRUE(good->isConnected());
    good->clearReceived();
    good->sendStatusReport();
    EXPECT_TRUE(good->waitForLine("0A", kWait));
}

TEST_F(Loopback, AtMostEightConnectionsFromOneAddress) {
    const QString from = QStringLiteral("127.0.0.117");
    for (int i = 0; i < server::StationServer::kMaxPerAddress; ++i)
        ASSERT_TRUE(station("A", "", from, false)->waitForLine("01", kWait));
    // The ninth is closed at accept: no greeting, no thread.
    StationSim::Config c;
    c.localAddress = from;
    c.answerHandshake = false;
    sims.push_back(std::make_unique<StationSim>(c));
    StationSim* ninth = sims.back().get();
    ninth->connectTo(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(ninth->waitDisconnected(kWait));
    EXPECT_TRUE(ninth->lines().isEmpty());
    EXPECT_EQ(core->server().threadCount(), server::StationServer::kMaxPerAddress);
    core->server().Sweep();
    EXPECT_TRUE(waitConsole(QStringLiteral(
        "1 conexión de 127.0.0.117 rechazada (más de 8 abiertas desde esa dirección)")));

    // Other addresses are not held back, and a place that frees is taken.
    bound("PCOTRO", "00-11-22-33-44-B4", QStringLiteral("127.0.0.118"));
    sims.front()->abort();
    ASSERT_TRUE(waitUntil(
        [&] { return core->server().threadCount() == server::StationServer::kMaxPerAddress; }));
    EXPECT_TRUE(station("A", "", from, false)->waitForLine("01", kWait));
}

TEST_F(Loopback, MessagesAreBoundedAndBlocksPastThePoolRefused) {
    StationSim* s = bound("PCMSG", "00-11-22-33-44-B5", QStringLiteral("127.0.0.119"));
    TCompItem* r = record(QStringLiteral("PCMSG"));
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < 210; ++i) {
        s->sendLine("R14");
        s->sendBlock("mensaje " + QByteArray::number(i));
    }
    ASSERT_TRUE(waitUntil([&] {
        server::ComputersGuard g(core->registry().lock());
        return !r->messages.isEmpty() && r->messages.last() == QStringLiteral("mensaje 209");
    }));
    {
        server::ComputersGuard g(core->registry().lock());
        EXPECT_EQ(r->messages.size(), server::kMaxMessages);
        EXPECT_EQ(r->messages.first(), QStringLiteral("mensaje 10"));
    }

    // A picture is charged to the pool until the UI thread has shown it.
    QByteArray shown;
    QObject::connect(core.get(), &ServerCore::screenshotReceived,
                     [&](TCompItem*, const QByteArray& image) { shown = image; });
    const QByteArray picture = test::MakeBmp(40, 18, 32);
    s->sendLine("R12");
    s->sendBlock(picture);
    ASSERT_TRUE(waitUntil([&] { return shown == picture; }));
    EXPECT_TRUE(waitUntil([&] { return core->context().inFlight.used() == 0; }));

    // The pool of memory in flight is nearly all taken by others: the next
    // block is refused with its line and the connection ends.
    clock.advanceSeconds(10); // the station's console allowance refills
    server::InFlightPool& pool = core->context().inFlight;
    const qint64 others = pool.capacity() - 1000;
    ASSERT_TRUE(pool.take(others));
    s->sendLine("R14");
    s->sendBlock(QByteArray(5000, 'm'));
    ASSERT_TRUE(s->waitDisconnected(kWait));
    EXPECT_TRUE(waitConsole(QStringLiteral(
        "Bloque rechazado (mensaje, memoria en tránsito agotada); se cierra la conexión.")));
    pool.give(others);
    EXPECT_TRUE(waitUntil([&] { return pool.used() == 0; }));
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->messages.last(), QStringLiteral("mensaje 209"));
}

TEST_F(Loopback, AFloodOfEventsIsHeldBackByTheConnectionNotQueued) {
    // A plain blocking socket on a thread of its own: the test's thread stays
    // out of the event loop (which would drain the queue) while it floods.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in local{}, to{};
    local.sin_family = to.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.120", &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(port);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    // The listener accepts on the event loop: run it until the greeting.
    ASSERT_TRUE(StationSim::WaitFor(
        [&] {
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, 0) == 1;
        },
        kWait));
    constexpr int kLines = 20000;
    QByteArray bytes = "R4800-11-22-33-44-B6\r\nR01PCF\r\n";
    for (int i = 0; i < kLines; ++i)
        bytes += "R04usuario" + QByteArray::number(i) + "\r\n";
    std::thread writer([&] {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + done,
                                     static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += n;
        }
    });
    const QDeadlineTimer deadline(kWait);
    while (core->context().handoff.waiting() == 0 && !deadline.hasExpired())
        QThread::yieldCurrentThread();
    EXPECT_EQ(core->context().handoff.waiting(), 1);
    EXPECT_LE(core->context().handoff.size(),
              static_cast<size_t>(server::HandOff::kMaxPendingEvents));
    // Once the UI thread takes them, the rest follows, nothing lost.
    EXPECT_TRUE(waitUntil([&] {
        TCompItem* r = record(QStringLiteral("PCF"));
        server::ComputersGuard g(core->registry().lock());
        return r != nullptr && r->user == QStringLiteral("usuario%1").arg(kLines - 1);
    }));
    writer.join();
    ::close(fd);
}

TEST_F(Loopback, AFullServerMakesRoomByClosingTheOldestSilentConnection) {
    core->server().setMaxConnections(3);
    StationSim* good = bound("PCY", "00-11-22-33-44-B7", QStringLiteral("127.0.0.121"));
    StationSim* s1 = station("S1", "", QStringLiteral("127.0.0.122"), false);
    ASSERT_TRUE(s1->waitForLine("01", kWait));
    StationSim* s2 = station("S2", "", QStringLiteral("127.0.0.123"), false);
    ASSERT_TRUE(s2->waitForLine("01", kWait));

    // Full, and the silent ones only just came: a newcomer is refused.
    StationSim::Config c;
    c.localAddress = QStringLiteral("127.0.0.124");
    sims.push_back(std::make_unique<StationSim>(c));
    StationSim* refused = sims.back().get();
    refused->connectTo(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(refused->waitDisconnected(kWait));
    EXPECT_TRUE(refused->lines().isEmpty());

    // Once they have had their time to identify, the oldest silent one makes
    // room for a station; the identified one is never touched.
    clock.advanceMs(server::StationServer::kEvictAfterMs);
    bound("PCZ", "00-11-22-33-44-B8", QStringLiteral("127.0.0.125"));
    ASSERT_TRUE(s1->waitDisconnected(kWait));
    EXPECT_TRUE(s2->isConnected());
    EXPECT_TRUE(good->isConnected());
    core->server().Sweep();
    EXPECT_TRUE(waitConsole(QStringLiteral("1 conexión rechazada (límite de 3 abiertas)")));
    EXPECT_TRUE(waitConsole(QStringLiteral(
        "1 conexión sin identificar cerrada para dar lugar a otras (límite de 3 abiertas)")));
}

} // namespace
