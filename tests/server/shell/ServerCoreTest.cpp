#include "server/shell/ServerCore.h"

#include "common/Cp1252.h"
#include "common/Currency.h"
#include "common/Password.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/SocketStream.h"
#include "platform/linux/TcpNetwork.h"
#include "protocol/DateTimeText.h"
#include "server/computers/RecordOps.h"
#include "server/computers/Senders.h"
#include "server/net/StationConnection.h"
#include "server/session/StationSession.h"
#include "server/session/TimeAssignment.h"
#include "server/shell/ActivityLog.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

using namespace tarvina;
using namespace tarvina::server;
using platform::Root;

namespace {

const QString kKey = QStringLiteral("\\Software\\Velt\\Tarvina");

TEST(ServerSettingsTest, EmptyKeyGivesDefaultsAndWritesTheLogLimit) {
    platform::MemoryRegistry reg;
    const ServerSettings s = LoadSettings(reg);
    EXPECT_EQ(s.toolBarFlat, 1);
    EXPECT_EQ(s.toolBarAlign, 1);
    EXPECT_TRUE(s.zuStdVer.isEmpty());
    EXPECT_TRUE(s.confirmClose);
    EXPECT_EQ(s.nLines, 2);
    EXPECT_FALSE(s.rawMode);
    EXPECT_EQ(s.ticketLeft, 2);
    EXPECT_EQ(s.ticketWidth, 30);
    EXPECT_EQ(s.compColDesc, 255);
    EXPECT_EQ(s.compColBlock, 8421504);
    EXPECT_EQ(s.compColUse, 65280);
    EXPECT_EQ(s.compColWait, 65535);
    EXPECT_TRUE(s.lineaFin1.isEmpty());
    EXPECT_EQ(s.pais, QStringLiteral("Venezuela"));
    EXPECT_EQ(s.registro, QStringLiteral("Registro fiscal"));
    EXPECT_EQ(s.serviceMode, 0);
    EXPECT_TRUE(s.firstRun);
    EXPECT_TRUE(s.clientInit.isEmpty());
    EXPECT_EQ(s.clienteModo, 1);
    EXPECT_EQ(s.clienteVal, QStringLiteral("15,30,60"));
    EXPECT_EQ(s.limitBitacora, 10485760);
    EXPECT_EQ(reg.readInteger(Root::CurrentUser, kKey, QStringLiteral("LimitBitacora")), 10485760);
}

TEST(ServerSettingsTest, GroupsFallBackTogetherAndEmptyTextsTakeDefaults) {
    platform::MemoryRegistry reg;
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("CompColDesc"), 1);
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("CompColBlock"), 2);
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("CompColUse"), 3);
    reg.writeString(Root::CurrentUser, kKey, QStringLiteral("Pais"), QString());
    reg.writeString(Root::CurrentUser, kKey, QStringLiteral("Registro"), QString());
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("ServiceMode"), 1);
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("LineaFin1"), 7); // wrong kind
    reg.writeString(Root::CurrentUser, kKey, QStringLiteral("LineaFin2"), QStringLiteral("x"));
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("ClienteModo"), 2);
    reg.writeString(Root::CurrentUser, kKey, QStringLiteral("ClienteVal"), QStringLiteral("5,10"));
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("Telefono"), 5); // breaks its group
    reg.writeString(Root::CurrentUser, kKey, QStringLiteral("RIF"), QStringLiteral("J-1"));
    ServerSettings s = LoadSettings(reg);
    EXPECT_EQ(s.compColDesc, 255); // one value missing resets all four
    EXPECT_EQ(s.compColUse, 65280);
    EXPECT_EQ(s.pais, QStringLiteral("Venezuela"));
    EXPECT_EQ(s.registro, QStringLiteral("Registro fiscal"));
    EXPECT_EQ(s.serviceMode, 1);
    EXPECT_FALSE(s.firstRun);
    EXPECT_EQ(s.lineaFin1, QStringLiteral("Gracias por su preferencia"));
    EXPECT_TRUE(s.lineaFin2.isEmpty());
    EXPECT_EQ(s.clienteModo, 2);
    EXPECT_EQ(s.clienteVal, QStringLiteral("5,10"));
    EXPECT_TRUE(s.rif.isEmpty());
    EXPECT_EQ(s.clientInit, QString::fromUtf16(kDefaultClientInit));

    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("Registro"), 1);
    reg.writeInteger(Root::CurrentUser, kKey, QStringLiteral("ZUSTDVer"), 1);
    s = LoadSettings(reg);
    EXPECT_EQ(s.registro, QStringLiteral("Registro"));
    EXPECT_EQ(s.zuStdVer, QStringLiteral("1.3"));
}

