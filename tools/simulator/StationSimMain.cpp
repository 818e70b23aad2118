// station-sim: one customer station on the command line. It connects to a
// taquilla, answers the handshake and status queries, prints every line it
// receives ("< line") and plays a script from a file or standard input:
//
//   send <text>        a line (CR LF added)
//   block <text>       a block: 4-byte length and the text's bytes
//   blockfile <path>   a block with a file's bytes
//   state <digit>      set the state and send a StatusReport
//   status             send a StatusReport
//   sleep <ms>         wait, still answering
//   wait <prefix> [ms] wait for a line starting with prefix (default 5000 ms)
//   quit               disconnect and end
#include "platform/NetworkKey.h"
#include "protocol/Port.h"
#include "simulator/StationSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

using tarvina::sim::StationSim;

namespace {

bool RunScript(StationSim& sim, QTextStream& in) {
    while (!in.atEnd()) {
        const QString raw = in.readLine();
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QString cmd = line.section(u' ', 0, 0);
        const QString arg = raw.trimmed().mid(cmd.size() + 1);
        if (cmd == u"send") {
            sim.sendLine(arg.toLatin1());
        } else if (cmd == u"block") {
            sim.sendBlock(arg.toLatin1());
        } else if (cmd == u"blockfile") {
            QFile f(arg);
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(arg));
                return false;
            }
            sim.sendBlock(f.readAll());
        } else if (cmd == u"state") {
            sim.config().state = arg.toInt();
            sim.sendStatusReport();
        } else if (cmd == u"status") {
            sim.sendStatusReport();
        } else if (cmd == u"sleep") {
            StationSim::WaitFor([] { return false; }, arg.toInt());
        } else if (cmd == u"wait") {
            const QString prefix = arg.section(u' ', 0, 0);
            const int ms =
                arg.section(u' ', 1, 1).isEmpty() ? 5000 : arg.section(u' ', 1, 1).toInt();
            const int before = sim.count(prefix.toLatin1());
            if (!sim.waitForLine(prefix.toLatin1(), ms, before + 1)) {
                std::fprintf(stderr, "timed out waiting for %s\n", qPrintable(prefix));
                return false;
            }
        } else if (cmd == u"quit") {
            return true;
        } else {
            std::fprintf(stderr, "unknown script command: %s\n", qPrintable(cmd));
            return false;
        }
        if (!sim.isConnected()) {
            std::fprintf(stderr, "connection lost\n");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("station-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated customer station for taquilla."));
    parser.addHelpOption();
    const QCommandLineOption host({QStringLiteral("H"), QStringLiteral("host")},
                                  QStringLiteral("Server host."), QStringLiteral("host"),
                                  QStringLiteral("127.0.0.1"));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("Server port (TARVINA_PORT, else 6046)."),
                                  QStringLiteral("port"));
    const QCommandLineOption name({QStringLiteral("n"), QStringLiteral("name")},
                                  QStringLiteral("Computer name."), QStringLiteral("name"),
                                  QStringLiteral("PC1"));
    const QCommandLineOption mac({QStringLiteral("m"), QStringLiteral("mac")},
                                 QStringLiteral("MAC address text."), QStringLiteral("mac"),
                                 QStringLiteral("00-11-22-33-44-55"));
    const QCommandLineOption state({QStringLiteral("s"), QStringLiteral("state")},
                                   QStringLiteral("State digit reported."), QStringLiteral("digit"),
                                   QStringLiteral("1"));
    const QCommandLineOption from({QStringLiteral("b"), QStringLiteral("bind")},
                                  QStringLiteral("Local address to connect from."),
                                  QStringLiteral("address"));
    const QCommandLineOption script({QStringLiteral("f"), QStringLiteral("script")},
                                    QStringLiteral("Script file ('-' for standard input)."),
                                    QStringLiteral("file"));
    const QCommandLineOption linger(
        QStringLiteral("linger"),
        QStringLiteral("Stay connected after the script (ms, -1 forever)."), QStringLiteral("ms"),
        QStringLiteral("-1"));
    const QCommandLineOption key(
        {QStringLiteral("k"), QStringLiteral("key")},
        QStringLiteral("Network key (as taquilla shows it): speak TLS with it."),
        QStringLiteral("key"));
    parser.addOptions({host, port, name, mac, state, from, script, linger, key});
    parser.process(app);

    StationSim::Config config;
    config.name = parser.value(name).toLatin1();
    config.mac = parser.value(mac).toLatin1();
    config.state = parser.value(state).toInt();
    config.localAddress = parser.value(from);
    if (parser.isSet(key)) {
        const auto chars = tarvina::platform::netkey::Normalise(parser.value(key));
        if (!chars) {
            std::fprintf(stderr, "not a network key: %s\n", qPrintable(parser.value(key)));
            return 2;
        }
        config.psk = tarvina::platform::netkey::Psk(*chars);
    }
    StationSim sim(config);
    sim.setEcho(true);
    quint16 p = tarvina::protocol::kDefaultPort;
    if (parser.isSet(port))
        p = static_cast<quint16>(parser.value(port).toUInt());
    else if (qEnvironmentVariableIsSet("TARVINA_PORT"))
        p = static_cast<quint16>(qEnvironmentVariableIntValue("TARVINA_PORT"));
    sim.connectTo(parser.value(host), p);
    if (!sim.waitConnected(5000)) {
        if (sim.handshakeFailed())
            std::fprintf(stderr, "the server refused the key\n");
        std::fprintf(stderr, "cannot connect to %s:%u\n", qPrintable(parser.value(host)), p);
        return 1;
    }
    bool ok = true;
    if (parser.isSet(script)) {
        QFile f;
        if (parser.value(script) == u"-")
            ok = f.open(stdin, QIODevice::ReadOnly);
        else {
            f.setFileName(parser.value(script));
            ok = f.open(QIODevice::ReadOnly);
        }
        if (ok) {
            QTextStream in(&f);
            ok = RunScript(sim, in);
        }
    }
    const int lingerMs = parser.value(linger).toInt();
    if (lingerMs != 0 && sim.isConnected()) {
        QObject::connect(&sim, &StationSim::disconnected, &app, &QCoreApplication::quit);
        if (lingerMs > 0)
            QTimer::singleShot(lingerMs, &app, &QCoreApplication::quit);
        app.exec();
    }
    sim.disconnectFromServer();
    return ok ? 0 : 1;
}
