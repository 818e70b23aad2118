// server-load-bench: starts taquilla (offscreen, private folders, the port
// the system chooses, read back from taquilla's output), connects N simulated stations from
// distinct loopback addresses, lets each report its state every second, and prints: the time until
// every station is bound (it got the StatusQuery that follows its Identify), p50 and p99 from a
// StatusReport to its answer, and taquilla's resident memory and thread count. Then the same
// stations, from the same addresses, do the same against FloorServer, which answers at once: its
// p99 is what the clients and the loopback cost, and taquilla's p99 over it is taquilla's share.
// Each server's CPU time per report is told too: on a busy machine it moves far less than a p99.
// Not a test: it prints figures.
//
// With --tls, each round also runs taquilla with a network key and only
// encrypted stations (RedSegura 2), the stations speaking TLS with the key: its
// time to bind and its p99 against the plain taquilla's of the same round.
//
//   server-load-bench [--taquilla PATH] [--seconds S] [--rounds R] [--client-threads T] [--tls]
//                     [N ...]   (default 100 500 1000)
#include "simulator/FloorServer.h"
#include "simulator/ReportedPort.h"
#include "simulator/StationSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using tarvina::sim::StationSim;

namespace {

QString ProcStatus(qint64 pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return QString::fromLatin1(line.mid(qstrlen(field)).trimmed());
    return QStringLiteral("?");
}

// User and system time of a process, all its threads.
qint64 ProcCpuUs(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    // The name in parentheses may hold spaces; the fields after it do not.
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const qint64 ticks = fields[11].toLongLong() + fields[12].toLongLong();
    return ticks * 1000000 / sysconf(_SC_CLK_TCK);
}

struct Probe {
    std::unique_ptr<StationSim> sim;
    qint64 sentAt = -1;
    std::atomic<qint64> boundAt{-1};
};

// Results shared by the client threads; times in microseconds, because the
// floor's answers come well within a millisecond.
struct Shared {
    QElapsedTimer clock;
    std::mutex mutex;
    std::vector<qint64> latencies;
    QByteArray answer; // the first answer to a report, to tell the servers apart
    qint64 now() const { return clock.nsecsElapsed() / 1000; }
};

// A slice of the stations, living on its own client thread, so that the
// clients' own event handling adds as little as possible to the figures.
class Group : public QObject {
public:
    Group(std::vector<Probe>& probes, int from, int to, Shared& shared, quint16 port,
          QByteArray psk)
        : probes_(probes), from_(from), to_(to), shared_(shared), port_(port),
          psk_(std::move(psk)) {}

