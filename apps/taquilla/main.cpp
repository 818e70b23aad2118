// taquilla: the cashier's program. main() only wires the pieces together.
#include "common/DateTime.h"
#include "common/Paths.h"
#include "platform/Clock.h"
#include "platform/linux/AvahiAnnouncer.h"
#include "platform/linux/FileRegistry.h"
#include "platform/linux/SingleInstance.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/XdgShell.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/TableOps.h"
#include "server/shell/ActivityStamp.h"
#include "server/shell/ServerCore.h"
#include "server/ui/MainWindow.h"
#include "server/ui/computers/TfrmComputers.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSysInfo>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <sys/resource.h>

using namespace tarvina;

namespace {

// A thousand stations need more descriptors than the usual soft limit.
void RaiseDescriptorLimit() {
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

} // namespace

int main(int argc, char** argv) {
    RaiseDescriptorLimit();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("taquilla"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvina"));
    QApplication::setQuitOnLastWindowClosed(false);

    const QString folder = common::ProgramFolder(QStringLiteral("taquilla"));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);

    platform::SingleInstance single(folder, QStringLiteral("ZEZuraRozed"));
    if (!single.acquire())
        return 0;

    platform::FileRegistry registry;
    platform::RealClock clock;
    server::ServerCore core(clock, registry, folder, folder);

    // Every console line also goes to standard output.
    QObject::connect(&core.console(), &server::ConsoleModel::messageShown,
                     [](const QString& stamp, const QString& computer, const QString& text) {
                         const QString line = stamp + QStringLiteral(" [") + computer +
                                              QStringLiteral("]: ") + text + QLatin1Char('\n');
                         std::fputs(line.toUtf8().constData(), stdout);
                         std::fflush(stdout);
                     });

    // The code tables exist, with their tags, before the main window comes.
    try {
        server::TableOps::CreateTablesAtLoad(folder);
    } catch (const std::exception& e) {
        core.ShowRemoteMessage(nullptr, QString::fromLocal8Bit(e.what()));
    }

    core.startUp([](const QString& question) {
        return QMessageBox::question(nullptr, QStringLiteral("Confirmación"), question,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    });

    // The main window's table steps, its code handles, the day's journal and
    // the code checks in the idle pass. The handles close with the orderly
    // close, before the settings record it.
    server::PinRuntime pins;
    for (const QString& failure : pins.start(core, folder, clock.now()))
        core.ShowRemoteMessage(nullptr, failure);
    core.hooks().closeCodeTable = [&pins] { pins.close(); };

    server::MainWindow window(core);

    // The computers view above the console and its copy of the row menu as
    // "Máquinas", until the side bar gives the view a page of its own. The
    // view drives the one-second tick while it shows the detailed list.
    platform::XdgShell shell;
    auto* computers = new server::TfrmComputers(core, shell, &window);
    if (auto* box = qobject_cast<QVBoxLayout*>(window.centralWidget()->layout()))
        box->insertWidget(0, computers, 3);
    computers->FillMachinesMenu(window.menuBar()->addMenu(QStringLiteral("Máquinas")));
    const QSize screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->size()
                                                          : QSize(1024, 768);
    const server::WindowPlacement placement =
        server::RestorePlacement(registry, window.objectName(), screen);
    window.resize(800, 600);
    if (placement.state && *placement.state == 2)
        window.setWindowState(Qt::WindowMaximized);
    else if (placement.state && *placement.state == 1)
        window.setWindowState(Qt::WindowMinimized);
    if (placement.left && placement.top)
        window.move(*placement.left, *placement.top);
    if (placement.width && placement.height)
        window.resize(*placement.width, *placement.height);
    if (window.height() < 150)
        window.resize(window.width(), 150);

    core.hooks().uncleanCloseNotice = [&] {
        const common::DateTime stamp = server::ActivityStamp(folder).read(clock.now());
        QMessageBox::critical(
            &window, QStringLiteral("Error"),
            QStringLiteral("El último registro de actividad corresponde a ") +
                common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), stamp));
    };

    QObject::connect(&single, &platform::SingleInstance::showRequested, &window, [&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });

    // SIGTERM, SIGINT and SIGHUP take the orderly close path.
    platform::OnTerminationSignal(&window, [&window] { window.terminate(); });

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &core, [&core] { core.scheduleIdle(); });
    tick.start(1000);
    QTimer saveDate;
    const server::ActivityStamp activity(folder);
    QObject::connect(&saveDate, &QTimer::timeout, [&] { activity.write(clock.now()); });
    saveDate.start(90000);

    QObject::connect(&window, &QObject::destroyed, &app, &QCoreApplication::quit);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    core.firstShow();
    // Stations find the server on the local network where Avahi runs.
    platform::AvahiAnnouncer announcer(core.port());
    announcer.start(QStringLiteral("Tarvina Caja en ") + QSysInfo::machineHostName());
    if (core.crashSuspected()) {
        QMessageBox::warning(
            &window, QStringLiteral("Advertencia"),
            QStringLiteral("La última vez que se cerró el programa hubo una falla. "
                           "Se sugiere repara base de datos (menú Sesión)"));
    } else {
        activity.write(clock.now());
    }
    core.scheduleIdle();

    // The window's close ends the program once the orderly close has run.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (window.terminating() && !window.isVisible()) {
            tick.stop();
            saveDate.stop();
            server::SavePlacement(registry, window.objectName(), window.x(), window.y(),
                                  window.height(), window.width(),
                                  window.isMaximized()   ? 2
                                  : window.isMinimized() ? 1
                                                         : 0);
            app.quit();
        }
    });
    watch.start(100);
    return app.exec();
}
