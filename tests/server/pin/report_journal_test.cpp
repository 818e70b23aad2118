#include "server/PinTestPrinters.h"
#include "server/PinWorld.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/UsageJournal.h"
#include "xbase/PosixFileSystem.h"

#include <QFile>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using namespace tarvina::server::test;

namespace {

class JournalTest : public PinWorld {
protected:
    JournalTest() {
        journalPath = dir.file("07032026.dbf");
        CreateJournal(journalPath);
        tbDiario.Open(QFile::encodeName(journalPath).toStdString(), false);
        tbDiario.SetOrder("EQUIPO");
        report.OpenHtmlList(dir.file("report/07032026.html"), UsageReportHeaderLines(clock.now()));
        UsageJournal::Hooks hooks;
        hooks.generalError = [this](const QString& e) { errors << e; };
        hooks.endCodeUse = [this](const StateChange& c) { return codes->EndCodeUse(c); };
        journal = std::make_unique<UsageJournal>(xbase::RealFileSystem(), ctx, &tbDiario, &report,
                                                 dir.path(), hooks);
    }

    // A state change as the station reports it: the record changes, then the
    // queue entry is served.
    void change(Station& s, int state, double start = -1, double end = -1) {
        setState(s, state);
        {
            ComputersGuard guard(registry.lock());
            if (start >= 0) {
                s.record->start = start;
            }
            if (end >= 0) {
                s.record->end = end;
            }
        }
        journal->Statuspinchange(s.record);
    }

    struct JournalRow {
        std::string equipo, mac, pin, hdesde, hhasta;
        std::optional<xbase::Date> fdesde, fhasta;
        qint64 minsol;
    };
    QList<JournalRow> journalRows() {
        QList<JournalRow> rows;
        xbase::TableEngine t(xbase::RealFileSystem());
        t.Open(QFile::encodeName(journalPath).toStdString(), false);
        for (t.First(); !t.Eof(); t.Next()) {
            rows << JournalRow{t.GetString("EQUIPO"), t.GetString("MAC"),    t.GetString("PIN"),
                               t.GetString("HDESDE"), t.GetString("HHASTA"), t.GetDate("FDESDE"),
                               t.GetDate("FHASTA"),   t.GetInteger("MINSOL")};
        }
        return rows;
    }
    QStringList history(Station& s) {
        ComputersGuard guard(registry.lock());
        return s.record->history;
    }
    QString lastUse(Station& s) {
        ComputersGuard guard(registry.lock());
        return s.record->lastUse;
    }
    int reportRows() const { return int(report.lines().count("\t\t<TR>")); }

    QString journalPath;
    xbase::TableEngine tbDiario{xbase::RealFileSystem()};
    HtmlListFile report{xbase::RealFileSystem()};
    std::unique_ptr<UsageJournal> journal;
    QStringList errors;
};

double Days(int h, int m, int s) {
    return DateTime::FromParts(2026, 3, 7, h, m, s).days();
}

} // namespace