TEST(ServerSettingsTest, SaveWritesEveryValueAndReadsBack) {
    platform::MemoryRegistry reg;
    ServerSettings s = LoadSettings(reg);
    s.confirmClose = false;
    s.clienteVal = QStringLiteral("15");
    s.passwordStd = common::FromCp1252(common::ScramblePassword("clave"));
    s.compColWait = 1234;
    ASSERT_TRUE(SaveSettings(reg, s, 45000.25));
    const ServerSettings back = LoadSettings(reg);
    EXPECT_FALSE(back.confirmClose);
    EXPECT_EQ(back.clienteVal, QStringLiteral("15"));
    EXPECT_EQ(back.compColWait, 1234);
    EXPECT_TRUE(PasswordMatches(back.passwordStd, QStringLiteral("clave")));
    EXPECT_EQ(back.zuStdVer, ProgramVersionText());
    const auto out = reg.readBinary(Root::CurrentUser, kKey, QStringLiteral("LastOutSTD"));
    ASSERT_TRUE(out);
    EXPECT_EQ(platform::DecodeDateTimeValue(*out), 45000.25);
    const QStringList names = reg.valueNames(Root::CurrentUser, kKey);
    EXPECT_LT(names.indexOf(QStringLiteral("ClienteModo")),
              names.indexOf(QStringLiteral("CompColWait")));
}

// The names, their spelling and their kinds are those of every settings
// file already out there: the close writes exactly these, in this order.
TEST(ServerSettingsTest, CloseWritesTheStoredNamesAndKindsOfEarlierVersions) {
    platform::MemoryRegistry reg;
    ASSERT_TRUE(SaveSettings(reg, ServerSettings{}, 45000.5));
    QStringList written;
    for (const QString& name : reg.valueNames(Root::CurrentUser, kKey)) {
        const auto kind = reg.valueKind(Root::CurrentUser, kKey, name);
        written << name + (kind == platform::ValueKind::Text      ? QStringLiteral(":s")
                           : kind == platform::ValueKind::Integer ? QStringLiteral(":i")
                                                                  : QStringLiteral(":b"));
    }
    EXPECT_EQ(written.join(u' '),
              QStringLiteral(
                  "ClienteModo:i ClienteVal:s ZUSTDVer:s RIF:s Pais:s Moneda:s Registro:s "
                  "ServiceMode:i DIR1:s PasswordStd:s PasswordStdPin:s Denominacion:s DIR2:s "
                  "DIR3:s Telefono:s Salida:b ClientInit:s LineaFin1:s LineaFin2:s PrnTicket:i "
                  "RawMode:i NLines:i Port:i ConfirmClose:i ToolBarWallPaper:s ToolBarFlat:i "
                  "ToolBarAlign:i TicketLeft:i TicketWidth:i CompColDesc:i CompColBlock:i "
                  "CompColUse:i CompColWait:i LastOutStd:b"));
}

TEST(ServerSettingsTest, PasswordPagesAndLogLimit) {
    QString stored = common::FromCp1252(common::ScramblePassword("vieja"));
    const QString before = stored;
    // The placeholder left in place changes nothing.
    EXPECT_FALSE(ApplyPasswordPage(stored, QLatin1String(kPasswordPlaceholder), "x", "x").changed);
    EXPECT_EQ(stored, before);
    auto r =
        ApplyPasswordPage(stored, QStringLiteral("mala"), QStringLiteral("n"), QStringLiteral("n"));
    EXPECT_EQ(r.error, QStringLiteral("Contraseña original incorrecta."));
    r = ApplyPasswordPage(stored, QStringLiteral("vieja"), QStringLiteral("a"),
                          QStringLiteral("b"));
    EXPECT_EQ(r.error, QStringLiteral("Las contraseñas no coinciden. No serán tomadas en cuenta."));
    EXPECT_EQ(stored, before);
    EXPECT_TRUE(
        ApplyPasswordPage(stored, QString(), QStringLiteral("nueva"), QStringLiteral("nueva"))
            .changed);
    EXPECT_TRUE(PasswordMatches(stored, QStringLiteral("nueva")));
    EXPECT_TRUE(ApplyPasswordPage(stored, QStringLiteral("nueva"), QString(), QString()).changed);
    EXPECT_TRUE(stored.isEmpty());

    EXPECT_EQ(ShowLogLimit(1048576).number, 1);
    EXPECT_EQ(ShowLogLimit(1048576).unit, 2);
    EXPECT_EQ(ShowLogLimit(1048575).number, 1023);
    EXPECT_EQ(ShowLogLimit(1048575).unit, 1);
    EXPECT_EQ(ShowLogLimit(1023).unit, 0);
    EXPECT_EQ(ShowLogLimit(std::nullopt).number, 10);
    EXPECT_EQ(LogLimitValue(1, 1), 1024);
    EXPECT_FALSE(LogLimitValue(2048, 2));
    EXPECT_FALSE(LogLimitValue(2097152, 1));
    EXPECT_EQ(LogLimitValue(2047, 2), 2047 * 1048576);
}

