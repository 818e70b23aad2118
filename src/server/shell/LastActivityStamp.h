#pragma once

#include "common/DateTime.h"

#include <QString>
#include <optional>

namespace tarvina::server {

// The last-activity stamp: the program's name with ".dtu" in the program
// folder, exactly one 8-byte IEEE 754 double (little-endian), a date-time in
// days since 30 December 1899, rewritten every 90 s while the program runs.
class LastActivityStamp {
public:
    static constexpr int kIntervalMs = 90000;

    explicit LastActivityStamp(QString path) : path_(std::move(path)) {}
    static QString PathFor(const QString& programFolder, const QString& programName);

    const QString& path() const { return path_; }
    // Replaces the file whole (a power cut leaves the old value or the new);
    // false, with the reason in `error`, when it could not be written.
    bool write(const common::DateTime& now, QString* error = nullptr) const;
    // nullopt when the file is absent, not exactly one value, or a date
    // outside the calendar (1 January 1900 to 31 December 9999).
    std::optional<common::DateTime> read() const;

private:
    QString path_;
};

} // namespace tarvina::server
