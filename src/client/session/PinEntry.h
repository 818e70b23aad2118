#pragma once

#include "client/station/StationPlatform.h"
#include "common/DateTime.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tarvina::client {

class StationLink;
struct StationContext;

// The code a customer types on the locked station: the panel of the main
// window, its key filter, the request to the server, the verdict, the
// time-out of an unanswered request, and the two code queries. The accepted
// code belongs to the session and goes into the session file.
class PinEntry : public QObject {
    Q_OBJECT
public:
    PinEntry(StationContext& ctx, StationLink& link, QObject* parent = nullptr);

    // The panel follows the state: shown only while locked in code mode.
    void LayPinPanel(ClientState state);
    // The key filter of the code box: the character to put in the box, or a
    // null QChar when the key is refused.
    QChar FilterPinKey(QChar key);
    void TryPin(const QString& boxText);
    // A request unanswered for five minutes frees the box again.
    void TimeoutCheck();
    void Verdict(const QByteArray& payload);
    void SetMode(int mode, ClientState state);
    void Query();
    void Assign(const QByteArray& pinText);

    QString pin() const { return pin_; }
    void setPin(const QString& pin) { pin_ = pin; }
    bool pinMode() const { return pinMode_ != 0; }

Q_SIGNALS:
    // The server accepted a code: the session keeps it.
    void accepted();

private:
    StationContext& ctx_;
    StationLink& link_;
    QString pin_;
    int pinMode_ = 0;
    common::DateTime pinRequest_;
};

} // namespace tarvina::client
