// hostile-load-bench: starts taquilla (offscreen, private folders, the port
// the system chooses) once per attack, runs the attack from loopback while a probe station
// keeps connecting and asking to be served, and prints for each attack:
//   outage  the longest a probe waited from its connect to its answer
//   base    taquilla's resident memory before the attack
//   peak    the most resident memory seen during the attack, above base
//   after   resident memory once the attack is over, above base
// and what the attack itself left behind (client log size, connections the
// server closed, markup in the usage report). Not a test: it prints figures.
//
//   hostile-load-bench [--taquilla PATH] [--only 1|2|3|3b|4|5]
//
// The attacks:
//   1. 300 000 console lines of 65 bytes from a connection that never
//      identifies;
//   2. LogReport of 65 536 lines of 16 KiB from an identified station;
//   3. 4 200 connections that never send a byte, from 4 200 addresses and
//      (3b) from one;
//   4. 3 000 free messages of 64 KB from one station;
//   5. a station whose name and user are markup, one session of an hour.
#include "simulator/ReportedPort.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

qint64 NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

qint64 RssKb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

QByteArray Int32(qint32 v) {
    const auto u = static_cast<quint32>(v);
    QByteArray out(4, '\0');
    out[0] = static_cast<char>(u >> 24);
    out[1] = static_cast<char>(u >> 16);
    out[2] = static_cast<char>(u >> 8);
    out[3] = static_cast<char>(u);
    return out;
}

// A blocking TCP connection from a chosen loopback address, reading lines.
class Conn {
public:
    Conn() = default;
    ~Conn() { close(); }
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    bool open(const char* from, quint16 port, int timeoutMs) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd_ < 0)
            return false;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            return false;
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
            errno != EINPROGRESS)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return false;
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
        return err == 0;
    }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool send(const QByteArray& bytes, const std::atomic<bool>* stop = nullptr) {
        qint64 done = 0;
        while (done < bytes.size()) {
            if (stop != nullptr && stop->load())
                return false;
            const ssize_t n = ::send(fd_, bytes.constData() + done,
                                     static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 200);
        }
        return true;
    }
    bool sendLine(const QByteArray& line) { return send(line + "\r\n"); }
    // The next line (without CR LF) before the deadline.
    std::optional<QByteArray> readLine(qint64 deadlineMs) {
        for (;;) {
            const qsizetype lf = buf_.indexOf('\n');
            if (lf >= 0) {
                QByteArray line = buf_.left(lf);
                buf_.remove(0, lf + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                return line;
            }
            const qint64 left = deadlineMs - NowMs();
            if (left <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::min<qint64>(left, 500))) < 1)
                continue;
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return std::nullopt;
            buf_.append(chunk, n);
        }
    }
    // Waits for a line starting with prefix.
    bool waitFor(const QByteArray& prefix, qint64 deadlineMs) {
        while (const auto l = readLine(deadlineMs))
            if (l->startsWith(prefix))
                return true;
        return false;
    }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    QByteArray buf_;
};

// Days since 1899-12-30, local time: the wire's date-time.
QByteArray WireNow(qint64 offsetSeconds) {
    const QDateTime now = QDateTime::currentDateTime().addSecs(offsetSeconds);
    const double days = static_cast<double>(QDate(1899, 12, 30).daysTo(now.date())) +
                        now.time().msecsSinceStartOfDay() / 86400000.0;
    return QByteArray::number(days, 'f', 10);
}

QByteArray StatusLine(int state, const QByteArray& user, const QByteArray& timeLeft,
                      const QByteArray& start, const QByteArray& name) {
    return "R02" + QByteArray::number(state) + "," + user + "," + timeLeft + "," + start + ",-1," +
           name + ",V 3.0 (B 0.0)";
}

// A station's handshake: MAC and name, then the answer to StatusQuery; true
// once the server answered the status report.
bool Identify(Conn& c, const QByteArray& mac, const QByteArray& name, qint64 deadlineMs) {
    if (!c.sendLine("R48" + mac) || !c.sendLine("R01" + name))
        return false;
    if (!c.waitFor("02", deadlineMs))
        return false;
    if (!c.sendLine(StatusLine(1, "", "0", "0", name)))
        return false;
    return c.waitFor("0A", deadlineMs);
}

