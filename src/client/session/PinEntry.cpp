// The PIN side of ClientCore: the panel, the key filter, the request, the
// verdict, the time-out and the two PIN queries.
#include "client/session/ClientCore.h"
#include "common/Cp1252.h"
#include "platform/Clock.h"

namespace tarvina::client {

using common::DateTime;

namespace {
constexpr int kMinHeight = 147;
constexpr int kMaxHeight = 282;
} // namespace

void ClientCore::LayPinPanel() {
    if (state_ != ClientState::Locked) {
        display_.mainHeight = kMinHeight;
        pinRequest_ = DateTime::FromDays(0);
        display_.btnTryPinEnabled = false;
        display_.edPinEnabled = false;
        display_.pinPanelVisible = false;
    } else if (pinMode_ != 0) {
        display_.mainHeight = kMaxHeight;
        display_.btnTryPinEnabled = true;
        display_.edPinEnabled = true;
        display_.pinPanelVisible = true;
    } else {
        display_.mainHeight = kMinHeight;
        display_.btnTryPinEnabled = false;
        display_.edPinEnabled = false;
        display_.pinPanelVisible = false;
    }
    changed();
}

QChar ClientCore::FilterPinKey(QChar key) {
    const QChar up = key.toUpper();
    if (!display_.lblStsCheckPin.isEmpty()) {
        display_.lblStsCheckPin.clear();
        changed();
    }
    const ushort u = up.unicode();
    const bool allowed = (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F');
    if (u > 31 && !allowed) {
        display_.lblStsCheckPin = QStringLiteral("Sólo digitos o las letras A,B,C,D,F");
        changed();
        return QChar();
    }
    return up;
}

void ClientCore::TryPin(const QString& boxText) {
    display_.lblStsPin = QStringLiteral("Espere...");
    pinRequest_ = now();
    display_.lblStsCheckPin = QStringLiteral("Verificando PIN");
    display_.edPinEnabled = false;
    if (link_.isConnected()) {
        if (!SendLine("R38" + common::ToCp1252(boxText))) {
            display_.lblStsPin = QStringLiteral("No hay conexión");
            ScheduleReconnect(true, true);
        }
    } else {
        display_.lblStsPin = QStringLiteral("No hay conexión");
    }
    Q_EMIT clearPinBox();
    changed();
}

void ClientCore::PinTimeoutCheck() {
    if (pinRequest_.days() != 0 && pinRequest_.msecsTo(now()) > 5 * 60000) {
        pinRequest_ = DateTime::FromDays(0);
        display_.edPinEnabled = display_.btnTryPinEnabled;
        changed();
    }
}

void ClientCore::ManifestPinVerdict(QByteArray payload) {
    if (!payload.isEmpty() && payload[0] == '1') {
        pin_ = common::FromCp1252(payload.mid(1, 6));
        display_.edPinEnabled = true;
        SaveSession();
    } else {
        pin_.clear();
        display_.lblStsCheckPin = QStringLiteral("Intento anterior fallido");
        Q_EMIT clearPinBox();
        display_.lblStsPin = texts_.get(Txt::LblStsPin);
        display_.edPinEnabled = true;
    }
    changed();
}

void ClientCore::ManifestServiceMode(int mode) {
    if (mode == pinMode_)
        return;
    pinMode_ = mode;
    ManifestPinMode();
}

void ClientCore::ManifestPinMode() {
    LayPinPanel();
}

void ClientCore::ManifestPinQuery() {
    sendOrReconnect("R41" + common::ToCp1252(pin_));
}

void ClientCore::ManifestAssignPin(QByteArray pinText) {
    pin_ = common::FromCp1252(pinText);
    sendOrReconnect("R49" + pinText);
}

void ClientCore::SetPinMode(int mode) {
    ManifestServiceMode(mode);
}

} // namespace tarvina::client
