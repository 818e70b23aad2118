#pragma once

#include <QtGlobal>

namespace tarvina::server {

// A station's state: the digit it reports and the byte its record keeps
// (TCompItem::state). The record keeps whatever digit came; the values past
// Waiting have no name here and the view shows them as "N/A".
enum class StationState : quint8 {
    Disconnected = 0,
    Locked = 1,
    InUse = 2,
    Service = 3,
    Waiting = 4, // granted, the customer has not started yet
};

// How the café sells time (ClientParams::serviceMode, the ServiceMode
// setting): the operator grants it on request, or customers type prepaid
// codes. A stored value outside these is kept and sent as it is.
enum class ServiceMode : int { ByRequest = 0, PrepaidCodes = 1 };

// How a customer may ask for more time at the station (ClientParams::
// clienteModo, the ClienteModo setting).
enum class TimeRequestMode : int { Disabled = 0, Free = 1, Presets = 2 };

// The records and the settings keep plain numbers; these convert at the
// boundary without touching the value.
constexpr quint8 StateByte(StationState s) {
    return static_cast<quint8>(s);
}
constexpr ServiceMode ServiceModeOf(int setting) {
    return static_cast<ServiceMode>(setting);
}
constexpr TimeRequestMode TimeRequestModeOf(int setting) {
    return static_cast<TimeRequestMode>(setting);
}

// The ServiceMode line carries the mode as one hexadecimal digit.
constexpr quint32 ModeDigit(ServiceMode m) {
    return static_cast<quint32>(static_cast<int>(m) & 0xF);
}

} // namespace tarvina::server