class Taquilla {
public:
    bool start(const QString& program) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TARVINA_HOME"), home_.path());
        env.insert(QStringLiteral("TARVINA_REGISTRY"), reg_.path());
        // The system chooses the port; taquilla reports it on its output.
        env.insert(QStringLiteral("TARVINA_PORT"), QStringLiteral("0"));
        proc_.setProcessEnvironment(env);
        const QString console = home_.filePath(QStringLiteral("console.txt"));
        proc_.setStandardOutputFile(console);
        proc_.setStandardErrorFile(QProcess::nullDevice());
        proc_.start(program, {});
        if (!proc_.waitForStarted(5000))
            return false;
        port_ = tarvina::sim::WaitReportedPortInFile(console, proc_, 20000);
        if (port_ == 0)
            return false;
        // Reported once listening: a station is accepted now.
        Conn c;
        if (!c.open("127.0.0.1", port_, 5000))
            return false;
        c.close();
        QThread::msleep(300);
        return true;
    }
    void stop() {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(20000)) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    ~Taquilla() { stop(); }
    quint16 port() const { return port_; }
    qint64 pid() const { return proc_.processId(); }
    QString home() const { return home_.path(); }

private:
    QTemporaryDir home_, reg_;
    QProcess proc_;
    quint16 port_ = 0;
};

// A good station connecting again and again: each probe connects, does the
// handshake and waits for the answer to its status report. Probes run one
// after another (a stuck probe is the outage), a new one every 250 ms.
class Prober {
public:
    explicit Prober(quint16 port) : port_(port) {
        thread_ = std::thread([this] { run(); });
    }
    ~Prober() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // The longest a probe waited after fromMs (one still waiting counts
    // until now).
    qint64 outageSince(qint64 fromMs) {
        std::lock_guard<std::mutex> g(mutex_);
        qint64 worst = 0;
        for (const auto& [start, served] : probes_)
            if (served > fromMs)
                worst = std::max(worst, served - std::max(start, fromMs));
        if (pendingStart_ >= 0)
            worst = std::max(worst, NowMs() - std::max(pendingStart_, fromMs));
        return worst;
    }
    int served() {
        std::lock_guard<std::mutex> g(mutex_);
        return static_cast<int>(probes_.size());
    }

private:
    void run() {
        int n = 0;
        while (!stop_) {
            const qint64 start = NowMs();
            {
                std::lock_guard<std::mutex> g(mutex_);
                pendingStart_ = start;
            }
            const QByteArray from = "127.0.200." + QByteArray::number(1 + n % 250);
            const QByteArray name = "SONDA" + QByteArray::number(n % 250);
            const QByteArray mac = "02-AA-00-00-00-" + QByteArray::number(n % 250, 16).toUpper();
            bool ok = false;
            while (!ok && !stop_) {
                Conn c;
                ok =
                    c.open(from.constData(), port_, 1000) && Identify(c, mac, name, NowMs() + 2000);
                if (!ok)
                    QThread::msleep(20);
            }
            {
                std::lock_guard<std::mutex> g(mutex_);
                pendingStart_ = -1;
                if (ok)
                    probes_.emplace_back(start, NowMs());
            }
            ++n;
            const qint64 next = start + 250;
            while (!stop_ && NowMs() < next)
                QThread::msleep(10);
        }
    }

    quint16 port_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::pair<qint64, qint64>> probes_;
    qint64 pendingStart_ = -1;
};

struct Result {
    QString name;
    qint64 outageMs = -1;
    qint64 baseKb = 0;
    qint64 peakKb = 0;
    qint64 afterKb = 0;
    QString note;
};

