#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tarvina::client {

// "session.dta": one fixed record of 384 bytes, little-endian, rewritten whole
// on every save so that a session survives a restart of the station.
//
//   offset size field
//        0    1 CountMode
//        1    7 unused (zeros)
//        8    8 time of writing, IEEE double days since 1899-12-30 (not read back)
//       16    8 start of session, IEEE double
//       24   33 minutes granted: length byte + up to 32 characters
//       57  256 user name: length byte + up to 255 characters
//      313    1 ClientState
//      314   33 PIN: length byte + up to 32 characters
//      347   33 session tag: length byte + up to 32 characters
//      380    4 unused (zeros)
//
// Texts are Windows-1252 bytes; longer texts are cut to their field; the
// bytes after a text's length are written as zeros and ignored on reading.
struct SessionRecord {
    static constexpr qsizetype kSize = 384;
    static constexpr qsizetype kCountModeAt = 0;
    static constexpr qsizetype kWrittenAt = 8;
    static constexpr qsizetype kStartAt = 16;
    static constexpr qsizetype kMinutesAt = 24;
    static constexpr qsizetype kMinutesMax = 32;
    static constexpr qsizetype kUserAt = 57;
    static constexpr qsizetype kUserMax = 255;
    static constexpr qsizetype kStateAt = 313;
    static constexpr qsizetype kPinAt = 314;
    static constexpr qsizetype kPinMax = 32;
    static constexpr qsizetype kTagAt = 347;
    static constexpr qsizetype kTagMax = 32;

    quint8 countMode = 0;
    double written = 0; // days
    double start = 0;   // days
    QByteArray minutes;
    QByteArray user;
    quint8 state = 1;
    QByteArray pin;
    QByteArray tag;
};

QByteArray EncodeSessionRecord(const SessionRecord& record);

// The record of a file's whole content. A content that is not exactly one
// record, or whose fields cannot be what a save wrote (a length beyond its
// field, a count mode other than 0 or 1, a state beyond 4, a start that is not
// a finite date), is refused with a reason: such a file is damaged, and the
// station then starts locked.
std::optional<SessionRecord> DecodeSessionRecord(const QByteArray& bytes, QString* error);

// The file's place: program folder + "Data/session.dta".
inline constexpr char kSessionFileName[] = "session.dta";

// Whole-file operations. Writing goes through a temporary file and a rename
// so that a crash mid-write never leaves half a record.
bool WriteSessionFile(const QString& path, const SessionRecord& record, QString* error);
// nullopt with an empty error when the file does not exist.
std::optional<SessionRecord> ReadSessionFile(const QString& path, QString* error);

} // namespace tarvina::client
