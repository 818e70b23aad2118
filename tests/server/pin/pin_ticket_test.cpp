#include "common/Cp1252.h"
#include "common/Currency.h"
#include "platform/fake/FakePrinting.h"
#include "platform/linux/CupsPrinting.h"
#include "server/PinTestPrinters.h"
#include "server/pin/OperatorDialogs.h"
#include "server/pin/Ticket.h"
#include "support/TempDir.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;

namespace {

struct Box {
    QString text, title;
    MessageIcon icon;
};

class RecordingDialogs final : public OperatorDialogs {
public:
    QList<Box> boxes;
    void messageBox(const QString& text, const QString& title, MessageIcon icon) override {
        boxes << Box{text, title, icon};
    }
    std::optional<QString> pickFile(const QString&, const QString&) override { return {}; }
};

TicketSettings Company() {
    TicketSettings s;
    s.denominacion = QStringLiteral("Cyber Café"); // 10 characters
    s.rif = QStringLiteral("J-12345678-9");
    s.pais = QStringLiteral("Venezuela");
    s.dir1 = QStringLiteral("Av. Bolívar 12");
    s.dir2 = QStringLiteral("Local 3");
    s.dir3 = QStringLiteral("   ");
    s.telefono = QStringLiteral("0212-5551234");
    return s;
}

TicketCode Code() {
    return {QStringLiteral("00A1F3"), 30, QDate(2026, 3, 7)};
}

QByteArray Joined(const QList<QByteArray>& lines, const char* end = "\r\n") {
    QByteArray out;
    for (const QByteArray& l : lines) {
        out += l + end;
    }
    return out;
}

} // namespace

TEST(PinTicket, DefaultLayoutIsExactBytes) {
    const QList<QByteArray> t = BuildTicket(Company(), Code());
    // Centring: (width - length) div 2 blanks after the margin.
    const QList<QByteArray> expected = {
        QByteArray("\x0f") + "  " + QByteArray((30 - 10) / 2, ' ') + "Cyber Caf\xe9",
        "  " + QByteArray((30 - 19) / 2, ' ') + "R.I.F.:J-12345678-9",
        "  " + QByteArray((30 - 14) / 2, ' ') + "Av. Bol\xedvar 12",
        "  " + QByteArray((30 - 7) / 2, ' ') + "Local 3",
        "  " + QByteArray((30 - 17) / 2, ' ') + "Telf:0212-5551234",
        "  " + QByteArray(13, ' ') + "Fecha: 07/03/2026",
        "  " + QByteArray(30, '-'),
        "  PIN: 00A1F3",
        "  Tiempo [30] minutos",
        "  " + QByteArray(5, ' ') + QByteArray(25, '-'),
        "  " + QByteArray(2, ' ') + "Gracias por su preferencia",
        "",
    };
    ASSERT_EQ(t.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(t[i], expected[i]) << "line " << i;
    }
    // Default margin 2, width 30, a 10-character name: SI, 2 blanks, 10 blanks, the name.
    EXPECT_EQ(t[0], QByteArray("\x0f") + QByteArray(12, ' ') + "Cyber Caf\xe9");

    // With a tariff the price follows the minutes, in the café's currency.
    TicketSettings priced = Company();
    priced.tariff.set = true;
    priced.tariff.hourCents = 120;
    priced.tariff.codePrices[30] = 50;
    const QList<QByteArray> p = BuildTicket(priced, Code());
    ASSERT_EQ(p.size(), expected.size() + 1);
    EXPECT_EQ(p[8], expected[8]);
    EXPECT_EQ(p[9], "  Precio: " + common::ToCp1252(common::FormatCurrency(50)));
    EXPECT_EQ(p[10], expected[9]);
}