// Runs attack(stop) on its own thread while sampling taquilla's memory; the
// attack gets `limitMs` before it is told to stop. settleMs: how long to keep
// watching after it returns.
Result Run(const QString& program, const QString& name,
           const std::function<QString(Taquilla&, const std::atomic<bool>&)>& attack,
           qint64 limitMs, qint64 settleMs) {
    Result r;
    r.name = name;
    Taquilla t;
    if (!t.start(program)) {
        r.note = QStringLiteral("taquilla no arranca");
        return r;
    }
    r.baseKb = RssKb(t.pid());
    qint64 peak = r.baseKb;
    Prober prober(t.port());
    // Let the probe get going first.
    QThread::msleep(500);
    const qint64 startMs = NowMs();
    std::atomic<bool> stop{false}, done{false};
    QString note;
    std::thread attacker([&] {
        note = attack(t, stop);
        done = true;
    });
    while (!done && NowMs() - startMs < limitMs) {
        peak = std::max(peak, RssKb(t.pid()));
        QThread::msleep(50);
    }
    stop = true;
    attacker.join();
    const qint64 settleUntil = NowMs() + settleMs;
    while (NowMs() < settleUntil) {
        peak = std::max(peak, RssKb(t.pid()));
        QThread::msleep(50);
    }
    r.outageMs = prober.outageSince(startMs);
    prober.finish();
    r.peakKb = peak - r.baseKb;
    r.afterKb = RssKb(t.pid()) - r.baseKb;
    r.note = note;
    t.stop();
    return r;
}

QString ConsoleFlood(Taquilla& t, const std::atomic<bool>& stop) {
    Conn c;
    if (!c.open("127.0.0.2", t.port(), 5000))
        return QStringLiteral("no conecta");
    const QByteArray line = "R13" + QByteArray(60, 'x') + "\r\n"; // 65 bytes
    QByteArray chunk;
    for (int i = 0; i < 1000; ++i)
        chunk += line;
    const qint64 from = NowMs();
    for (int i = 0; i < 300 && !stop; ++i)
        if (!c.send(chunk, &stop))
            return QStringLiteral("la conexión se cerró");
    return QStringLiteral("300000 líneas enviadas en %1 ms").arg(NowMs() - from);
}

QString LogFlood(Taquilla& t, const std::atomic<bool>& stop) {
    Conn c;
    if (!c.open("127.0.0.3", t.port(), 5000) ||
        !Identify(c, "02-00-00-00-00-03", "ATACANTE", NowMs() + 10000))
        return QStringLiteral("no se identifica");
    const QByteArray line = QByteArray(16380, 'L') + "\r\n";
    QByteArray chunk;
    for (int i = 0; i < 16; ++i)
        chunk += line;
    c.send("R51\r\n" + Int32(65536));
    const qint64 from = NowMs();
    for (int i = 0; i < 65536 / 16 && !stop; ++i)
        if (!c.send(chunk, &stop))
            return QStringLiteral("la conexión se cerró");
    const qint64 sentMs = NowMs() - from;
    // The server writes the last lines after they arrived.
    QThread::msleep(2000);
    qint64 biggest = 0;
    for (const QFileInfo& f : QDir(t.home()).entryInfoList({QStringLiteral("*.log")}, QDir::Files))
        biggest = std::max(biggest, f.size());
    return QStringLiteral("1 GiB enviado en %1 ms; bitácora más grande %2 KiB")
        .arg(sentMs)
        .arg(biggest / 1024);
}

QString SilentCrowd(Taquilla& t, const std::atomic<bool>& stop, bool oneAddress) {
    constexpr int kCount = 4200;
    std::vector<int> fds;
    fds.reserve(kCount);
    for (int i = 0; i < kCount; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd < 0)
            break;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        const QByteArray from = oneAddress ? QByteArray("127.0.9.1")
                                           : "127.0." + QByteArray::number(10 + i / 250) + "." +
                                                 QByteArray::number(1 + i % 250);
        ::inet_pton(AF_INET, from.constData(), &local.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(t.port());
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        fds.push_back(fd);
    }
    const qint64 until = NowMs() + 60000;
    while (!stop && NowMs() < until)
        QThread::msleep(100);
    int closed = 0;
    for (const int fd : fds) {
        char buf[256];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN))
                ++closed;
            break;
        }
    }
    for (const int fd : fds)
        ::close(fd);
    return QStringLiteral("cerradas por el servidor al minuto: %1 de %2")
        .arg(closed)
        .arg(fds.size());
}

QString SilentFromMany(Taquilla& t, const std::atomic<bool>& stop) {
    return SilentCrowd(t, stop, false);
}

QString SilentFromOne(Taquilla& t, const std::atomic<bool>& stop) {
    return SilentCrowd(t, stop, true);
}