TEST(ServerSettingsTest, PlacementRules) {
    platform::MemoryRegistry reg;
    SavePlacement(reg, QStringLiteral("frmZUCaja"), 5000, 20, 100, 640, 0);
    WindowPlacement p = RestorePlacement(reg, QStringLiteral("frmZUCaja"), QSize(1024, 768));
    EXPECT_EQ(p.left, 50);
    EXPECT_EQ(p.top, 20);
    EXPECT_EQ(p.height, 150);
    EXPECT_EQ(p.width, 640);
    SavePlacement(reg, QStringLiteral("frmZUCaja"), 10, 20, 300, 640, 2);
    p = RestorePlacement(reg, QStringLiteral("frmZUCaja"), QSize(1024, 768));
    EXPECT_EQ(p.state, 2);
    EXPECT_FALSE(p.left);
    reg.deleteValue(Root::CurrentUser, kKey, QStringLiteral("frmZUCaja.Top"));
    SavePlacement(reg, QStringLiteral("x"), 1, 1, 1, 1, 0);
    reg.deleteValue(Root::CurrentUser, kKey, QStringLiteral("x.Top"));
    p = RestorePlacement(reg, QStringLiteral("x"), QSize(1024, 768));
    EXPECT_EQ(p.left, 1);
    EXPECT_FALSE(p.top);
    EXPECT_FALSE(p.width); // the first unreadable value ends the restore
}

TEST(ConsoleTest, HeaderLinesAndTrimmingAtTheAppendOf201) {
    ConsoleModel console;
    const auto now = common::DateTime::FromParts(2024, 3, 5, 14, 7, 9);
    console.show(QStringLiteral("PC1"), QStringLiteral("hola"), now);
    console.show(QString(), QStringLiteral("sin equipo"), now);
    EXPECT_EQ(console.texts(), (QStringList{QStringLiteral("05/03/24 14:07:09 [PC1]:"),
                                            QStringLiteral("hola"), QStringLiteral("sin equipo")}));
    EXPECT_TRUE(console.lines()[0].header);
    EXPECT_FALSE(console.lines()[1].header);
    console.clear();
    QList<int> trims;
    QObject::connect(&console, &ConsoleModel::trimmed, [&](int n) { trims << n; });
    for (int i = 0; i < 200; ++i)
        console.show(QString(), QString::number(i), now);
    EXPECT_EQ(console.lines().size(), 200);
    // The 201st line cuts the first 101 at once, without waiting for a pass.
    console.show(QString(), QStringLiteral("200"), now);
    ASSERT_EQ(console.lines().size(), 100);
    EXPECT_EQ(console.lines().first().text, QStringLiteral("101"));
    EXPECT_EQ(trims, QList<int>{101});
    // However fast lines come, the console never holds more than 200.
    for (int i = 0; i < 5000; ++i) {
        console.show(QStringLiteral("PC1"), QString::number(i), now);
        ASSERT_LE(console.lines().size(), ConsoleModel::kTrimAbove);
    }
}

TEST(ConsoleTest, ArchiveKeepsTheTailOfALongFile) {
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("taquilla.log"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < 1025; ++i)
        f.write(QByteArray::number(i) + "\n");
    f.close();
    ASSERT_TRUE(ConsoleModel::Archive(path, {QStringLiteral("nueva línea")}));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 513 + 2 + 1);
    EXPECT_EQ(lines[0], "512");
    EXPECT_EQ(lines[513], "------------------------------------------");
    EXPECT_EQ(lines[514], common::ToCp1252(u"nueva línea"));
}

