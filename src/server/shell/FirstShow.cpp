#include "server/shell/FirstShow.h"

#include <QNetworkInterface>

namespace tarvina::server {

QStringList FirstShow::MachineLines(const Facts& f) {
    QStringList out;
    out << QStringLiteral("OS: ") + f.osText;
    if (!f.printer)
        out << QStringLiteral("Impresora: ") + QString::fromUtf16(kNoPrinter);
    else if (f.printer->isEmpty())
        out << QStringLiteral("Observación: ") + QString::fromUtf16(kNoPrinter);
    else
        out << QStringLiteral("Impresora: ") + *f.printer;
    out << QStringLiteral("IP: ") + f.address;
    // The name line shows the address as well: the network test below uses
    // it, and no name lookup can hold up the start.
    out << QStringLiteral("Nombre: ") + f.address;
    return out;
}

QString FirstShow::CurrentAddress() {
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& e : i.addressEntries())
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return e.ip().toString();
    }
    return QStringLiteral("127.0.0.1");
}

} // namespace tarvina::server
