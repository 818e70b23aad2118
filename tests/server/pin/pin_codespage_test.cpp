#include "platform/fake/FakeShell.h"
#include "platform/linux/XdgShell.h"
#include "server/PinTestPrinters.h"
#include "server/PinWorld.h"
#include "server/pin/CodeGenerator.h"
#include "server/pin/CodesPage.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/OperatorDialogs.h"
#include "server/pin/Reports.h"
#include "server/pin/TableOps.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "support/Wait.h"
#include "xbase/PosixFileSystem.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using namespace tarvina::server::test;

namespace {

class ScriptedRandom final : public CodeRandom {
public:
    QList<quint32> values;
    quint32 below(quint32) override { return values.isEmpty() ? 7 : values.takeFirst(); }
};

class RecordingDialogs final : public OperatorDialogs {
public:
    QStringList boxes;
    std::optional<QString> pick;
    QStringList pickRequests;
    void messageBox(const QString& text, const QString& title, MessageIcon icon) override {
        boxes << text + "|" + title + "|" + QString::number(int(icon));
    }
    std::optional<QString> pickFile(const QString& filter, const QString& folder) override {
        pickRequests << filter + "|" + folder;
        return pick;
    }
};

class CodesPageTest : public PinWorld {
protected:
    CodesPageTest() {
        listPath = CodeListPath(dir.path(), clock.now());
        list.OpenHtmlList(listPath, CodeListHeaderLines(clock.now()));
        page = std::make_unique<CodesPage>(xbase::RealFileSystem(), clock, list, random,
                                           [this](const TicketCode& c) {
                                               printed << c.pin;
                                               // The list is saved once, after the batch.
                                               listExistedAtPrint |= QFile::exists(listPath);
                                           });
        page->openTable(dir.file("CajaPIN.dbf"));
    }
    ScriptedRandom random;
    HtmlListFile list{xbase::RealFileSystem()};
    QString listPath;
    std::unique_ptr<CodesPage> page;
    QStringList printed;
    bool listExistedAtPrint = false;
};

} // namespace

TEST_F(CodesPageTest, BatchMakesRowsTicketsAndOneListSave) {
    random.values = {0, 1, 2};
    page->table().SetOrder("FECHOR");
    const QStringList made = page->CreateCodes(3, "30", true);
    EXPECT_EQ(made, (QStringList{"0003E8", "0003E9", "0003EA"}));
    EXPECT_EQ(printed, made);
    EXPECT_FALSE(listExistedAtPrint);
    EXPECT_EQ(page->table().Order(), "FECHOR");
    for (const QString& code : made) {
        const auto row = codeRow(code);
        ASSERT_TRUE(row) << code.toStdString();
        EXPECT_EQ(row->saldo, 30);
        EXPECT_EQ(row->chora, "");
        EXPECT_FALSE(row->cfecha);
    }
    QFile f(listPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.count("\t\t<TR>\r\n"), 3);
    EXPECT_TRUE(bytes.contains("                  0003E9\r\n                  </TD>\r\n"
                               "\t\t\t<TD WIDTH=20% VALIGN=TOP>\r\n                  30\r\n"
                               "                  </TD>\r\n\t\t\t<TD WIDTH=20% VALIGN=TOP>\r\n"
                               "                  07/03/26\r\n"));
    EXPECT_TRUE(bytes.endsWith("</HTML>\r\n"));

    // The current (new) row prints as a ticket; no ticket without the box.
    EXPECT_EQ(page->currentCode().pin, "0003EA");
    EXPECT_EQ(page->currentCode().saldo, 30);
    EXPECT_EQ(page->currentCode().fecha, QDate(2026, 3, 7));
    random.values = {3};
    page->CreateCodes(1, "45", false);
    EXPECT_EQ(printed.size(), 3);
    EXPECT_EQ(codeRow("0003EB")->saldo, 45);
    EXPECT_TRUE(page->CreateCodes(0, "30", true).isEmpty());
}

