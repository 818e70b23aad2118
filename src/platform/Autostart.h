#pragma once

#include <QString>

namespace tarvina::platform {

// Starting the station with the customer's session: the "Puesto" start value
// of the machine settings and whatever makes the desktop honour it.
class Autostart {
public:
    static constexpr char kRunKey[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr char kRunValue[] = "Puesto";

    virtual ~Autostart() = default;
    // The start value is present and not empty.
    virtual bool isEnabled() = 0;
    // Writes (on) or removes (off) the start value and its effect; false with
    // a Spanish reason when either could not be done.
    virtual bool setEnabled(bool on, QString* error) = 0;
};

} // namespace tarvina::platform
