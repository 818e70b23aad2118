#include "server/ui/shell/ShellController.h"

#include "common/DateTime.h"
#include "platform/Clock.h"
#include "platform/MachineIdentity.h"
#include "platform/Printing.h"
#include "platform/Shell.h"
#include "server/pin/Reports.h"
#include "server/pin/TableOps.h"
#include "server/shell/FirstShow.h"
#include "server/shell/Greeting.h"
#include "server/shell/HelpTopics.h"
#include "server/shell/NetworkTest.h"
#include "server/shell/PasswordGate.h"
#include "server/shell/StartupTexts.h"
#include "server/ui/shell/AboutBox.h"
#include "server/ui/shell/ConfirmCloseDialog.h"
#include "server/ui/shell/PasswordDialog.h"
#include "server/ui/shell/ProgressRepairWindow.h"
#include "server/ui/shell/ShellBoxes.h"
#include "server/ui/shell/ShellHelp.h"
#include "server/ui/shell/SplashWindow.h"
#include "server/ui/shell/TaquillaApplication.h"
#include "server/ui/shell/TrayIcon.h"
#include "server/ui/shell/WidgetDialogs.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>

namespace tarvina::server {

namespace {

const QString kStampFormat = QStringLiteral("dd/mm/yyyy hh:nn:ss");

// The network test of the first show may wait this long for its four
// answers (four seconds, plus a slow name lookup) before the start goes on.
constexpr int kFirstShowPingWaitMs = 8000;

// The window where the last orderly close left it, on this screen.
void PlaceAsLastTime(MainWindow& w, platform::Registry& registry) {
    const QSize screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->size()
                                                          : QSize(1024, 768);
    const WindowPlacement placement = RestorePlacement(registry, w.objectName(), screen);
    w.resize(900, 600);
    // A window closed minimized or maximized comes back so; its position is
    // not read then.
    if (placement.state && *placement.state == 2)
        w.setWindowState(Qt::WindowMaximized);
    else if (placement.state && *placement.state == 1)
        w.setWindowState(Qt::WindowMinimized);
    if (placement.left && placement.top)
        w.move(*placement.left, *placement.top);
    if (placement.width && placement.height)
        w.resize(*placement.width, *placement.height);
    if (w.height() < 150)
        w.resize(w.width(), 150);
}

} // namespace

ShellController::ShellController(ShellPlatform platform, Folders folders, QObject* parent)
    : QObject(parent), platform_(platform), folders_(std::move(folders)),
      core_(platform.clock, platform.registry, platform.network, folders_.program, folders_.work),
      capture_(platform.files), pins_(capture_), central_(capture_, platform.clock),
      stamp_(LastActivityStamp::PathFor(folders_.program, ShellProgramName())) {
    const QString qpa = QGuiApplication::platformName();
    headless_ = qpa == QLatin1String("offscreen") || qpa == QLatin1String("minimal");
    boxes_ = std::make_unique<ShellBoxes>(core_, headless_, [this]() -> QWidget* {
        return window_ && window_->isVisible() ? window_.get() : nullptr;
    });
    help_ = std::make_unique<ShellHelp>(platform_, folders_, core_, *boxes_, life_);
    // The idle pass every second; the computers view drives its own tick.
    connect(&tick_, &QTimer::timeout, &core_, [this] { core_.scheduleIdle(); });
    saveDate_.setInterval(LastActivityStamp::kIntervalMs);
    connect(&saveDate_, &QTimer::timeout, this, [this] {
        static bool reported = false;
        if (!stamp_.write(platform_.clock.now()) && !reported) {
            reported = true;
            core_.ShowRemoteMessage(nullptr, QStringLiteral("Falla al escribir ") + stamp_.path());
        }
    });
}

ShellController::~ShellController() {
    // Boxes and dialogs belong to the window; the window goes before the core.
    splash_.reset();
    window_.reset();
}

// ---------------------------------------------------------------- start-up

void ShellController::step(const QString& text) {
    if (splash_)
        splash_->step(text);
}

void ShellController::start() {
    ++busy_;
    trayAvailable_ = !headless_ && QSystemTrayIcon::isSystemTrayAvailable();
    splash_ = std::make_unique<SplashWindow>(ProgramVersionText());
    if (!headless_)
        splash_->showCentred();
    // The program's title is the main window's own caption: a display name
    // would be added by the toolkit to every dialog's title as well.
    const auto& steps = StartupTexts::kSteps;
    step(QString::fromUtf16(steps[0]));

    core_.lastCommand().set(QStringLiteral("TfrmZUCaja.FormCreate(Sender: TObject);"));
    if (auto* app = qobject_cast<TaquillaApplication*>(QCoreApplication::instance()))
        app->setUnexpectedErrorHandler([this](const QString& sender, const QString& text) {
            boxes_->unexpectedError(sender, text);
        });

    // The code tables exist, with their tags, before the main window comes.
    try {
        TableOps::CreateTablesAtLoad(platform_.files, folders_.program);
    } catch (const std::exception& e) {
        core_.ShowRemoteMessage(nullptr, QString::fromLocal8Bit(e.what()));
    }
    core_.startUp([this](const QString& question) {
        return boxes_->ask(QStringLiteral("Confirmación"), question);
    });
    started_ = true;
    if (endedMeanwhile())
        return;

    step(QString::fromUtf16(steps[1]));
    // Before the tables open: their rows go to the outbox from the first.
    startCentral();
    pins_.setSplash([this](const QString& text) { step(text); });
    CodeDesk::Hooks hooks = deskHooks_;
    if (!hooks.generalError)
        hooks.generalError = [this](const QString& text) {
            boxes_->unexpectedError(QStringLiteral("CodeDesk"), text);
        };
    for (const QString& failure :
         pins_.start(core_, folders_.program, platform_.clock.now(), hooks))
        core_.ShowRemoteMessage(nullptr, failure);
    pins_.setSplash({});
    if (Till* till = pins_.till())
        till->setTariff(core_.settings().tariff);
    // The handles close with the orderly close, before the settings record it.
    core_.hooks().closeCodeTable = [this] { pins_.close(); };
    core_.hooks().afterListenerStopped = [] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(500);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    step(QString::fromUtf16(steps[2]));
    step(QString::fromUtf16(steps[3]));

    step(QString::fromUtf16(steps[4]));
    createMainWindow();
    step(QString::fromUtf16(steps[5]));
    step(QString::fromUtf16(steps[6]));
    step(QString::fromUtf16(steps[7]));
    saveDate_.start();
    if (endedMeanwhile())
        return;

    firstShow();
    if (endedMeanwhile() || life_.closed())
        return;
    tick_.start(1000);
    --busy_;
    Q_EMIT started();
}

void ShellController::startCentral() {
    const ServerSettings& s = core_.settings();
    central::CentralBranch::Hooks hooks;
    // The copier's thread hands its news to this one.
    hooks.status = [this](const QString& text) {
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                centralStatus_ = text;
                if (window_)
                    window_->setCentralStatus(text);
            },
            Qt::QueuedConnection);
    };
    hooks.console = [this](const QString& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { core_.ShowRemoteMessage(nullptr, text); }, Qt::QueuedConnection);
    };
    centralStatus_.clear();
    if (window_)
        window_->setCentralStatus({});
    const QString failure =
        central_.start(TableOps::DataFolder(capture_, folders_.program), s.sucursal, s.central,
                       PlainCentralPassword(s.centralClave), hooks);
    if (!failure.isEmpty())
        core_.ShowRemoteMessage(nullptr, failure);
}

