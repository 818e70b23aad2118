#include "platform/linux/ProcProcesses.h"

#include <QByteArray>
#include <QFile>
#include <climits>
#include <unistd.h>

namespace tarvina::platform {

namespace {
// The kernel's own ceiling for process ids: anything above is no process,
// whatever a window's property says.
constexpr qint64 kMaxPid = 4194304;
} // namespace

ProcProcesses::ProcProcesses(QString root) : root_(std::move(root)) {}

qint64 ProcProcesses::self() {
    return static_cast<qint64>(::getpid());
}

QString ProcProcesses::executable(qint64 pid) {
    if (pid <= 0 || pid > kMaxPid)
        return {};
    const QString dir = root_ + u'/' + QString::number(pid);
    const QByteArray link = QFile::encodeName(dir + QStringLiteral("/exe"));
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n > 0)
        return QFile::decodeName(QByteArray(target, static_cast<qsizetype>(n)));
    QFile comm(dir + QStringLiteral("/comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    // The kernel keeps at most 15 characters there; a longer read is not a
    // process's name.
    return QString::fromUtf8(comm.read(64)).trimmed();
}

} // namespace tarvina::platform
