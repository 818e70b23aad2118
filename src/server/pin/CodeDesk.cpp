#include "server/pin/CodeDesk.h"

#include "server/computers/StepFailure.h"
#include "server/shell/ServerCore.h"
#include "xbase/TableEngine.h"

namespace tarvina::server {

CodeDesk::CodeDesk(ServerCore& core, xbase::IFileSystem& fs, PinTables tables,
                   xbase::TableEngine* tbDiario, HtmlListFile* usageReport, Hooks hooks)
    : core_(core), hooks_(std::move(hooks)) {
    auto generalError = [this](const QString& text) {
        if (hooks_.generalError) {
            hooks_.generalError(text);
        } else {
            core_.ShowRemoteMessage(nullptr, text);
        }
    };
    PinCodes::Hooks ph;
    ph.console = [this](TCompItem* r, const QString& text) { core_.ShowRemoteMessage(r, text); };
    ph.generalError = generalError;
    ph.refreshCodesGrid = [this] {
        if (hooks_.refreshCodesGrid) {
            hooks_.refreshCodesGrid();
        }
    };
    ph.repairInProgress = [this] { return hooks_.repairInProgress && hooks_.repairInProgress(); };
    ph.waitForRepair = [this](int ms) {
        if (hooks_.waitForRepair) {
            hooks_.waitForRepair(ms);
        }
    };
    ph.setPinCheckRunning = [this](bool on) { core_.setPinCheckRunning(on); };
    codes_ = std::make_unique<PinCodes>(core.context(), std::move(tables), std::move(ph));

    UsageJournal::Hooks jh;
    jh.generalError = generalError;
    jh.endCodeUse = [this](const StateChange& change) { return codes_->EndCodeUse(change); };
    journal_ = std::make_unique<UsageJournal>(fs, core.context(), tbDiario, usageReport,
                                              core.programFolder(), std::move(jh));
}

CodeDesk::~CodeDesk() {
    detach();
}

void CodeDesk::attach() {
    ServerCore::Hooks& h = core_.hooks();
    // The idle pass calls these without a guard of its own: nothing thrown
    // may leave them.
    h.pinCheck = [this](TCompItem* r) {
        try {
            codes_->ProcesaPIn(r);
        } catch (...) {
            core_.ShowRemoteMessage(r, StepFailure(QStringLiteral("ProcesaPIn")));
        }
    };
    h.stateChange = [this](const StateChange& change) {
        try {
            journal_->Statuspinchange(change);
        } catch (...) {
            core_.ShowRemoteMessage(change.record, StepFailure(QStringLiteral("Statuspinchange")));
        }
    };
    h.codesTableOpen = [this] {
        xbase::TableEngine* t = codes_->tables().tbPin;
        return t != nullptr && t->IsOpen();
    };
    h.pinAssign = [this](const QString& code, TCompItem* r) {
        try {
            return codes_->ApplyPinAssign(code, r);
        } catch (...) {
            core_.ShowRemoteMessage(r, StepFailure(QStringLiteral("ApplyPinAssign")));
            return false;
        }
    };
    h.periodicPinCheck = [this] {
        try {
            codes_->VerificaPin();
        } catch (...) {
            core_.ShowRemoteMessage(nullptr, StepFailure(QStringLiteral("VerificaPin")));
            core_.setPinCheckRunning(false);
        }
    };
}

void CodeDesk::detach() {
    ServerCore::Hooks& h = core_.hooks();
    h.pinCheck = nullptr;
    h.stateChange = nullptr;
    h.codesTableOpen = nullptr;
    h.pinAssign = nullptr;
    h.periodicPinCheck = nullptr;
}

} // namespace tarvina::server
