#pragma once

#include "common/DateTime.h"

#include <QString>
#include <QStringList>

namespace tarvina::platform {
class Registry;
}

namespace tarvina::server {

// The technical information page ("Información", and "Información técnica
// sobre la versión actual..."), also part IV of the report to technical
// support: a titled listing in sections.
class TechnicalInfo {
public:
    struct Input {
        QString osText;
        QString owner;        // RegisteredOwner of the machine
        QString organization; // RegisteredOrganization
        common::DateTime now;
        QString executablePath; // its time stands for the creation date
    };

    static QStringList Lines(const Input& input);

    // RegisteredOwner and RegisteredOrganization under
    // \Software\Microsoft\Windows\CurrentVersion of the machine root; empty
    // texts when they cannot be read.
    static void ReadOwner(const platform::Registry& registry, QString* owner,
                          QString* organization);
};

} // namespace tarvina::server