QString MessageFlood(Taquilla& t, const std::atomic<bool>& stop) {
    Conn c;
    if (!c.open("127.0.0.4", t.port(), 5000) ||
        !Identify(c, "02-00-00-00-00-04", "MENSAJERO", NowMs() + 10000))
        return QStringLiteral("no se identifica");
    const QByteArray one = "R14\r\n" + Int32(64000) + QByteArray(64000, 'm');
    const qint64 from = NowMs();
    for (int i = 0; i < 3000 && !stop; ++i)
        if (!c.send(one, &stop))
            return QStringLiteral("la conexión se cerró tras %1 mensajes").arg(i);
    return QStringLiteral("3000 mensajes enviados en %1 ms").arg(NowMs() - from);
}

QString MarkupName(Taquilla& t, const std::atomic<bool>&) {
    Conn c;
    const QByteArray name = "<script>alert(1)</script>";
    const QByteArray user = "<img src=x onerror=alert(2)>";
    if (!c.open("127.0.0.5", t.port(), 5000) ||
        !Identify(c, "02-00-00-00-00-05", name, NowMs() + 10000))
        return QStringLiteral("no se identifica");
    c.sendLine(StatusLine(2, user, "0.02", WireNow(-3600), name));
    c.sendLine("R04" + user);
    QThread::msleep(500);
    c.sendLine(StatusLine(1, user, "0", WireNow(-3600), name));
    const QString report = QDir(t.home()).filePath(
        QStringLiteral("report/") + QDate::currentDate().toString(QStringLiteral("ddMMyyyy")) +
        QStringLiteral(".html"));
    const qint64 until = NowMs() + 10000;
    while (NowMs() < until) {
        QFile f(report);
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray html = f.readAll();
            if (html.contains("alert(1)") && html.contains("alert(2)")) {
                const bool raw = html.contains("<script>") || html.contains("<img");
                return raw ? QStringLiteral("informe con marcas sin escapar")
                           : QStringLiteral("informe con nombre y usuario escapados");
            }
        }
        QThread::msleep(100);
    }
    return QStringLiteral("sin fila en el informe");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption program(
        QStringLiteral("taquilla"), QStringLiteral("taquilla to attack"), QStringLiteral("path"),
        QCoreApplication::applicationDirPath() + QStringLiteral("/taquilla"));
    QCommandLineOption only(QStringLiteral("only"), QStringLiteral("run one attack only"),
                            QStringLiteral("label"));
    parser.addOption(program);
    parser.addOption(only);
    parser.process(app);

    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &rl);
    }

    struct Attack {
        const char* name;
        QString (*run)(Taquilla&, const std::atomic<bool>&);
        qint64 limitMs;
        qint64 settleMs;
    };
    const Attack attacks[] = {
        {"1 consola: 300000 líneas sin identificarse", ConsoleFlood, 120000, 5000},
        {"2 R51: 65536 líneas de 16 KiB", LogFlood, 180000, 3000},
        {"3 4200 conexiones mudas (4200 direcciones)", SilentFromMany, 90000, 2000},
        {"3b 4200 conexiones mudas (una dirección)", SilentFromOne, 90000, 2000},
        {"4 3000 mensajes libres de 64 KB", MessageFlood, 180000, 5000},
        {"5 marcas en nombre y usuario", MarkupName, 30000, 500},
    };
    const QString onlyLabel = parser.value(only);
    std::printf("%-44s %10s %9s %9s %9s  %s\n", "ataque", "corte_ms", "base_MB", "pico+MB",
                "final+MB", "nota");
    for (int i = 0; i < static_cast<int>(std::size(attacks)); ++i) {
        if (!onlyLabel.isEmpty() &&
            QString::fromUtf8(attacks[i].name).section(u' ', 0, 0) != onlyLabel)
            continue;
        const Attack& a = attacks[i];
        const Result r = Run(
            parser.value(program), QString::fromUtf8(a.name),
            [&a](Taquilla& t, const std::atomic<bool>& stop) { return a.run(t, stop); }, a.limitMs,
            a.settleMs);
        std::printf("%-44s %10lld %9.1f %9.1f %9.1f  %s\n", a.name,
                    static_cast<long long>(r.outageMs), r.baseKb / 1024.0, r.peakKb / 1024.0,
                    r.afterKb / 1024.0, qPrintable(r.note));
        std::fflush(stdout);
    }
    return 0;
}
