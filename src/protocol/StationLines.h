#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>
#include <optional>

namespace tarvina::protocol::station {

// Every line the station sends, built from the code table, without CR LF.
// Text arguments are already Windows-1252 bytes.

QByteArray Identify(QByteArrayView computerName); // R01

// R02: state digit, user, days left, start, account tag, computer, version.
struct Status {
    int state = 0;
    QByteArray user;
    double daysLeft = 0;
    double start = 0;
    QByteArray tag;
    QByteArray computer;
    QByteArray version;
};
QByteArray StatusReport(const Status& s);

QByteArray SessionStarted(QByteArrayView user);       // R04
QByteArray TimeRequest(QByteArrayView minutes);       // R05
QByteArray TimeAdded(QByteArrayView user);            // R06
QByteArray ClientMessage(QByteArrayView text);        // R13
QByteArray FreeMessageHead();                         // R14, a block follows
QByteArray CdList(QByteArrayView letters);            // R33
QByteArray VolumeReport(quint16 left, quint16 right); // R36 + two 4-digit hex numbers
QByteArray VolumeFailed();                            // R36failed
QByteArray PinEntered(QByteArrayView pin);            // R38
QByteArray CurrentPin(QByteArrayView pin);            // R41
QByteArray TransparencyReport(int alpha);             // R43 + 2 hex digits
// R45: the window in front as 8 hex digits, then the task captions.
QByteArray TaskListTagged(quint32 window, const QList<QByteArray>& tasks);
QByteArray MacReport(QByteArrayView mac);      // R48
QByteArray PinAssigned(QByteArrayView pin);    // R49
QByteArray LogReportHead();                    // R51, counted lines follow
QByteArray TaskList(QByteArrayView commaList); // R09 + the task titles as a comma list
QByteArray ScreenHead();                       // R12, the picture follows as a block
QByteArray ConfigReportHead();                 // R21, the report's layout follows
QByteArray AccountQuery();                     // R55

// The server's answer to R55: "56" + minutes + "," + the amount's text as
// hexadecimal pairs (the text may hold commas). Decoded by ParseAccountState;
// nullopt for a payload of another shape.
QByteArray AccountState(qint64 minutes, QByteArrayView amountText);
struct AccountAnswer {
    qint64 minutes = 0;
    QByteArray amountText;
};
std::optional<AccountAnswer> ParseAccountState(QByteArrayView payload);

} // namespace tarvina::protocol::station
