#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace tarvina::server {

class StationConnection;

// One entry of a station's banner list as its last ConfigReport gave it.
struct RemoteBanner {
    qint32 number = 0;
    QString name;
};

// The record of one customer computer. Records are created at the first
// binding of a computer and live until the registry goes away, so a raw
// pointer to one stays valid for the whole run (the UI thread keeps such
// pointers in its queues and its rows).
//
// Every field is guarded by ComputersLock (see ComputerRegistry.h).
struct TCompItem {
    quint8 state = 0;
    qint32 alpha = 0;
    QString address;
    QString name;
    double pendingEnd = 0; // days since 1899-12-30
    QString mac;
    bool relock = false;
    bool lockRequested = false;
    QString pin;
    // Order of events on this record (ComputerRegistry::nextStamp): when the
    // state last changed, and when a typed code was last granted. A locked
    // state older than the grant is not the end of that code's use.
    quint64 stateStamp = 0;
    quint64 pinGrantStamp = 0;
    qint32 versionNumber = 0;
    QString versionText;
    QString cdDrives;
    QString remoteBackground;
    QString remoteAlarmSound;
    QString remoteWallpaper;
    bool remoteAutoStart = false;
    bool remoteTaskBarHidden = false;
    bool remoteLogoProtected = false;
    QString remoteWallpaperStyle;
    quint32 remoteHiddenDrives = 0;
    // Absent until the first ConfigReport creates it.
    std::optional<QList<RemoteBanner>> remoteBanners;
    // The live connection; none while disconnected.
    std::shared_ptr<StationConnection> connection;
    // Index of the computer's row; -1 until it has one.
    int row = -1;
    QString lastUse;
    QString user;
    double end = 0;
    double start = 0;
    QStringList history;
    QStringList messages;
    bool attention = false;
};

// A computer keeps this many of its latest messages (free messages and time
// requests); older ones are dropped as new ones come.
inline constexpr int kMaxMessages = 200;

// Appends to the record's messages, dropping the oldest beyond kMaxMessages
// (ComputersLock held).
inline void AppendMessage(TCompItem& record, QString message) {
    record.messages.append(std::move(message));
    if (record.messages.size() > kMaxMessages)
        record.messages.remove(0, record.messages.size() - kMaxMessages);
}

// State labels as the computers view shows them (state AND 127).
QString StateLabel(int state);

} // namespace tarvina::server
