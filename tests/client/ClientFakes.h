#pragma once

#include "client/StationCore.h"
#include "client/station/MachineControl.h"
#include "platform/fake/FakeAudio.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeDrives.h"
#include "platform/fake/FakePower.h"
#include "platform/fake/FakeServiceControl.h"
#include "platform/fake/FakeShell.h"
#include "platform/fake/FakeSystemTime.h"
#include "platform/fake/FakeWindowSystem.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <functional>
#include <memory>

namespace tarvina::client::test {

// The station's own windows get the handles 101..112.
class FakeOwnWindows final : public OwnWindows {
public:
    bool showing[static_cast<int>(OwnWindow::Count)] = {};
    platform::WindowId id(OwnWindow w) const override { return 101 + static_cast<int>(w); }
    bool isShowing(OwnWindow w) const override { return showing[static_cast<int>(w)]; }
};

// Answers exec() from a script; each step may act while the dialog shows.
class ScriptedWelcome final : public WelcomeDialog {
public:
    struct Answer {
        bool ok = true;
        QString password;
        std::function<void()> whileShowing; // runs inside exec
    };
    QList<Answer> answers;
    QList<Setup> shown;
    bool showingNow = false;
    bool closedFromOutside = false;

    bool exec(const Setup& setup, QString* typed) override {
        shown << setup;
        if (answers.isEmpty())
            return false;
        Answer a = answers.takeFirst();
        showingNow = true;
        closedFromOutside = false;
        if (a.whileShowing)
            a.whileShowing();
        showingNow = false;
        if (closedFromOutside)
            return false;
        *typed = a.password;
        return a.ok;
    }
    bool isShowing() const override { return showingNow; }
    void close() override { closedFromOutside = true; }
};

class ScriptedPassword final : public PasswordDialog {
public:
    QList<std::optional<QString>> answers;
    QString nextCaption;
    void setNextCaption(const QString& caption) override { nextCaption = caption; }
    bool exec(QString* typed) override {
        if (answers.isEmpty())
            return false;
        const auto a = answers.takeFirst();
        if (!a)
            return false;
        *typed = *a;
        return true;
    }
};

class RecordingNotice final : public NoticeView {
public:
    QStringList notices;
    QStringList errors;
    void showNotice(const QString& text) override { notices << text; }
    void errorBox(const QString&, const QString& text) override { errors << text; }
};

// Every platform piece of a station, faked, with the aggregate the station
// takes. Machine control is the silent one unless a test passes its own.
struct FakeStationPlatform {
    explicit FakeStationPlatform(platform::Clock* sharedClock = nullptr)
        : clockRef(sharedClock ? *sharedClock : clock) {}
    platform::FakeClock clock{common::DateTime::FromParts(2024, 3, 4, 10, 0, 0)};
    platform::Clock& clockRef;
    platform::MemoryRegistry registry;
    platform::FakeWindowSystem windows;
    platform::FakeAudio audio;
    platform::FakeServiceControl service;
    platform::FakeShell shell;
    platform::FakeDrives drives;
    platform::FakeSystemTimeSetter timeSetter;
    NullMachineControl nullControl;
    FakeOwnWindows own;
    ScriptedWelcome welcome;
    ScriptedPassword password;
    RecordingNotice notice;
    platform::FakePower power;
    platform::FakeDesktop desktop;
    // The stations of these tests that connect do so to a server on loopback.
    platform::TcpNetwork network;

    StationPlatform platform(MachineControl* control = nullptr) {
        return {clockRef, registry,   windows,
                audio,    service,    shell,
                drives,   timeSetter, control ? *control : nullControl,
                own,      welcome,    password,
                notice,   power,      desktop,
                network};
    }
};

// One station with every platform piece faked and a fresh program folder.
struct Station : FakeStationPlatform {
    using FakeStationPlatform::FakeStationPlatform;
    tarvina::test::TempDir home;
    std::unique_ptr<StationCore> core;

    ClientEnvironment env() const {
        ClientEnvironment e;
        e.programFolder = home.path();
        e.currentDir = home.path();
        e.exeName = home.file(QStringLiteral("puesto"));
        e.port = 1;
        e.computerName = QStringLiteral("PC1");
        e.macText = QStringLiteral("00-0C-29-AB-CD-EF");
        e.versionText = QStringLiteral("V 3.0 (B 0.0)");
        return e;
    }

    void make(ClientEnvironment e, MachineControl* control = nullptr) {
        core = std::make_unique<StationCore>(std::move(e), platform(control));
    }

    // Created and shown as at start, without the first connect thread.
    void start(bool show = true) {
        if (!core)
            make(env());
        core->Create();
        if (show) {
            core->setAutoConnect(false);
            core->Show();
        }
    }

    void writeFile(const QString& name, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(home.file(name)).absolutePath());
        QFile f(home.file(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }

    // Runs the calls the dispatcher posted.
    static void drain() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    void tick(int seconds = 1) {
        for (int i = 0; i < seconds; ++i) {
            clock.advanceSeconds(1);
            core->RelojVisualTick();
        }
    }
};

} // namespace tarvina::client::test
