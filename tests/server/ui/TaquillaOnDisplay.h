#pragma once
// taquilla itself as a child process on the test's X display, with its own
// folders, settings and port, driven by accessible names only.
#include "common/Cp1252.h"
#include "common/DateTime.h"
#include "common/Password.h"
#include "platform/linux/FileRegistry.h"
#include "server/settings/ServerSettings.h"
#include "simulator/ReportedPort.h"
#include "simulator/StationSim.h"
#include "support/TempDir.h"
#include "support/XDisplay.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace tarvina::test {

class TaquillaOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        configure([](tarvina::server::ServerSettings&) {});
    }
    void TearDown() override {
        if (taquilla.state() != QProcess::NotRunning) {
            taquilla.kill();
            taquilla.waitForFinished(5000);
        }
    }
    // Settings as the preferences would save them, mode already chosen so
    // that the start shows the computers.
    void configure(const std::function<void(tarvina::server::ServerSettings&)>& change) {
        tarvina::platform::FileRegistry reg({dir.path() + QStringLiteral("/user.reg"),
                                             dir.path() + QStringLiteral("/machine.reg")});
        auto s = tarvina::server::LoadSettings(reg);
        s.serviceMode = 0;
        s.firstRun = false;
        change(s);
        // Closed in order a moment ago: the next start suspects no crash.
        const double now =
            tarvina::common::DateTime::FromQDateTime(QDateTime::currentDateTime()).days();
        ASSERT_TRUE(reg.writeBinary(
            tarvina::platform::Root::CurrentUser, QString::fromUtf16(tarvina::server::kSettingsKey),
            QStringLiteral("Entrada"), tarvina::platform::EncodeDateTimeValue(now - 1.0 / 24)));
        ASSERT_TRUE(tarvina::server::SaveSettings(reg, s, now));
    }
    static QString Scrambled(const char* plain) {
        return tarvina::common::FromCp1252(tarvina::common::ScramblePassword(plain));
    }
    void start() {
        QProcessEnvironment env = TestDisplay().environment();
        env.insert("TARVINA_HOME", dir.path());
        env.insert("TARVINA_REGISTRY", dir.path());
        // The system chooses the port; taquilla reports it on its output.
        env.insert("TARVINA_PORT", "0");
        env.insert("LANG", "es_VE.UTF-8");
        taquilla.setProcessEnvironment(env);
        taquilla.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The port a run before reported is not this run's.
        taquilla.readAll();
        port = 0;
        taquilla.start(QStringLiteral(TARVINA_TEST_BIN_DIR "/taquilla"), {});
        ASSERT_TRUE(taquilla.waitForStarted(10000));
    }
    // A failed wait carries the program's accessible tree in `out`.
    int atspi(const QStringList& args) {
        out.clear();
        const int rc = TestDisplay().atspi(QStringList{"--app", "taquilla"} + args, &out);
        if (rc != 0 && args.value(0) == QStringLiteral("wait")) {
            QString tree;
            TestDisplay().atspi({"--app", "taquilla", "tree"}, &tree);
            out += tree;
        }
        return rc;
    }
    void waitMainWindow() {
        ASSERT_EQ(atspi({"wait", "Computadoras", "table", "30"}), 0) << out.toStdString();
    }
    // A simulated station of that name connected to this taquilla.
    std::unique_ptr<sim::StationSim> connectStation(const QByteArray& name, const QByteArray& mac) {
        sim::StationSim::Config c;
        c.name = name;
        c.mac = mac;
        c.state = 1;
        c.version = "V 3.0 (B 0.0)";
        auto s = std::make_unique<sim::StationSim>(c);
        s->connectTo(QStringLiteral("127.0.0.1"), stationPort());
        EXPECT_TRUE(s->waitConnected(10000));
        return s;
    }
    // The port taquilla reported, waited for (30 s) while it has not yet;
    // 0 when it never listened.
    quint16 stationPort() {
        if (port == 0)
            port = sim::WaitReportedPort(taquilla, 30000);
        EXPECT_NE(port, 0) << "taquilla reported no port";
        return port;
    }
    // Listening now: the port reported (not waited for) and a connection
    // accepted on it.
    bool listening() {
        if (port == 0)
            port = sim::WaitReportedPort(taquilla, 0);
        if (port == 0)
            return false;
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), port);
        return s.waitForConnected(1000);
    }
    // Milliseconds from the signal to the process's end, -1 if it outlived
    // `limitMs`.
    qint64 endBySignal(int signal, int limitMs) {
        QElapsedTimer t;
        t.start();
        ::kill(static_cast<pid_t>(taquilla.processId()), signal);
        if (!taquilla.waitForFinished(limitMs))
            return -1;
        return t.elapsed();
    }
    // The console as taquilla archives it, for failure messages.
    std::string console() {
        QFile f(dir.path() + QStringLiteral("/taquilla.log"));
        return f.open(QIODevice::ReadOnly) ? tarvina::common::FromCp1252(f.readAll()).toStdString()
                                           : std::string("(no console archive)");
    }
    QString activityLog() {
        QFile f(dir.path() + QStringLiteral("/bitacora.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return tarvina::common::FromCp1252(f.readAll());
    }
    // Ended in order: within the limit, the closing line written after the
    // last start line.
    void expectOrderlyEndWithin(int limitMs, const char* state) {
        const qint64 took = endBySignal(SIGTERM, 10000);
        ASSERT_GE(took, 0) << state << ": still running 10 s after SIGTERM";
        EXPECT_LE(took, limitMs) << state;
        const QString log = activityLog();
        EXPECT_GT(log.lastIndexOf(QStringLiteral("'Terminación de operaciones.'")),
                  log.lastIndexOf(QStringLiteral("'Inicio de operaciones.'")))
            << state << "\n"
            << log.toStdString();
    }
    void crashRunningTaquilla() {
        taquilla.kill();
        ASSERT_TRUE(taquilla.waitForFinished(5000));
    }

    tarvina::test::TempDir dir;
    // Set from taquilla's report; use stationPort() to wait for it.
    quint16 port = 0;
    QProcess taquilla;
    QString out;
};

} // namespace tarvina::test
