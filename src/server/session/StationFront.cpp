#include "server/session/StationFront.h"

#include "common/Format.h"
#include "server/computers/StepFailure.h"
#include "server/session/TimeAssignment.h"

namespace tarvina::server {

using common::DateTime;

StationFront::StationFront(platform::Clock& clock, QString programFolder, QString workFolder)
    : clock_(clock), programFolder_(std::move(programFolder)), workFolder_(std::move(workFolder)),
      ctx_(clock_, registry_, handoff_, lastCommand_, workFolder_), model_(registry_),
      idle_([this] { return ctx_.closing.load(); }) {
    lastPinCheck_ = clock_.now();
    // Nobody serves them yet: what waits there goes, as it always went.
    idle_.setFallback(IdlePass::Step::TypedCodes, [this] { typedCodes_.clear(); });
    idle_.setFallback(IdlePass::Step::StateChanges, [this] { stateChanges_.clear(); });
}

StationFront::~StationFront() = default;

TCompItem* StationFront::takeTypedCode() {
    if (typedCodes_.empty())
        return nullptr;
    TCompItem* r = typedCodes_.front();
    typedCodes_.pop_front();
    return r;
}

void StationFront::postStateChange(StateChange change) {
    stateChanges_.push_back(std::move(change));
    ++eventTally_;
}

std::optional<StateChange> StationFront::takeStateChange() {
    if (stateChanges_.empty())
        return std::nullopt;
    StateChange c = std::move(stateChanges_.front());
    stateChanges_.pop_front();
    return c;
}

std::optional<std::pair<QString, TCompItem*>> StationFront::nextCodeAssignment() const {
    if (codeAssignments_.empty())
        return std::nullopt;
    return codeAssignments_.front();
}

void StationFront::codeAssignmentDone() {
    if (!codeAssignments_.empty())
        codeAssignments_.pop_front();
}

bool StationFront::periodicCodeCheckDue() {
    if (!codesInService() || crashSuspected_ || pinCheckRunning_)
        return false;
    const common::DateTime now = clock_.now();
    if (lastPinCheck_.msecsTo(now) <= 75000)
        return false;
    lastPinCheck_ = now;
    return true;
}

void StationFront::Tick() {
    const DateTime now = clock_.now();
    const QString na = QStringLiteral("N/A");
    for (int row = 0; row < model_.rowCount(); ++row) {
        TCompItem* r = model_.recordAt(row);
        if (r == nullptr)
            continue;
        try {
            double end = 0, start = 0;
            int state = 0;
            QString lastUse, name;
            bool running = false;
            {
                ComputersGuard guard(registry_.lock());
                name = r->name;
                end = r->end;
                start = r->start;
                state = r->state;
                lastUse = r->lastUse;
                running = DateTime::FromDays(end) >= now && state == 2;
                if (!running)
                    r->end = 0;
            }
            if (running) {
                model_.setCell(row, ComputersModel::Left,
                               common::FormatDuration(QStringLiteral("hh:nn:ss"),
                                                      now.msecsTo(DateTime::FromDays(end))));
                model_.setCell(row, ComputersModel::Used,
                               common::FormatDuration(QStringLiteral("hh:nn:ss"),
                                                      DateTime::FromDays(start).msecsTo(now)));
            } else {
                model_.setCell(row, ComputersModel::LastUse, lastUse);
                model_.setCell(row, ComputersModel::Left, na);
                model_.setCell(row, ComputersModel::Used, na);
            }
            model_.updateAmount(row, name, running, start);
        } catch (...) {
            ShowRemoteMessage(
                nullptr, StepFailure(QStringLiteral("tiempos de la fila ") + QString::number(row)));
        }
    }
    ++tickCounter_;
    if (tickCounter_ % 30 == 0) {
        for (int row = 0; row < model_.rowCount(); ++row) {
            try {
                if (TCompItem* r = model_.recordAt(row))
                    Refresh(ctx_, r);
            } catch (...) {
                ShowRemoteMessage(nullptr, StepFailure(QStringLiteral("Refresh")));
            }
        }
    }
    if (tickCounter_ % 120 == 0) {
        for (int row = 0; row < model_.rowCount(); ++row) {
            try {
                if (TCompItem* r = model_.recordAt(row))
                    SyncTime(ctx_, r);
            } catch (...) {
                ShowRemoteMessage(nullptr, StepFailure(QStringLiteral("SyncTime")));
            }
        }
        tickCounter_ = 0;
    }
}

} // namespace tarvina::server