TEST(ActivityLogTest, LineFormatAndLimit) {
    test::TempDir dir;
    ActivityLog log(dir.path());
    const auto now = common::DateTime::FromParts(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(
        ActivityLog::FormatLine(QStringLiteral("Terminación de operaciones."), now),
        common::ToCp1252(u"05/03/2024 14:07:09 [localhost, n/a],'Terminación de operaciones.'") +
            "\n");
    EXPECT_EQ(ActivityLog::FormatLine(QStringLiteral("it's"), now).right(8), "'it''s'\n");
    ASSERT_TRUE(log.open());
    ASSERT_TRUE(log.write(QStringLiteral("Inicio de operaciones."), now));
    log.close();
    const qint64 size = QFile(log.path()).size();
    EXPECT_FALSE(log.exceeds(size));
    EXPECT_TRUE(log.exceeds(size - 1));
}

TEST(StationRulesTest, NamesLabelsAndScaling) {
    const QString from = QStringLiteral("10.0.0.9");
    EXPECT_EQ(ClientLogFileName(QStringLiteral("192.168.0.15"), from),
              QStringLiteral("192.168.0.log"));
    EXPECT_EQ(ClientLogFileName(QStringLiteral("PC1"), from), QStringLiteral("PC1.log"));
    EXPECT_EQ(ClientLogFileName(QStringLiteral("..\\..\\win/x.ini"), from),
              QStringLiteral("winx.log"));
    EXPECT_EQ(ClientLogFileName(QStringLiteral("Excepc.x"), from),
              QStringLiteral("cliente_Excepc.log"));
    EXPECT_EQ(StateLabel(3), QStringLiteral("Serv."));
    EXPECT_EQ(StateLabel(130), QStringLiteral("Uso"));
    EXPECT_EQ(StateLabel(7), QStringLiteral("N/A"));
    EXPECT_EQ(VolumePercent(0xFFFF), 100);
    EXPECT_EQ(VolumePercent(0x8000), 50);
    EXPECT_EQ(VolumeFromPercent(100), 0xFFFF);
    EXPECT_EQ(VolumeFromPercent(50), 50 * 655);
    EXPECT_EQ(ServerCore::TrayHintText(3),
              QStringLiteral("ZU Tarvina 3 conexiones\rEstándar ") + ProgramVersionText());
}

class CoreFixture : public ::testing::Test {
protected:
    CoreFixture() : core(clock, reg, network, dir.path(), dir.path()) {}
    // A record bound to one end of a socket pair; the other end is `peer`.
    TCompItem* connected(const QString& name) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        peer = fds[1];
        auto conn = std::make_shared<StationConnection>(
            std::make_unique<platform::SocketStream>(fds[0], false));
        ServerContext& ctx = core.context();
        ComputersGuard g(ctx.registry.lock());
        TCompItem* r = BindConnection(ctx, conn, QStringLiteral("AA-00-00-00-00-01"));
        SetName(ctx, r, name);
        // The name changes send CdListQuery from the UI thread.
        core.drainHandOff();
        readPeer();
        return r;
    }
    QByteArray readPeer() {
        QByteArray out(4096, '\0');
        const ssize_t n = ::recv(peer, out.data(), out.size(), MSG_DONTWAIT);
        out.resize(n > 0 ? n : 0);
        return out;
    }
    ~CoreFixture() override {
        if (peer >= 0)
            ::close(peer);
    }
    test::TempDir dir;
    platform::FakeClock clock;
    platform::MemoryRegistry reg;
    platform::TcpNetwork network;
    ServerCore core;
    int peer = -1;
};

TEST_F(CoreFixture, FailedWriteReportsTheSendersText) {
    TCompItem* r = connected(QStringLiteral("PCZ"));
    core.drainHandOff();
    EXPECT_EQ(SendNotice(core.context(), r, QStringLiteral("hola")), SendResult::Sent);
    EXPECT_EQ(readPeer(), "14hola\r\n");
    ::close(peer);
    peer = -1;
    EXPECT_EQ(SendNotice(core.context(), r, QStringLiteral("otra")), SendResult::Failed);
    core.drainHandOff();
    EXPECT_TRUE(core.console().texts().contains(QStringLiteral("Falla enviar mensaje a PCZ")));
    // The connection is down now: later senders are silent.
    EXPECT_EQ(QueryLog(core.context(), r), SendResult::NotConnected);
}

