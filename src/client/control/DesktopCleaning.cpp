#include "client/control/DesktopCleaning.h"

#include "common/DateTime.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>

namespace tarvina::client {

namespace {

// The station's settings and its program folder as they are by default;
// .Xauthority and .ICEauthority are the running session's own keys, which a
// model saved from another session would break.
const char* const kFixedKeep[] = {".config/tarvina", ".local/share/tarvina", ".Xauthority",
                                  ".ICEauthority"};

constexpr qint64 kMaxLog = 1024 * 1024;
constexpr qsizetype kMaxError = 400;

QString Canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : c;
}

bool Below(const QString& inner, const QString& outer) {
    return inner == outer || inner.startsWith(outer.endsWith(u'/') ? outer : outer + u'/');
}

} // namespace

DesktopCleaning::DesktopCleaning(platform::FolderOpener& fs, platform::Clock& clock,
                                 QObject* parent)
    : QObject(parent), fs_(fs), clock_(clock) {}

DesktopCleaning::~DesktopCleaning() {
    if (worker_.joinable())
        worker_.join();
}

std::vector<std::string> DesktopCleaning::KeepList(const QString& home,
                                                   const QStringList& ownFolders) {
    std::vector<std::string> keep(std::begin(kFixedKeep), std::end(kFixedKeep));
    const QString h = Canonical(home);
    for (const QString& f : ownFolders) {
        const QString c = Canonical(f);
        if (c != h && Below(c, h))
            keep.push_back(QDir(h).relativeFilePath(c).toStdString());
    }
    return keep;
}

QString DesktopCleaning::RefuseModel(const QString& home, const QString& model) {
    if (model.isEmpty())
        return QStringLiteral("No hay carpeta modelo configurada.");
    const QFileInfo info(model);
    if (!info.isDir())
        return QStringLiteral("No existe la carpeta modelo %1: guarde antes un escritorio "
                              "como modelo.")
            .arg(model);
    if (!info.isReadable() || !info.isExecutable())
        return QStringLiteral("No se puede leer la carpeta modelo %1.").arg(model);
    const QString h = Canonical(home);
    const QString m = Canonical(model);
    if (home.isEmpty() || h == QStringLiteral("/"))
        return QStringLiteral("No se conoce la carpeta personal del usuario.");
    if (Below(m, h) || Below(h, m))
        return QStringLiteral("La carpeta modelo no puede estar dentro de la carpeta personal "
                              "ni contenerla.");
    return {};
}

bool DesktopCleaning::Pending(const QString& journal) {
    return QFileInfo::exists(journal);
}

QString DesktopCleaning::Summary(const Outcome& o) {
    QString line = QStringLiteral("%1 borrados, %2 restaurados, %3 bytes escritos")
                       .arg(o.removed)
                       .arg(o.restored)
                       .arg(o.bytes);
    for (const QString& m : o.mountPoints)
        line += QStringLiteral("; punto de montaje sin tocar: ") + m;
    if (!o.ok)
        line += QStringLiteral("; incompleta: ") + o.error;
    return line;
}

bool DesktopCleaning::start(const Setup& s, QString* error) {
    return launch(s, false, error);
}

bool DesktopCleaning::saveModel(const Setup& s, QString* error) {
    return launch(s, true, error);
}

bool DesktopCleaning::launch(const Setup& s, bool save, QString* error) {
    if (running_.load()) {
        if (error)
            *error = QStringLiteral("ya hay una limpieza en curso");
        return false;
    }
    // Saving needs the folder to exist (the package makes it); only its
    // place is checked then.
    QString refusal = RefuseModel(s.home, s.model);
    if (save && QFileInfo(s.model).isDir())
        refusal.clear();
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        return false;
    }
    // A model folder the station's account cannot write is the package's
    // protected one: only the privileged helper saves there.
    const bool elevate = save && !QFileInfo(s.model).isWritable();
    if (elevate && (!elevation_ || !elevation_->available())) {
        if (error)
            *error = QStringLiteral("la cuenta del puesto no puede escribir la carpeta modelo %1 "
                                    "y no está instalado el ayudante que lo hace como "
                                    "administrador (tarvina-modelo con pkexec)")
                         .arg(s.model);
        return false;
    }
    if (!save && !platform::WriteFileAtomically(
                     s.journal, (s.home + u'\n' + s.model + u'\n').toUtf8(), 0600, error))
        return false;
    if (worker_.joinable())
        worker_.join();
    running_.store(true);
    worker_ = std::thread([this, s, save, elevate] {
        if (!save && s.settleMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(s.settleMs));
        DesktopCleaner cleaner(fs_, s.keep);
        const std::string home = QFile::encodeName(s.home).toStdString();
        const std::string model = QFile::encodeName(s.model).toStdString();
        DesktopCleaner::Result r;
        if (elevate) {
            const platform::ModelSaveReport e = elevation_->save(model);
            r.ok = e.ok;
            r.error = e.error;
            r.removed = e.removed;
            r.restored = e.restored;
            r.bytes = e.bytes;
        } else {
            r = save ? cleaner.saveModel(home, model) : cleaner.clean(home, model);
        }
        Outcome o;
        o.ok = r.ok;
        o.error = QString::fromUtf8(r.error);
        // A path of a hundred nested folders stays readable in one notice.
        if (o.error.size() > kMaxError)
            o.error = o.error.left(kMaxError) + QStringLiteral("...");
        o.removed = r.removed;
        o.restored = r.restored;
        o.bytes = r.bytes;
        for (const std::string& m : r.mountPoints)
            o.mountPoints << QString::fromUtf8(PrintablePath(m));
        // Only a finished cleaning ends the journal: a failed one is tried
        // again at the next start.
        if (o.ok && !save)
            QFile::remove(s.journal);
        QMetaObject::invokeMethod(
            this,
            [this, o, save, log = s.logFile] {
                if (!save)
                    appendLog(log, Summary(o));
                running_.store(false);
                if (save)
                    Q_EMIT modelSaved(o);
                else
                    Q_EMIT finished(o);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void DesktopCleaning::appendLog(const QString& file, const QString& line) {
    if (file.isEmpty())
        return;
    // Bounded: the older half of the story goes aside.
    if (QFileInfo(file).size() > kMaxLog) {
        QFile::remove(file + QStringLiteral(".1"));
        QFile::rename(file, file + QStringLiteral(".1"));
    }
    QFile f(file);
    if (!f.open(QIODevice::Append | QIODevice::Text))
        return;
    const QString when =
        common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), clock_.now());
    f.write((when + QStringLiteral(" Limpieza del escritorio: ") + line + u'\n').toUtf8());
}

} // namespace tarvina::client
