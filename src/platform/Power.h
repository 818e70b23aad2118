#pragma once

#include <QChar>

namespace tarvina::platform {

// Ending the customer's session or the computer's run. Each call asks the
// system and returns whether it accepted the request; a refusal leaves
// everything running.
class Power {
public:
    virtual ~Power() = default;
    virtual bool powerOff() = 0;
    virtual bool reboot() = 0;
    // Ends the desktop session the station runs in.
    virtual bool logOff() = 0;
};

// The station's shutdown letters: "C", "F" and "S" switch the computer off
// (the system closes the programs in every case), and so does "A" (the
// cashier's "Apagado"); "R" restarts; "L" and any other letter log the
// customer off.
inline bool CarryOutShutdown(Power& power, QChar letter) {
    switch (letter.toUpper().unicode()) {
    case u'A':
    case u'C':
    case u'F':
    case u'S':
        return power.powerOff();
    case u'R':
        return power.reboot();
    default:
        return power.logOff();
    }
}

} // namespace tarvina::platform