TEST_F(CoreFixture, TheBusinessCurrencyBecomesTheProcessSymbolAtStartAndWhenChanged) {
    reg.writeString(Root::CurrentUser, kKey, QStringLiteral("Moneda"), QStringLiteral("Bs"));
    core.startUp(nullptr);
    EXPECT_EQ(core.settings().moneda, QStringLiteral("Bs"));
    EXPECT_EQ(common::CurrencySymbol(), QStringLiteral("Bs"));

    // The preferences page emptied: the process keeps the symbol it has.
    ServerSettings s = core.settings();
    s.moneda.clear();
    core.applySettings(s);
    EXPECT_EQ(common::CurrencySymbol(), QStringLiteral("Bs"));
    s.moneda = QStringLiteral("US$");
    core.applySettings(s);
    EXPECT_EQ(common::CurrencySymbol(), QStringLiteral("US$"));
    EXPECT_TRUE(common::FormatCurrency(2).contains(QStringLiteral("US$")));
}

TEST_F(CoreFixture, TickShowsTimesAndForgetsPastEnds) {
    TCompItem* r = connected(QStringLiteral("PCT"));
    core.drainHandOff();
    const auto now = clock.now();
    {
        ComputersGuard g(core.registry().lock());
        r->state = 2;
        r->start = now.addSeconds(-1).days();
        r->end = r->start + 2880 / 1440.0;
        r->lastUse = QStringLiteral("ayer");
    }
    core.Tick();
    EXPECT_EQ(core.computers().cell(r->row, ComputersModel::Left), QStringLiteral("23:59:59"));
    EXPECT_EQ(core.computers().cell(r->row, ComputersModel::Used), QStringLiteral("00:00:01"));
    {
        ComputersGuard g(core.registry().lock());
        r->state = 1;
    }
    core.Tick();
    EXPECT_EQ(core.computers().cell(r->row, ComputersModel::Left), QStringLiteral("N/A"));
    EXPECT_EQ(core.computers().cell(r->row, ComputersModel::Used), QStringLiteral("N/A"));
    EXPECT_EQ(core.computers().cell(r->row, ComputersModel::LastUse), QStringLiteral("ayer"));
    {
        ComputersGuard g(core.registry().lock());
        EXPECT_EQ(r->end, 0.0);
    }
    readPeer();
    // The 30th tick refreshes, the 120th synchronises the clock.
    for (int i = 2; i < 30; ++i)
        core.Tick();
    EXPECT_EQ(readPeer(), "02\r\n400\r\n41\r\n");
    for (int i = 30; i < 120; ++i)
        core.Tick();
    EXPECT_EQ(readPeer(), "02\r\n400\r\n41\r\n02\r\n400\r\n41\r\n02\r\n400\r\n41\r\n07" +
                              protocol::FormatDateTimeNumber(clock.now().days()) + "\r\n");
    EXPECT_EQ(core.tickCounter(), 0);
}

TEST_F(CoreFixture, IdlePumpDrainsQueuesAndSlotsInOrder) {
    TCompItem* r = connected(QStringLiteral("PCI"));
    QStringList calls;
    using Step = IdlePass::Step;
    // Registered out of order: the pass keeps its own.
    int assignTries = 0;
    core.idlePass().add(Step::CodeAssignment, [&] {
        if (core.nextCodeAssignment() && ++assignTries == 2)
            core.codeAssignmentDone();
    });
    core.idlePass().add(Step::StateChanges, [&] {
        while (core.takeStateChange())
            calls << QStringLiteral("state");
    });
    core.idlePass().add(Step::TypedCodes, [&] {
        while (core.takeTypedCode())
            calls << QStringLiteral("pin");
    });
    core.hooks().remoteConfig = [&](TCompItem*) { calls << QStringLiteral("config"); };
    SetState(core.context(), r, 2);
    core.context().handoff.post({UiEvent::Kind::CodeTyped, r});
    core.context().handoff.post({UiEvent::Kind::RemoteConfig, r});
    core.context().handoff.post({UiEvent::Kind::PinAssigned, r, QStringLiteral("ABC123")});
    core.context().handoff.post({UiEvent::Kind::PinAssigned, r, QStringLiteral("DEF456")});
    readPeer();
    core.IdlePump();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("pin"), QStringLiteral("state"),
                                  QStringLiteral("config")}));
    EXPECT_EQ(readPeer(), "43\r\n"); // the remote configuration asks for the transparency
    EXPECT_EQ(core.codeAssignmentsWaiting(), 2u); // an entry not done with stays at the head
    core.IdlePump();
    EXPECT_EQ(core.codeAssignmentsWaiting(), 1u);
    EXPECT_EQ(core.nextCodeAssignment()->first, QStringLiteral("DEF456"));
    EXPECT_EQ(core.eventTally(), 0);
}

