#pragma once

#include "server/session/ComputerActions.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

namespace tarvina::platform {
class Shell;
}

namespace tarvina::server {

class ServerCore;
class TfrmAutoriza;
class TfrmMoreTime;
class TfrmSelTargetComp;
class TfrmReset;
class TfrmServPass;
class TfrmRun;
class TfrmVol;

// The dialogs and windows through which the computers view's actions ask
// the operator and show what they bring: each made when first needed, as a
// child of the view. The windows of capture, tasks and remote configuration
// belong to other parts of the program, which hand in their handlers.
class ComputerPrompts : public ActionPrompts {
public:
    ComputerPrompts(ServerCore& core, platform::Shell& shell, const ComputerCommands& commands,
                    QWidget* view);
    ~ComputerPrompts() override;
    ComputerPrompts(const ComputerPrompts&) = delete;
    ComputerPrompts& operator=(const ComputerPrompts&) = delete;

    using RowsHandler = std::function<void(const QList<TCompItem*>&)>;
    void setHandler(ComputerAction::Id id, RowsHandler handler);

    // The dialogs (tests drive them; the actions show them).
    TfrmAutoriza* grantDialog();
    TfrmMoreTime* moreTimeDialog();
    TfrmSelTargetComp* moveDialog();
    TfrmReset* resetDialog();
    TfrmServPass* passwordDialog();
    TfrmRun* runDialog() const { return run_; }
    TfrmVol* volumeDialog();
    // The last text window opened ("Mensajes desde ", "Accesos hechos a ").
    QWidget* lastTextWindow() const { return lastText_; }

    // The notice box; tests replace it.
    std::function<std::optional<QString>()> noticeBox;

    std::optional<GrantAnswer> askGrant(const QString& computerName) override;
    void grantRefused(const QString& text) override;
    std::optional<MoreTimeAnswer> askMoreTime() override;
    TCompItem* askMoveTarget(const QList<MoveTarget>& targets) override;
    std::optional<std::pair<int, QChar>> askShutdown() override;
    std::optional<QString> askNotice() override;
    std::optional<QString> askServicePassword() override;
    void showText(const ComputerCommands::TextWindow& window) override;
    void openRun(TCompItem* record, const QString& computerName) override;
    void openClientLog(const QString& path) override;
    void handOver(ComputerAction::Id id, const QList<TCompItem*>& rows) override;

private:
    ServerCore& core_;
    platform::Shell& shell_;
    const ComputerCommands& commands_;
    QWidget* view_;
    std::array<RowsHandler, ComputerAction::Count> handlers_{};
    TfrmAutoriza* grant_ = nullptr;
    TfrmMoreTime* more_ = nullptr;
    TfrmSelTargetComp* move_ = nullptr;
    TfrmReset* reset_ = nullptr;
    TfrmServPass* pass_ = nullptr;
    TfrmRun* run_ = nullptr;
    TfrmVol* vol_ = nullptr;
    QPointer<QWidget> lastText_;
};

} // namespace tarvina::server
