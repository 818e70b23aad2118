#pragma once

#include "platform/WindowSystem.h"

#include <QString>
#include <QtGlobal>

namespace tarvina::platform {
class Audio;
class Clock;
class Desktop;
class Drives;
class Network;
class Power;
class Registry;
class ServiceControl;
class Shell;
class SystemTimeSetter;
} // namespace tarvina::platform

namespace tarvina::client {

class MachineControl;

// The client state digit reported to the server and kept in the session file.
enum class ClientState : quint8 { Offline = 0, Locked = 1, InUse = 2, InService = 3, Waiting = 4 };
QString StateWord(ClientState s);

// The station's own windows, as the enforcement of the lock needs to know them.
enum class OwnWindow {
    Main,
    Lock,
    Clock,
    Welcome,
    Tasks,
    Notice,
    Progress,
    Password,
    App,
    SendMsg,
    ReqTime,
    Config,
    Count
};

class OwnWindows {
public:
    virtual ~OwnWindows() = default;
    virtual platform::WindowId id(OwnWindow w) const = 0;
    virtual bool isShowing(OwnWindow w) const = 0;
};

// The welcome dialog of a grant. exec() shows it modally (running a nested
// event loop in the real program) and returns true for OK with the typed
// password; close() ends a running exec() as cancelled.
class WelcomeDialog {
public:
    struct Setup {
        QString caption;
        QString timeText;
        QString user;
        bool askPassword = false;
    };
    virtual ~WelcomeDialog() = default;
    virtual bool exec(const Setup& setup, QString* typedPassword) = 0;
    virtual bool isShowing() const = 0;
    virtual void close() = 0;
};

// The exit password dialog: true for OK with the typed text.
class PasswordDialog {
public:
    virtual ~PasswordDialog() = default;
    virtual bool exec(QString* typed) = 0;
    // The caption of the next ask only (a refusal's text); later asks take
    // the language's caption again.
    virtual void setNextCaption(const QString& caption) = 0;
};

// The notice window (shown without being modal) and the last-resort error box.
class NoticeView {
public:
    virtual ~NoticeView() = default;
    virtual void showNotice(const QString& text) = 0;
    virtual void errorBox(const QString& caption, const QString& text) = 0;
};

// Everything outside the station's logic that it talks to: the operating
// system's services, machine control and the windows. All of them exist for
// the whole life of the station (a program without sound gets a silent
// Audio, not a missing one); tests pass fakes.
struct StationPlatform {
    platform::Clock& clock;
    platform::Registry& registry;
    platform::WindowSystem& windows;
    platform::Audio& audio;
    platform::ServiceControl& service;
    platform::Shell& shell;
    platform::Drives& drives;
    platform::SystemTimeSetter& timeSetter;
    MachineControl& control;
    OwnWindows& own;
    WelcomeDialog& welcome;
    PasswordDialog& password;
    NoticeView& notice;
    platform::Power& power;
    platform::Desktop& desktop;
    platform::Network& network;
};

} // namespace tarvina::client
