// The encrypted link on a real loopback listener: stations with the network
// key, with another key and without one, in each of the cashier's modes.
#include "ServerOnLoopback.h"
#include "platform/NetworkKey.h"
#include "server/net/ComputersLock.h"
#include "server/session/ViewRules.h"
#include "simulator/StationSim.h"

#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace tarvina;
using sim::StationSim;
namespace netkey = platform::netkey;

namespace {

constexpr int kWait = 5000;

QByteArray Normalised(const char* key) {
    return *netkey::Normalise(QString::fromLatin1(key));
}
const QByteArray kKey = Normalised("K7QF-M2XD-9HPT-4WNA-C3RJ-E8VB");
const QByteArray kNewKey = Normalised("A2B3-C4D5-E6F7-G8H9-JKLM-NPQR");

class TlsLoopback : public server::test::ServerOnLoopback {
protected:
    void startWith(int mode, const QByteArray& key) {
        server::keys::kRedSegura.write(store, mode);
        server::keys::kClaveRed.write(store, netkey::Scrambled(key));
        startServer();
    }
    // A station that tries to connect; with a key it speaks TLS.
    StationSim* attempt(const QByteArray& name, const QString& from, const QByteArray& key) {
        auto c = Station(name, "00-11-22-33-44-" + name.right(2), from);
        if (!key.isEmpty())
            c.psk = netkey::Psk(key);
        sims.push_back(std::make_unique<StationSim>(c));
        sims.back()->connectTo(QStringLiteral("127.0.0.1"), port);
        return sims.back().get();
    }
    StationSim* boundWith(const QByteArray& name, const QString& from, const QByteArray& key) {
        StationSim* s = attempt(name, from, key);
        EXPECT_TRUE(s->waitForLine("0A", kWait)) << name.constData();
        settle();
        return s;
    }
    int consoleCount(const QString& text) {
        settle();
        return static_cast<int>(core->console().texts().count(text));
    }
    QString tipOf(const QString& name) {
        const server::TCompItem* r = record(name);
        server::ComputersGuard guard(core->registry().lock());
        return r ? server::ComputerTip(*r, 0) : QString();
    }
};

} // namespace

TEST_F(TlsLoopback, BothModeServesKeyedAndPlainStationsAndRefusesAWrongKeyOnceAMinute) {
    startWith(1, kKey);
    StationSim* secure = boundWith("PC01", QStringLiteral("127.0.0.41"), kKey);
    StationSim* plain = boundWith("PC02", QStringLiteral("127.0.0.42"), {});
    // The session is the same inside TLS: the greeting came first, the
    // report was answered; only the plain one is marked.
    EXPECT_EQ(secure->lines().value(0), QByteArray("48"));
    EXPECT_FALSE(tipOf(QStringLiteral("PC01")).contains(QStringLiteral("Conexión sin cifrar")));
    EXPECT_TRUE(tipOf(QStringLiteral("PC02")).endsWith(QStringLiteral("\r\nConexión sin cifrar")));

    // Garbage inside the encrypted stream is a garbage line as on the plain
    // link: told, and the station stays served.
    secure->sendLine("ZZZbasura");
    EXPECT_TRUE(waitUntil([&] {
        return core->console().texts().join(u'\n').contains(
            QStringLiteral("Comando no reconocido"));
    }));
    secure->clearReceived();
    secure->sendStatusReport();
    EXPECT_TRUE(secure->waitForLine("0A", kWait));

    // A wrong key: refused, told once a minute per address however often it
    // tries.
    const QString wrongText = QStringLiteral("Clave de red incorrecta desde 127.0.0.43");
    for (int i = 0; i < 3; ++i) {
        StationSim* wrong = attempt("PC03", QStringLiteral("127.0.0.43"), kNewKey);
        EXPECT_TRUE(StationSim::WaitFor([&] { return wrong->handshakeFailed(); }, kWait));
        EXPECT_TRUE(waitConsole(wrongText));
        EXPECT_EQ(consoleCount(wrongText), 1);
    }
    clock.advanceSeconds(61);
    StationSim* again = attempt("PC03", QStringLiteral("127.0.0.43"), kNewKey);
    EXPECT_TRUE(StationSim::WaitFor([&] { return again->handshakeFailed(); }, kWait));
    EXPECT_TRUE(waitUntil([&] { return consoleCount(wrongText) == 2; }));
    EXPECT_EQ(record(QStringLiteral("PC03")), nullptr);
    EXPECT_TRUE(plain->isConnected());
}