void ShellController::createMainWindow() {
    window_ = std::make_unique<MainWindow>(core_);
    window_->setCentralStatus(centralStatus_);
    qApp->installEventFilter(help_.get());
    MainWindow& w = *window_;
    PlaceAsLastTime(w, platform_.registry);

    w.setCloseHandler([this] { return onCloseRequest(); });
    w.setTerminateHandler([this] { requestTerminate(); });
    w.setHideWhenMinimized(trayAvailable_);
    w.setPinGate([this] { return askGate(Gate::PinPage); });

    help_->attach(w);

    core_.hooks().minimize = [this] {
        if (window_)
            window_->showMinimized();
    };
    core_.hooks().closeMainWindow = [this] { requestTerminate(); };
    core_.hooks().uncleanCloseNotice = [this] { showUncleanCloseNotice(); };
    // The first run opens the preferences, once they have their page.
    core_.hooks().firstRunJump = [this] {
        QWidget* prefs = window_ ? window_->page(MainWindow::PageId::Preferences) : nullptr;
        if (prefs && prefs->objectName() != QLatin1String("placeholder"))
            window_->showPage(MainWindow::PageId::Preferences);
    };

    dialogs_ = std::make_unique<WidgetDialogs>(&w);
    reports_ = std::make_unique<Reports>(platform_.shell, *dialogs_, core_.lastCommand(),
                                         pins_.usageReport().path(), pins_.codeList().path());
    password_ = new PasswordDialog(&w);
    confirmClose_ = new ConfirmCloseDialog(&w);
    progress_ = new ProgressRepairWindow(&w);
    about_ = new AboutBox(ProgramVersionText(), &w);

    tray_ = new TrayIcon(this);
    connect(&core_, &ServerCore::trayHintChanged, tray_, &TrayIcon::setHint);
    connect(tray_, &TrayIcon::manageClients, this, &ShellController::manageClients);
    connect(tray_, &TrayIcon::closeApplication, this, &ShellController::closeFromIcon);
    connect(tray_, &TrayIcon::about, this, &ShellController::aboutAction);

    networkTest_ = new NetworkTest(platform_.pinger, this);
    connect(networkTest_, &NetworkTest::line, this,
            [this](const QString& line) { core_.ShowRemoteMessage(nullptr, line); });

    fillMenus();
    if (frameFactory_)
        frameFactory_(w, core_, pins_);
}

