#include "platform/linux/StationGuardian.h"

#include "common/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace tarvina::platform {

StationGuardian::StationGuardian(Options options) : o_(std::move(options)) {}

// The started station outlives the guardian: an orderly stop of the
// guardian must not end the customer's session.
StationGuardian::~StationGuardian() = default;

namespace {
bool Alive(pid_t pid) {
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH))
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true; // no /proc: the signal test is all there is
    const QByteArray line = stat.read(512);
    const int close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line.at(close + 2) != 'Z';
}
} // namespace

pid_t StationGuardian::LockHolder(const QString& lockFile) {
    if (!QFileInfo::exists(lockFile))
        return 0;
    QLockFile lock(lockFile);
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app) || pid <= 0 || pid > 0x7FFFFFFF)
        return 0;
    return Alive(static_cast<pid_t>(pid)) ? static_cast<pid_t>(pid) : 0;
}

QString StationGuardian::StationFolder(const QString& program) {
    const QString home = qEnvironmentVariable("TARVINA_HOME");
    if (!home.isEmpty())
        return QDir(home).absolutePath();
    const QString dir = QFileInfo(program).absolutePath();
    if (common::IsPortableFolder(dir))
        return dir;
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/tarvina/puesto");
}

void StationGuardian::reap(qint64 nowMs) {
    if (child_ <= 0)
        return;
    int status = 0;
    const pid_t r = ::waitpid(child_, &status, WNOHANG);
    if (r == child_ || (r < 0 && errno == ECHILD)) {
        if (!childHeldLock_)
            failures_.append(nowMs);
        child_ = 0;
    }
}

bool StationGuardian::start(qint64 nowMs) {
    const QByteArray program = QFile::encodeName(o_.program);
    std::vector<QByteArray> args{program};
    for (const QString& a : o_.arguments)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.constData(), nullptr, nullptr, argv.data(), environ);
    ++starts_;
    if (rc != 0) {
        lastError_ = QString::fromLocal8Bit(std::strerror(rc));
        failures_.append(nowMs);
        return false;
    }
    child_ = pid;
    childStartMs_ = nowMs;
    childHeldLock_ = false;
    return true;
}

StationGuardian::Step StationGuardian::tick(qint64 nowMs) {
    reap(nowMs);
    const pid_t holder = LockHolder(o_.lockFile);
    if (holder > 0) {
        if (holder == child_)
            childHeldLock_ = true;
        return Step::Watching;
    }
    if (child_ > 0) {
        if (nowMs - childStartMs_ < o_.startGraceMs)
            return Step::Watching; // still starting
        // Started long ago and never took the lock: hung. End it and count it.
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
        failures_.append(nowMs);
        child_ = 0;
    }
    while (!failures_.isEmpty() && nowMs - failures_.first() > o_.quickWindowMs)
        failures_.removeFirst();
    if (failures_.size() >= o_.quickFailures)
        return Step::GiveUp;
    start(nowMs);
    return Step::Started;
}

} // namespace tarvina::platform
