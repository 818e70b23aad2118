#include "client/session/PinEntry.h"

#include "client/link/StationLink.h"
#include "client/station/StationContext.h"
#include "client/station/StationView.h"
#include "common/Cp1252.h"
#include "protocol/StationLines.h"

namespace tarvina::client {

using common::DateTime;

namespace {
constexpr int kMinHeight = 147;
constexpr int kMaxHeight = 282;
} // namespace

PinEntry::PinEntry(StationContext& ctx, StationLink& link, QObject* parent)
    : QObject(parent), ctx_(ctx), link_(link) {}

void PinEntry::LayPinPanel(ClientState state) {
    ClientDisplay& d = ctx_.view.display();
    const bool shown = state == ClientState::Locked && pinMode_ != 0;
    if (state != ClientState::Locked)
        pinRequest_ = DateTime::FromDays(0);
    d.mainHeight = shown ? kMaxHeight : kMinHeight;
    d.btnTryPinEnabled = shown;
    d.edPinEnabled = shown;
    d.pinPanelVisible = shown;
    ctx_.view.changed();
}

QChar PinEntry::FilterPinKey(QChar key) {
    ClientDisplay& d = ctx_.view.display();
    const QChar up = key.toUpper();
    if (!d.lblStsCheckPin.isEmpty()) {
        d.lblStsCheckPin.clear();
        ctx_.view.changed();
    }
    const ushort u = up.unicode();
    const bool allowed = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F');
    if (u > 31 && !allowed) {
        d.lblStsCheckPin = QStringLiteral("Sólo digitos o las letras A,B,C,D,F");
        ctx_.view.changed();
        return QChar();
    }
    return up;
}

void PinEntry::TryPin(const QString& boxText) {
    ClientDisplay& d = ctx_.view.display();
    d.lblStsPin = QStringLiteral("Espere...");
    pinRequest_ = ctx_.now();
    d.lblStsCheckPin = QStringLiteral("Verificando PIN");
    d.edPinEnabled = false;
    if (link_.connected()) {
        if (!link_.SendLine(protocol::station::PinEntered(common::ToCp1252(boxText)))) {
            d.lblStsPin = QStringLiteral("No hay conexión");
            link_.ScheduleReconnect(true, true);
        }
    } else {
        d.lblStsPin = QStringLiteral("No hay conexión");
    }
    Q_EMIT ctx_.view.clearPinBox();
    ctx_.view.changed();
}

void PinEntry::TimeoutCheck() {
    if (pinRequest_.days() != 0 && pinRequest_.msecsTo(ctx_.now()) > 5 * 60000) {
        ClientDisplay& d = ctx_.view.display();
        pinRequest_ = DateTime::FromDays(0);
        d.edPinEnabled = d.btnTryPinEnabled;
        ctx_.view.changed();
    }
}

void PinEntry::Verdict(const QByteArray& payload) {
    ClientDisplay& d = ctx_.view.display();
    if (!payload.isEmpty() && payload[0] == '1') {
        pin_ = common::FromCp1252(payload.mid(1, 6));
        d.edPinEnabled = true;
        Q_EMIT accepted();
    } else {
        pin_.clear();
        d.lblStsCheckPin = QStringLiteral("Intento anterior fallido");
        Q_EMIT ctx_.view.clearPinBox();
        d.lblStsPin = ctx_.view.text(Txt::LblStsPin);
        d.edPinEnabled = true;
    }
    ctx_.view.changed();
}

void PinEntry::SetMode(int mode, ClientState state) {
    if (mode == pinMode_)
        return;
    pinMode_ = mode;
    LayPinPanel(state);
}

void PinEntry::Query() {
    link_.SendReply(protocol::station::CurrentPin(common::ToCp1252(pin_)));
}

void PinEntry::Assign(const QByteArray& pinText) {
    pin_ = common::FromCp1252(pinText);
    link_.SendReply(protocol::station::PinAssigned(pinText));
}

} // namespace tarvina::client
