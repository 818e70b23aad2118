#pragma once

#include "common/DateTime.h"

#include <QString>

namespace tarvina::server {

// The last-activity stamp of the cashier's program ("taquilla.dtu" in the
// program folder): one 8-byte date-time, rewritten every 90 s while the
// program runs. After an unclean close it tells the cashier when the program
// was last seen working.
class ActivityStamp {
public:
    explicit ActivityStamp(const QString& folder);

    QString path() const { return path_; }
    // Replaces the stamp whole (a power cut leaves the old one or the new);
    // false with the reason when it could not be written.
    bool write(const common::DateTime& now, QString* error = nullptr) const;
    // The stamp, or fallback when there is none or it is not a date (a short
    // file, garbage, a date outside the calendar).
    common::DateTime read(const common::DateTime& fallback) const;

private:
    QString path_;
};

} // namespace tarvina::server
