#pragma once

#include "common/DateTime.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace tarvina::common {

inline constexpr char kClientExceptionLogName[] = "CliExcept.log";
inline constexpr char kServerExceptionLogName[] = "Excepc.log";
// A log larger than this (in bytes) is deleted before the next entry.
inline constexpr qint64 kClientExceptionLogLimit = 2048;
inline constexpr qint64 kServerExceptionLogLimit = 10240;

// Appends one entry to a log: when the file exists and is larger than
// sizeLimit bytes it is deleted first; the entry is written, flushed and the
// file closed. Calls from several threads are serialized. On failure returns
// false and, when error is given, the reason.
bool AppendWithSizeCheck(const QString& path, qint64 sizeLimit, const QByteArray& entry,
                         QString* error = nullptr);

// Entries are Windows-1252 text, lines ended by "\n", each entry followed by
// an empty line.

// The station's entry for a text: "dd/mm/yyyy hh:nn:ss" + " " + text.
QByteArray ClientExceptionEntry(const DateTime& now, const QString& text);

// The station's entry for an unexpected error:
// date-time + " S: " + sender + " E: " + message + " H: " + help + " L: " + last step.
QByteArray ClientAppExceptionEntry(const DateTime& now, const QString& senderClass,
                                   const QString& message, int helpContext,
                                   const QString& lastCommand);

// What the cashier's entry reports besides the error.
struct ServerExceptionInfo {
    QString senderClass;
    QString errorText;
    int helpContext = 0;
    int knownMacs = 0;
    int knownNames = 0;
    int tallyLength = 0;
    QString lastCommand;
    // One row of the computers view each: name and state text.
    QList<QPair<QString, QString>> computers;
};
QByteArray ServerExceptionEntry(const DateTime& now, const ServerExceptionInfo& info);

// The message-box texts shown when an entry cannot be written.
QString ClientLogFailureText(const QString& errorText);
QString ServerErrorBoxText(const QString& errorText);

} // namespace tarvina::common
