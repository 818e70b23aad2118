#pragma once

#include <QString>

namespace tarvina::platform {

// Optical and removable drives under stable letters ("D", "E", ...).
class Drives {
public:
    virtual ~Drives() = default;
    // Letters of the CD-ROM drives, in alphabetical order, nothing between.
    virtual QString cdDriveLetters() = 0;
    // Letters of removable or CD-ROM drives that hold a medium.
    virtual QString lettersWithMedia() = 0;
    // Opens (open = true) or closes the tray of a CD drive; false on failure.
    virtual bool setTray(QChar letter, bool open, QString* error) = 0;
};

} // namespace tarvina::platform
