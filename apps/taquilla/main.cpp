// taquilla: the cashier's program. main() only wires the pieces together.
#include "common/InfoSwitches.h"
#include "common/Paths.h"
#include "platform/Clock.h"
#include "platform/linux/AvahiAnnouncer.h"
#include "platform/linux/CupsPrinting.h"
#include "platform/linux/FileRegistry.h"
#include "platform/linux/LinuxMachineInfo.h"
#include "platform/linux/SingleInstance.h"
#include "platform/linux/StationServices.h"
#include "platform/linux/TcpNetwork.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/XdgMail.h"
#include "platform/linux/XdgShell.h"
#include "server/ui/computers/ComputersToolBar.h"
#include "server/ui/computers/TfrmComputers.h"
#include "server/ui/pages/InstallPages.h"
#include "server/ui/pages/TaquillaPages.h"
#include "server/ui/remote/RemoteWindows.h"
#include "server/ui/shell/ShellController.h"
#include "server/ui/shell/ShellHelp.h"
#include "server/ui/shell/TaquillaApplication.h"
#include "server/ui/till/TillWindows.h"
#include "xbase/PosixFileSystem.h"

#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QSysInfo>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <optional>
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

// The help beside the program (a build or a portable copy), else where the
// package installs it.
QString HelpFolder() {
    const QDir bin(QCoreApplication::applicationDirPath());
    if (bin.exists(QStringLiteral("help")))
        return bin.filePath(QStringLiteral("help"));
    return QDir::cleanPath(bin.filePath(QStringLiteral("../share/tarvina/help")));
}

// Qt's own texts (standard buttons, file dialogs) in Spanish.
void LoadSpanishTexts(QCoreApplication& app) {
    auto* qt = new QTranslator(&app);
    if (qt->load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
}

// --help and --version: their text, for main to print and end.
std::optional<QString> InfoText(int argc, char** argv) {
    return common::InfoSwitchText(
        argc, argv, QStringLiteral("taquilla"),
        QStringLiteral("Uso: taquilla\n"
                       "Caja de Tarvina: controla las computadoras del café.\n"
                       "  --help     muestra esta ayuda\n"
                       "  --version  muestra la versión\n"
                       "Variables: TARVINA_HOME, TARVINA_REGISTRY, TARVINA_PORT; ver "
                       "taquilla(1).\n"));
}

// The program's folder, made when missing and made the current one.
QString EnterProgramFolder() {
    const QString folder = common::ProgramFolder(QStringLiteral("taquilla"));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
    return folder;
}

// The system's back ends the cashier's program runs on.
struct BackEnds {
    platform::FileRegistry registry;
    platform::RealClock clock;
    platform::LinuxMachineInfo machine;
    platform::CupsPrinting printing;
    platform::IcmpPinger pinger;
    platform::XdgShell shell;
    platform::XdgMail mail;
    platform::TcpNetwork network;

    server::ShellPlatform shellPlatform() {
        return {clock,    registry, machine,
                printing, pinger,   shell,
                mail,     network,  xbase::RealFileSystem()};
    }
};

// The frames in their side bar slots, and the computers view's copy of its
// row menu as "Máquinas". The codes, code history and preferences pages live
// as long as the window that owns them (`pages` tells main's caller where
// they are); the repair closes and reopens the codes page's own table handle.
void InstallFrames(server::ShellController& taquilla, BackEnds& back,
                   server::ui::TaquillaPages*& pages) {
    taquilla.setFrameFactory([&back, &pages, &taquilla](server::MainWindow& window,
                                                        server::ServerCore& core,
                                                        server::PinRuntime& pins) {
        auto* computers = new server::TfrmComputers(core, back.shell, &window);
        window.setPage(server::MainWindow::PageId::Computers, computers);
        computers->FillMachinesMenu(window.menu(server::MainWindow::MenuId::Machines));
        // Screen capture, tasks and remote configuration of a station.
        new server::RemoteWindows(core, *computers, &window);
        // The till: "Importe", "Cobrar..." and "Cierre de caja...".
        auto* till = new server::TillWindows(core, pins, *computers, window, back.shell);
        pages = new server::ui::TaquillaPages(core, pins, back.registry, back.printing, &window);
        pages->tariffApplied = [till] { till->applyTariff(); };
        pages->centralChanged = [&taquilla] { taquilla.startCentral(); };
        pages->openHelp = [&taquilla](int topic) { taquilla.help().openHelp(topic); };
        pages->setToolBarVisible = [computers](bool visible) {
            computers->tools().setVisible(visible);
        };
        server::ui::InstallPages(window, *pages);
    });
    taquilla.setCodesFrameTable([&pages]() -> xbase::TableEngine* {
        return pages != nullptr ? &pages->codesFrame()->tbPin() : nullptr;
    });
}

void PrintLine(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// Stations find the server on the local network where Avahi runs, on the
// port the listener bound (the system's choice under TARVINA_PORT=0). The
// port goes to standard output too, for whoever started the program, and so
// does every console line.
void AnnounceAndEcho(server::ServerCore& core, platform::AvahiAnnouncer& announcer) {
    QObject::connect(&core, &server::ServerCore::listening, &announcer, [&announcer](quint16 port) {
        PrintLine(server::ListeningText(port) + u'\n');
        announcer.start(QStringLiteral("Tarvina Caja en ") + QSysInfo::machineHostName(), port);
    });
    QObject::connect(&core.console(), &server::ConsoleModel::messageShown,
                     [](const QString& stamp, const QString& computer, const QString& text) {
                         PrintLine(stamp + QStringLiteral(" [") + computer + QStringLiteral("]: ") +
                                   text + QLatin1Char('\n'));
                     });
}

} // namespace

int main(int argc, char** argv) {
    if (const auto info = InfoText(argc, argv)) {
        fputs(info->toLocal8Bit().constData(), stdout);
        return 0;
    }
    RaiseDescriptorLimit();
    server::TaquillaApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("taquilla"));
    // No display name: the toolkit would add it to every dialog's title, and
    // the dialogs carry their own captions.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    LoadSpanishTexts(app);
    const QString folder = EnterProgramFolder();

    // A second start shows the first one and ends.
    platform::SingleInstance single(folder, QStringLiteral("ZEZuraRozed"));
    if (!single.acquire())
        return 0;

    BackEnds back;
    server::ShellController taquilla(back.shellPlatform(), {folder, folder, HelpFolder()});
    server::ui::TaquillaPages* pages = nullptr;
    InstallFrames(taquilla, back, pages);
    platform::AvahiAnnouncer announcer;
    AnnounceAndEcho(taquilla.core(), announcer);

    QObject::connect(&single, &platform::SingleInstance::showRequested, &taquilla,
                     &server::ShellController::restore);
    // SIGTERM, SIGINT and SIGHUP take the orderly close path in any state.
    platform::OnTerminationSignal(&taquilla, [&taquilla] { taquilla.endNow(); });

    // The start runs inside the event loop, so that a signal can end every
    // box and wait it brings.
    QTimer::singleShot(0, &taquilla, &server::ShellController::start);
    return app.exec();
}
