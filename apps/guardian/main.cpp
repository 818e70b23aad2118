// tarvina-guardian: starts puesto again whenever it ends without its orderly
// close. main() only wires the guardian to a timer and the stop signals.
#include "platform/linux/StationGuardian.h"
#include "platform/linux/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

using namespace tarvina;

namespace {

void Say(const QString& line) {
    std::fprintf(stderr, "tarvina-guardian: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

QString Option(const QStringList& args, const QString& name) {
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QStringLiteral("--help"))) {
        std::printf("Uso: tarvina-guardian [--program RUTA] [--folder CARPETA] [--interval MS]\n"
                    "Inicia puesto de nuevo cuando termina sin su cierre ordenado.\n");
        return 0;
    }
    platform::StationGuardian::Options o;
    o.program = Option(args, QStringLiteral("--program"));
    if (o.program.isEmpty())
        o.program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("puesto"));
    if (!QFileInfo(o.program).isExecutable()) {
        Say(QStringLiteral("no se encuentra el programa %1").arg(o.program));
        return 3;
    }
    QString folder = Option(args, QStringLiteral("--folder"));
    if (folder.isEmpty())
        folder = platform::StationGuardian::StationFolder(o.program);
    o.lockFile = QDir(folder).filePath(QStringLiteral("ZuClientMutex.lock"));
    bool ok = false;
    int interval = Option(args, QStringLiteral("--interval")).toInt(&ok);
    if (!ok || interval < 50 || interval > 5000)
        interval = 200;

    platform::StationGuardian guardian(o);
    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    const auto look = [&] {
        switch (guardian.tick(clock.elapsed())) {
        case platform::StationGuardian::Step::Started:
            if (guardian.child() > 0)
                Say(QStringLiteral("puesto no está en ejecución; se inicia (pid %1)")
                        .arg(guardian.child()));
            else
                Say(QStringLiteral("no se pudo iniciar %1: %2")
                        .arg(o.program, guardian.lastError()));
            break;
        case platform::StationGuardian::Step::GiveUp:
            Say(QStringLiteral("puesto termina en cuanto se inicia (¿sin pantalla?); el guardián "
                               "se detiene"));
            QCoreApplication::exit(3);
            break;
        case platform::StationGuardian::Step::Watching:
            break;
        }
    };
    QObject::connect(&timer, &QTimer::timeout, &app, look);
    // systemd stops the guardian with SIGTERM: leave puesto running.
    platform::OnTerminationSignal(&app, [] { QCoreApplication::exit(0); });
    timer.start(interval);
    QTimer::singleShot(0, &app, look);
    return app.exec();
}
