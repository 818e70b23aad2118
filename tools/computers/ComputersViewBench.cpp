// computers-view-bench: the computers view's cost on the UI thread. Not a
// test: it prints figures.
//
// 1. For 500 and 1000 rows in use: one tick of the list (times rewritten
//    and repainted) and one UpdateRow per station as a second of status
//    reports brings them (each row's user changes, the row is repainted).
// 2. 1000 simulated stations connecting to the real station server and then
//    leaving, in a burst: the longest time the UI thread did not get to run
//    a 1 ms timer (the worst freeze a cashier would feel).
//
//   computers-view-bench [--rows N ...] [--burst N]
#include "platform/Clock.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeShell.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/computers/ComputerRegistry.h"
#include "server/shell/ServerCore.h"
#include "server/ui/computers/TfrmComputers.h"
#include "simulator/StationSim.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <time.h>
#include <vector>

using namespace tarvina;
using tarvina::sim::StationSim;

namespace {

// CPU time of the calling thread.
qint64 ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Ms(qint64 ns) {
    return static_cast<double>(ns) / 1e6;
}

struct Figures {
    double median = 0, worst = 0;
};

Figures Summarise(std::vector<qint64> ns) {
    std::sort(ns.begin(), ns.end());
    return {Ms(ns[ns.size() / 2]), Ms(ns.back())};
}

// Runs whatever the view posted (repaints included) to the end.
void Settle() {
    QApplication::processEvents();
    QApplication::processEvents();
}

void BenchRows(int rows) {
    QTemporaryDir dir;
    // The clock moves one second before each tick, as the timer's would.
    platform::FakeClock clock(common::DateTime::FromQDateTime(QDateTime::currentDateTime()));
    platform::MemoryRegistry reg;
    platform::TcpNetwork network;
    server::ServerCore core(clock, reg, network, dir.path(), dir.path());
    platform::FakeShell shell;
    server::TfrmComputers view(core, shell);
    view.resize(1024, 768);
    view.show();
    const double now = clock.now().days();
    std::vector<server::TCompItem*> records;
    {
        server::ComputersGuard g(core.registry().lock());
        for (int i = 0; i < rows; ++i) {
            server::TCompItem* r = core.registry().addRecord(
                QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg((i / 256) % 256).arg(i % 256),
                QString());
            r->name = QStringLiteral("PC-%1").arg(i + 1, 4, 10, QLatin1Char('0'));
            r->state = 2;
            r->user = QStringLiteral("Cliente %1").arg(i);
            r->start = now - (i % 90) / 1440.0;
            r->end = now + (30 + i % 120) / 1440.0;
            records.push_back(r);
        }
    }
    for (server::TCompItem* r : records)
        core.context().handoff.post({server::UiEvent::Kind::RowAdded, r});
    QElapsedTimer added;
    added.start();
    core.drainHandOff();
    const qint64 drained = added.nsecsElapsed();
    Settle();
    const qint64 shown = added.nsecsElapsed();

    // Ticks: fewer than 30, so that no refresh of the stations runs.
    std::vector<qint64> ticks, tickCpu;
    QElapsedTimer t;
    for (int i = 0; i < 25; ++i) {
        clock.set(clock.now().addSeconds(1));
        t.start();
        const qint64 cpu = ThreadCpuNs();
        core.Tick();
        Settle();
        ticks.push_back(t.nsecsElapsed());
        tickCpu.push_back(ThreadCpuNs() - cpu);
    }
    const Figures tick = Summarise(ticks);
    const Figures tickWork = Summarise(tickCpu);

    // A second of status reports: every row's user changes once.
    std::vector<qint64> seconds;
    for (int round = 0; round < 5; ++round) {
        t.start();
        for (server::TCompItem* r : records) {
            {
                server::ComputersGuard g(core.registry().lock());
                r->user = QStringLiteral("Cliente %1").arg(round);
            }
            core.computers().updateRow(r);
        }
        Settle();
        seconds.push_back(t.nsecsElapsed());
    }
    const Figures second = Summarise(seconds);
    std::printf("%5d rows arriving at once: %.1f ms to add, %.1f ms to show\n", rows, Ms(drained),
                Ms(shown));
    std::printf("%5d rows in use: tick %.2f ms (worst %.2f ms; UI thread working %.2f ms, "
                "worst %.2f ms); UpdateRow x %d: %.2f ms (worst %.2f ms), %.1f us per row\n",
                rows, tick.median, tick.worst, tickWork.median, tickWork.worst, rows, second.median,
                second.worst, second.median * 1000.0 / rows);
    std::fflush(stdout);
}

// The stations of the burst, on a thread of their own.
class Crowd : public QObject {
public:
    Crowd(int n, quint16 port) : n_(n), port_(port) {}
    void connectAll() {
        for (int i = 0; i < n_; ++i) {
            StationSim::Config c;
            c.name = QByteArray("PC-") + QByteArray::number(i + 1);
            c.mac = QByteArray("02-00-00-00-") + QByteArray::number(i / 256 + 16, 16) + "-" +
                    QByteArray::number(i % 256 + 256, 16).right(2);
            c.localAddress = QStringLiteral("127.0.%1.%2").arg(2 + i / 250).arg(1 + i % 250);
            sims_.push_back(std::make_unique<StationSim>(c));
            sims_.back()->connectTo(QStringLiteral("127.0.0.1"), port_);
        }
    }
    void leaveAll() {
        for (auto& s : sims_)
            s->abort();
        sims_.clear();
    }

private:
    int n_;
    quint16 port_;
    std::vector<std::unique_ptr<StationSim>> sims_;
};

void BenchBurst(int n) {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
    QTemporaryDir dir;
    platform::RealClock clock;
    platform::MemoryRegistry reg;
    platform::TcpNetwork network;
    server::ServerCore core(clock, reg, network, dir.path(), dir.path());
    platform::FakeShell shell;
    server::TfrmComputers view(core, shell);
    view.resize(1024, 768);
    view.show();
    core.setPort(0);
    if (!core.startListener()) {
        std::printf("burst: cannot listen\n");
        return;
    }
    const quint16 port = core.port();
    Settle();

    // The UI thread's pulse: the longest gap between two 1 ms timer calls,
    // and how much of that gap the UI thread itself was working (the rest
    // is the machine running other threads: the stations, the connection
    // threads, other programs).
    QElapsedTimer pulse;
    qint64 last = 0, worst = 0, lastCpu = ThreadCpuNs(), worstCpu = 0, busiest = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(1);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 at = pulse.nsecsElapsed();
        const qint64 cpu = ThreadCpuNs();
        if (at - last > worst) {
            worst = at - last;
            worstCpu = cpu - lastCpu;
        }
        busiest = std::max(busiest, cpu - lastCpu);
        last = at;
        lastCpu = cpu;
    });

    QThread thread;
    Crowd crowd(n, port);
    crowd.moveToThread(&thread);
    thread.start();
    pulse.start();
    beat.start();
    QElapsedTimer whole;
    whole.start();
    QMetaObject::invokeMethod(
        &crowd, [&crowd] { crowd.connectAll(); }, Qt::QueuedConnection);
    // Every station bound and shown with its name.
    auto named = [&] {
        if (core.computers().rowCount() < n)
            return false;
        for (int r = 0; r < n; ++r)
            if (!core.computers().caption(r).startsWith(QLatin1String("PC-")))
                return false;
        return true;
    };
    while (!named() && whole.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const qint64 joined = whole.elapsed();
    const qint64 worstJoin = worst, worstJoinCpu = worstCpu, busiestJoin = busiest;
    worst = worstCpu = busiest = 0;
    last = pulse.nsecsElapsed();
    lastCpu = ThreadCpuNs();
    QMetaObject::invokeMethod(
        &crowd, [&crowd] { crowd.leaveAll(); }, Qt::QueuedConnection);
    auto allDown = [&] {
        for (int r = 0; r < core.computers().rowCount(); ++r)
            if (core.computers().cell(r, 0) != QStringLiteral("Desc."))
                return false;
        return true;
    };
    QElapsedTimer leaving;
    leaving.start();
    while (!allDown() && leaving.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const qint64 left = leaving.elapsed();
    beat.stop();
    thread.quit();
    thread.wait();
    std::printf("burst of %d stations connecting: all shown in %lld ms; worst UI freeze %.1f ms "
                "(UI thread working %.1f ms of it); longest UI work without a break %.1f ms\n",
                n, static_cast<long long>(joined), Ms(worstJoin), Ms(worstJoinCpu),
                Ms(busiestJoin));
    std::printf("burst of %d stations leaving: all shown \"Desc.\" in %lld ms; worst UI freeze "
                "%.1f ms (UI thread working %.1f ms of it); longest UI work without a break "
                "%.1f ms (%d rows)\n",
                n, static_cast<long long>(left), Ms(worst), Ms(worstCpu), Ms(busiest),
                core.computers().rowCount());
    core.stopListener();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> rows;
    int burst = 1000;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rows") && i + 1 < args.size())
            rows.push_back(args[++i].toInt());
        else if (args[i] == QLatin1String("--burst") && i + 1 < args.size())
            burst = args[++i].toInt();
    }
    if (rows.empty())
        rows = {500, 1000};
    std::printf("computers view on the UI thread (%s)\n",
                qPrintable(QGuiApplication::platformName()));
    for (int n : rows)
        BenchRows(n);
    if (burst > 0)
        BenchBurst(burst);
    return 0;
}
