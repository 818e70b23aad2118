#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace tarvina::platform {

// Keeps one puesto running: whenever nobody holds the station's single-
// instance lock, it starts the program again. A puesto started some other
// way (the session's autostart) is watched through the same lock, so the
// guardian never starts a second one. A program that keeps ending before it
// ever holds the lock (no display any more: the session is over) makes the
// guardian give up instead of starting it forever.
class StationGuardian {
public:
    struct Options {
        QString program;
        QStringList arguments;
        QString lockFile;          // the station's "ZuClientMutex.lock"
        int startGraceMs = 10000;  // a start that takes no lock in this time is ended
        int quickFailures = 5;     // starts that never took the lock ...
        int quickWindowMs = 10000; // ... within this time: give up
    };
    enum class Step { Watching, Started, GiveUp };

    explicit StationGuardian(Options options);
    ~StationGuardian();
    StationGuardian(const StationGuardian&) = delete;
    StationGuardian& operator=(const StationGuardian&) = delete;

    // One look at the station, at nowMs of a steady clock.
    Step tick(qint64 nowMs);

    pid_t child() const { return child_; }
    int starts() const { return starts_; }
    QString lastError() const { return lastError_; }

    // The process that holds the lock, when it is alive (0 otherwise). A
    // lock left behind by a killed process, and a zombie, are not alive.
    static pid_t LockHolder(const QString& lockFile);
    // puesto's program folder as puesto computes it for itself.
    static QString StationFolder(const QString& program);

private:
    void reap(qint64 nowMs);
    bool start(qint64 nowMs);

    Options o_;
    pid_t child_ = 0;
    qint64 childStartMs_ = 0;
    bool childHeldLock_ = false;
    QList<qint64> failures_;
    int starts_ = 0;
    QString lastError_;
};

} // namespace tarvina::platform
