#pragma once

#include "common/DateTime.h"

#include <QString>
#include <QStringList>

namespace tarvina::xbase {
class IFileSystem;
}

namespace tarvina::server {

// An HTML list kept open for appending during the whole run: the lines live in
// memory without the closing lines, and every save writes the complete
// document (with the closing lines) in Windows-1252 with CR LF line ends.
class HtmlListFile {
public:
    static constexpr int kClosingLineCount = 7;
    // Larger files are not loaded (and then never overwritten).
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    static const QStringList& ClosingLines();

    // fs: where the list lives; every read and write goes through it.
    explicit HtmlListFile(xbase::IFileSystem& fs) : fs_(fs) {}

    // Creates the file's folder when missing. An existing file is loaded
    // without its last 7 lines (all of them when it has fewer); otherwise the
    // list starts with the header lines. False when an existing file could not
    // be read: the list then starts from the header and saves are refused, so
    // that the rows on disk are never overwritten.
    bool OpenHtmlList(const QString& path, const QStringList& headerLines);

    void append(const QStringList& lines);

    // Writes the lines plus the closing lines, replacing the file as a whole
    // (a crash leaves the old file or the new one, never a part). The
    // closing lines never stay in memory, whatever the outcome.
    bool SaveHtmlList();

    QString path() const { return path_; }
    const QStringList& lines() const { return lines_; }
    bool isOpen() const { return !path_.isEmpty(); }

private:
    xbase::IFileSystem& fs_;
    QString path_;
    QStringList lines_;
    bool readOnly_ = false;
};

// Text as HTML that a browser shows as the same text: markup characters as
// entities, control characters (line breaks included, so that a value stays
// on its one line of the file) and characters the file's code page lacks as
// numeric references. For every text that comes from a station.
QString HtmlEscape(const QString& text);

// A table row of either list: one cell per value, each value on its own line
// after 18 blanks. The values are HTML already (see HtmlEscape).
QStringList HtmlListRow(const QStringList& values);

// Header lines of the day's list of generated codes and of the day's usage
// report; now is shown in the "c" format.
QStringList CodeListHeaderLines(const common::DateTime& now);
QStringList UsageReportHeaderLines(const common::DateTime& now);

// The files of a day below the program folder: "pin\ddmmyyyy.html" and
// "report\ddmmyyyy.html" (folder names found without regard to case).
QString CodeListPath(const QString& programFolder, const common::DateTime& day);
QString UsageReportPath(const QString& programFolder, const common::DateTime& day);

} // namespace tarvina::server
