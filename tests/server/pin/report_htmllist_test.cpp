#include "server/PinTestPrinters.h"
#include "server/pin/HtmlListFile.h"
#include "support/TempDir.h"
#include "xbase/File.h"
#include "xbase/PosixFileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return "<missing>";
    }
    return f.readAll();
}

common::DateTime Now() {
    return common::DateTime::FromParts(2026, 3, 7, 9, 15, 42);
}

} // namespace

TEST(ReportHtmlList, CodeListHeaderAndSavedBytes) {
    const QStringList h = CodeListHeaderLines(Now());
    ASSERT_EQ(h.size(), 16 + 4 + 2 + 4 * 3 + 3);
    EXPECT_EQ(h[0], "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">");
    EXPECT_EQ(h[4], "\t<META NAME=\"GENERATOR\" CONTENT=\"ZU Tarvina Std\">");
    EXPECT_EQ(h[11],
              "<P><FONT FACE=\"Arial, sans-serif\"><B>ZU Tarvina est&aacute;ndar</B></FONT></P>");
    EXPECT_EQ(h[12], "<P ALIGN=CENTER><FONT FACE=\"Arial, sans-serif\"><FONT SIZE=4><B>Lista");
    EXPECT_EQ(h[13], "tickets generados 07/03/2026 09:15:42</B></FONT></FONT></P>");
    EXPECT_EQ(h[19], "\t<COL WIDTH=51*>");
    EXPECT_EQ(h[20], "\t<THEAD>");
    EXPECT_EQ(h[22], "\t\t\t<TH WIDTH=20%>");
    EXPECT_EQ(h[23], "\t\t\t\t<P><FONT FACE=\"Arial, sans-serif\">PIN</FONT></P>");
    EXPECT_EQ(h[32], "\t\t\t\t<P><FONT FACE=\"Arial, sans-serif\">Hora</FONT></P>");
    EXPECT_EQ(h.last(), "\t<TBODY>");

    const QStringList u = UsageReportHeaderLines(Now());
    ASSERT_EQ(u.size(), 16 + 5 + 2 + 5 * 3 + 3);
    EXPECT_EQ(u[11],
              "<P><FONT FACE=\"Arial, sans-serif\"><B>ZU Tarvina Est&aacute;ndar</B></FONT></P>");
    EXPECT_EQ(u[13],
              "de asignaciones de tiempo. D&iacute;a 07/03/2026 09:15:42</B></FONT></FONT></P>");
    EXPECT_EQ(u[20], "\t<COL WIDTH=51*>");
    EXPECT_EQ(u[21], "\t<THEAD>");
    EXPECT_EQ(u[24], "\t\t\t\t<P><FONT FACE=\"Arial, sans-serif\">Fecha/Hora</FONT></P>");
    EXPECT_EQ(u[36], "\t\t\t\t<P><FONT FACE=\"Arial, sans-serif\">Transcurrido</FONT></P>");

    test::TempDir dir;
    const QString path = CodeListPath(dir.path(), Now());
    EXPECT_EQ(path, dir.path() + "/pin/07032026.html");
    HtmlListFile list(xbase::RealFileSystem());
    ASSERT_TRUE(list.OpenHtmlList(path, h));
    EXPECT_TRUE(QDir(dir.path() + "/pin").exists());
    list.append(HtmlListRow({"0003E8", "30", "07/03/26", "09:15:42"}));
    ASSERT_TRUE(list.SaveHtmlList());
    EXPECT_EQ(list.lines().size(), h.size() + 14); // closing lines never stay in memory

    QByteArray expected;
    for (const QString& l : h) {
        expected += l.toLatin1() + "\r\n";
    }
    expected +=
        "\t\t<TR>\r\n"
        "\t\t\t<TD WIDTH=20% VALIGN=TOP>\r\n"
        "                  0003E8\r\n"
        "                  </TD>\r\n"
        "\t\t\t<TD WIDTH=20% VALIGN=TOP>\r\n"
        "                  30\r\n"
        "                  </TD>\r\n"
        "\t\t\t<TD WIDTH=20% VALIGN=TOP>\r\n"
        "                  07/03/26\r\n"
        "                  </TD>\r\n"
        "\t\t\t<TD WIDTH=20% VALIGN=TOP>\r\n"
        "                  09:15:42\r\n"
        "                  </TD>\r\n"
        "\t\t</TR>\r\n"
        "\t</TBODY>\r\n</FONT>\r\n</TABLE>\r\n<P><BR><BR>\r\n</P>\r\n</BODY>\r\n</HTML>\r\n";
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(ReportHtmlList, ReopenedFileLosesClosingLinesAndKeepsRows) {
    test::TempDir dir;
    const QString path = UsageReportPath(dir.path(), Now());
    {
        HtmlListFile first(xbase::RealFileSystem());
        ASSERT_TRUE(first.OpenHtmlList(path, {"<HTML>"}));
        first.append(HtmlListRow({"[07/03/2026 09:00:00]", "PC1//ana"}));
        ASSERT_TRUE(first.SaveHtmlList());
    }
    HtmlListFile second(xbase::RealFileSystem());
    ASSERT_TRUE(second.OpenHtmlList(path, {"ignored header"}));
    ASSERT_EQ(second.lines().size(), 1 + 8);
    EXPECT_EQ(second.lines().first(), "<HTML>");
    EXPECT_EQ(second.lines().last(), "\t\t</TR>");
    second.append(HtmlListRow({"ñ"}));
    ASSERT_TRUE(second.SaveHtmlList());
    const QByteArray bytes = ReadAll(path);
    EXPECT_TRUE(bytes.contains("PC1//ana\r\n                  </TD>\r\n\t\t</TR>\r\n\t\t<TR>\r\n"));
    EXPECT_TRUE(bytes.contains("                  \xf1\r\n")); // Windows-1252
    EXPECT_EQ(bytes.count("</HTML>"), 1);

    // A file shorter than the closing lines loses all of them; LF-only ends read too.
    QFile small(dir.file("small.html"));
    ASSERT_TRUE(small.open(QIODevice::WriteOnly));
    small.write("a\nb\nc");
    small.close();
    HtmlListFile third(xbase::RealFileSystem());
    ASSERT_TRUE(third.OpenHtmlList(dir.file("small.html"), {"h"}));
    EXPECT_TRUE(third.lines().isEmpty());
}

TEST(ReportHtmlList, FailedSaveKeepsRowsInMemory) {
    test::TempDir dir;
    const QString path = dir.file("list.html");
    HtmlListFile list(xbase::RealFileSystem());
    ASSERT_TRUE(list.OpenHtmlList(path, {"<HTML>"}));
    list.append({"row 1"});
    // A folder where the file should be makes every write fail.
    ASSERT_TRUE(QDir().mkpath(path));
    EXPECT_FALSE(list.SaveHtmlList());
    EXPECT_EQ(list.lines(), (QStringList{"<HTML>", "row 1"}));
    ASSERT_TRUE(QDir().rmdir(path));
    list.append({"row 2"});
    ASSERT_TRUE(list.SaveHtmlList());
    EXPECT_TRUE(ReadAll(path).startsWith("<HTML>\r\nrow 1\r\nrow 2\r\n\t</TBODY>\r\n"));

    // A file that cannot be read is never overwritten.
    const QString other = dir.file("dir.html");
    ASSERT_TRUE(QDir().mkpath(other));
    HtmlListFile unreadable(xbase::RealFileSystem());
    EXPECT_FALSE(unreadable.OpenHtmlList(other, {"h"}));
    unreadable.append({"x"});
    EXPECT_FALSE(unreadable.SaveHtmlList());
    EXPECT_TRUE(QFileInfo(other).isDir());
}