TEST_F(CodesPageTest, AnEngineErrorEndsTheBatchKeepingTheCodesMade) {
    // The frame's handle works through a file layer that refuses a write in
    // the middle of the batch.
    xbase::FaultyFileSystem faulty(xbase::RealFileSystem());
    CodesPage p(faulty, clock, list, random, [this](const TicketCode& c) { printed << c.pin; });
    p.openTable(dir.file("CajaPIN.dbf"));
    random.values = {0, 1, 2, 3, 4, 5, 6, 7};
    p.CreateCodes(1, "30", true);
    const int perCode = faulty.Writes();
    ASSERT_GT(perCode, 0);
    faulty.FailWrite(faulty.Writes() + 2 * perCode + 1); // inside the third code
    EXPECT_ANY_THROW(p.CreateCodes(5, "30", true));
    p.table().SetOrder("FECHOR"); // the handle stays usable

    // Every code that reached the table has its ticket and its list row, and
    // no ticket names a code that is not in the table.
    xbase::TableEngine reader(xbase::RealFileSystem());
    reader.Open(QFile::encodeName(dir.file("CajaPIN.dbf")).toStdString(), false);
    reader.SetOrder("PIN");
    QStringList stored;
    for (reader.First(); !reader.Eof(); reader.Next()) {
        stored << QString::fromStdString(reader.GetString("PIN"));
    }
    EXPECT_GE(printed.size(), 2);
    EXPECT_LT(printed.size(), 6);
    EXPECT_EQ(QSet<QString>(stored.begin(), stored.end()),
              QSet<QString>(printed.begin(), printed.end()));
    QFile f(listPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString html = QString::fromLatin1(f.readAll());
    for (const QString& c : printed) {
        EXPECT_TRUE(html.contains(c)) << c.toStdString();
    }
}

TEST_F(CodesPageTest, LiveCodeRedrawnDeletedCodeAccepted) {
    addCode("0003E8", 30);
    addCode("0003E9", 30);
    // Retire 0003E9: used up, marked deleted.
    tbPin.SetOrder("PIN");
    ASSERT_TRUE(tbPin.Seek("0003E9"));
    tbPin.Delete();
    tbPin.Commit();
    random.values = {0, 1};
    const QStringList made = page->CreateCodes(1, "60", false);
    EXPECT_EQ(made, QStringList{"0003E9"});
    EXPECT_EQ(codeRow("0003E9")->saldo, 60);
}

TEST_F(CodesPageTest, ViewConnectionColourAndHistorySeek) {
    addCode("0ACE00", 30);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    {
        ComputersGuard guard(registry.lock());
        a.record->row = 4;
    }
    page->table().First();
    EXPECT_FALSE(page->viewConnectionEnabled());
    EXPECT_EQ(page->connectionRow(registry), -1);
    setPin(a, "0ACE00");
    codes->ProcesaPIn(a.record);
    page->table().First();
    EXPECT_TRUE(page->viewConnectionEnabled());
    EXPECT_EQ(page->connectionRow(registry), 4);
    EXPECT_EQ(CodesPage::RowColour(true, 65280, 0xFFFFFF), 65280u);
    EXPECT_EQ(CodesPage::RowColour(false, 65280, 0xFFFFFF), 0xFFFFFFu);

    // A code in use whose computer is not in the list.
    tbPin.SetOrder("PIN");
    ASSERT_TRUE(tbPin.Seek("0ACE00"));
    tbPin.Edit();
    tbPin.SetString("MAC", "AA-BB-CC-DD-EE-FF");
    tbPin.Post();
    tbPin.Commit();
    page->table().First();
    EXPECT_EQ(page->connectionRow(registry), -1);

    // History page: a typed prefix shows the first row of the first code
    // with that prefix.
    addCode("0ACE11", 30);
    setPin(a, "0ACE11");
    Station& b = station("PC-02", "00-11-22-33-44-66", "192.168.0.12");
    setPin(b, "0ACE11");
    codes->ProcesaPIn(b.record);
    tbRegPin.SetOrder("");
    CodesPage::EdPinChange(tbRegPin, "0ace1");
    EXPECT_EQ(tbRegPin.Order(), "PINFECHOR");
    EXPECT_EQ(tbRegPin.GetString("PIN"), "0ACE11");
    CodesPage::EdPinChange(tbRegPin, "0A");
    EXPECT_EQ(tbRegPin.GetString("PIN"), "0ACE00");
}

TEST(CodesPageDisk, DiskErrorsAreReportedInSpanishNeverAsCodesMade) {
    // The table and the day's list on two disks, so each can fail alone.
    xbase::MemoryFileSystem tableDisk, listDisk;
    TableOps::CreateCodeTable(tableDisk, "/cafe/data");
    xbase::FaultyFileSystem table(tableDisk), lists(listDisk);
    platform::FakeClock clock(common::DateTime::FromParts(2026, 3, 7, 10, 0, 0));
    const QString listPath = "/cafe/pin/07032026.html";
    HtmlListFile list(lists);
    ASSERT_TRUE(list.OpenHtmlList(listPath, CodeListHeaderLines(clock.now())));
    SeededCodeRandom random(5);
    QStringList printed;
    CodesPage page(table, clock, list, random, [&](const TicketCode& c) { printed << c.pin; });

    auto failure = [&](int count) {
        try {
            page.CreateCodes(count, "30", true);
        } catch (const std::exception& e) {
            return QString::fromLocal8Bit(e.what());
        }
        return QString();
    };
    try {
        page.openTable("/cafe/data/Falta.dbf");
        ADD_FAILURE() << "a missing table opened";
    } catch (const std::exception& e) {
        EXPECT_TRUE(
            QString::fromLocal8Bit(e.what()).startsWith("No se pudo abrir la tabla de PINs: "))
            << e.what();
    }
    page.openTable("/cafe/data/CajaPIN.dbf");

    // The table cannot reach the disk: no ticket, no list row, and the list
    // on the disk stays as it was.
    table.FailSync(true);
    EXPECT_TRUE(failure(3).startsWith("No se pudo grabar en la tabla de PINs: "));
    EXPECT_TRUE(printed.isEmpty());
    const std::vector<unsigned char> before = listDisk.Contents(listPath.toStdString());
    table.Reset();

    // The list cannot be written: the codes are stored and printed, the
    // failure is still told, and the old list is whole.
    lists.FailSync(true);
    EXPECT_EQ(failure(2), "No se pudo escribir " + listPath);
    EXPECT_EQ(printed.size(), 2);
    EXPECT_EQ(listDisk.Contents(listPath.toStdString()), before);
    lists.Reset();
    EXPECT_EQ(failure(1), QString());
    const std::string html = [&] {
        const auto bytes = listDisk.Contents(listPath.toStdString());
        return std::string(bytes.begin(), bytes.end());
    }();
    for (const QString& code : printed) {
        EXPECT_NE(html.find(code.toStdString()), std::string::npos) << code.toStdString();
    }
}

TEST(ReportsTest, ShowAndPickReports) {
    tarvina::test::TempDir dir;
    platform::FakeShell shell;
    RecordingDialogs dialogs;
    common::LastCommand last;
    const QString usage = dir.file("report/07032026.html");
    const QString codes = dir.file("pin/07032026.html");
    Reports reports(shell, dialogs, last, usage, codes);

    reports.usageToday();
    EXPECT_TRUE(shell.opened.isEmpty());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0], "No hay registros para la fecha dada (" + usage +
                                    ". no hallado)|consulta inexistente|" +
                                    QString::number(int(MessageIcon::Exclamation)));

    ASSERT_TRUE(QDir().mkpath(dir.file("pin")));
    QFile f(codes);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    reports.codesToday();
    EXPECT_EQ(shell.opened, QStringList{codes});
    EXPECT_EQ(last.get(), "RPtPINGenEXecute");

    reports.usageAnyDay();
    EXPECT_EQ(dialogs.pickRequests, QStringList{"Reporte|*.HTML|Todos|*.*|" + dir.file("report")});
    EXPECT_EQ(shell.opened.size(), 1); // cancelled
    dialogs.pick = dir.file("pin/01012026.html");
    reports.codesAnyDay();
    EXPECT_EQ(dialogs.pickRequests.last(), "Reporte|*.HTML|Todos|*.*|" + dir.file("pin"));
    EXPECT_EQ(shell.opened.last(), dir.file("pin/01012026.html"));
}

TEST(ReportsTest, XdgShellHandsOverAFileUrl) {
    tarvina::test::TempDir dir;
    // An opener that writes down its argument.
    const QString script = dir.file("opener.sh");
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/arg.tmp\"\n"
            "mv \"$(dirname \"$0\")/arg.tmp\" \"$(dirname \"$0\")/arg.txt\"\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform::XdgShell shell(script);
    EXPECT_FALSE(shell.openDocument(QString()));
    ASSERT_TRUE(shell.openDocument(dir.file("-report 1.html")));
    ASSERT_TRUE(tarvina::test::WaitUntil([&] { return QFile::exists(dir.file("arg.txt")); }))
        << "the opener was not run";
    QFile arg(dir.file("arg.txt"));
    ASSERT_TRUE(arg.open(QIODevice::ReadOnly));
    EXPECT_EQ(arg.readAll(), QUrl::fromLocalFile(dir.file("-report 1.html")).toEncoded());
}
