#pragma once

#include "server/session/ComputerCommands.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>
#include <utility>

namespace tarvina::server {

struct ActionCall;

// What an action's enabling rule reads of the selection, worked out once
// for all the actions: the first selected row's record and the sizes of the
// selection and of the list.
struct ActionFacts {
    int state = 0;
    bool hasMessages = false;
    // The station's version text has the expected shape; only then does
    // `versionOrder` (the text compared with kRemoteVersionText) count.
    bool knownVersion = false;
    int versionOrder = 0;
    quint32 versionNumber = 0;
    bool single = true; // at most one row selected
    int rowCount = 0;
    // What the first selected computer owes, in cents (0 without a tariff).
    qint64 amountDue = 0;

    bool connected() const { return state != 0; }
};

// One action of the computers view on the selected rows: its caption (also
// the accessible name the menus and the tool bar show), its hint (lines
// joined by CR LF; none for some), the rule that enables it and what it
// does. The row menu, the main menu's copy, the tool bar and the rules all
// read the one table of them (ComputerActions()).
struct ComputerAction {
    // In the order of the row menu.
    enum Id {
        Grant,
        Withdraw,
        MoreTime,
        Lock,
        Move,
        Refresh,
        Restart,
        Capture,
        Tasks,
        CleanTasks,
        SendMessage,
        ViewMessages,
        ServicePassword,
        RemoteConfig,
        Volume,
        Run,
        ClientLog,
        UsageHistory,
        Collect,
        Count
    };

    Id id;
    const char16_t* caption;
    const char16_t* hint;
    bool (*enabled)(const ActionFacts& facts);
    void (*run)(const ActionCall& call);
};

// What the actions need of the operator and of the windows, answered by the
// view: an empty answer cancels the action (for that row).
class ActionPrompts {
public:
    virtual ~ActionPrompts() = default;

    virtual std::optional<GrantAnswer> askGrant(const QString& computerName) = 0;
    // GrantAccess refused the answer; `text` is the box's text.
    virtual void grantRefused(const QString& text) = 0;
    virtual std::optional<MoreTimeAnswer> askMoreTime() = 0;
    virtual TCompItem* askMoveTarget(const QList<MoveTarget>& targets) = 0;
    // Seconds to wait and the shutdown's letter.
    virtual std::optional<std::pair<int, QChar>> askShutdown() = 0;
    virtual std::optional<QString> askNotice() = 0;
    virtual std::optional<QString> askServicePassword() = 0;
    virtual void showText(const ComputerCommands::TextWindow& window) = 0;
    // The run window: it sends what the operator types to `record`.
    virtual void openRun(TCompItem* record, const QString& computerName) = 0;
    // A client log asked for; its answer is saved under `path`.
    virtual void openClientLog(const QString& path) = 0;
    // Capture, tasks and remote configuration: their windows belong to
    // other parts of the program.
    virtual void handOver(ComputerAction::Id id, const QList<TCompItem*>& rows) = 0;
};

// One run of an action on the selection.
struct ActionCall {
    ComputerCommands& commands;
    ServerContext& ctx;
    ActionPrompts& prompts;
    // The selected rows, in list order, the first selected first.
    const QList<TCompItem*>& rows;

    TCompItem* first() const { return rows.isEmpty() ? nullptr : rows.first(); }
};

// The table, in Id order.
const std::array<ComputerAction, ComputerAction::Count>& ComputerActions();
const ComputerAction& ComputerActionOf(ComputerAction::Id id);

} // namespace tarvina::server
