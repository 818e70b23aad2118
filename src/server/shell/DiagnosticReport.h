#pragma once

#include "common/DateTime.h"
#include "platform/Registry.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarvina::server {

// "Reporte a soporte técnico": the seven parts of the report, written to a
// device as they are built (the logs it includes may be large).
class DiagnosticReport {
public:
    static constexpr char16_t kSupportAddress[] = u"soporte@tarvina.example";
    static constexpr char kRule[] = "==========================";
    // Of each log it includes, the report keeps at most the last this many
    // bytes: a station's log may be large, a mail may not.
    static constexpr qint64 kMaxIncludedBytes = 1 << 20;
    // Raw values show at most this many bytes.
    static constexpr int kMaxRawBytes = 1024;

    struct Input {
        QString diskSerial;
        QString mac;
        const platform::Registry* registry = nullptr;
        QString settingsKey;
        QStringList techInfoLines;
        QString exceptionLogPath;   // "Excepc.log" of the program folder
        QString consoleArchivePath; // the console archive
        QString workFolder;         // where the stations' logs are
        common::DateTime now;
    };

    // Writes the report; false when the device refused a write.
    static bool Write(QIODevice& out, const Input& input);

    // One line of part III for a value: "name"=... by its kind (nullopt: a
    // value of no known kind).
    static QString ValueLine(const QString& name, std::optional<platform::ValueKind> kind,
                             const platform::Registry& registry, const QString& key);

    // The stations' logs of part VII: "*.log" in the folder but
    // "bitacora.log", "caja.log" and the console archive, by name.
    static QStringList StationLogs(const QString& folder, const QString& archiveName);

    // The mail's subject for the café's name.
    static QString Subject(const QString& denominacion);
};

} // namespace tarvina::server
