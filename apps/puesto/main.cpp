// puesto: the customer station. main() only wires the pieces together.
#include "client/StationCore.h"
#include "client/config/LogoBackup.h"
#include "client/control/RestoreLogos.h"
#include "client/control/StationControl.h"
#include "client/control/TaskGate.h"
#include "client/station/StationKeys.h"
#include "client/ui/Dialogs.h"
#include "client/ui/StationUi.h"
#include "client/ui/TfrmConfig.h"
#include "common/InfoSwitches.h"
#include "common/Paths.h"
#include "platform/Audio.h"
#include "platform/Clock.h"
#include "platform/MachineIdentity.h"
#include "platform/gui/ToolkitWindowSystem.h"
#include "platform/linux/AvahiBrowser.h"
#include "platform/linux/FileRegistry.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/LinuxMachineInfo.h"
#include "platform/linux/LogindPower.h"
#include "platform/linux/PkexecModelSave.h"
#include "platform/linux/PosixFolder.h"
#include "platform/linux/ProcProcesses.h"
#include "platform/linux/SettingsApplets.h"
#include "platform/linux/SingleInstance.h"
#include "platform/linux/StationServices.h"
#include "platform/linux/SystemdServiceControl.h"
#include "platform/linux/TcpNetwork.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/TimedateTime.h"
#include "platform/linux/X11ScreenGrabber.h"
#include "platform/linux/X11WindowSystem.h"
#include "platform/linux/XdgAutostart.h"
#include "platform/linux/XdgShell.h"
#include "platform/linux/XrandrDisplayModes.h"
#include "protocol/Fields.h"
#include "protocol/Port.h"
#ifdef TARVINA_HAVE_ALSA
#include "platform/linux/AlsaAudio.h"
#endif

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QScreen>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

using namespace tarvina;