TEST_F(JournalTest, FirstLockOnlyStartsTheHistory) {
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    change(a, 1);
    EXPECT_EQ(history(a), QStringList{"[07/03/2026 10:00:00] Inicio de operaciones"});
    EXPECT_EQ(lastUse(a), "N/A");
    EXPECT_EQ(reportRows(), 0);
    EXPECT_TRUE(journalRows().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.file("192.168.0.11.txt"))); // nothing to save yet
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(JournalTest, ShortAndLongSessions) {
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    {
        ComputersGuard guard(registry.lock());
        a.record->user = "ana";
    }
    change(a, 1);
    // 30 seconds: history and last use, no report row.
    change(a, 2, Days(10, 0, 0), Days(10, 30, 0));
    clock.advanceSeconds(30);
    change(a, 1);
    EXPECT_EQ(history(a).first(),
              "[07/03/2026 10:00:30] [ana] Desde: 10:00:00 hasta 10:00:30 Transcurrido 00:00:30");
    EXPECT_EQ(lastUse(a), "00:00:30 desde 10:00:00");
    EXPECT_EQ(reportRows(), 0);

    // 1 hour 5 minutes from 10:00:00.
    clock.set(DateTime::FromParts(2026, 3, 7, 10, 0, 0));
    change(a, 2, Days(10, 0, 0), Days(11, 0, 0));
    clock.set(DateTime::FromParts(2026, 3, 7, 11, 5, 0));
    change(a, 1);
    const QString line =
        "[07/03/2026 11:05:00] [ana] Desde: 10:00:00 hasta 11:05:00 Transcurrido 01:05:00";
    EXPECT_EQ(history(a).first(), line);
    EXPECT_EQ(history(a).size(), 3);
    EXPECT_EQ(lastUse(a), "01:05:00 desde 10:00:00");
    ASSERT_EQ(reportRows(), 1);
    const QStringList row = report.lines().mid(report.lines().size() - 17);
    EXPECT_EQ(row, HtmlListRow({"[07/03/2026 11:05:00]", "PC-01//ana", "10:00:00", "11:05:00",
                                "01:05:00"}));
    // The report and the history file are on disk.
    QFile html(dir.file("report/07032026.html"));
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    EXPECT_TRUE(html.readAll().contains("                  PC-01//ana\r\n"));
    QFile txt(dir.file("192.168.0.11.txt"));
    ASSERT_TRUE(txt.open(QIODevice::ReadOnly));
    EXPECT_TRUE(txt.readAll().startsWith(line.toLatin1() + "\r\n"));

    // The journal: one row per session, closed at the lock.
    const auto rows = journalRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].equipo, "192.168.0.11");
    EXPECT_EQ(rows[1].mac, "00-11-22-33-44-55");
    EXPECT_EQ(rows[1].hdesde, "10:00:00");
    EXPECT_EQ(rows[1].hhasta, "11:05:00");
    EXPECT_EQ(rows[1].minsol, 60);
    EXPECT_EQ(rows[1].fhasta, (xbase::Date{2026, 3, 7}));
}

TEST_F(JournalTest, OpenRowIsNotDuplicatedAndCodeLeavesAtLock) {
    addCode("0C0DE0", 60);
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    Station& b = station("PC-02", "00-11-22-33-44-66", "192.168.0.12");
    setPin(a, "0C0DE0");
    codes->ProcesaPIn(a.record);
    change(a, 2, Days(10, 0, 0), Days(11, 0, 0));
    change(a, 2); // in use again without a lock between
    change(b, 2, Days(10, 0, 0), Days(10, 15, 0));
    auto rows = journalRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].pin, "0C0DE0");
    EXPECT_FALSE(rows[0].fhasta);

    clock.advanceMinutes(20);
    change(a, 1);
    rows = journalRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].pin, ""); // the code's use ended first
    EXPECT_EQ(rows[0].hhasta, "10:20:00");
    EXPECT_EQ(codeRow("0C0DE0")->saldo, 40);
    EXPECT_FALSE(rows[1].fhasta); // b still runs

    // A station's text that is no code never reaches the table.
    setPin(b, "X'; --");
    change(b, 2);
    EXPECT_EQ(journalRows().size(), 2);
    change(b, 1);
    EXPECT_EQ(journalRows()[1].pin, "");
}