// A step that fails in the idle pass says so on the console and the next
// events still run.
TEST_F(CoreFixture, AFailingEventIsReportedAndTheOthersRun) {
    TCompItem* r = connected(QStringLiteral("PCF"));
    QStringList calls;
    QObject::connect(&core, &ServerCore::transparencyReported,
                     [](TCompItem*, int) { throw std::runtime_error("editor roto"); });
    core.idlePass().add(IdlePass::Step::TypedCodes, [&] {
        while (core.takeTypedCode())
            calls << QStringLiteral("pin");
    });
    core.context().handoff.post({UiEvent::Kind::Transparency, r, {}, {}, 0x80});
    core.context().handoff.post({UiEvent::Kind::CodeTyped, r});
    core.IdlePump();
    EXPECT_EQ(calls, QStringList{QStringLiteral("pin")});
    bool reported = false;
    for (const QString& t : core.console().texts())
        reported = reported || (t.contains(QStringLiteral("Falla en evento")) &&
                                t.contains(QStringLiteral("editor roto")));
    EXPECT_TRUE(reported) << core.console().texts().join(u'\n').toStdString();
}

// TARVINA_PORT=0: the system picks the port, the program tells which, and
// the listener comes back on that same port, where the stations were told.
TEST_F(CoreFixture, PortZeroBindsAFreePortThatIsReportedAndKept) {
    QList<quint16> reported;
    QObject::connect(&core, &ServerCore::listening, [&](quint16 p) { reported << p; });
    core.setPort(0);
    ASSERT_TRUE(core.startListener());
    ASSERT_EQ(reported.size(), 1);
    ASSERT_NE(reported[0], 0);
    EXPECT_EQ(core.port(), reported[0]);
    QTcpSocket station;
    station.connectToHost(QHostAddress::LocalHost, reported[0]);
    EXPECT_TRUE(station.waitForConnected(30000)) << station.errorString().toStdString();
    station.abort();

    core.stopListener();
    ASSERT_TRUE(core.startListener());
    ASSERT_EQ(reported.size(), 2);
    EXPECT_EQ(reported[1], reported[0]);
    core.stopListener();

    // A port someone else holds: no report of a listener that is not there.
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    core.setPort(other.serverPort());
    EXPECT_FALSE(core.startListener());
    EXPECT_EQ(reported.size(), 2);
}

TEST(ServerCorePort, FromTheEnvironmentZeroMeansAnyAndNonsenseTheUsualPort) {
    const QByteArray saved = qgetenv("TARVINA_PORT");
    const bool wasSet = qEnvironmentVariableIsSet("TARVINA_PORT");
    const auto portFor = [](const char* value) {
        qputenv("TARVINA_PORT", value);
        return ServerCore::PortFromEnvironment();
    };
    EXPECT_EQ(portFor("0"), 0);
    EXPECT_EQ(portFor("7000"), 7000);
    EXPECT_EQ(portFor("65535"), 65535);
    EXPECT_EQ(portFor("65536"), 6046);
    EXPECT_EQ(portFor("-1"), 6046);
    EXPECT_EQ(portFor("caja"), 6046);
    EXPECT_EQ(portFor(""), 6046);
    qunsetenv("TARVINA_PORT");
    EXPECT_EQ(ServerCore::PortFromEnvironment(), 6046);
    if (wasSet)
        qputenv("TARVINA_PORT", saved);
}

TEST_F(CoreFixture, RelockAndGrantWithoutConnection) {
    TCompItem* r = connected(QStringLiteral("PCR"));
    {
        ComputersGuard g(core.registry().lock());
        r->relock = true;
    }
    readPeer();
    SetState(core.context(), r, 2);
    EXPECT_EQ(readPeer(), "08\r\n");
    SetState(core.context(), r, 1);
    {
        ComputersGuard g(core.registry().lock());
        EXPECT_FALSE(r->relock);
        r->connection.reset();
    }
    // Nothing at all without a connection, not even the clock.
    EXPECT_FALSE(GrantAccess(core.context(), r, QStringLiteral("30"), {}, {}));
    EXPECT_EQ(readPeer(), "");
}

} // namespace
