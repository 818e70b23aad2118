#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarvina::server {

// The console lines of the main window's first show.
class FirstShow {
public:
    static constexpr char16_t kRule[] = u"============================";
    static constexpr char16_t kNoPrinter[] = u"No hay impresora definida";
    static constexpr char16_t kPingTitle[] = u"Ping:";

    struct Facts {
        QString osText;
        // The default printer; empty when none is defined, nullopt when the
        // printers could not be read.
        std::optional<QString> printer;
        QString address; // the machine's current IP address
    };

    // "OS: ", "Impresora: " (or "Observación: No hay impresora definida"),
    // "IP: ", "Nombre: ".
    static QStringList MachineLines(const Facts& facts);

    // The first IPv4 address of an interface that is up and not the
    // loopback; the loopback address when there is none.
    static QString CurrentAddress();
};

} // namespace tarvina::server
