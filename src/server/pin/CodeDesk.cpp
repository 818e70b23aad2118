#include "server/pin/CodeDesk.h"

#include "server/computers/StepFailure.h"
#include "server/pin/Till.h"
#include "server/session/StationFront.h"
#include "xbase/TableEngine.h"

namespace tarvina::server {

CodeDesk::CodeDesk(StationFront& core, xbase::IFileSystem& fs, PinTables tables,
                   xbase::TableEngine* tbDiario, HtmlListFile* usageReport, Hooks hooks, Till* till)
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
    if (till != nullptr) {
        jh.useEnded = [till](const UsageJournal::UseEnd& use) {
            if (till->isOpen())
                till->useEnded(use.computer, use.user, use.start, use.minutes, use.code);
        };
    }
    journal_ = std::make_unique<UsageJournal>(fs, core.context(), tbDiario, usageReport,
                                              core.programFolder(), std::move(jh));
}

CodeDesk::~CodeDesk() {
    detach();
}

void CodeDesk::attach() {
    using Step = IdlePass::Step;
    IdlePass& pass = core_.idlePass();
    pass.add(Step::TypedCodes, [this] { checkTypedCodes(); });
    pass.add(Step::StateChanges, [this] { journalStateChanges(); });
    pass.add(Step::CodeAssignment, [this] { applyOneCodeAssignment(); });
    pass.add(Step::PeriodicCodeCheck, [this] {
        if (core_.periodicCodeCheckDue())
            periodicCheck();
    });
}

void CodeDesk::detach() {
    using Step = IdlePass::Step;
    IdlePass& pass = core_.idlePass();
    for (Step step :
         {Step::TypedCodes, Step::StateChanges, Step::CodeAssignment, Step::PeriodicCodeCheck})
        pass.remove(step);
}

// The steps run without a guard of their own in the idle pass: nothing
// thrown may leave them.

void CodeDesk::checkTypedCodes() {
    while (TCompItem* r = core_.takeTypedCode()) {
        try {
            codes_->ProcesaPIn(r);
        } catch (...) {
            core_.ShowRemoteMessage(r, StepFailure(QStringLiteral("ProcesaPIn")));
        }
    }
}

void CodeDesk::journalStateChanges() {
    while (const auto change = core_.takeStateChange()) {
        try {
            journal_->Statuspinchange(*change);
        } catch (...) {
            core_.ShowRemoteMessage(change->record, StepFailure(QStringLiteral("Statuspinchange")));
        }
    }
}

void CodeDesk::applyOneCodeAssignment() {
    xbase::TableEngine* t = codes_->tables().tbPin;
    const auto entry = core_.nextCodeAssignment();
    if (!entry || t == nullptr || !t->IsOpen())
        return;
    bool done = false;
    try {
        done = codes_->ApplyPinAssign(entry->first, entry->second);
    } catch (...) {
        core_.ShowRemoteMessage(entry->second, StepFailure(QStringLiteral("ApplyPinAssign")));
    }
    if (done)
        core_.codeAssignmentDone();
}

void CodeDesk::periodicCheck() {
    try {
        codes_->VerificaPin();
    } catch (...) {
        core_.ShowRemoteMessage(nullptr, StepFailure(QStringLiteral("VerificaPin")));
        core_.setPinCheckRunning(false);
    }
}

} // namespace tarvina::server
