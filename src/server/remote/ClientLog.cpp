#include "server/remote/ClientLog.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

namespace tarvina::server {

namespace {

// Longest file name most file systems take is 255 bytes of their encoding;
// the log is written through temporary files named after it plus a suffix of
// seven characters, which must fit too.
constexpr qsizetype kMaxFileNameBytes = 255 - 16;

qsizetype EncodedSize(const QString& name) {
    return QFile::encodeName(name).size();
}

// Drops characters from the end until prefix + base + suffix fits.
QString FitName(QString base, const QString& prefix, const QString& suffix) {
    const qsizetype fixed = EncodedSize(prefix) + EncodedSize(suffix);
    while (!base.isEmpty() && fixed + EncodedSize(base) > kMaxFileNameBytes) {
        base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
    }
    return prefix + base + suffix;
}

} // namespace

QString ClientLogFileName(const QString& displayName, const QString& peerAddress) {
    const QString ext = QStringLiteral(".log");
    QString base;
    for (const QChar c : displayName) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            continue;
        base.append(c);
    }
    while (base.contains(QLatin1String("..")))
        base.replace(QLatin1String(".."), QString());
    const qsizetype dot = base.lastIndexOf(u'.');
    if (dot >= 0)
        base.truncate(dot);
    if (base.isEmpty()) {
        QString address;
        for (const QChar c : peerAddress)
            address.append(c.isLetterOrNumber() && c.unicode() < 0x80 ? c : QChar(u'_'));
        return FitName(address.isEmpty() ? QStringLiteral("sin_direccion") : address,
                       QStringLiteral("cliente_"), ext);
    }
    static const char* const kOwn[] = {"bitacora", "caja", "taquilla", "excepc", "cliexcept"};
    for (const char* own : kOwn) {
        if (base.compare(QLatin1String(own), Qt::CaseInsensitive) == 0)
            return QStringLiteral("cliente_") + base + ext;
    }
    return FitName(base, QString(), ext);
}

ClientLogWriter::ClientLogWriter(QString path) : path_(std::move(path)) {}

ClientLogWriter::~ClientLogWriter() = default;

bool ClientLogWriter::fail(const QString& text) {
    if (error_.isEmpty())
        error_ = text;
    return false;
}

bool ClientLogWriter::open() {
    const QString pattern = path_ + QStringLiteral(".XXXXXX");
    for (Part& p : parts_) {
        auto file = std::make_unique<QTemporaryFile>(pattern);
        if (!file->open())
            return fail(file->errorString());
        p.file = std::move(file);
    }
    return true;
}

bool ClientLogWriter::add(const QByteArray& line) {
    if (!error_.isEmpty() || !parts_[0].file)
        return false;
    const qint64 size = line.size() + 1;
    if (size > kCapBytes / 2) {
        ++dropped_;
        return true;
    }
    if (parts_[current_].bytes + size > kCapBytes / 2) {
        current_ = 1 - current_;
        Part& next = parts_[current_];
        dropped_ += next.lines;
        if (!next.file->resize(0) || !next.file->seek(0))
            return fail(next.file->errorString());
        next.bytes = 0;
        next.lines = 0;
    }
    Part& p = parts_[current_];
    if (p.file->write(line) != line.size() || !p.file->putChar('\n'))
        return fail(p.file->errorString());
    p.bytes += size;
    ++p.lines;
    return true;
}

bool ClientLogWriter::commit() {
    if (!error_.isEmpty() || !parts_[0].file)
        return false;
    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    // The older half first, then the current one.
    for (const int i : {1 - current_, current_}) {
        QFile& f = *parts_[i].file;
        if (!f.flush() || !f.seek(0))
            return fail(f.errorString());
        qint64 left = parts_[i].bytes;
        char chunk[64 * 1024];
        while (left > 0) {
            const qint64 n = f.read(chunk, std::min<qint64>(left, sizeof chunk));
            if (n <= 0)
                return fail(f.errorString());
            if (out.write(chunk, n) != n)
                return fail(out.errorString());
            left -= n;
        }
    }
    if (!out.commit())
        return fail(out.errorString());
    return true;
}

} // namespace tarvina::server
