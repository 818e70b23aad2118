#include "server/ui/computers/ComputerPrompts.h"

#include "platform/Shell.h"
#include "server/computers/Senders.h"
#include "server/session/ViewRules.h"
#include "server/shell/ServerCore.h"
#include "server/ui/computers/ComputerDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace tarvina::server {

ComputerPrompts::ComputerPrompts(ServerCore& core, platform::Shell& shell,
                                 const ComputerCommands& commands, QWidget* view)
    : core_(core), shell_(shell), commands_(commands), view_(view) {
    noticeBox = [view] { return AskNotice(view); };
    // The station's answer to "Volumen del sonido..." opens the window.
    core_.hooks().volume = [this](TCompItem* r, int left, int right) {
        volumeDialog()->showFor(r, commands_.displayName(r), left, right);
    };
}

ComputerPrompts::~ComputerPrompts() {
    core_.hooks().volume = nullptr;
}

void ComputerPrompts::setHandler(ComputerAction::Id id, RowsHandler handler) {
    if (id >= 0 && id < ComputerAction::Count)
        handlers_[id] = std::move(handler);
}

TfrmAutoriza* ComputerPrompts::grantDialog() {
    if (grant_ == nullptr)
        grant_ = new TfrmAutoriza(view_);
    return grant_;
}

TfrmMoreTime* ComputerPrompts::moreTimeDialog() {
    if (more_ == nullptr)
        more_ = new TfrmMoreTime(view_);
    return more_;
}

TfrmSelTargetComp* ComputerPrompts::moveDialog() {
    if (move_ == nullptr)
        move_ = new TfrmSelTargetComp(view_);
    return move_;
}

TfrmReset* ComputerPrompts::resetDialog() {
    if (reset_ == nullptr)
        reset_ = new TfrmReset(view_);
    return reset_;
}

TfrmServPass* ComputerPrompts::passwordDialog() {
    if (pass_ == nullptr)
        pass_ = new TfrmServPass(view_);
    return pass_;
}

TfrmVol* ComputerPrompts::volumeDialog() {
    if (vol_ == nullptr)
        vol_ = new TfrmVol([this](TCompItem* r, int left,
                                  int right) { SetVolume(core_.context(), r, left, right); },
                           view_);
    return vol_;
}

std::optional<GrantAnswer> ComputerPrompts::askGrant(const QString& computerName) {
    grantDialog()->form().tariff = core_.settings().tariff;
    grantDialog()->form().start = core_.clock().now();
    const auto answer = grantDialog()->ask(computerName);
    if (!answer)
        return std::nullopt;
    return GrantAnswer{answer->second, answer->first};
}

void ComputerPrompts::grantRefused(const QString& text) {
    QMessageBox::critical(view_, QStringLiteral("Error"), text);
}

std::optional<MoreTimeAnswer> ComputerPrompts::askMoreTime() {
    const auto answer = moreTimeDialog()->ask();
    if (!answer)
        return std::nullopt;
    return MoreTimeAnswer{answer->first, answer->second};
}

TCompItem* ComputerPrompts::askMoveTarget(const QList<MoveTarget>& targets) {
    QList<MoveTargetForm::Entry> entries;
    for (const MoveTarget& t : targets)
        entries.append({t.record, OneLine(t.name)});
    return moveDialog()->ask(entries);
}

std::optional<std::pair<int, QChar>> ComputerPrompts::askShutdown() {
    return resetDialog()->ask();
}

std::optional<QString> ComputerPrompts::askNotice() {
    if (!noticeBox)
        return std::nullopt;
    return noticeBox();
}

std::optional<QString> ComputerPrompts::askServicePassword() {
    return passwordDialog()->ask();
}

void ComputerPrompts::showText(const ComputerCommands::TextWindow& w) {
    auto* window = new TextWindow(w.title, w.lines, view_);
    lastText_ = window;
    window->show();
    window->raise();
    window->activateWindow();
}

void ComputerPrompts::openRun(TCompItem* record, const QString& computerName) {
    if (run_ == nullptr)
        run_ = new TfrmRun(
            [this](TCompItem* r, const QString& text) { RunRemote(core_.context(), r, text); },
            view_);
    run_->openFor(record, computerName);
    run_->show();
    run_->raise();
    run_->activateWindow();
}

void ComputerPrompts::openClientLog(const QString& path) {
    // The station's answer usually arrives within the second; the file is
    // opened then whether or not it did, without holding the window.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTimer::singleShot(1000, view_, [this, path] {
        QApplication::restoreOverrideCursor();
        if (!shell_.openDocument(path))
            core_.ShowRemoteMessage(nullptr, QStringLiteral("Falla al abrir ") + path);
    });
}

void ComputerPrompts::handOver(ComputerAction::Id id, const QList<TCompItem*>& rows) {
    if (handlers_[id]) {
        handlers_[id](rows);
        return;
    }
    core_.ShowRemoteMessage(rows.isEmpty() ? nullptr : rows.first(),
                            QStringLiteral("Función no disponible en esta versión: ") +
                                QString::fromUtf16(ComputerActionOf(id).caption));
}

} // namespace tarvina::server
