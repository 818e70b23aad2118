#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvina::platform {

namespace {

QString Errno(const char* what) {
    return QString::fromLatin1(what) + QStringLiteral(": ") +
           QString::fromLocal8Bit(strerror(errno));
}

bool WriteAll(int fd, const char* p, qsizetype n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, size_t(n));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= w;
    }
    return true;
}

// Temporary names are ".<name>.<pid>.XXXXXX" so that leftovers of dead
// processes can be told from a save running in another process.
void RemoveStaleTemps(const QDir& dir, const QString& fileName) {
    const QString prefix = u'.' + fileName + u'.';
    const QStringList entries =
        dir.entryList({prefix + u'*'}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& e : entries) {
        const QString rest = e.mid(prefix.size());
        bool ok = false;
        const qint64 pid = rest.section(u'.', 0, 0).toLongLong(&ok);
        if (!ok || pid <= 0 || pid == qint64(::getpid()))
            continue;
        if (::kill(pid_t(pid), 0) == -1 && errno == ESRCH)
            QFile::remove(dir.filePath(e));
    }
}

} // namespace

bool WriteFileAtomically(const QString& path, const QByteArray& data, unsigned mode, QString* error,
                         const AtomicWriteHook& hook) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo target(path);
    QDir dir = target.absoluteDir();
    if (!dir.exists() && !QDir().mkpath(dir.absolutePath()))
        return fail(QStringLiteral("cannot create folder ") + dir.absolutePath());
    RemoveStaleTemps(dir, target.fileName());

    struct stat st;
    const QByteArray nativePath = QFile::encodeName(target.absoluteFilePath());
    if (::stat(nativePath.constData(), &st) == 0)
        mode = st.st_mode & 07777;

    QByteArray tmpl = QFile::encodeName(dir.absoluteFilePath(
        u'.' + target.fileName() + u'.' + QString::number(::getpid()) + QStringLiteral(".XXXXXX")));
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return fail(Errno("mkstemp"));
    auto abandon = [&](const QString& why) {
        ::close(fd);
        ::unlink(tmpl.constData());
        return fail(why);
    };
    if (::fchmod(fd, mode_t(mode)) != 0)
        return abandon(Errno("fchmod"));
    if (hook)
        hook(AtomicStage::TempCreated);
    const qsizetype half = data.size() / 2;
    if (!WriteAll(fd, data.constData(), half))
        return abandon(Errno("write"));
    if (hook)
        hook(AtomicStage::HalfWritten);
    if (!WriteAll(fd, data.constData() + half, data.size() - half))
        return abandon(Errno("write"));
    if (hook)
        hook(AtomicStage::Written);
    if (::fsync(fd) != 0)
        return abandon(Errno("fsync"));
    if (hook)
        hook(AtomicStage::Synced);
    if (::close(fd) != 0) {
        ::unlink(tmpl.constData());
        return fail(Errno("close"));
    }
    if (::rename(tmpl.constData(), nativePath.constData()) != 0) {
        const QString why = Errno("rename");
        ::unlink(tmpl.constData());
        return fail(why);
    }
    if (hook)
        hook(AtomicStage::Renamed);
    // The rename itself must reach the disk for the new content to survive a
    // power cut.
    const int dfd = ::open(QFile::encodeName(dir.absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

} // namespace tarvina::platform
