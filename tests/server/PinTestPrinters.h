#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure output for Qt texts in the code, ticket and report tests.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << '"' << b.toStdString() << '"';
}