TEST_F(TlsLoopback, ANewKeyShutsOutTheOldOneForNewConnectionsOnly) {
    startWith(2, kKey);
    StationSim* old = boundWith("PC11", QStringLiteral("127.0.0.51"), kKey);
    server::ServerSettings s = core->settings();
    s.claveRed = netkey::Scrambled(kNewKey);
    core->applySettings(s);

    StationSim* stale = attempt("PC12", QStringLiteral("127.0.0.52"), kKey);
    EXPECT_TRUE(StationSim::WaitFor([&] { return stale->handshakeFailed(); }, kWait));
    EXPECT_TRUE(waitConsole(QStringLiteral("Clave de red incorrecta desde 127.0.0.52")));
    boundWith("PC13", QStringLiteral("127.0.0.53"), kNewKey);
    // The station already in keeps its link until it reconnects.
    old->clearReceived();
    old->sendStatusReport();
    EXPECT_TRUE(old->waitForLine("0A", kWait));
}

TEST_F(TlsLoopback, EncryptedOnlyRefusesPlainStationsAndClosesSilentAndStalledOnes) {
    startWith(2, kKey);
    // A plain peer that speaks first is told and closed.
    QTcpSocket speaker;
    speaker.bind(QHostAddress(QStringLiteral("127.0.0.61")), 0);
    speaker.connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(speaker.waitForConnected(kWait));
    speaker.write("R01PC\r\n");
    EXPECT_TRUE(waitConsole(QStringLiteral("Conexión sin cifrar rechazada desde 127.0.0.61")));
    EXPECT_TRUE(StationSim::WaitFor(
        [&] { return speaker.state() == QAbstractSocket::UnconnectedState; }, kWait));

    // A plain station waiting for the greeting gets none; it and a peer that
    // stops in the middle of its handshake are closed like silent ones.
    StationSim* waiting = attempt("PC21", QStringLiteral("127.0.0.62"), {});
    ASSERT_TRUE(StationSim::WaitFor([&] { return waiting->isConnected(); }, kWait));
    QTcpSocket stalled;
    stalled.connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(stalled.waitForConnected(kWait));
    stalled.write("\x16\x03\x01\x00");
    EXPECT_TRUE(waitUntil([&] { return core->server().threadCount() == 2; }));
    settle();
    EXPECT_TRUE(waiting->lines().isEmpty());
    clock.advanceMs(server::StationServer::kIdentifyTimeoutMs);
    core->server().Sweep();
    EXPECT_TRUE(
        waitConsole(QStringLiteral("2 conexiones cerradas por no identificarse en 30 segundos")));
    EXPECT_TRUE(waiting->waitDisconnected(kWait));
    EXPECT_TRUE(StationSim::WaitFor(
        [&] { return stalled.state() == QAbstractSocket::UnconnectedState; }, kWait));
    boundWith("PC22", QStringLiteral("127.0.0.63"), kKey);
}

TEST_F(TlsLoopback, PlainModeKeepsEveryStreamPlainAndAKeyedStationFails) {
    startWith(0, kKey);
    boundWith("PC31", QStringLiteral("127.0.0.71"), {});
    StationSim* keyed = attempt("PC32", QStringLiteral("127.0.0.72"), kKey);
    EXPECT_TRUE(StationSim::WaitFor([&] { return keyed->handshakeFailed(); }, kWait));
    EXPECT_FALSE(tipOf(QStringLiteral("PC31")).contains(QStringLiteral("Conexión sin cifrar")));
}