TEST(PinTicket, NarrowWideAndOmittedLines) {
    TicketSettings s = Company();
    s.ticketWidth = 20;
    s.ticketLeft = 0;
    s.dir2.clear();
    s.telefono = QStringLiteral("  ");
    s.lineaFin1 = QStringLiteral("    "); // blanks only: still printed
    s.lineaFin2 = QStringLiteral("Vuelva pronto");
    s.denominacion = QStringLiteral("Inversiones Informáticas del Centro C.A."); // longer than 20
    s.pais = QStringLiteral("Chile");
    const QList<QByteArray> t = BuildTicket(s, Code());
    ASSERT_EQ(t.size(), 11);
    EXPECT_EQ(t[0], "\x0fInversiones Inform\xe1ticas del Centro C.A.");
    EXPECT_EQ(t[1], "Registro:J-12345678-9"); // (20 - 21) div 2 truncates to 0
    EXPECT_EQ(t[2], QByteArray(3, ' ') + "Av. Bol\xedvar 12");
    EXPECT_EQ(t[3], QByteArray(3, ' ') + "Fecha: 07/03/2026");
    EXPECT_EQ(t[4], QByteArray(20, '-'));
    EXPECT_EQ(t[7], QByteArray(25, '-')); // margin followed directly by 25 dashes
    EXPECT_EQ(t[8], QByteArray(8 + 4, ' '));
    EXPECT_EQ(t[9], QByteArray(3, ' ') + "Vuelva pronto");
    EXPECT_EQ(t[10], "");

    // Hostile settings stay bounded and never crash.
    s.ticketWidth = 2000000000;
    s.ticketLeft = -5;
    const QList<QByteArray> huge = BuildTicket(s, Code());
    for (const QByteArray& l : huge) {
        EXPECT_LE(l.size(), 3000);
    }
}

TEST(PinTicket, PortPathWritesTicketAndTrailingLines) {
    platform::FakePrinting printing;
    RecordingDialogs dialogs;
    TicketSettings s = Company();
    s.port = 3;
    PrintTicketToPort(printing, dialogs, s, Code());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    ASSERT_EQ(printing.portsOpened, QStringList{"COM1"});
    EXPECT_EQ(printing.portData["COM1"], Joined(BuildTicket(s, Code())) + "\r\n\r\n");

    // An index outside the list warns and prints on LPT1; NLines 0 leaves
    // nothing after the empty last line.
    s.port = 7;
    s.nLines = 0;
    PrintTicket(printing, dialogs, s, Code());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text,
              QStringLiteral("La selección del puerto de la impresora de ticket es invá1lida. "
                             "Verifique y corrija. Se ejecutará con LPT1"));
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Advertencia"));
    EXPECT_EQ(dialogs.boxes[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(printing.portData["LPT1"], Joined(BuildTicket(s, Code())));
    EXPECT_TRUE(printing.portData["LPT1"].endsWith("minutos\r\n       " + QByteArray(25, '-') +
                                                   "\r\n    Gracias por su preferencia\r\n\r\n"));

    printing.unopenablePorts.insert("LPT2");
    s.port = 1;
    PrintTicketToPort(printing, dialogs, s, Code());
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_EQ(dialogs.boxes[1].text, QStringLiteral("Falla de puerto de impresión"));
    EXPECT_EQ(dialogs.boxes[1].title, QStringLiteral("Error"));
    EXPECT_EQ(dialogs.boxes[1].icon, MessageIcon::Error);
}

TEST(PinTicket, SpoolerPathSendsRawJob) {
    platform::FakePrinting printing;
    RecordingDialogs dialogs;
    printing.printers = {"Oficina", "Ticket"};
    TicketSettings s = Company();
    s.rawMode = true;
    s.prnTicket = 1;
    PrintTicket(printing, dialogs, s, Code());
    ASSERT_EQ(printing.jobs.size(), 1);
    const auto& job = *printing.jobs[0];
    EXPECT_EQ(job.printer, "Ticket");
    EXPECT_EQ(job.documentName, "Borvan");
    EXPECT_TRUE(job.finished);
    EXPECT_EQ(job.data, "\x0f\r" + Joined(BuildTicket(s, Code())) + "\r\n\r\n\f\r");
    EXPECT_TRUE(printing.portsOpened.isEmpty());

    // NLines 0: the form feed follows the empty line at once.
    s.nLines = 0;
    PrintTicketToSpooler(printing, dialogs, s, Code());
    ASSERT_EQ(printing.jobs.size(), 2);
    EXPECT_TRUE(printing.jobs[1]->data.endsWith("preferencia\r\n\r\n\f\r"));

    // "name on port" entries name the printer before " on ".
    printing.printers = {"Epson TM on LPT1:", "Otro"};
    s.prnTicket = 0;
    PrintTicketToSpooler(printing, dialogs, s, Code());
    EXPECT_EQ(printing.jobs.size(), 2); // "Epson TM" is not a printer of the fake
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text,
              QStringLiteral("No fue posible obtener acceso a la impresora"));
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Error"));
    printing.printers << "Epson TM";
    PrintTicketToSpooler(printing, dialogs, s, Code());
    ASSERT_EQ(printing.jobs.size(), 3);
    EXPECT_EQ(printing.jobs[2]->printer, "Epson TM");

    // A printer gone from the list since it was chosen: the operator is told.
    s.prnTicket = 9;
    PrintTicketToSpooler(printing, dialogs, s, Code());
    EXPECT_EQ(printing.jobs.size(), 3);
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_EQ(dialogs.boxes[1].text,
              QStringLiteral("No fue posible obtener acceso a la impresora"));

    // A spool that stops taking the job: the half ticket is not printed
    // (the job is never ended) and the code is named.
    s.prnTicket = 0;
    printing.failWritesAfterBytes = 40;
    PrintTicketToSpooler(printing, dialogs, s, Code());
    ASSERT_EQ(printing.jobs.size(), 4);
    EXPECT_FALSE(printing.jobs[3]->finished);
    ASSERT_EQ(dialogs.boxes.size(), 3);
    EXPECT_TRUE(dialogs.boxes[2].text.startsWith(
        QStringLiteral("No fue posible imprimir el ticket del PIN ") + Code().pin))
        << dialogs.boxes[2].text.toStdString();
    EXPECT_EQ(dialogs.boxes[2].icon, MessageIcon::Error);
}

