#include "server/ui/pages/TaquillaPages.h"

#include "platform/Printing.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/PinTableText.h"
#include "server/pin/Ticket.h"
#include "server/shell/HelpTopics.h"
#include "server/shell/ServerCore.h"

#include <QFile>
#include <QMessageBox>
#include <chrono>

namespace tarvina::server::ui {

namespace {

quint64 ClockSeed() {
    return quint64(std::chrono::system_clock::now().time_since_epoch().count());
}

} // namespace

TaquillaPages::TaquillaPages(ServerCore& core, PinRuntime& pins, platform::Registry& store,
                             platform::Printing& printing, QWidget* owner)
    : QObject(owner), core_(core), pins_(pins), store_(store), printing_(printing), dialogs_(owner),
      random_(ClockSeed()) {
    TPinFrame::Deps cd;
    cd.clock = &core.clock();
    cd.codeList = &pins.codeList();
    cd.random = &random_;
    cd.print = [this](const TicketCode& code) { printTicket(code); };
    cd.sold = [this](const QString& code, qint64 minutes) {
        if (Till* till = pins_.till(); till != nullptr && till->isOpen())
            till->codeSold(code, minutes);
    };
    cd.inUseColour = [this] { return core_.settings().compColUse; };
    cd.registry = &core.registry();
    cd.showConnection = [this](int row) {
        if (showComputer) {
            showComputer(row);
        }
    };
    cd.generalError = [this](const QString& text) { core_.ShowRemoteMessage(nullptr, text); };
    cd.codeTablePath = QFile::decodeName(QByteArray::fromStdString(xbase::ResolvePath(
        pins.fileSystem(), pintext::PathOf(pins.dataFolder() + QStringLiteral("/CajaPIN.dbf")))));
    codes_ = new TPinFrame(pins.fileSystem(), std::move(cd), owner);
    codes_->hide();

    history_ = new TFrameHistoPIN(
        pins.tbRegPin(),
        [this] {
            const std::string path = xbase::ResolvePath(
                pins_.fileSystem(),
                pintext::PathOf(pins_.dataFolder() + QStringLiteral("/CajaHPIN.dbf")));
            pins_.tbRegPin().Open(path, false);
            pins_.tbRegPin().SetOrder("PINFECHOR");
        },
        owner);
    history_->hide();

    TFramePref::Deps pd;
    pd.settings = &core.settings();
    pd.store = &store;
    pd.printing = &printing;
    pd.applied = [this](const ApplyResult& r) {
        // The connection threads take the new client parameters, the views
        // the mode; stations hear of a new mode at once.
        core_.applySettings(core_.settings());
        if (Till* till = pins_.till())
            till->setTariff(core_.settings().tariff);
        if (r.tariffChanged && tariffApplied)
            tariffApplied();
        if (r.modeChanged) {
            AnnounceServiceMode(core_.context(), core_.settings().serviceMode);
        }
        if (r.toolBarChanged && setToolBarVisible) {
            setToolBarVisible(core_.settings().toolBarVisible);
        }
        codes_->applyColours();
    };
    pd.errorBox = [this](const QString& title, const QString& text) {
        dialogs_.messageBox(text, title, MessageIcon::Error);
    };
    pd.help = [this] {
        if (openHelp)
            openHelp(HelpTopics::kPreferences);
    };
    pd.centralChanged = [this] {
        if (centralChanged)
            centralChanged();
    };
    prefs_ = new TFramePref(std::move(pd), owner);
    prefs_->setProperty(HelpTopics::kProperty, HelpTopics::kPreferences);
    prefs_->hide();

    // The code checks refresh the codes grid after each change, and end a
    // code's use with the frame's handle in mind.
    if (CodeDesk* desk = pins.desk()) {
        desk->hooks().refreshCodesGrid = [this] {
            codes_->refreshGrid();
            history_->refreshGrid();
        };
        desk->codes().tables().frameTbPin = &codes_->tbPin();
    }

    preferences_ = new QAction(QStringLiteral("Preferencias..."), this);
    connect(preferences_, &QAction::triggered, this, [this] { show(prefs_); });
    historyAct_ = new QAction(QStringLiteral("Consulta historia de PIN"), this);
    connect(historyAct_, &QAction::triggered, this, [this] { show(history_); });

    core.hooks().firstRunJump = [this] { FirstRunJump(); };
}

void TaquillaPages::showCodesFrame() {
    if (showCodes) {
        showCodes();
    } else {
        show(codes_);
    }
}

TaquillaPages::~TaquillaPages() {
    core_.hooks().firstRunJump = nullptr;
    if (CodeDesk* desk = pins_.desk()) {
        desk->hooks().refreshCodesGrid = nullptr;
        desk->codes().tables().frameTbPin = nullptr;
    }
}

void TaquillaPages::show(QWidget* frame) {
    if (showFrame) {
        showFrame(frame);
    } else {
        frame->show();
    }
}

void TaquillaPages::FirstRunJump() {
    prefs_->selectNode(QStringLiteral("Modo de operación"));
    show(prefs_);
    prefs_->selectNode(QStringLiteral("Modo de operación"));
}

void TaquillaPages::printTicket(const TicketCode& code) {
    PrintTicket(printing_, dialogs_, TicketSettingsFrom(core_.settings()), code);
}

} // namespace tarvina::server::ui
