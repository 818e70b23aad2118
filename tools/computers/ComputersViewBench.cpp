// computers-view-bench: the computers view's cost on the UI thread. Not a
// test: it prints figures.
//
// 1. For 500 and 1000 rows in use: one tick of the list (times rewritten
//    and repainted) and one UpdateRow per station as a second of status
//    reports brings them (each row's user changes, the row is repainted).
//    Then the same ticks with the till's "Importe" column (a tariff with a
//    band, every row in use and owing): what the column adds to a tick.
// 3. The cash close over 100 000 movements: reading the open till, the
//    close window's totals, and the close with its report written.
// 4. 1000 simulated stations connecting to the real station server and then
//    leaving, in a burst: the longest time the UI thread did not get to run
//    a 1 ms timer (the worst freeze a cashier would feel).
//
//   computers-view-bench [--rows N ...] [--burst N] [--movements N]
#include "common/LastCommand.h"
#include "platform/Clock.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeShell.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/computers/ComputerRegistry.h"
#include "server/pin/TableOps.h"
#include "server/pin/Till.h"
#include "server/pin/TillReport.h"
#include "server/shell/ServerCore.h"
#include "server/ui/computers/TfrmComputers.h"
#include "simulator/StationSim.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
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

    // The same ticks with "Importe": every computer owes one use and runs
    // another.
    xbase::IFileSystem& fs = xbase::RealFileSystem();
    common::LastCommand lastCommand;
    server::TableOps ops(fs, dir.path(), lastCommand);
    ops.CreaCaja();
    server::Till till(fs, clock);
    till.open(ops.TillPath());
    server::TariffPageFields tf;
    tf.hourPrice = QStringLiteral("1.20");
    tf.bands[0] = {QStringLiteral("18:00"), QStringLiteral("22:00"), QStringLiteral("1.50")};
    till.setTariff(server::ApplyTariffPage(tf).tariff);
    for (int i = 0; i < std::min(rows, 50); ++i)
        till.useEnded(QStringLiteral("PC-%1").arg(i + 1, 4, 10, QLatin1Char('0')), {},
                      clock.now().addMinutes(-45), 45, {});
    core.computers().setAmountSource([&](const QString& computer, bool inUse, double start) {
        qint64 cents = till.due(computer);
        if (inUse)
            cents += till.runningCost(common::DateTime::FromDays(start), clock.now());
        return cents;
    });
    Settle();
    // The column's own work in a tick, every amount changing (a minute
    // passes between rounds): what the tick does more for "Importe".
    std::vector<qint64> amountOnly;
    for (int round = 0; round < 15; ++round) {
        clock.set(clock.now().addSeconds(60));
        const qint64 cpu = ThreadCpuNs();
        for (int row = 0; row < rows; ++row) {
            server::TCompItem* r = records[std::size_t(row)];
            core.computers().updateAmount(row, r->name, true, r->start);
        }
        amountOnly.push_back(ThreadCpuNs() - cpu);
    }
    const Figures amountWorkOnly = Summarise(amountOnly);
    std::vector<qint64> amountTicks, amountCpu;
    for (int i = 0; i < 25; ++i) {
        clock.set(clock.now().addSeconds(1));
        t.start();
        const qint64 cpu = ThreadCpuNs();
        core.Tick();
        Settle();
        amountTicks.push_back(t.nsecsElapsed());
        amountCpu.push_back(ThreadCpuNs() - cpu);
    }
    const Figures amountTick = Summarise(amountTicks);
    const Figures amountWork = Summarise(amountCpu);
    core.computers().setAmountSource({});
    Settle();

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
    std::printf("%5d rows in use with \"Importe\": tick %.2f ms (UI thread working %.2f ms); "
                "the column's own work per tick, every amount changing: %.3f ms (worst %.3f "
                "ms)\n",
                rows, amountTick.median, amountWork.median, amountWorkOnly.median,
                amountWorkOnly.worst);
    std::fflush(stdout);
}

// The till's table with `n` movements since the last close, written in one
// go (the program commits each; the figures here are the close's).
void BenchClose(int n) {
    QTemporaryDir dir;
    platform::FakeClock clock(common::DateTime::FromParts(2026, 12, 10, 23, 0, 0));
    xbase::IFileSystem& fs = xbase::RealFileSystem();
    common::LastCommand lastCommand;
    server::TableOps ops(fs, dir.path(), lastCommand);
    ops.CreaCaja();
    {
        xbase::TableEngine t(fs);
        t.Open(ops.TillPath().toStdString(), false);
        for (int i = 0; i < n; ++i) {
            const int minute = i % (14 * 60);
            t.Append();
            t.SetDate("FECHA", xbase::Date{2026, 12, 10});
            t.SetString("HORA", QStringLiteral("%1:%2:00")
                                    .arg(8 + minute / 60, 2, 10, QLatin1Char('0'))
                                    .arg(minute % 60, 2, 10, QLatin1Char('0'))
                                    .toStdString());
            t.SetString("EQUIPO", QStringLiteral("PC-%1").arg(i % 60).toStdString());
            t.SetString("USUARIO", "cliente");
            t.SetString("CONCEPTO", i % 7 == 0 ? "PIN" : "USO");
            t.SetInteger("MINUTOS", 30 + i % 60);
            t.SetScaled("MONTO", 60 + i % 120);
            t.SetLogical("COBRADO", i % 3 != 0);
            t.SetInteger("CIERRE", 0);
            t.Post();
        }
        t.Commit();
        t.Close();
    }
    QElapsedTimer t;
    t.start();
    server::Till till(fs, clock);
    till.open(ops.TillPath());
    const qint64 opened = t.nsecsElapsed();
    t.start();
    const std::vector<server::TillLine> window = server::TillSummary(till.totals());
    const qint64 summed = t.nsecsElapsed();
    t.start();
    const server::Till::Closed closing = till.closeTill();
    const qint64 stamped = t.nsecsElapsed();
    t.start();
    const QString path = server::TillReportPath(dir.path(), closing.at, closing.number);
    server::WriteTillReport(fs, path, closing, QStringLiteral("Café"));
    const qint64 reported = t.nsecsElapsed();
    std::printf("cash close over %d movements: open till read in %.1f ms; window totals "
                "(%zu lines) %.1f ms; rows stamped %.1f ms; report (%lld KB) %.1f ms; window and "
                "report %.1f ms\n",
                n, Ms(opened), window.size(), Ms(summed), Ms(stamped),
                static_cast<long long>(QFileInfo(path).size() / 1024), Ms(reported),
                Ms(summed + reported));
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
    int movements = 100000;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rows") && i + 1 < args.size())
            rows.push_back(args[++i].toInt());
        else if (args[i] == QLatin1String("--burst") && i + 1 < args.size())
            burst = args[++i].toInt();
        else if (args[i] == QLatin1String("--movements") && i + 1 < args.size())
            movements = args[++i].toInt();
    }
    if (rows.empty())
        rows = {500, 1000};
    std::printf("computers view on the UI thread (%s)\n",
                qPrintable(QGuiApplication::platformName()));
    for (int n : rows)
        BenchRows(n);
    if (movements > 0)
        BenchClose(movements);
    if (burst > 0)
        BenchBurst(burst);
    return 0;
}