void ShellController::fillMenus() {
    MainWindow& w = *window_;
    using MenuId = MainWindow::MenuId;
    QMenu* session = w.menu(MenuId::Session);
    QAction* quit = w.closeApplicationAction();
    QAction* firstAfterClear = nullptr;
    const QList<QAction*> existing = session->actions();
    const int clearAt = existing.indexOf(w.clearConsoleAction());
    if (clearAt >= 0 && clearAt + 1 < existing.size())
        firstAfterClear = existing.at(clearAt + 1);
    auto* ping = new QAction(QStringLiteral("Probar conexión de red..."), session);
    connect(ping, &QAction::triggered, this, &ShellController::networkTestAction);
    auto* repair = new QAction(QStringLiteral("Reparar base de datos"), session);
    connect(repair, &QAction::triggered, this, &ShellController::repairAction);
    session->insertAction(firstAfterClear, ping);
    session->insertAction(firstAfterClear, repair);
    auto* hide = new QAction(QStringLiteral("Ocultar ventana"), session);
    hide->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    connect(hide, &QAction::triggered, this, [this] {
        if (window_)
            window_->showMinimized();
    });
    session->insertAction(quit, hide);

    QMenu* reports = w.menu(MenuId::Reports);
    reports->menuAction()->setStatusTip(
        QStringLiteral("Abrir reporte de uso del día de hoy, o de un día anterior"));
    const auto add = [this](QMenu* m, const QString& text, const QString& tip, auto slot) {
        QAction* a = m->addAction(text);
        a->setStatusTip(tip);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    reports->setProperty(HelpTopics::kProperty, HelpTopics::kReports);
    add(reports, QStringLiteral("Uso de computadores (día de hoy)..."),
        QStringLiteral("Muestra el reporte del uso de computadores del día de hoy"),
        [this] { reports_->usageToday(); })
        ->setProperty(HelpTopics::kProperty, HelpTopics::kReports);
    add(reports, QStringLiteral("Uso de computadores (cualquier día)..."),
        QStringLiteral("Permite ver el reporte de uso de computadores de cualquier día"),
        [this] { reports_->usageAnyDay(); })
        ->setProperty(HelpTopics::kProperty, HelpTopics::kReports);
    reports->addSeparator();
    add(reports, QStringLiteral("PINs generados (día de hoy)..."),
        QStringLiteral("Muestra el reporte de PINs generados del día de hoy"),
        [this] { reports_->codesToday(); })
        ->setProperty(HelpTopics::kProperty, HelpTopics::kReports);
    add(reports, QStringLiteral("PINs generados (cualquier día)..."),
        QStringLiteral("Permite ver un reporte de PINs generados de cualquier día"),
        [this] { reports_->codesAnyDay(); })
        ->setProperty(HelpTopics::kProperty, HelpTopics::kReports);
    reports->addSeparator();
    add(reports, QStringLiteral("Consulta historia de PIN"), QString(), [this] {
        if (window_)
            window_->showPage(MainWindow::PageId::PinHistory);
    });

    QMenu* help = w.menu(MenuId::Help);
    add(help, QStringLiteral("Ayuda del sistema"), QString(),
        [this] { help_->openHelp(HelpTopics::kSystem); });
    add(help, QStringLiteral("Ayuda del programa de caja"), QString(),
        [this] { help_->openHelp(HelpTopics::kCashier); });
    add(help, QStringLiteral("Ayuda del programa cliente"), QString(),
        [this] { help_->openHelp(HelpTopics::kStation); });
    help->addSeparator();
    add(help, QStringLiteral("Información técnica sobre la versión actual..."), QString(),
        [this] { technicalInfoAction(); });
    add(help, QStringLiteral("&Acerca de..."), QString(), [this] { aboutAction(); });
    help->addSeparator();
    // The last entry of the help menu, as the error box tells the operator.
    add(help, QStringLiteral("Reporte a soporte técnico"), QString(),
        [this] { help_->supportReport(); });
}

void ShellController::firstShow() {
    const bool crash = core_.readStartStamps();
    // The notice tells the last activity of the run that failed: read it
    // now, before the stamp timer writes this run's.
    lastActivity_ = stamp_.read();
    // The idle pass posts the notice while crash-suspected is set: it waits
    // until the warning has been acknowledged.
    core_.setCrashSuspected(false);

    writeFirstShowLines();
    if (endPending_)
        return;
    if (splash_) {
        splash_->close();
        splash_.reset();
    }

    const PasswordPrompt gate = PasswordPrompt::For(Gate::StartUp, core_.settings());
    if (gate.needed()) {
        if (headless_) {
            // Nobody can type it and nobody can use the window: the program
            // only serves the stations.
            core_.ShowRemoteMessage(
                nullptr, QStringLiteral("Observación: sin pantalla no se pide la contraseña de "
                                        "acceso."));
        } else {
            const bool ok = password_->ask(gate);
            if (endPending_)
                return;
            if (!ok) {
                life_.forceClose(core_.settings());
                runOrderlyClose();
                return;
            }
        }
    }

    if (trayAvailable_)
        tray_->show();
    window_->showPage(MainWindow::PageId::Computers);
    window_->show();

    if (crash) {
        boxes_->notice(QStringLiteral("Advertencia"),
                       QString::fromUtf16(StartupTexts::kCrashWarning), QMessageBox::Warning);
        if (endPending_)
            return;
        // The last-activity notice follows at the next idle pass; the
        // listener waits for it.
        core_.setCrashSuspected(true);
        core_.scheduleIdle();
    } else {
        if (!stamp_.write(platform_.clock.now()))
            core_.ShowRemoteMessage(nullptr, QStringLiteral("Falla al escribir ") + stamp_.path());
        core_.startListener();
    }
}

void ShellController::writeFirstShowLines() {
    FirstShow::Facts facts;
    facts.osText = platform::GetWindowsVersion(platform_.machine, platform::Program::Taquilla).text;
    facts.printer = platform_.printing.defaultPrinterName();
    facts.address = FirstShow::CurrentAddress();
    for (const QString& line : FirstShow::MachineLines(facts))
        core_.ShowRemoteMessage(nullptr, line);
    core_.ShowRemoteMessage(nullptr, QString::fromUtf16(FirstShow::kPingTitle));
    // The answers come from the test's own thread; the window keeps
    // painting meanwhile.
    QEventLoop wait;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    const auto conn = connect(networkTest_, &NetworkTest::finished, &wait, &QEventLoop::quit);
    if (networkTest_->start(facts.address)) {
        limit.start(kFirstShowPingWaitMs);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    disconnect(conn);
    const QString rule = QString::fromUtf16(FirstShow::kRule);
    core_.ShowRemoteMessage(nullptr, rule);
    const auto quote = Greeting::QuoteOfTheDay(
        QDir(folders_.work).filePath(QString::fromLatin1(Greeting::kQuotesFile)),
        [](quint32 n) { return QRandomGenerator::global()->bounded(n); });
    core_.ShowRemoteMessage(nullptr, Greeting::Text(platform_.clock.now().time(), quote));
    core_.ShowRemoteMessage(nullptr, rule);
}

void ShellController::showUncleanCloseNotice() {
    const common::DateTime when = lastActivity_.value_or(platform_.clock.now());
    boxes_->notice(QStringLiteral("Error"),
                   QString::fromUtf16(StartupTexts::kLastActivity) +
                       common::FormatDateTime(kStampFormat, when),
                   QMessageBox::Critical);
}

QStringList ShellController::shownNotices() const {
    return boxes_->shown();
}

// ------------------------------------------------------------ close

bool ShellController::onCloseRequest() {
    const ShellLife::CloseOutcome outcome =
        life_.closeRequested(core_.settings(), [this](bool& dontAsk) {
            if (headless_ || !confirmClose_)
                return true;
            return confirmClose_->ask(dontAsk);
        });
    switch (outcome) {
    case ShellLife::CloseOutcome::Close:
        runOrderlyClose();
        return true;
    case ShellLife::CloseOutcome::Minimize:
        // The window stays open: the idle pass minimizes it.
        core_.requestMinimize();
        return false;
    case ShellLife::CloseOutcome::Stay:
        return false;
    }
    return false;
}

void ShellController::requestTerminate() {
    life_.requestTerminate();
    runOrderlyClose();
}

void ShellController::endNow() {
    if (busy_ > 0) {
        // The start-up or a repair is under way: every event loop ends now
        // (a box on screen returns), and the close runs where that work
        // can stop in order.
        endPending_ = true;
        quit();
        return;
    }
    life_.requestTerminate();
    runOrderlyClose();
}

bool ShellController::endedMeanwhile() {
    if (!endPending_)
        return false;
    busy_ = 0;
    life_.requestTerminate();
    runOrderlyClose();
    return true;
}

void ShellController::runOrderlyClose() {
    ShellLife::CloseSteps steps;
    steps.removeWindowHandlers = [this] {
        if (window_) {
            window_->setHideWhenMinimized(false);
            window_->setCloseHandler([] { return true; });
        }
    };
    steps.hideIcon = [this] {
        if (tray_)
            tray_->hide();
    };
    steps.stopComputersTimer = [this] {
        tick_.stop();
        if (QWidget* view = window_ ? window_->page(MainWindow::PageId::Computers) : nullptr)
            for (QTimer* t : view->findChildren<QTimer*>())
                t->stop();
    };
    steps.closeDown = [this] {
        saveDate_.stop();
        if (started_)
            core_.closeDown();
    };
    steps.destroyWindow = [this] {
        if (splash_) {
            splash_->close();
            splash_.reset();
        }
        if (window_) {
            SavePlacement(platform_.registry, window_->objectName(), window_->x(), window_->y(),
                          window_->height(), window_->width(),
                          window_->isMaximized()   ? 2
                          : window_->isMinimized() ? 1
                                                   : 0);
            window_->hide();
        }
    };
    if (life_.runOrderlyClose(steps)) {
        for (const QString& failed : life_.failedSteps())
            core_.ShowRemoteMessage(nullptr, QStringLiteral("Falla al cerrar: ") + failed);
        quit();
    }
}

void ShellController::quit() {
    if (quit_)
        quit_();
    else
        QCoreApplication::exit(0);
}

void ShellController::restore() {
    if (window_ && !life_.terminating())
        window_->restoreAndRaise();
}

// ------------------------------------------------------------ gates

bool ShellController::askGate(Gate gate) {
    PasswordPrompt prompt = PasswordPrompt::For(gate, core_.settings());
    if (!prompt.needed())
        return true;
    if (headless_ || !password_)
        return false;
    return password_->ask(std::move(prompt));
}

void ShellController::manageClients() {
    if (password_ && password_->isVisible()) {
        password_->raise();
        password_->activateWindow();
        return;
    }
    if (askGate(Gate::ManageClients))
        restore();
}

void ShellController::closeFromIcon() {
    if (password_ && password_->isVisible()) {
        password_->raise();
        password_->activateWindow();
        return;
    }
    if (askGate(Gate::CloseApp)) {
        restore();
        requestTerminate();
    }
}

// ------------------------------------------------------------ menu actions

void ShellController::networkTestAction() {
    if (!window_)
        return;
    window_->showPage(MainWindow::PageId::Console);
    bool ok = false;
    const QString host = QInputDialog::getText(window_.get(), QStringLiteral("Ping"),
                                               QStringLiteral("Número IP o nombre"),
                                               QLineEdit::Normal, QStringLiteral("localhost"), &ok)
                             .trimmed();
    if (!ok || host.isEmpty() || life_.terminating())
        return;
    core_.ShowRemoteMessage(nullptr, QString::fromUtf16(FirstShow::kPingTitle));
    networkTest_->start(host.left(255));
}

void ShellController::repairAction() {
    core_.lastCommand().set(QStringLiteral("ActrepairExecute"));
    ++busy_;
    progress_->pinBar()->setValue(0);
    progress_->histoBar()->setValue(0);
    if (!headless_) {
        if (QScreen* s = QGuiApplication::primaryScreen())
            progress_->move(s->geometry().center() - progress_->rect().center());
        progress_->show();
        progress_->raise();
    }
    const auto progress = [this](TableOps::RepairBar bar, int percent) {
        progress_->progress(bar, percent);
    };
    try {
        pins_.actRepair(progress, codesFrameTable_ ? codesFrameTable_() : nullptr);
    } catch (...) {
        progress_->hide();
        --busy_;
        if (endedMeanwhile())
            return;
        throw; // the general error handling: the exception log and its box
    }
    progress_->hide();
    --busy_;
    endedMeanwhile();
}

void ShellController::technicalInfoAction() {
    if (window_)
        window_->showPage(MainWindow::PageId::Information);
}

void ShellController::aboutAction() {
    if (about_ && !headless_)
        about_->exec();
}

} // namespace tarvina::server
