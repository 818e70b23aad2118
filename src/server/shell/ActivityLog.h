#pragma once

#include "common/DateTime.h"

#include <QFile>
#include <QString>

namespace tarvina::server {

// The activity log "bitacora.log" in the working folder: one line per start
// and per orderly close, open from start-up to close.
class ActivityLog {
public:
    static constexpr char kFileName[] = "bitacora.log";
    static constexpr char16_t kStartText[] = u"Inicio de operaciones.";
    static constexpr char16_t kCloseText[] = u"Terminación de operaciones.";

    explicit ActivityLog(const QString& folder);

    QString path() const { return file_.fileName(); }
    // True when the file is larger than the limit (exactly the limit is not).
    bool exceeds(qint64 limit) const;
    bool remove();

    // Opens for appending; if that fails, creates it anew; if that fails too,
    // deletes it and creates it anew.
    bool open();
    // Date and long time + " [localhost, n/a]," + the text in single quotes.
    bool write(const QString& text, const common::DateTime& now);
    void close();
    bool isOpen() const { return file_.isOpen(); }

    static QByteArray FormatLine(const QString& text, const common::DateTime& now);

private:
    QFile file_;
};

} // namespace tarvina::server
