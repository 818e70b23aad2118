#include "server/pin/HtmlListFile.h"

#include "common/Cp1252.h"
#include "common/Paths.h"
#include "server/pin/WholeFile.h"
#include "xbase/File.h"

#include <cstdint>
#include <memory>

namespace tarvina::server {

namespace {

const QString kCellIndent = QStringLiteral("                  ");

QStringList Header(const QString& line12, const QString& line14, int columns,
                   const QStringList& titles) {
    QStringList h = {
        QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">"),
        QStringLiteral("<HTML>"),
        QStringLiteral("<HEAD>"),
        QStringLiteral("\t<TITLE></TITLE>"),
        QStringLiteral("\t<META NAME=\"GENERATOR\" CONTENT=\"ZU Tarvina Std\">"),
        QStringLiteral("\t<META NAME=\"AUTHOR\" CONTENT=\"Orbelo\">"),
        QStringLiteral("\t<META NAME=\"CREATED\" CONTENT=\"20030124;19513520\">"),
        QStringLiteral("\t<META NAME=\"CHANGEDBY\" CONTENT=\"Orbelo\">"),
        QStringLiteral("\t<META NAME=\"CHANGED\" CONTENT=\"20030124;19513520\">"),
        QStringLiteral("</HEAD>"),
        QStringLiteral("<BODY>"),
        line12,
        QStringLiteral("<P ALIGN=CENTER><FONT FACE=\"Arial, sans-serif\"><FONT SIZE=4><B>Lista"),
        line14,
        QStringLiteral("<TABLE WIDTH=100% BORDER=1 CELLPADDING=4 CELLSPACING=3>"),
        QStringLiteral("\t<FONT FACE=\"Arial, sans-serif\">"),
    };
    for (int i = 0; i < columns; ++i) {
        h << QStringLiteral("\t<COL WIDTH=51*>");
    }
    h << QStringLiteral("\t<THEAD>") << QStringLiteral("\t\t<TR VALIGN=TOP>");
    for (const QString& title : titles) {
        h << QStringLiteral("\t\t\t<TH WIDTH=20%>")
          << QStringLiteral("\t\t\t\t<P><FONT FACE=\"Arial, sans-serif\">") + title +
                 QStringLiteral("</FONT></P>")
          << QStringLiteral("\t\t\t</TH>");
    }
    h << QStringLiteral("\t\t</TR>") << QStringLiteral("\t</THEAD>") << QStringLiteral("\t<TBODY>");
    return h;
}

QString DayFile(const QString& programFolder, const QString& folder, const common::DateTime& day) {
    const QString name = folder + u'\\' + common::FormatDateTime(QStringLiteral("ddmmyyyy"), day) +
                         QStringLiteral(".html");
    return common::ResolveInFolder(programFolder, name)
        .value_or(programFolder + u'/' + folder + u'/' +
                  common::FormatDateTime(QStringLiteral("ddmmyyyy"), day) +
                  QStringLiteral(".html"));
}

} // namespace

const QStringList& HtmlListFile::ClosingLines() {
    static const QStringList lines = {
        QStringLiteral("\t</TBODY>"),  QStringLiteral("</FONT>"), QStringLiteral("</TABLE>"),
        QStringLiteral("<P><BR><BR>"), QStringLiteral("</P>"),    QStringLiteral("</BODY>"),
        QStringLiteral("</HTML>"),
    };
    return lines;
}

