#include "server/pin/Ticket.h"

#include "common/Cp1252.h"
#include "common/Currency.h"
#include "common/Format.h"
#include "server/pin/OperatorDialogs.h"
#include "server/settings/ServerSettings.h"

#include <algorithm>

namespace tarvina::server {

namespace {

// Margins, widths and line counts come from the settings store, which anyone
// can edit: keep them to what a ticket printer could ever use.
constexpr int kMaxColumns = 1000;
constexpr int kMaxTrailingLines = 1000;

QByteArray Repeat(char c, qint64 n) {
    if (n <= 0) {
        return {};
    }
    return QByteArray(qsizetype(std::min<qint64>(n, kMaxColumns)), c);
}

class Layout {
public:
    Layout(int margin, int width)
        : margin_(Repeat(' ', std::clamp(margin, 0, kMaxColumns))),
          width_(std::clamp(width, -kMaxColumns, kMaxColumns)) {}

    QByteArray margin() const { return margin_; }
    int width() const { return width_; }

    // Lengths count the bytes that reach the printer, one per character.
    QByteArray centre(const QByteArray& s) const {
        return Repeat(' ', (qint64(width_) - s.size()) / 2) + s;
    }
    QByteArray right(const QByteArray& s) const { return Repeat(' ', width_ - s.size()) + s; }

private:
    QByteArray margin_;
    int width_;
};

QByteArray Bytes(const QString& s) {
    return common::ToCp1252(s);
}

bool NotBlank(const QString& s) {
    return !s.trimmed().isEmpty();
}

} // namespace

TicketSettings TicketSettingsFrom(const ServerSettings& s) {
    TicketSettings t;
    t.rawMode = s.rawMode;
    t.port = s.port;
    t.prnTicket = s.prnTicket;
    t.ticketLeft = s.ticketLeft;
    t.ticketWidth = s.ticketWidth;
    t.nLines = s.nLines;
    t.denominacion = s.denominacion;
    t.rif = s.rif;
    t.dir1 = s.dir1;
    t.dir2 = s.dir2;
    t.dir3 = s.dir3;
    t.telefono = s.telefono;
    t.pais = s.pais;
    t.lineaFin1 = s.lineaFin1;
    t.lineaFin2 = s.lineaFin2;
    t.tariff = s.tariff;
    return t;
}

QStringList TicketPorts() {
    return {QStringLiteral("LPT1"), QStringLiteral("LPT2"), QStringLiteral("LPT3"),
            QStringLiteral("COM1"), QStringLiteral("COM2")};
}

QList<QByteArray> BuildTicket(const TicketSettings& s, const TicketCode& code) {
    const Layout l(s.ticketLeft, s.ticketWidth);
    const QByteArray m = l.margin();
    QList<QByteArray> lines;
    // SI switches an ESC/P printer to condensed print for the whole ticket.
    lines << QByteArray("\017") + m + l.centre(Bytes(s.denominacion));
    lines << m + l.centre(Bytes(common::TaxIdFormat(s.pais).label + u':' + s.rif));
    for (const QString* dir : {&s.dir1, &s.dir2, &s.dir3}) {
        if (NotBlank(*dir)) {
            lines << m + l.centre(Bytes(*dir));
        }
    }
    if (NotBlank(s.telefono)) {
        lines << m + l.centre(Bytes(QStringLiteral("Telf:") + s.telefono));
    }
    lines << m + l.right(Bytes(QStringLiteral("Fecha: ") + code.fecha.toString(u"dd/MM/yyyy")));
    lines << m + Repeat('-', l.width());
    lines << m + "PIN: " + Bytes(code.pin);
    lines << m + "Tiempo [" + QByteArray::number(code.saldo) + "] minutos";
    if (const auto price = s.tariff.CodePrice(code.saldo)) {
        lines << m + "Precio: " + Bytes(common::FormatCurrency(*price));
    }
    lines << m + Repeat(' ', qint64(l.width()) - 25) + Repeat('-', 25);
    // The closing lines are tested without trimming: blanks alone still print.
    if (!s.lineaFin1.isEmpty()) {
        lines << m + l.centre(Bytes(s.lineaFin1));
    }
    if (!s.lineaFin2.isEmpty()) {
        lines << m + l.centre(Bytes(s.lineaFin2));
    }
    lines << QByteArray();
    return lines;
}

TRawPrint::TRawPrint(platform::Printing& printing) : printing_(printing) {
    SelectEscPControls();
}

TRawPrint::~TRawPrint() {
    ClosePrinter();
}

void TRawPrint::SelectEscPControls() {
    normal_ = QByteArray("\022");
    condensedText_ = QByteArray("\017");
}

void TRawPrint::SelectPclControls() {
    normal_ = QByteArray("\033&l6D\033(s0p10H");
    condensedText_ = QByteArray("\033&l6D\033(s0p16.66H");
}

bool TRawPrint::OpenPrinter() {
    if (job_ || printerName.isEmpty()) {
        return false;
    }
    if (documentName.isEmpty()) {
        documentName = QStringLiteral("Borvan");
    }
    job_ = printing_.startRawJob(printerName, documentName);
    return job_ != nullptr;
}

bool TRawPrint::BeginJob() {
    Write((condensed ? condensedText_ : normal_) + '\r');
    return true;
}

bool TRawPrint::Write(QByteArrayView text) {
    if (!job_) {
        return false;
    }
    lastWritten_ = job_->write(text);
    return lastWritten_ == text.size();
}

bool TRawPrint::FormFeed() {
    return Write("\f\r");
}

void TRawPrint::ClosePrinter() {
    if (job_) {
        // The spooler prints a raw document only once it has been ended.
        job_->finish();
        job_.reset();
    }
}

void PrintTicketToPort(platform::Printing& printing, OperatorDialogs& dialogs,
                       const TicketSettings& settings, const TicketCode& code) {
    const QStringList ports = TicketPorts();
    QString port;
    if (settings.port < 0 || settings.port >= ports.size()) {
        dialogs.messageBox(QStringLiteral("La selección del puerto de la impresora de ticket es "
                                          "invá1lida. Verifique y corrija. Se ejecutará con LPT1"),
                           QStringLiteral("Advertencia"), MessageIcon::Exclamation);
        port = ports.first();
    } else {
        port = ports.at(settings.port);
    }
    const QList<QByteArray> lines = BuildTicket(settings, code);
    std::unique_ptr<QIODevice> device = printing.openPort(port);
    if (!device) {
        dialogs.messageBox(QStringLiteral("Falla de puerto de impresión"), QStringLiteral("Error"),
                           MessageIcon::Error);
        return;
    }
    QByteArray out;
    for (const QByteArray& line : lines) {
        out += line + "\r\n";
    }
    for (int i = 0; i < std::clamp(settings.nLines, 0, kMaxTrailingLines); ++i) {
        out += "\r\n";
    }
    // A failure while writing or closing goes unreported, as on the spooler path.
    device->write(out);
    device->close();
}

void PrintTicketToSpooler(platform::Printing& printing, OperatorDialogs& dialogs,
                          const TicketSettings& settings, const TicketCode& code) {
    TRawPrint raw(printing);
    const QStringList printers = printing.printerNames();
    // A printer gone from the list since it was chosen is as unreachable as
    // one that refuses the job: the operator hears of it (the code itself is
    // already stored).
    if (settings.prnTicket < 0 || settings.prnTicket >= printers.size()) {
        dialogs.messageBox(QStringLiteral("No fue posible obtener acceso a la impresora"),
                           QStringLiteral("Error"), MessageIcon::Error);
        return;
    }
    QString name = printers.at(settings.prnTicket);
    const qsizetype on = name.indexOf(QLatin1String(" on "));
    if (on >= 0) {
        name = name.left(on).trimmed();
    }
    raw.printerName = name;
    const QList<QByteArray> lines = BuildTicket(settings, code);
    if (!raw.OpenPrinter()) {
        dialogs.messageBox(QStringLiteral("No fue posible obtener acceso a la impresora"),
                           QStringLiteral("Error"), MessageIcon::Error);
        return;
    }
    raw.condensed = true;
    raw.BeginJob();
    bool written = true;
    for (const QByteArray& line : lines) {
        written = written && raw.Write(line + "\r\n");
    }
    for (int i = 0; written && i < std::clamp(settings.nLines, 0, kMaxTrailingLines); ++i) {
        written = raw.Write("\r\n");
    }
    if (!written) {
        // A spooler that stops taking the job (a full spool): the half
        // ticket is dropped and the operator told which code lacks one.
        raw.Abandon();
        dialogs.messageBox(QStringLiteral("No fue posible imprimir el ticket del PIN %1. El PIN "
                                          "quedó registrado; puede imprimirlo de nuevo desde la "
                                          "lista de PINs.")
                               .arg(code.pin),
                           QStringLiteral("Error"), MessageIcon::Error);
        return;
    }
    raw.FormFeed();
    raw.ClosePrinter();
}

void PrintTicket(platform::Printing& printing, OperatorDialogs& dialogs,
                 const TicketSettings& settings, const TicketCode& code) {
    if (settings.rawMode) {
        PrintTicketToSpooler(printing, dialogs, settings, code);
    } else {
        PrintTicketToPort(printing, dialogs, settings, code);
    }
}

} // namespace tarvina::server