TEST_F(JournalTest, LongHistoryFileIsTrimmed) {
    QFile file(dir.file("192.168.0.11.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 100; ++i) {
        file.write(QByteArray("line ") + QByteArray::number(i) + "\r\n");
    }
    file.close();
    Station& a = station("PC-01", "00-11-22-33-44-55", "192.168.0.11");
    change(a, 0);
    const QStringList h = history(a);
    ASSERT_EQ(h.size(), 51);
    EXPECT_EQ(h.first(), "[07/03/2026 10:00:00] Inicio de operaciones");
    EXPECT_EQ(h[1], "line 0");
    EXPECT_EQ(h.last(), "line 49");

    // A history of 70 lines is kept whole; an address that is no file name
    // gets none.
    Station& b = station("PC-02", "00-11-22-33-44-66", "../escape");
    change(b, 1);
    change(b, 2, Days(10, 0, 0), Days(10, 30, 0));
    clock.advanceMinutes(5);
    change(b, 1);
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(history(b).size(), 2);
    EXPECT_FALSE(QFile::exists(dir.path() + "/../escape.txt"));
}

// The text a browser shows for an HTML fragment (an XML reader decodes the
// same entities and character references).
QString ShownText(const QString& fragment) {
    QXmlStreamReader xml(QStringLiteral("<td>") + fragment + QStringLiteral("</td>"));
    xml.readNextStartElement();
    const QString text = xml.readElementText();
    return xml.hasError() ? QStringLiteral("<error: %1>").arg(xml.errorString()) : text;
}

TEST_F(JournalTest, StationTextIsEscapedInTheReportAndHistoryStaysBounded) {
    const QString name = QStringLiteral("<b>PC</b> & \"7\"");
    const QString user = QStringLiteral("<script>alert('x')</script>\u20ac\U0001F600");
    Station& a = station(name, "00-11-22-33-44-77", "192.168.0.17");
    {
        ComputersGuard guard(registry.lock());
        a.record->user = user;
    }
    change(a, 1);
    for (int i = 0; i < 80; ++i) {
        clock.set(DateTime::FromParts(2026, 3, 7, 10, 0, 0).addSeconds(i * 120));
        const double start = clock.now().days();
        change(a, 2, start, start + 1.0 / 24);
        clock.advanceSeconds(60);
        change(a, 1);
        // The history keeps its own bound, as its file does when read.
        ASSERT_LE(history(a).size(), UsageJournal::kHistoryTrimAbove);
    }
    EXPECT_TRUE(history(a).first().startsWith(QStringLiteral("[07/03/2026 12:39:00] [")));
    ASSERT_EQ(reportRows(), 80);

    const QString cell = report.lines()[report.lines().size() - 12].trimmed();
    EXPECT_EQ(ShownText(cell), name + QStringLiteral("//") + user);
    QFile html(dir.file("report/07032026.html"));
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QByteArray bytes = html.readAll();
    EXPECT_FALSE(bytes.contains("<script>"));
    EXPECT_FALSE(bytes.contains("<b>PC"));
    EXPECT_TRUE(bytes.contains("&lt;b&gt;PC&lt;/b&gt; &amp; &quot;7&quot;//"
                               "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;\x80&#128512;"));
}

TEST(HtmlEscapeTest, LineBreaksAndControlsStayOnTheirLine) {
    // A value is one line of the file: a line break in it would shift the
    // rows the next start reads back.
    EXPECT_EQ(HtmlEscape(QStringLiteral("a\r\nb\tc")), QStringLiteral("a&#13;&#10;b&#9;c"));
    EXPECT_EQ(HtmlEscape(QStringLiteral("plain text ñ")), QStringLiteral("plain text ñ"));
    EXPECT_EQ(ShownText(HtmlEscape(QStringLiteral("a\tb\nc"))), QStringLiteral("a\tb\nc"));
}

TEST(JournalFiles, CreatedWithTagsAndReindexedWhenTheIndexIsGone) {
    tarvina::test::TempDir dir;
    const QString path = dir.file("report/07032026.dbf");
    PinRuntime::EnsureJournal(xbase::RealFileSystem(), path);
    auto tagNames = [&] {
        xbase::TableEngine t(xbase::RealFileSystem());
        t.Open(QFile::encodeName(path).toStdString(), false);
        QStringList names;
        for (const auto& tag : t.Tags()) {
            names << QString::fromStdString(tag.name + "|" + tag.keyExpr + "|" + tag.forExpr);
        }
        return names;
    };
    const QStringList expected = {"EQUIPO|EQUIPO|.not. deleted()",
                                  "MAC|MAC|.not. deleted() .and. .not. EMPTY(MAC)"};
    EXPECT_EQ(tagNames(), expected);
    ASSERT_TRUE(QFile::remove(dir.file("report/07032026.cdx")));
    PinRuntime::EnsureJournal(xbase::RealFileSystem(), path);
    EXPECT_TRUE(QFile::exists(dir.file("report/07032026.cdx")));
    EXPECT_EQ(tagNames(), expected);

    PinRuntime::EnsureCodeTables(xbase::RealFileSystem(), dir.file("data"));
    xbase::TableEngine codes(xbase::RealFileSystem());
    codes.Open(QFile::encodeName(dir.file("data/CajaPIN.dbf")).toStdString(), false);
    EXPECT_EQ(codes.Fields().size(), 8u);
    EXPECT_EQ(codes.Tags().size(), 3u);
    xbase::TableEngine history(xbase::RealFileSystem());
    history.Open(QFile::encodeName(dir.file("data/CajaHPIN.dbf")).toStdString(), false);
    EXPECT_EQ(history.Fields().size(), 7u);
    EXPECT_EQ(history.Tags().size(), 3u);
}