bool HtmlListFile::OpenHtmlList(const QString& path, const QStringList& headerLines) {
    path_ = path;
    readOnly_ = false;
    lines_ = headerLines;
    const std::string name = FsPath(path);
    QByteArray bytes;
    try {
        fs_.MakeFolders(xbase::FolderOf(name));
    } catch (const std::exception&) {
        // A missing folder shows at the first save.
    }
    try {
        if (!fs_.Exists(name)) {
            return true;
        }
        if (fs_.IsFolder(name)) {
            readOnly_ = true;
            return false;
        }
        const std::unique_ptr<xbase::IFile> file = fs_.Open(name, false);
        const std::uint64_t size = file->Size();
        if (size > std::uint64_t(kMaxFileSize)) {
            readOnly_ = true;
            return false;
        }
        bytes.resize(qsizetype(size));
        if (file->ReadAt(0, bytes.data(), std::size_t(size)) != size) {
            readOnly_ = true;
            return false;
        }
    } catch (const std::exception&) {
        readOnly_ = true;
        return false;
    }
    QStringList loaded;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        const bool last = end < 0;
        if (last) {
            end = bytes.size();
        }
        qsizetype stop = end;
        if (stop > start && bytes.at(stop - 1) == '\r') {
            --stop;
        }
        loaded << common::FromCp1252(QByteArrayView(bytes).sliced(start, stop - start));
        start = end + 1;
    }
    loaded.resize(std::max<qsizetype>(0, loaded.size() - kClosingLineCount));
    lines_ = loaded;
    return true;
}

void HtmlListFile::append(const QStringList& lines) {
    lines_ << lines;
}

bool HtmlListFile::SaveHtmlList() {
    if (path_.isEmpty() || readOnly_) {
        return false;
    }
    QByteArray out;
    for (const QString& line : lines_) {
        out += common::ToCp1252(line);
        out += "\r\n";
    }
    for (const QString& line : ClosingLines()) {
        out += common::ToCp1252(line);
        out += "\r\n";
    }
    try {
        ReplaceWholeFile(fs_, path_, out);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

QString HtmlEscape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            continue;
        case u'<':
            out += QLatin1String("&lt;");
            continue;
        case u'>':
            out += QLatin1String("&gt;");
            continue;
        case u'"':
            out += QLatin1String("&quot;");
            continue;
        case u'\'':
            out += QLatin1String("&#39;");
            continue;
        default:
            break;
        }
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, text[i + 1]);
            ++i;
        } else if (code >= 0x20 && code != 0x7F && common::UnicodeToCp1252(c.unicode()) >= 0) {
            out += c;
            continue;
        }
        out += QStringLiteral("&#%1;").arg(static_cast<quint32>(code));
    }
    return out;
}

QStringList HtmlListRow(const QStringList& values) {
    QStringList row{QStringLiteral("\t\t<TR>")};
    for (const QString& v : values) {
        row << QStringLiteral("\t\t\t<TD WIDTH=20% VALIGN=TOP>") << kCellIndent + v
            << kCellIndent + QStringLiteral("</TD>");
    }
    row << QStringLiteral("\t\t</TR>");
    return row;
}

QStringList CodeListHeaderLines(const common::DateTime& now) {
    return Header(
        QStringLiteral("<P><FONT FACE=\"Arial, sans-serif\"><B>ZU Tarvina est&aacute;ndar</B>"
                       "</FONT></P>"),
        QStringLiteral("tickets generados ") + common::FormatDateTime(QStringLiteral("c"), now) +
            QStringLiteral("</B></FONT></FONT></P>"),
        4,
        {QStringLiteral("PIN"), QStringLiteral("Minutos"), QStringLiteral("Fecha"),
         QStringLiteral("Hora")});
}

QStringList UsageReportHeaderLines(const common::DateTime& now) {
    return Header(
        QStringLiteral("<P><FONT FACE=\"Arial, sans-serif\"><B>ZU Tarvina Est&aacute;ndar</B>"
                       "</FONT></P>"),
        QStringLiteral("de asignaciones de tiempo. D&iacute;a ") +
            common::FormatDateTime(QStringLiteral("c"), now) +
            QStringLiteral("</B></FONT></FONT></P>"),
        5,
        {QStringLiteral("Fecha/Hora"), QStringLiteral("usuario"), QStringLiteral("Desde"),
         QStringLiteral("Hasta"), QStringLiteral("Transcurrido")});
}

QString CodeListPath(const QString& programFolder, const common::DateTime& day) {
    return DayFile(programFolder, QStringLiteral("pin"), day);
}

QString UsageReportPath(const QString& programFolder, const common::DateTime& day) {
    return DayFile(programFolder, QStringLiteral("report"), day);
}

} // namespace tarvina::server
