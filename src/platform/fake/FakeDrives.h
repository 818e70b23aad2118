#pragma once

#include "platform/Drives.h"

#include <QStringList>

namespace tarvina::platform {

class FakeDrives final : public Drives {
public:
    QString cds;
    QString withMedia;
    QStringList trayCalls; // "D1" open, "D0" close
    int mediaQueries = 0;

    QString cdDriveLetters() override { return cds; }
    QString lettersWithMedia() override {
        ++mediaQueries;
        return withMedia;
    }
    bool setTray(QChar letter, bool open, QString*) override {
        trayCalls << QString(letter) + (open ? u'1' : u'0');
        return true;
    }
};

} // namespace tarvina::platform
