#pragma once

#include "server/computers/ServerContext.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace tarvina::server {

// The computers view's actions on the selected rows, without widgets: which
// rows an action reaches, in which order its operations run and what each
// dialog's answer turns into. The view passes its selection (rows in list
// order, the first one first) and shows the dialogs through the callbacks.

struct GrantAnswer {
    QString minutes;
    QString user;
};
struct MoreTimeAnswer {
    QString minutes;
    bool notify = true;
};
struct MoveTarget {
    TCompItem* record = nullptr;
    QString name;
};

class ComputerCommands {
public:
    explicit ComputerCommands(ServerContext& ctx) : ctx_(ctx) {}

    // "Autorizar uso...": the dialog once per row; an accepted answer
    // grants. A refusal of GrantAccess goes to `refused` (its box text).
    void grant(const QList<TCompItem*>& rows,
               const std::function<std::optional<GrantAnswer>(TCompItem*)>& ask,
               const std::function<void(const QString&)>& refused);
    // "Otorgar más tiempo...": the dialog once per row; an accepted answer
    // clears the row's lock request and adds the minutes, silently when the
    // customer is not to be told.
    void moreTime(const QList<TCompItem*>& rows,
                  const std::function<std::optional<MoreTimeAnswer>(TCompItem*)>& ask);
    // "Bloquear": Lock then SyncTime, row by row.
    void lock(const QList<TCompItem*>& rows);
    // "Refrescar información": Refresh, SyncTime, SoftReinit, row by row.
    void refresh(const QList<TCompItem*>& rows);
    // "Desautorizar uso": the first row only.
    void withdraw(const QList<TCompItem*>& rows);
    // "Mover usuario...": the targets offered (every computer in state 1, by
    // display name, in the registry's order) and the move of the first row.
    QList<MoveTarget> moveTargets() const;
    void move(const QList<TCompItem*>& rows, TCompItem* target);
    // "Enviar mensaje al usuario...": only rows in use get the text.
    int notice(const QList<TCompItem*>& rows, const QString& text);
    // "Reiniciar computador...": every row (unconnected ones are skipped by
    // the common sender).
    void shutdown(const QList<TCompItem*>& rows, int seconds, QChar letter);
    // "Cambiar contraseña del programa cliente...": the first row.
    void servicePassword(const QList<TCompItem*>& rows, const QString& password);
    // "CD ROM": two entries per reported drive letter, in the order reported.
    struct CdEntry {
        QString caption;
        QChar letter;
        bool open = false;
    };
    static QList<CdEntry> CdEntries(const QString& drives);
    // "Obtiene bitácora de fallas de cliente": asks the first row for its
    // log; the path the answer is saved under (opened a second later).
    QString requestClientLog(const QList<TCompItem*>& rows);
    // "Ver mensajes recibidos...": the window's title and lines; clears the
    // attention flag (the row's look follows at its next update).
    struct TextWindow {
        QString title;
        QStringList lines;
    };
    TextWindow takeMessages(TCompItem* record);
    // "Ver bitácora de uso...".
    TextWindow history(TCompItem* record) const;

    QString displayName(TCompItem* record) const;
    int state(TCompItem* record) const;

private:
    ServerContext& ctx_;
};

} // namespace tarvina::server