namespace {

bool TestSwitch(const QStringList& args) {
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        if ((a.startsWith(u'-') || a.startsWith(u'/')) &&
            a.mid(1).compare(QStringLiteral("test"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString LocalAddress() {
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a.toString();
    return {};
}

quint16 Port() {
    bool ok = false;
    const int p = qEnvironmentVariableIntValue("TARVINA_PORT", &ok);
    return ok && p > 0 && p < 65536 ? static_cast<quint16>(p) : protocol::kDefaultPort;
}

// The server chooser, while no server is configured. It is not shown where
// nobody can answer it (no display): the station then keeps its setting.
void ChooseServer(client::StationCore& core, client::ui::StationUi& ui, platform::Pinger& pinger,
                  platform::NetworkBrowser& browser) {
    const QString platformName = QGuiApplication::platformName();
    if (platformName == u"offscreen" || platformName == u"minimal")
        return;
    QString host = core.settings().host;
    if (!host.isEmpty() && host != u"127.0.0.1")
        return;
    const QString local = LocalAddress();
    for (;;) {
        client::ui::TfrmRed chooser(host);
        chooser.useNetwork(pinger, &browser, Port());
        // Above the lock, and left alone by its enforcement while it asks.
        chooser.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        ui.setServiceDialog(&chooser);
        const int answer = chooser.exec();
        ui.setServiceDialog(nullptr);
        if (answer != QDialog::Accepted)
            return;
        host = chooser.host();
        core.link().SetHost(host);
        const bool answered = pinger.ping(host, 1000);
        QThread::msleep(1100);
        if (answered && host != local)
            return;
        QMessageBox question(
            QMessageBox::Warning, QStringLiteral("Advertencia"),
            QStringLiteral("Máquina no hallada en la red (") + host +
                QStringLiteral(") o es esta misma (se requiere nombre/ip de CAJA). ¿Conservar "
                               "este nombre (o intentar otro)?"),
            QMessageBox::Yes | QMessageBox::No);
        question.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        ui.setServiceDialog(&question);
        const int reply = question.exec();
        ui.setServiceDialog(nullptr);
        if (reply == QMessageBox::Yes)
            return;
    }
}

// Unexpected errors raised in event handlers go to the exception log with
// the last step, and the program goes on.
class StationApplication : public QApplication {
public:
    using QApplication::QApplication;
    client::StationCore* core = nullptr;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::system_error& e) {
            if (core)
                core->log().OnAppException(QString::fromLatin1(receiver->metaObject()->className()),
                                           QString::fromLocal8Bit(e.what()), e.code().value());
        } catch (const std::exception& e) {
            if (core)
                core->log().OnAppException(QString::fromLatin1(receiver->metaObject()->className()),
                                           QString::fromLocal8Bit(e.what()));
        } catch (...) {
            if (core)
                core->log().OnAppException(QString::fromLatin1(receiver->metaObject()->className()),
                                           QStringLiteral("unknown"));
        }
        return false;
    }
};

// Qt ends the program with exit(1) when its connection to the X server
// breaks (the display went away): what is set here runs then, so that the
// station still saves its session and its settings.
std::function<void()>* g_displayLost = nullptr;

void AtExit() {
    if (!g_displayLost)
        return;
    const std::function<void()> lastWords = *g_displayLost;
    g_displayLost = nullptr;
    lastWords();
}

// --help and --version: their text, for main to print and end.
std::optional<QString> InfoText(int argc, char** argv) {
    return common::InfoSwitchText(
        argc, argv, QStringLiteral("puesto"),
        QStringLiteral("Uso: puesto [-test]\n"
                       "Puesto de cliente de Tarvina: bloquea la computadora hasta que la "
                       "caja asigne tiempo.\n"
                       "  -test      permite una segunda copia y agrega asignaciones de "
                       "prueba al menú\n"
                       "  --help     muestra esta ayuda\n"
                       "  --version  muestra la versión\n"
                       "Variables: TARVINA_HOME, TARVINA_REGISTRY, TARVINA_PORT; ver "
                       "puesto(1).\n"));
}

// The program's folder, made when missing and made the current one.
QString EnterProgramFolder() {
    const QString folder = common::ProgramFolder(QStringLiteral("puesto"));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
    return folder;
}

// What the station starts with, but its MAC address (read once the log can
// take its errors).
client::ClientEnvironment StartEnvironment(const QString& folder, bool testMode,
                                           platform::Registry& registry,
                                           platform::MachineInfo& machine) {
    common::LastCommand identityStep;
    const QString computerName =
        platform::GetComputerName(registry, machine, &identityStep).value_or(machine.hostName());
    client::ClientEnvironment env;
    env.programFolder = folder;
    env.currentDir = folder;
    env.exeName = QApplication::applicationFilePath();
    env.port = Port();
    env.testMode = testMode;
    env.computerName = computerName;
    if (identityStep.get() != u"iniciando")
        env.computerNameStep = identityStep.get();
    // osMajor keeps its default: on Linux the caption and the companion
    // service follow the newest Windows, the kernel's number ranks nothing.
    env.versionText =
        QString::fromLatin1(protocol::VersionText(TARVINA_VERSION_MAJOR, TARVINA_VERSION_MINOR,
                                                  TARVINA_VERSION_RELEASE, TARVINA_VERSION_BUILD));
    return env;
}

platform::LinuxDesktopSetup DesktopSetup(platform::SysfsDrives& drives) {
    platform::LinuxDesktopSetup setup;
    setup.deviceOf = [&drives](QChar letter) { return drives.deviceOf(letter); };
    return setup;
}

// The system's back ends the station runs on, and its machine control over
// them. The identity pieces (registry, clock, machine) come first: the
// start environment reads them.
struct BackEnds {
    BackEnds(client::ui::StationUi& ui, const QString& folder)
        : drives(QStringLiteral("/sys/block"), QStringLiteral("/dev"),
                 QDir(folder).filePath(QStringLiteral("Data/unidades.dta"))),
          control({registry, windows, processes, desktop, autostart, grabber, displayModes, ui,
                   folder, QApplication::applicationFilePath()}) {
        grabber.setPrimaryArea([] {
            const QScreen* screen = QGuiApplication::primaryScreen();
            if (!screen)
                return QRect();
            const QRect g = screen->geometry();
            const qreal r = screen->devicePixelRatio();
            return QRect(qRound(g.x() * r), qRound(g.y() * r), qRound(g.width() * r),
                         qRound(g.height() * r));
        });
    }

    client::StationPlatform stationPlatform(client::ui::StationUi& ui) {
        return {clock,   registry, windows, audio, service, shell, drives,  timeSetter,
                control, ui,       ui,      ui,    ui,      power, desktop, network};
    }

    platform::FileRegistry registry;
    platform::RealClock clock;
    platform::LinuxMachineInfo machine;
    const std::unique_ptr<platform::WindowSystem> windowSystem =
        platform::MakeToolkitWindowSystem();
    platform::WindowSystem& windows = *windowSystem;
#ifdef TARVINA_HAVE_ALSA
    platform::AlsaAudio audio;
#else
    platform::SilentAudio audio;
#endif
    platform::SystemdServiceControl service;
    platform::XdgShell shell;
    platform::SysfsDrives drives;
    platform::TimedateTime timeSetter;
    platform::IcmpPinger pinger;
    platform::LogindPower power;
    platform::LinuxDesktopSetup desktopSetup = DesktopSetup(drives);
    platform::LinuxDesktop desktop{windows, desktopSetup};
    platform::XdgAutostart autostart{registry, QApplication::applicationFilePath()};
    platform::X11ScreenGrabber grabber;
    platform::XrandrDisplayModes displayModes;
    platform::ProcProcesses processes;
    platform::TcpNetwork network;
    client::StationControl control;
};

// "Configuración": the service password, then the dialog. Its pages reach
// the desktop for the logo backup, the task bar and the hidden drives; the
// control panel's applets are the desktop's settings programs, hidden
// through "Control.ini" beside machine.reg. "Tareas": the service password,
// then the station's own task window.
struct ServiceMenus {
    ServiceMenus(client::StationCore& core, const client::ClientEnvironment& env,
                 client::ui::StationUi& ui, BackEnds& back)
        : browser(Port()), configModel(back.registry, back.autostart),
          logoBackup(back.desktop, env.currentDir),
          configDialog(core, configModel, back.pinger, &browser, Port(), env.currentDir,
                       env.exeName),
          taskGate({ui, ui, core.view(), core.lock(), core.session(), core.settings(),
                    [&core] { return core.closing(); }},
                   back.control.tasks()) {
        platform::LinuxDesktop& desktop = back.desktop;
        core.configTarget().setDesktopHooks(
            {[this](bool force) { return logoBackup.backup(force); },
             [&desktop](bool hidden) { desktop.setTaskBarHidden(hidden); },
             [&desktop](quint32 mask, QString* error) {
                 return desktop.setHiddenDrives(mask, error);
             }});
        configModel.setControlPanel(
            [] { return platform::ListSettingsApplets(platform::ApplicationFolders()); },
            QFileInfo(back.registry.paths().machine).dir().filePath(QStringLiteral("Control.ini")));
        ui.setConfigDialog(configDialog.dialog());
        configDialog.dialog()->setDrives(&back.drives);
        // Without a compositing manager a window's opacity is not drawn: the
        // lock stays opaque whatever is set, which the dialog says and the
        // log records once.
        if (QGuiApplication::platformName() == u"xcb" && !platform::X11CompositingActive()) {
            configDialog.dialog()->setTransparencyNote(
                QStringLiteral("Este escritorio no tiene un compositor de ventanas: el bloqueo se "
                               "muestra opaco con cualquier transparencia."));
            QObject::connect(&core.view(), &client::StationView::displayChanged, &core,
                             [&core, logged = false]() mutable {
                                 if (logged || core.display().lockOpacity == 255)
                                     return;
                                 logged = true;
                                 core.log().LogException(QStringLiteral(
                                     "AlphaBlend: sin compositor de ventanas la transparencia "
                                     "del bloqueo no se aplica"));
                             });
        }
        QObject::connect(ui.main(), &client::ui::TfrmClient7267::configRequested, &core,
                         [this, &core] { core.configGate().MnuConfigClick(configDialog); });
        QObject::connect(ui.main(), &client::ui::TfrmClient7267::tasksRequested, &core,
                         [this, &ui] { taskGate.MnuTareasClick(ui); });
        client::TaskList& tasks = back.control.tasks();
        QObject::connect(ui.main(), &client::ui::TfrmClient7267::backgroundTasksRequested, &core,
                         [&core, &tasks] {
                             core.view().display().lockMessage = tasks.BackgroundReport();
                             core.view().changed();
                         });
    }

    platform::AvahiBrowser browser;
    client::config::ConfigModel configModel;
    client::config::LogoBackup logoBackup;
    client::ui::ConfigDialogRunner configDialog;
    client::TaskGate taskGate;
};

// With logo protection on, the start and shut-down pictures changed while
// the station ran are put back at its close (the cashier is told while the
// connection is still up). The stored flag is what the dialog and the
// cashier set, so protection holds from one start to the next.
std::function<void()> LogoRestorer(client::StationCore& core, BackEnds& back,
                                   const QString& currentDir) {
    return [&core, &back, currentDir] {
        if (client::keys::kProtectWinLogo.value(back.registry))
            client::RestoreLogos(back.desktop, currentDir,
                                 [&core](const QString& t) { core.link().SendClientMessage(t); });
    };
}

// The ways the station ends: the quit of its menu, a system shutdown or
// log-out (as a pending shutdown action does: no password, the session saved
// first), and the display going away (the view's listeners go first, then
// the close saves and stops the threads as always; `displayLost` must live
// until the program ends).
void ConnectEndings(StationApplication& app, client::StationCore& core, client::ui::StationUi& ui,
                    const std::function<void()>& restoreLogos, std::function<void()>& displayLost) {
    QObject::connect(&ui, &client::ui::StationUi::quitRequested, &app, [&core, restoreLogos] {
        restoreLogos();
        core.Close();
        // exit(), not quit(): quit() first asks every window to close, and
        // the lock screen and the clock refuse.
        QCoreApplication::exit(0);
    });
    platform::OnTerminationSignal(&app, [&ui] {
        ui.main()->setCloseAllowed(true);
        ui.main()->close();
    });
    displayLost = [&core, restoreLogos] {
        core.view().disconnect();
        restoreLogos();
        core.Close();
    };
    g_displayLost = &displayLost;
    std::atexit(AtExit);
}

} // namespace

int main(int argc, char** argv) {
    if (const auto info = InfoText(argc, argv)) {
        fputs(info->toLocal8Bit().constData(), stdout);
        return 0;
    }
    // A display or a cashier that goes away is noticed by the calls that
    // talk to it, not by a signal that ends the station before it can save.
    std::signal(SIGPIPE, SIG_IGN);
    StationApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("puesto"));
    QApplication::setQuitOnLastWindowClosed(false);
    const bool testMode = TestSwitch(QApplication::arguments());
    const QString folder = EnterProgramFolder();

    platform::SingleInstance single(folder, QStringLiteral("ZuClientMutex"));
    if (!single.acquire() && !testMode)
        return 0;

    client::ui::StationUi ui(testMode);
    BackEnds back(ui, folder);
    client::ClientEnvironment env = StartEnvironment(folder, testMode, back.registry, back.machine);
    // The MAC address is read before the logic starts, as the original does
    // while its main window is created.
    client::StationCore* corePtr = nullptr;
    env.macText =
        platform::GetMacAddress(back.machine, platform::Program::Puesto, [&](const QString& e) {
            if (corePtr)
                corePtr->log().LogException(e);
        });
    // Before the station: a cleaning under way at its end still walks them.
    platform::PosixFolderOpener folders;
    // The model's privileged save: the package's helper, or in a build tree
    // the one beside puesto.
    QString modelHelper = QStringLiteral("/usr/libexec/tarvina/tarvina-modelo");
    if (!QFileInfo(modelHelper).isExecutable())
        modelHelper =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarvina-modelo"));
    platform::PkexecModelSave modelSave(QFile::encodeName(modelHelper).toStdString());
    client::StationCore core(env, back.stationPlatform(ui));
    corePtr = &core;
    app.core = &core;
    ui.attach(&core);
    // The clean desktop keeps the user's settings folder too.
    core.useFolders(folders, {QFileInfo(back.registry.paths().user).absolutePath()});
    core.cleaning()->setElevation(&modelSave);
    core.Create();

    ServiceMenus menus(core, env, ui, back);
    // A second start brings this one's main window to the front, shown or not.
    QObject::connect(&single, &platform::SingleInstance::showRequested, &core, [&core, &ui] {
        if (!core.display().mainVisible)
            core.lock().ToggleMainWindow();
        ui.main()->raise();
        ui.main()->activateWindow();
    });
    std::function<void()> displayLost;
    ConnectEndings(app, core, ui, LogoRestorer(core, back, env.currentDir), displayLost);

    core.setTimersDriven(true);
    core.Show();
    // With no server configured the chooser opens now, above the lock that
    // already covers the desktop (never before it).
    ChooseServer(core, ui, back.pinger, menus.browser);
    const int rc = app.exec();
    g_displayLost = nullptr;
    app.core = nullptr;
    return rc;
}
