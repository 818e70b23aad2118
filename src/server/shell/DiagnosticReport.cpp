#include "server/shell/DiagnosticReport.h"

#include "common/Cp1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarvina::server {

namespace {

class Writer {
public:
    explicit Writer(QIODevice& out) : out_(out) {}
    void line(const QString& text) { bytes(common::ToCp1252(text) + "\r\n"); }
    void bytes(const QByteArray& b) {
        if (ok_ && out_.write(b) != b.size())
            ok_ = false;
    }
    void title(const QString& t) {
        line(QString::fromLatin1(DiagnosticReport::kRule));
        line(t);
        line(QString::fromLatin1(DiagnosticReport::kRule));
    }
    // The file's content (its tail when large), ending with a line break.
    // False when it cannot be read.
    bool file(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const qint64 size = f.size();
        if (size > DiagnosticReport::kMaxIncludedBytes) {
            f.seek(size - DiagnosticReport::kMaxIncludedBytes);
            line(QStringLiteral("(") + QString::number(size - DiagnosticReport::kMaxIncludedBytes) +
                 QStringLiteral(" bytes anteriores omitidos)"));
        }
        QByteArray last;
        while (ok_) {
            const QByteArray chunk = f.read(64 * 1024);
            if (chunk.isEmpty())
                break;
            bytes(chunk);
            last = chunk;
        }
        if (!last.isEmpty() && !last.endsWith('\n'))
            bytes("\r\n");
        return true;
    }
    bool ok() const { return ok_; }

private:
    QIODevice& out_;
    bool ok_ = true;
};

QString Quoted(const QString& text) {
    QString q = text;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

QString DiagnosticReport::Subject(const QString& denominacion) {
    return QStringLiteral("ZU Std.  auto-diagnóstico desde ") + denominacion;
}

QString DiagnosticReport::ValueLine(const QString& name, std::optional<platform::ValueKind> kind,
                                    const platform::Registry& registry, const QString& key) {
    using platform::Root;
    using platform::ValueKind;
    QString value = QStringLiteral("<tipo no definido>");
    if (kind == ValueKind::Text) {
        value = Quoted(registry.readString(Root::CurrentUser, key, name).value_or(QString()));
    } else if (kind == ValueKind::Integer) {
        const quint32 v =
            static_cast<quint32>(registry.readInteger(Root::CurrentUser, key, name).value_or(0));
        value = QStringLiteral("dword:") +
                QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
    } else if (kind == ValueKind::Binary) {
        const QByteArray raw = registry.readBinary(Root::CurrentUser, key, name)
                                   .value_or(QByteArray())
                                   .left(kMaxRawBytes);
        value = QStringLiteral("hex:") + QString::fromLatin1(raw.toHex(','));
    }
    return Quoted(name) + QLatin1Char('=') + value;
}

QStringList DiagnosticReport::StationLogs(const QString& folder, const QString& archiveName) {
    QStringList out;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    for (const QString& n : names) {
        if (n.compare(QStringLiteral("bitacora.log"), Qt::CaseInsensitive) == 0 ||
            n.compare(QStringLiteral("caja.log"), Qt::CaseInsensitive) == 0 ||
            n.compare(archiveName, Qt::CaseInsensitive) == 0)
            continue;
        out << n;
    }
    return out;
}

bool DiagnosticReport::Write(QIODevice& out, const Input& in) {
    Writer w(out);
    w.title(QStringLiteral("Parte I - Base de datos"));
    w.line(QStringLiteral("N/A"));
    w.title(QStringLiteral("Parte II - equipo"));
    w.line(QStringLiteral("HD: ") + in.diskSerial);
    w.line(QStringLiteral("MAC: ") + in.mac);
    w.title(QStringLiteral("Parte III - registros"));
    if (in.registry) {
        for (const QString& name :
             in.registry->valueNames(platform::Root::CurrentUser, in.settingsKey))
            w.line(ValueLine(
                name, in.registry->valueKind(platform::Root::CurrentUser, in.settingsKey, name),
                *in.registry, in.settingsKey));
    }
    w.title(QStringLiteral("Parte IV - Tec. Info"));
    for (const QString& l : in.techInfoLines)
        w.line(l);
    w.title(QStringLiteral("Parte V - Excepc.log"));
    w.file(in.exceptionLogPath);
    w.title(QStringLiteral("Parte VI - caja.log"));
    w.file(in.consoleArchivePath);
    w.title(QStringLiteral("Parte VII - Clientes"));
    const QString archiveName = QFileInfo(in.consoleArchivePath).fileName();
    for (const QString& name : StationLogs(in.workFolder, archiveName)) {
        w.line(name);
        if (!w.file(QDir(in.workFolder).filePath(name)))
            w.line(QStringLiteral("Falla leyendo ") + name);
    }
    w.line(QString::fromLatin1(kRule));
    w.line(QStringLiteral("Generado ") +
           common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), in.now));
    w.line(QStringLiteral("Fin de archivo"));
    w.line(QString::fromLatin1(kRule));
    return w.ok();
}

} // namespace tarvina::server
