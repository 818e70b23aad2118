#pragma once

#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <iostream>

namespace tarvina::test {

// puesto of the build, or a program of the build that runs it (the
// guardian), as a child process with folders of its own: its home, a
// registry that names the cashier's machine, a HOME and XDG folders that keep
// the machine's own desktop out of reach. The test process's display and
// buses are not passed on: it lives on the display it is given, or offscreen.
class Puesto {
public:
    static QString Binary(const QString& program = QStringLiteral("puesto")) {
        return QStringLiteral(TARVINA_TEST_BIN_DIR "/") + program;
    }
    static bool Built(const QString& program = QStringLiteral("puesto")) {
        return QFileInfo(Binary(program)).isExecutable();
    }
    // Killed when still running; what it printed goes to a failed test's
    // output.
    ~Puesto() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
        if (::testing::Test::HasFailure())
            std::cerr << process.program().toStdString() << " printed:\n" << output();
    }

    QString home() const { return dir_.file(QStringLiteral("home")); }
    QString registry() const { return dir_.file(QStringLiteral("reg")); }

    // Started against the cashier's port (1: a server that is named but
    // never answers) with a display's variables (XDisplay::environment();
    // none: offscreen), then `env` over everything.
    bool start(quint16 port, const QProcessEnvironment& display = {},
               const QString& program = QStringLiteral("puesto"), const QStringList& args = {}) {
        const QString user = dir_.file(QStringLiteral("user")),
                      run = dir_.file(QStringLiteral("run"));
        for (const QString& d : {home(), registry(), user, run})
            QDir().mkpath(d);
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile reg(registry() + QStringLiteral("/machine.reg"));
        if (!reg.open(QIODevice::WriteOnly) || reg.write(machineReg) != machineReg.size())
            return false;
        reg.close();
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* k : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                              "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"})
            e.remove(QString::fromLatin1(k));
        const std::pair<const char*, QString> own[] = {
            {"QT_QPA_PLATFORM", QStringLiteral("offscreen")},
            {"HOME", user},
            {"XDG_CONFIG_HOME", user + QStringLiteral("/.config")},
            {"XDG_DATA_HOME", user + QStringLiteral("/.local/share")},
            {"XDG_RUNTIME_DIR", run},
            {"TARVINA_HOME", home()},
            {"TARVINA_REGISTRY", registry()},
            {"TARVINA_PORT", QString::number(port)}};
        for (const auto& [k, v] : own)
            e.insert(QString::fromLatin1(k), v);
        for (const QProcessEnvironment& over : {display, env})
            for (const QString& k : over.keys())
                e.insert(k, over.value(k));
        process.setProcessEnvironment(e);
        process.setWorkingDirectory(home());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(Binary(program), args);
        return process.waitForStarted(10000);
    }
    // SIGTERM, as the system ends it: true when it then ended by itself
    // within ms, false when it had to be killed.
    bool stop(int ms = 20000) {
        if (process.state() == QProcess::NotRunning)
            return true;
        process.terminate();
        if (process.waitForFinished(ms))
            return true;
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    // What it printed (both channels) since the last call.
    std::string output() { return process.readAll().toStdString(); }

    // Set before start().
    QByteArray machineReg = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velt\\Tarvina]\n"
                            "\"Host\"=\"localhost\"\n";
    QProcessEnvironment env;
    QProcess process;

private:
    TempDir dir_;
};

} // namespace tarvina::test
