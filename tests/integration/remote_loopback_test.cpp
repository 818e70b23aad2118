// Remote control of a station over real loopback TCP: the configuration
// report with its banner list (whole, short, cut, over its bound), the task
// list, the screen picture and what the senders put on the wire.
#include "../server/BmpSamples.h"
#include "ServerOnLoopback.h"
#include "protocol/Block.h"
#include "server/remote/RemoteSenders.h"
#include "server/remote/TaskWindowForm.h"
#include "server/session/StationSession.h"
#include "server/shell/ServerCore.h"
#include "simulator/StationSim.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace tarvina;
using server::ServerCore;
using server::TCompItem;
using sim::StationSim;

namespace {

constexpr int kWait = 8000;

struct Banner {
    qint32 seconds;
    QByteArray name;
};

// The bytes after "R21": seven lines, the mask, the count and the entries.
QByteArray ReportBody(quint32 mask, const QList<Banner>& banners, qint32 count = -1) {
    QByteArray out = "C:\\Tarvina\\fondo.jpg\r\nalarma.wav\r\n1\r\n0\r\n1\r\npapel.bmp\r\n2\r\n";
    out += protocol::EncodeUInt32(mask);
    out += protocol::EncodeInt32(count < 0 ? static_cast<qint32>(banners.size()) : count);
    for (const Banner& b : banners)
        out += protocol::EncodeInt32(b.seconds) + b.name + "\r\n";
    return out;
}

class RemoteLoopback : public server::test::ServerOnLoopback {
protected:
    void SetUp() override {
        waitMs = kWait;
        pumpIdle = true;
        ASSERT_NO_FATAL_FAILURE(startServer());
        core->hooks().remoteConfig = [this](TCompItem* r) { shown.append(r); };
    }
    bool consoleHasPrefix(const QString& prefix) const {
        for (const QString& t : core->console().texts())
            if (t.startsWith(prefix))
                return true;
        return false;
    }
    QList<server::RemoteBanner> bannersOf(TCompItem* r) {
        server::ComputersGuard g(core->registry().lock());
        return r->remoteBanners.value_or(QList<server::RemoteBanner>{});
    }
    bool connected(TCompItem* r) {
        server::ComputersGuard g(core->registry().lock());
        return r->connection != nullptr;
    }

    QList<TCompItem*> shown;
};

TEST_F(RemoteLoopback, AWholeReportFillsTheRecordAndAsksForTheTransparency) {
    StationSim* s = bound("PCR", "00-11-22-33-55-01", QStringLiteral("127.0.0.121"));
    TCompItem* r = record(QStringLiteral("PCR"));
    ASSERT_NE(r, nullptr);
    s->sendLine("R21");
    s->sendRaw(ReportBody(3, {{5, "zu26x.gif"}, {12, "oferta, verano.png"}}));
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }));
    EXPECT_EQ(shown, QList<TCompItem*>{r});
    ASSERT_TRUE(s->waitForLine("43", kWait));
    server::ComputersGuard g(core->registry().lock());
    EXPECT_EQ(r->remoteBackground, QStringLiteral("C:\\Tarvina\\fondo.jpg"));
    EXPECT_EQ(r->remoteAlarmSound, QStringLiteral("alarma.wav"));
    EXPECT_TRUE(r->remoteAutoStart);
    EXPECT_FALSE(r->remoteTaskBarHidden);
    EXPECT_TRUE(r->remoteLogoProtected);
    EXPECT_EQ(r->remoteWallpaper, QStringLiteral("papel.bmp"));
    EXPECT_EQ(r->remoteWallpaperStyle, QStringLiteral("2"));
    EXPECT_EQ(r->remoteHiddenDrives, 3u);
    ASSERT_EQ(r->remoteBanners->size(), 2);
    EXPECT_EQ(r->remoteBanners->at(1).name, QStringLiteral("oferta, verano.png"));
    EXPECT_EQ(r->remoteBanners->at(1).number, 12);
}

TEST_F(RemoteLoopback, AShortBannerListKeepsWhatCameAndTheConnection) {
    StationSim* s = bound("PCS", "00-11-22-33-55-02", QStringLiteral("127.0.0.122"));
    TCompItem* r = record(QStringLiteral("PCS"));
    ASSERT_NE(r, nullptr);
    // Three announced, one sent; the station goes on with its next line
    // after the server has given up on the list.
    s->sendLine("R21");
    s->sendRaw(ReportBody(0, {{7, "uno.gif"}}, 3));
    ASSERT_TRUE(waitConsole(
        QStringLiteral("Configuración remota tiempo de espera agotado en el fondo 2 de 3")));
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }));
    const auto banners = bannersOf(r);
    ASSERT_EQ(banners.size(), 1);
    EXPECT_EQ(banners[0].name, QStringLiteral("uno.gif"));
    EXPECT_EQ(banners[0].number, 7);
    s->sendLine("R13sigue en linea");
    ASSERT_TRUE(waitConsole(QStringLiteral("sigue en linea")));
    EXPECT_TRUE(s->isConnected());
    EXPECT_TRUE(connected(r));
    EXPECT_FALSE(consoleHasPrefix(QStringLiteral("Bloque rechazado")));
    EXPECT_FALSE(consoleHasPrefix(QStringLiteral("RegConfig")));
}

