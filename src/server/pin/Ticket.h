#pragma once

#include "platform/Printing.h"
#include "server/settings/Tariff.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace tarvina::server {

class OperatorDialogs;

// The settings a ticket is printed with (copied from ServerSettings).
struct TicketSettings {
    bool rawMode = false; // true: through the spooler; false: straight to a port
    int port = 0;         // index into "LPT1,LPT2,LPT3,COM1,COM2"
    int prnTicket = 0;    // index into the spooler's printer list
    int ticketLeft = 2;   // margin, characters
    int ticketWidth = 30; // body width, characters
    int nLines = 2;       // empty lines after the ticket
    QString denominacion, rif, dir1, dir2, dir3, telefono;
    QString pais;
    QString lineaFin1 = QStringLiteral("Gracias por su preferencia");
    QString lineaFin2;
    // With a tariff set the ticket prints the code's price.
    Tariff tariff;
};

struct ServerSettings;
// The ticket's part of the server's settings.
TicketSettings TicketSettingsFrom(const ServerSettings& settings);

// The code a ticket is printed for: a row of the code table.
struct TicketCode {
    QString pin;
    qint64 saldo = 0;
    QDate fecha;
};

// The ticket's lines, in Windows-1252, without line ends.
QList<QByteArray> BuildTicket(const TicketSettings& settings, const TicketCode& code);

// The five ports a ticket may go to, in the order of the Port setting.
QStringList TicketPorts();

// Raw printing through the spooler: a document of one printer whose bytes go
// to the printer untouched, with the printer's control texts for normal and
// condensed print.
class TRawPrint {
public:
    explicit TRawPrint(platform::Printing& printing);
    ~TRawPrint();
    TRawPrint(const TRawPrint&) = delete;
    TRawPrint& operator=(const TRawPrint&) = delete;

    QString printerName;
    QString documentName = QStringLiteral("Borvan");
    bool condensed = false;

    void SelectEscPControls();
    void SelectPclControls();
    bool OpenPrinter();
    bool BeginJob();
    bool Write(QByteArrayView text);
    bool FormFeed();
    void ClosePrinter();
    // Drops the document without ending it: the spooler cancels it and
    // nothing of it is printed.
    void Abandon() { job_.reset(); }

    bool isOpen() const { return job_ != nullptr; }
    qint64 lastWritten() const { return lastWritten_; }
    QByteArray normalControl() const { return normal_; }
    QByteArray condensedControl() const { return condensedText_; }

private:
    platform::Printing& printing_;
    std::unique_ptr<platform::RawPrintJob> job_;
    qint64 lastWritten_ = 0;
    QByteArray normal_, condensedText_;
};

void PrintTicketToPort(platform::Printing& printing, OperatorDialogs& dialogs,
                       const TicketSettings& settings, const TicketCode& code);
void PrintTicketToSpooler(platform::Printing& printing, OperatorDialogs& dialogs,
                          const TicketSettings& settings, const TicketCode& code);
// The spooler when rawMode is set, else the port.
void PrintTicket(platform::Printing& printing, OperatorDialogs& dialogs,
                 const TicketSettings& settings, const TicketCode& code);

} // namespace tarvina::server