    void connectAll() {
        for (int i = from_; i < to_; ++i) {
            StationSim::Config c;
            c.name = "PC" + QByteArray::number(i + 1);
            c.mac = QStringLiteral("02-00-00-00-%1-%2")
                        .arg((i >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                        .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                        .toUpper()
                        .toLatin1();
            c.localAddress = QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(1 + i % 250);
            c.psk = psk_;
            Probe& p = probes_[static_cast<size_t>(i)];
            p.sim = std::make_unique<StationSim>(c);
            StationSim* sim = p.sim.get();
            Shared& shared = shared_;
            QObject::connect(sim, &StationSim::lineReceived, sim,
                             [&p, &shared](const QByteArray& l) {
                                 if (p.boundAt.load() < 0 && l.startsWith("02"))
                                     p.boundAt.store(shared.now());
                                 if (p.sentAt >= 0 && (l.startsWith("0A") || l.startsWith("08"))) {
                                     const qint64 us = shared.now() - p.sentAt;
                                     p.sentAt = -1;
                                     std::lock_guard<std::mutex> g(shared.mutex);
                                     shared.latencies.push_back(us);
                                     if (shared.answer.isEmpty())
                                         shared.answer = l;
                                 }
                             });
            sim->connectTo(QStringLiteral("127.0.0.1"), port_);
        }
    }

    // Reports every second, spread over the second.
    void startReports() {
        for (int i = from_; i < to_; ++i) {
            Probe& p = probes_[static_cast<size_t>(i)];
            p.sim->config().answerStatusQuery = false;
            p.sim->config().state = 2;
            p.sim->config().user = "Ana";
            p.sim->config().timeLeft = "0.0208333333333333";
            p.sim->config().start = "45000.5";
            auto* timer = new QTimer(p.sim.get());
            timer->setInterval(1000);
            // A coarse timer would be moved to a shared boundary, so the
            // stations would all report in the same instant instead of spread
            // over the second, and the answers would wait behind this
            // thread's own sending.
            timer->setTimerType(Qt::PreciseTimer);
            Shared& shared = shared_;
            QObject::connect(timer, &QTimer::timeout, p.sim.get(), [&p, &shared] {
                if (!p.sim->isConnected())
                    return;
                p.sentAt = shared.now();
                p.sim->sendStatusReport();
            });
            QTimer::singleShot(QRandomGenerator::global()->bounded(1000), timer,
                               [timer] { timer->start(); });
        }
    }

    void closeAll() {
        for (int i = from_; i < to_; ++i)
            probes_[static_cast<size_t>(i)].sim.reset();
    }

private:
    std::vector<Probe>& probes_;
    int from_, to_;
    Shared& shared_;
    quint16 port_;
    QByteArray psk_;
};

double Percentile(std::vector<qint64> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return static_cast<double>(v[i]) / 1000.0;
}

// What runs of N stations against one server gave.
struct Figures {
    bool ok = false;
    int bound = 0;
    qint64 bindMs = 0;
    std::vector<qint64> latencies; // microseconds
    // The server's CPU time while the stations reported: less at the mercy
    // of the machine's other load than a latency is.
    qint64 cpuUs = 0;
    QByteArray answer;
    QString rss = QStringLiteral("-"), threads = QStringLiteral("-");
    QString idleRss = QStringLiteral("-"), idleThreads = QStringLiteral("-");

    double p50() const { return Percentile(latencies, 0.50); }
    double p99() const { return Percentile(latencies, 0.99); }
    double max() const { return Percentile(latencies, 1.0); }
    double cpuPerReport() const {
        return latencies.empty()
                   ? -1
                   : static_cast<double>(cpuUs) / static_cast<double>(latencies.size());
    }

    // Adds a later round: the worst of both, every latency, the later
    // samples.
    void add(Figures&& later) {
        ok = ok && later.ok;
        bound = std::min(bound, later.bound);
        bindMs = std::max(bindMs, later.bindMs);
        latencies.insert(latencies.end(), later.latencies.begin(), later.latencies.end());
        cpuUs += later.cpuUs;
        rss = later.rss;
        threads = later.threads;
    }
};

// Connects n stations to the server at port, lets them report for the given
// seconds and takes the figures; sample() runs while they are all still
// connected, cpuUs() tells the server's CPU time so far. The same code for
// taquilla and the floor.
Figures Measure(quint16 port, int n, int seconds, int clientThreads,
                const std::function<void(Figures&)>& sample, const std::function<qint64()>& cpuUs,
                const QByteArray& psk = {}) {
    std::vector<Probe> probes(static_cast<size_t>(n));
    Shared shared;
    shared.clock.start();
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<std::unique_ptr<Group>> groups;
    for (int t = 0; t < clientThreads; ++t) {
        const int from = n * t / clientThreads, to = n * (t + 1) / clientThreads;
        auto thread = std::make_unique<QThread>();
        auto group = std::make_unique<Group>(probes, from, to, shared, port, psk);
        group->moveToThread(thread.get());
        thread->start();
        QMetaObject::invokeMethod(
            group.get(), [g = group.get()] { g->connectAll(); }, Qt::BlockingQueuedConnection);
        threads.push_back(std::move(thread));
        groups.push_back(std::move(group));
    }
    Figures f;
    f.ok = StationSim::WaitFor(
        [&] {
            return std::all_of(probes.begin(), probes.end(),
                               [](const Probe& p) { return p.boundAt.load() >= 0; });
        },
        30000);
    for (const Probe& p : probes)
        if (p.boundAt.load() >= 0) {
            ++f.bound;
            f.bindMs = std::max(f.bindMs, p.boundAt.load() / 1000);
        }
    if (!f.ok) {
        int shown = 0;
        for (const Probe& p : probes) {
            if (p.boundAt.load() >= 0 || shown++ >= 3)
                continue;
            std::fprintf(stderr,
                         "unbound %s: connected=%d received:", p.sim->config().name.constData(),
                         p.sim->isConnected() ? 1 : 0);
            for (const QByteArray& l : p.sim->lines())
                std::fprintf(stderr, " [%s]", l.constData());
            std::fprintf(stderr, "\n");
        }
    }
    for (auto& g : groups)
        QMetaObject::invokeMethod(
            g.get(), [gp = g.get()] { gp->startReports(); }, Qt::BlockingQueuedConnection);
    const qint64 cpuFrom = cpuUs();
    StationSim::WaitFor([] { return false; }, seconds * 1000);
    f.cpuUs = cpuUs() - cpuFrom;
    sample(f);
    {
        std::lock_guard<std::mutex> g(shared.mutex);
        f.latencies = shared.latencies;
        f.answer = shared.answer;
    }
    for (auto& g : groups)
        QMetaObject::invokeMethod(
            g.get(), [gp = g.get()] { gp->closeAll(); }, Qt::BlockingQueuedConnection);
    for (auto& t : threads) {
        t->quit();
        t->wait();
    }
    return f;
}

// The bench's network key, written plainly into taquilla's settings.
constexpr char kBenchKey[] = "K7QF-M2XD-9HPT-4WNA-C3RJ-E8VB";

Figures RunTaquilla(const QString& taquilla, int n, int seconds, int clientThreads, bool tls) {
    QTemporaryDir home, reg;
    QByteArray psk;
    if (tls) {
        QFile settings(reg.filePath(QStringLiteral("user.reg")));
        if (settings.open(QIODevice::WriteOnly))
            settings.write(QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velt\\Tarvina]\n"
                                      "\"ClaveRed\"=\"") +
                           kBenchKey + "\"\n\"RedSegura\"=dword:00000002\n");
        QByteArray chars = kBenchKey;
        psk = QCryptographicHash::hash(chars.replace('-', ""), QCryptographicHash::Sha256);
    }
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TARVINA_HOME"), home.path());
    env.insert(QStringLiteral("TARVINA_REGISTRY"), reg.path());
    env.insert(QStringLiteral("TARVINA_PORT"), QStringLiteral("0"));
    server.setProcessEnvironment(env);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString consoleFile = home.filePath(QStringLiteral("console.txt"));
    server.setStandardOutputFile(consoleFile);
    server.start(taquilla, {});
    if (!server.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(taquilla));
        return {};
    }
    // Wait until it listens: it reports the port then.
    const quint16 port = tarvina::sim::WaitReportedPortInFile(consoleFile, server, 10000);
    if (port == 0) {
        std::fprintf(stderr, "taquilla reported no listening port\n");
        server.kill();
        server.waitForFinished(5000);
        QFile console(consoleFile);
        if (console.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "its console:\n%s", console.readAll().constData());
        return {};
    }
    StationSim::WaitFor([] { return false; }, 200);
    const qint64 pid = server.processId();
    const QString idleRss = ProcStatus(pid, "VmRSS:"), idleThreads = ProcStatus(pid, "Threads:");
    Figures f = Measure(
        port, n, seconds, clientThreads,
        [&](Figures& at) {
            at.idleRss = idleRss;
            at.idleThreads = idleThreads;
            at.rss = ProcStatus(pid, "VmRSS:");
            at.threads = ProcStatus(pid, "Threads:");
        },
        [pid] { return ProcCpuUs(pid); }, psk);
    server.terminate();
    if (!server.waitForFinished(10000)) {
        server.kill();
        server.waitForFinished(5000);
    }
    return f;
}

