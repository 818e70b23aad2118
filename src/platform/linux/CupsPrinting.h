#pragma once

#include "platform/Printing.h"

namespace tarvina::platform {

// Printers through CUPS (raw jobs on the scheduler's queues) and the parallel
// and serial ports through their device files: LPT1-LPT3 are lp0-lp2 and
// COM1-COM2 are ttyS0-ttyS1 in the device folder.
class CupsPrinting final : public Printing {
public:
    // server: the scheduler to talk to (a host name, "host:port" or the path of
    // a local socket); empty means CUPS_SERVER when set, else the one CUPS
    // itself picks (the client configuration or the local scheduler). deviceFolder holds the
    // port device files.
    explicit CupsPrinting(QString server = {}, QString deviceFolder = QStringLiteral("/dev"));

    QStringList printerNames() override;
    std::optional<QString> defaultPrinterName() override;
    std::unique_ptr<RawPrintJob> startRawJob(const QString& printer,
                                             const QString& documentName) override;
    std::unique_ptr<QIODevice> openPort(const QString& portName) override;

    // The device file name of a port ("LPT2" -> "lp1"), empty when the name is
    // not one of the five ports. Names are compared without regard to case.
    static QString PortDeviceName(const QString& portName);

private:
    QString server_;
    QString deviceFolder_;
};

} // namespace tarvina::platform
