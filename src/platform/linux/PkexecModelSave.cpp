#include "platform/linux/PkexecModelSave.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvina::platform {

namespace {

// Long enough for a technician to type a password, short enough that a
// forgotten password prompt does not keep the station's close waiting.
constexpr int kWaitMs = 5 * 60 * 1000;
constexpr qint64 kMaxOutput = 64 * 1024;

std::string LastLine(const std::string& text) {
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    const auto nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

} // namespace

PkexecModelSave::PkexecModelSave(std::string helper, std::string pkexec)
    : helper_(std::move(helper)), pkexec_(std::move(pkexec)) {}

bool PkexecModelSave::available() const {
    return ::access(helper_.c_str(), X_OK) == 0 && ::access(pkexec_.c_str(), X_OK) == 0;
}

ModelSaveReport PkexecModelSave::Interpret(int exitCode, const std::string& out,
                                           const std::string& err) {
    ModelSaveReport r;
    if (exitCode == 0) {
        unsigned long long removed = 0, restored = 0, bytes = 0;
        if (std::sscanf(LastLine(out).c_str(), "removidos %llu restaurados %llu bytes %llu",
                        &removed, &restored, &bytes) == 3) {
            r.ok = true;
            r.removed = removed;
            r.restored = restored;
            r.bytes = bytes;
            return r;
        }
        r.error = "el ayudante terminó sin decir qué hizo";
        return r;
    }
    // pkexec's own codes: the password was refused or the prompt closed
    // (126), or no agent could ask for it (127).
    if (exitCode == 126)
        r.error = "la autorización del administrador fue rechazada o cancelada";
    else if (exitCode == 127)
        r.error = "no se pudo pedir la autorización del administrador (¿hay un agente de polkit "
                  "en la sesión?)";
    else
        r.error = LastLine(err).empty()
                      ? "el ayudante falló (código " + std::to_string(exitCode) + ")"
                      : LastLine(err);
    return r;
}

ModelSaveReport PkexecModelSave::save(const std::string& model) {
    if (!available()) {
        ModelSaveReport r;
        r.error = "falta " + (::access(pkexec_.c_str(), X_OK) == 0 ? helper_ : pkexec_);
        return r;
    }
    QProcess p;
    p.start(QString::fromStdString(pkexec_),
            {QString::fromStdString(helper_), QStringLiteral("--model"),
             QString::fromLocal8Bit(model.c_str())});
    if (!p.waitForStarted()) {
        ModelSaveReport r;
        r.error = "no se pudo iniciar " + pkexec_;
        return r;
    }
    if (!p.waitForFinished(kWaitMs)) {
        p.kill();
        p.waitForFinished();
        ModelSaveReport r;
        r.error = "la autorización no llegó a tiempo";
        return r;
    }
    const std::string out = p.readAllStandardOutput().left(kMaxOutput).toStdString();
    const std::string err = p.readAllStandardError().left(kMaxOutput).toStdString();
    return Interpret(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : 128, out, err);
}

unsigned ModelEntryMode(unsigned mode, bool folder) {
    unsigned m = (mode & 07777) | S_IRGRP | (folder ? S_IXGRP : 0u);
    return m & ~unsigned(S_IWGRP | S_IWOTH | S_ISUID | S_ISGID);
}

} // namespace tarvina::platform