TEST(PinTicket, RawPrintControlsAndStates) {
    platform::FakePrinting printing;
    printing.printers = {"P"};
    TRawPrint raw(printing);
    EXPECT_EQ(raw.normalControl(), "\x12");
    EXPECT_EQ(raw.condensedControl(), "\x0f");
    EXPECT_FALSE(raw.Write("x"));    // not open
    EXPECT_FALSE(raw.OpenPrinter()); // no printer name
    raw.printerName = "P";
    raw.documentName.clear();
    ASSERT_TRUE(raw.OpenPrinter());
    EXPECT_EQ(raw.documentName, "Borvan");
    EXPECT_FALSE(raw.OpenPrinter()); // already open
    EXPECT_TRUE(raw.BeginJob());     // normal text while not condensed
    raw.SelectPclControls();
    raw.condensed = true;
    EXPECT_TRUE(raw.BeginJob());
    raw.condensed = false;
    EXPECT_TRUE(raw.BeginJob());
    EXPECT_TRUE(raw.Write("abc"));
    EXPECT_EQ(raw.lastWritten(), 3);
    EXPECT_TRUE(raw.FormFeed());
    raw.ClosePrinter();
    EXPECT_FALSE(raw.isOpen());
    EXPECT_FALSE(raw.Write("x"));
    ASSERT_EQ(printing.jobs.size(), 1);
    EXPECT_EQ(printing.jobs[0]->data, QByteArray("\x12\r") + "\033&l6D\033(s0p16.66H\r" +
                                          "\033&l6D\033(s0p10H\r" + "abc\f\r");
    EXPECT_TRUE(printing.jobs[0]->finished);
}

TEST(PinTicket, PortsAreDeviceFilesThatAreNeverCreated) {
    EXPECT_EQ(platform::CupsPrinting::PortDeviceName("LPT1"), "lp0");
    EXPECT_EQ(platform::CupsPrinting::PortDeviceName("lpt3"), "lp2");
    EXPECT_EQ(platform::CupsPrinting::PortDeviceName("COM1"), "ttyS0");
    EXPECT_EQ(platform::CupsPrinting::PortDeviceName("COM2"), "ttyS1");
    EXPECT_EQ(platform::CupsPrinting::PortDeviceName("COM3"), "");
    EXPECT_EQ(platform::CupsPrinting::PortDeviceName("../lp0"), "");

    test::TempDir devices;
    {
        QFile lp1(devices.file("lp1"));
        ASSERT_TRUE(lp1.open(QIODevice::WriteOnly));
        lp1.write("old contents that the ticket replaces");
    }
    platform::CupsPrinting printing(QString(), devices.path());
    RecordingDialogs dialogs;
    TicketSettings s = Company();
    s.port = 1; // LPT2
    s.nLines = 1;
    PrintTicket(printing, dialogs, s, Code());
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    QFile lp1(devices.file("lp1"));
    ASSERT_TRUE(lp1.open(QIODevice::ReadOnly));
    EXPECT_EQ(lp1.readAll(), Joined(BuildTicket(s, Code())) + "\r\n");

    s.port = 4; // COM2: no such device here
    PrintTicket(printing, dialogs, s, Code());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Falla de puerto de impresión"));
    EXPECT_FALSE(QFileInfo::exists(devices.file("ttyS1")));
}