TEST_F(RemoteLoopback, AnEntryCutInTheMiddleKeepsTheListButDropsTheStream) {
    StationSim* s = bound("PCT", "00-11-22-33-55-03", QStringLiteral("127.0.0.123"));
    TCompItem* r = record(QStringLiteral("PCT"));
    s->sendLine("R21");
    // The second entry stops after two bytes of its number.
    s->sendRaw(ReportBody(0, {{9, "a.gif"}}, 2) + QByteArray("\0\0", 2));
    ASSERT_TRUE(s->waitDisconnected(kWait));
    ASSERT_TRUE(waitConsole(
        QStringLiteral("Configuración remota tiempo de espera agotado en el fondo 2 de 2")));
    ASSERT_TRUE(waitConsole(QStringLiteral(
        "Bloque rechazado (configuración, tiempo de espera agotado); se cierra la conexión.")));
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }));
    EXPECT_EQ(bannersOf(r).size(), 1);
}

TEST_F(RemoteLoopback, AReportEndedByTheConnectionShowsNothing) {
    StationSim* s = bound("PCU", "00-11-22-33-55-04", QStringLiteral("127.0.0.124"));
    TCompItem* r = record(QStringLiteral("PCU"));
    s->sendLine("R21");
    s->sendRaw(ReportBody(0, {{9, "a.gif"}}, 4));
    s->disconnectFromServer();
    ASSERT_TRUE(waitUntil([&] { return !connected(r); }));
    // Whatever the connection posted before its end is applied.
    server::test::WaitDrained(
        *core, [] { return false; }, 300);
    core->IdlePump();
    EXPECT_TRUE(shown.isEmpty());
    server::ComputersGuard g(core->registry().lock());
    EXPECT_FALSE(r->remoteBanners.has_value());
}

TEST_F(RemoteLoopback, EntriesPastTheBoundAreReadAndNotKept) {
    StationSim* s = bound("PCV", "00-11-22-33-55-05", QStringLiteral("127.0.0.125"));
    TCompItem* r = record(QStringLiteral("PCV"));
    QList<Banner> many;
    for (int i = 0; i < server::kMaxBanners + 6; ++i)
        many.append({5, "b" + QByteArray::number(i) + ".gif"});
    s->sendLine("R21");
    s->sendRaw(ReportBody(0, many));
    s->sendLine("R13despues");
    ASSERT_TRUE(waitConsole(QStringLiteral("despues")));
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }));
    const auto banners = bannersOf(r);
    ASSERT_EQ(banners.size(), server::kMaxBanners);
    EXPECT_EQ(banners.last().name, QStringLiteral("b1023.gif"));
    EXPECT_TRUE(consoleHasPrefix(QStringLiteral("Configuración remota lista de 1030 fondos")));
    EXPECT_TRUE(connected(r));
}

TEST_F(RemoteLoopback, TaskListAnswerReachesTheWindowAndTitlesComeBackIntact) {
    StationSim* s = bound("PCW", "00-11-22-33-55-06", QStringLiteral("127.0.0.126"));
    TCompItem* r = record(QStringLiteral("PCW"));
    // The station answers "09" with its list.
    QObject::connect(s, &StationSim::lineReceived, s, [s](const QByteArray& line) {
        if (line == "09")
            s->sendLine("R09xterm,\"Mi PC, carpeta\",\"Di \"\"hola\"\"\"");
    });
    server::TaskWindowForm window;
    core->hooks().taskList = [&](TCompItem* rec, const QByteArray& payload) {
        window.fill(rec, QStringLiteral("PCW"), payload);
    };
    server::ServerContext& ctx = core->context();
    ASSERT_EQ(server::TaskListQuery(ctx, r), server::SendResult::Sent);
    ASSERT_TRUE(waitUntil([&] { return window.tasks().size() == 3; }));
    EXPECT_EQ(window.target(), r);
    window.select(1);
    ASSERT_EQ(server::CloseTask(ctx, r, window.finish()), server::SendResult::Sent);
    ASSERT_TRUE(s->waitForLine("10", kWait));
    EXPECT_EQ(s->lines().last(), "10Mi PC, carpeta");
    server::CleanTasks(ctx, r);
    ASSERT_TRUE(s->waitForLine("15", kWait));
}

TEST_F(RemoteLoopback, ScreenPicturesAndImpossibleOnes) {
    StationSim* s = bound("PCX", "00-11-22-33-55-07", QStringLiteral("127.0.0.127"));
    TCompItem* r = record(QStringLiteral("PCX"));
    const QByteArray picture = test::MakeBmp(64, 48, 24);
    QObject::connect(s, &StationSim::lineReceived, s, [s, picture](const QByteArray& line) {
        if (line == "12") {
            s->sendLine("R12");
            s->sendBlock(picture);
        }
    });
    QByteArray got;
    TCompItem* from = nullptr;
    QObject::connect(core.get(), &ServerCore::screenshotReceived, core.get(),
                     [&](TCompItem* rec, const QByteArray& image) {
                         from = rec;
                         got = image;
                     });
    ASSERT_EQ(server::ScreenQuery(core->context(), r), server::SendResult::Sent);
    ASSERT_TRUE(waitUntil([&] { return !got.isEmpty(); }));
    EXPECT_EQ(from, r);
    EXPECT_EQ(got, picture);
    EXPECT_TRUE(waitConsole(QStringLiteral("... terminada transferencia de pantalla.")));

    // A header for a screen no machine has: said, not shown; the station
    // stays, its block having been read whole.
    got.clear();
    s->sendLine("R12");
    s->sendBlock(test::MakeBmp(100000, 100000, 24, 0, {}, 64));
    ASSERT_TRUE(waitConsole(
        QStringLiteral("Falló Screen shot R12 / imagen BMP de tamaño imposible (100000x100000)")));
    s->sendLine("R13sigue");
    ASSERT_TRUE(waitConsole(QStringLiteral("sigue")));
    EXPECT_TRUE(got.isEmpty());
    EXPECT_TRUE(connected(r));
}

} // namespace
