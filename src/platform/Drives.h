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

    enum class Kind { None, Removable, Fixed, Network, CdRom };
    // What stands under a letter: the system's disk under "C", the CD
    // drives, nothing elsewhere unless the back end knows more.
    virtual Kind kindOf(QChar letter) {
        if (cdDriveLetters().contains(letter.toUpper()))
            return Kind::CdRom;
        return letter.toUpper() == u'C' ? Kind::Fixed : Kind::None;
    }
};

} // namespace tarvina::platform