Figures RunFloor(int n, int seconds, int clientThreads) {
    tarvina::sim::FloorServer floor;
    const quint16 port = floor.start();
    if (port == 0) {
        std::fprintf(stderr, "the floor server cannot listen\n");
        return {};
    }
    return Measure(
        port, n, seconds, clientThreads, [](Figures&) {}, [&floor] { return floor.cpuUs(); });
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
    const QCommandLineOption rounds(
        QStringLiteral("rounds"),
        QStringLiteral("Runs of each server per count, taking turns, so that a burst of load from "
                       "elsewhere on the machine falls on both."),
        QStringLiteral("r"), QStringLiteral("3"));
    const QCommandLineOption clients(QStringLiteral("client-threads"),
                                     QStringLiteral("Threads running the simulated stations."),
                                     QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption tlsOption(
        QStringLiteral("tls"),
        QStringLiteral("Also run taquilla with the network key and encrypted stations only."));
    parser.addOptions({taquilla, seconds, rounds, clients, tlsOption});
    parser.addPositionalArgument(QStringLiteral("N"), QStringLiteral("Station counts."));
    parser.process(app);
    QList<int> counts;
    for (const QString& a : parser.positionalArguments())
        counts.append(a.toInt());
    if (counts.isEmpty())
        counts = {100, 500, 1000};
    const int secs = parser.value(seconds).toInt();
    const int clientThreads = std::max(1, parser.value(clients).toInt());
    const bool tls = parser.isSet(tlsOption);
    struct Row {
        int n;
        Figures taquilla, floor, secure;
    };
    std::vector<Row> rows;
    bool ok = true;
    const auto show = [](const char* name, int n, int round, const Figures& f) {
        std::printf("%-8s stations=%d round=%d bound=%d%s time_to_bind_all_ms=%lld reports=%zu "
                    "p50_ms=%.2f p99_ms=%.2f max_ms=%.2f cpu_us_per_report=%.0f rss=%s (idle %s) "
                    "threads=%s "
                    "(idle %s) answer=%s\n",
                    name, n, round, f.bound, f.ok ? "" : " (NOT ALL)",
                    static_cast<long long>(f.bindMs), f.latencies.size(), f.p50(), f.p99(), f.max(),
                    f.cpuPerReport(), qPrintable(f.rss), qPrintable(f.idleRss),
                    qPrintable(f.threads), qPrintable(f.idleThreads), f.answer.constData());
        std::fflush(stdout);
    };
    for (int n : counts) {
        Row r{n, {}, {}, {}};
        for (int round = 1; round <= std::max(1, parser.value(rounds).toInt()); ++round) {
            Figures t = RunTaquilla(parser.value(taquilla), n, secs, clientThreads, false);
            Figures f = RunFloor(n, secs, clientThreads);
            Figures s =
                tls ? RunTaquilla(parser.value(taquilla), n, secs, clientThreads, true) : Figures{};
            show("taquilla", n, round, t);
            show("floor", n, round, f);
            if (tls) {
                show("taq-tls", n, round, s);
                if (s.answer != t.answer)
                    std::fprintf(stderr, "taquilla answers otherwise over TLS\n");
            }
            if (t.answer != f.answer)
                std::fprintf(stderr, "the floor answers a report otherwise than taquilla\n");
            if (round == 1) {
                r.taquilla = std::move(t);
                r.floor = std::move(f);
                r.secure = std::move(s);
            } else {
                r.taquilla.add(std::move(t));
                r.floor.add(std::move(f));
                r.secure.add(std::move(s));
            }
        }
        ok = r.taquilla.ok && r.floor.ok && (!tls || r.secure.ok) && ok;
        rows.push_back(std::move(r));
    }
    std::printf("\n%8s | %10s %10s | %10s %10s | %9s | %12s %12s | %10s %8s\n", "stations",
                "taq p50", "taq p99", "floor p50", "floor p99", "p99 ratio", "taq cpu/rep",
                "floor cpu/rep", "taq RSS", "threads");
    const auto ratio = [](const Row& r) {
        return r.floor.p99() > 0 ? r.taquilla.p99() / r.floor.p99() : -1.0;
    };
    for (const Row& r : rows)
        std::printf("%8d | %10.2f %10.2f | %10.2f %10.2f | %9.2f | %12.0f %12.0f | %10s %8s\n", r.n,
                    r.taquilla.p50(), r.taquilla.p99(), r.floor.p50(), r.floor.p99(), ratio(r),
                    r.taquilla.cpuPerReport(), r.floor.cpuPerReport(), qPrintable(r.taquilla.rss),
                    qPrintable(r.taquilla.threads));
    std::printf("(ms from a StatusReport to its answer and server CPU us per report, over every "
                "round; RSS and threads of taquilla's last round)\n");
    for (const Row& r : rows)
        std::printf("ratio p99 taquilla/floor at %d: %.2f\n", r.n, ratio(r));
    if (tls) {
        // The worst round's time to bind; p99 over every round of each.
        for (const Row& r : rows)
            std::printf("tls at %d: time_to_bind_all_ms=%lld (plain %lld) p99_ms=%.2f (plain %.2f) "
                        "ratio p99 tls/plain: %.2f\n",
                        r.n, static_cast<long long>(r.secure.bindMs),
                        static_cast<long long>(r.taquilla.bindMs), r.secure.p99(), r.taquilla.p99(),
                        r.taquilla.p99() > 0 ? r.secure.p99() / r.taquilla.p99() : -1.0);
    }
    return ok ? 0 : 1;
}
