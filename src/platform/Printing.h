#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace tarvina::platform {

// One raw document in the print spooler: the bytes reach the printer exactly
// as written, with no filter in between.
class RawPrintJob {
public:
    virtual ~RawPrintJob() = default;
    // Bytes taken, or -1 when the spooler refused them.
    virtual qint64 write(QByteArrayView bytes) = 0;
    // Ends the document so that the spooler prints it. A job destroyed without
    // finish() is cancelled and prints nothing.
    virtual bool finish() = 0;
};

// Ticket printers: the spooler's printers and the local printer ports.
class Printing {
public:
    virtual ~Printing() = default;

    // The printers in the order the system lists them.
    virtual QStringList printerNames() = 0;

    // The system's default printer: empty when none is set, nullopt when the
    // printers cannot be read. Back ends without a default take the first.
    virtual std::optional<QString> defaultPrinterName() {
        const QStringList names = printerNames();
        return names.isEmpty() ? QString() : names.first();
    }

    // Opens the named printer and begins a raw document. nullptr when the
    // printer cannot be opened or the document cannot begin.
    virtual std::unique_ptr<RawPrintJob> startRawJob(const QString& printer,
                                                     const QString& documentName) = 0;

    // Opens a local port, "LPT1" to "LPT3", "COM1" or "COM2", for writing.
    // nullptr when the name is not one of those or the port cannot be opened.
    virtual std::unique_ptr<QIODevice> openPort(const QString& portName) = 0;
};

} // namespace tarvina::platform
