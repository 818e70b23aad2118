#pragma once

#include "common/Cp1252.h"
#include "common/DateTime.h"
#include "xbase/TableEngine.h"

#include <QFile>
#include <QString>
#include <string>

namespace tarvina::server::pintext {

// Table fields hold Windows-1252 bytes. Text going in is cut to the field's
// width so that no value from a station can overrun a field.
inline std::string Field(const QString& text, int width) {
    QByteArray b = common::ToCp1252(text);
    if (b.size() > width) {
        b.truncate(width);
    }
    while (!b.isEmpty() && b.endsWith(' ')) {
        b.chop(1);
    }
    return b.toStdString();
}

inline QString Text(const std::string& bytes) {
    return common::FromCp1252(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

inline bool Blank(const std::string& s) {
    return s.find_first_not_of(' ') == std::string::npos;
}

inline xbase::Date DateOf(const common::DateTime& dt) {
    return {dt.year(), dt.month(), dt.day()};
}

inline std::string TimeOf(const common::DateTime& dt) {
    return common::FormatDateTime(QStringLiteral("hh:nn:ss"), dt).toStdString();
}

inline std::string PathOf(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace tarvina::server::pintext
