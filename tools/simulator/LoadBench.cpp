// server-load-bench: starts taquilla (offscreen, private folders, a free
// port), connects N simulated stations from distinct loopback addresses,
// lets each report its state every second, and prints: the time until every
// station is bound (it got the StatusQuery that follows its Identify), p50
// and p99 from a StatusReport to its answer, and taquilla's resident memory
// and thread count. Not a test: it prints figures.
//
//   server-load-bench [--taquilla PATH] [--seconds S] [N ...]   (default 100 500 1000)
#include "simulator/StationSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

using tarvina::sim::StationSim;

namespace {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString ProcStatus(qint64 pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return QString::fromLatin1(line.mid(qstrlen(field)).trimmed());
    return QStringLiteral("?");
}

struct Probe {
    std::unique_ptr<StationSim> sim;
    qint64 sentAt = -1;
    qint64 boundAt = -1;
};

double Percentile(std::vector<qint64> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return static_cast<double>(v[i]);
}

bool RunOnce(const QString& taquilla, int n, int seconds) {
    QTemporaryDir home, reg;
    const quint16 port = FreePort();
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TARVINA_HOME"), home.path());
    env.insert(QStringLiteral("TARVINA_REGISTRY"), reg.path());
    env.insert(QStringLiteral("TARVINA_PORT"), QString::number(port));
    server.setProcessEnvironment(env);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(taquilla, {});
    if (!server.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(taquilla));
        return false;
    }
    // Wait until it listens.
    {
        bool up = false;
        QElapsedTimer t;
        t.start();
        while (!up && t.elapsed() < 10000) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            up = s.waitForConnected(200);
            if (!up)
                StationSim::WaitFor([] { return false; }, 50);
        }
        if (!up) {
            std::fprintf(stderr, "taquilla does not listen on %u\n", port);
            server.kill();
            return false;
        }
        StationSim::WaitFor([] { return false; }, 200);
    }
    const QString baseThreads = ProcStatus(server.processId(), "Threads:");
    const QString baseRss = ProcStatus(server.processId(), "VmRSS:");

    std::vector<Probe> probes(static_cast<size_t>(n));
    std::vector<qint64> latencies;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < n; ++i) {
        StationSim::Config c;
        c.name = "PC" + QByteArray::number(i + 1);
        c.mac = QStringLiteral("02-00-00-00-%1-%2")
                    .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                    .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                    .toUpper()
                    .toLatin1();
        c.localAddress = QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(1 + i % 250);
        Probe& p = probes[static_cast<size_t>(i)];
        p.sim = std::make_unique<StationSim>(c);
        StationSim* sim = p.sim.get();
        QObject::connect(sim, &StationSim::lineReceived, sim,
                         [&p, &latencies, &clock](const QByteArray& l) {
                             if (p.boundAt < 0 && l.startsWith("02"))
                                 p.boundAt = clock.elapsed();
                             if (p.sentAt >= 0 && (l.startsWith("0A") || l.startsWith("08"))) {
                                 latencies.push_back(clock.elapsed() - p.sentAt);
                                 p.sentAt = -1;
                             }
                         });
        sim->connectTo(QStringLiteral("127.0.0.1"), port);
    }
    const bool allBound = StationSim::WaitFor(
        [&] {
            return std::all_of(probes.begin(), probes.end(),
                               [](const Probe& p) { return p.boundAt >= 0; });
        },
        30000);
    qint64 boundMs = 0;
    int bound = 0;
    for (const Probe& p : probes)
        if (p.boundAt >= 0) {
            ++bound;
            boundMs = std::max(boundMs, p.boundAt);
        }
    // Reports every second, spread over the second.
    for (Probe& p : probes) {
        p.sim->config().answerStatusQuery = false;
        p.sim->config().state = 2;
        p.sim->config().user = "Ana";
        p.sim->config().timeLeft = "0.0208333333333333";
        p.sim->config().start = "45000.5";
        auto* timer = new QTimer(p.sim.get());
        timer->setInterval(1000);
        QObject::connect(timer, &QTimer::timeout, p.sim.get(), [&p, &clock] {
            if (!p.sim->isConnected())
                return;
            p.sentAt = clock.elapsed();
            p.sim->sendStatusReport();
        });
        QTimer::singleShot(QRandomGenerator::global()->bounded(1000), timer,
                           [timer] { timer->start(); });
    }
    StationSim::WaitFor([] { return false; }, seconds * 1000);
    const QString rss = ProcStatus(server.processId(), "VmRSS:");
    const QString threads = ProcStatus(server.processId(), "Threads:");
    std::printf("stations=%d bound=%d%s time_to_bind_all_ms=%lld reports=%zu p50_ms=%.0f "
                "p99_ms=%.0f max_ms=%.0f server_rss=%s (idle %s) server_threads=%s (idle %s)\n",
                n, bound, allBound ? "" : " (NOT ALL)", static_cast<long long>(boundMs),
                latencies.size(), Percentile(latencies, 0.50), Percentile(latencies, 0.99),
                Percentile(latencies, 1.0), qPrintable(rss), qPrintable(baseRss),
                qPrintable(threads), qPrintable(baseThreads));
    std::fflush(stdout);
    probes.clear();
    server.terminate();
    if (!server.waitForFinished(10000))
        server.kill();
    return allBound;
}

} // namespace

int main(int argc, char** argv) {
    // A thousand stations need more descriptors than the usual soft limit,
    // here and in the server (which inherits the limit).
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption taquilla(
        QStringLiteral("taquilla"), QStringLiteral("Server program."), QStringLiteral("path"),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("taquilla")));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Seconds of reporting per run."),
                                     QStringLiteral("s"), QStringLiteral("5"));
    parser.addOptions({taquilla, seconds});
    parser.addPositionalArgument(QStringLiteral("N"), QStringLiteral("Station counts."));
    parser.process(app);
    QList<int> counts;
    for (const QString& a : parser.positionalArguments())
        counts.append(a.toInt());
    if (counts.isEmpty())
        counts = {100, 500, 1000};
    bool ok = true;
    for (int n : counts)
        ok = RunOnce(parser.value(taquilla), n, parser.value(seconds).toInt()) && ok;
    return ok ? 0 : 1;
}
