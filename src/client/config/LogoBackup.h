#pragma once

#include "platform/Desktop.h"

#include <QString>

namespace tarvina::client::config {

// The copies of the system's start and shut-down pictures in the "Logos"
// folder of the station's working folder, named as on the original system:
// "logo.sys" (start), "logos.sys" (shut-down), "logow.sys" (exit).
class LogoBackup {
public:
    LogoBackup(platform::Desktop& desktop, QString workingFolder)
        : desktop_(desktop), folder_(std::move(workingFolder)) {}

    QString folder() const;
    static QString BackupName(platform::Desktop::Logo::Role role);

    // Forced (the page's "Actualizar respaldo de imágenes") or when the folder
    // does not exist yet: makes the folder and copies over it every picture
    // the desktop has. True when the folder exists afterwards.
    bool backup(bool force);

private:
    platform::Desktop& desktop_;
    QString folder_;
};

} // namespace tarvina::client::config
