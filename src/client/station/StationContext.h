#pragma once

#include "client/station/ClientSettings.h"
#include "client/station/StationPlatform.h"
#include "common/DateTime.h"
#include "protocol/Port.h"

#include <QString>
#include <atomic>

namespace tarvina::client {

class StationLog;
class StationView;

// A file of the station's folders: a relative name ("Data\\session.dta") is
// found without regard to case, as the names were spelled on the original
// platform; an absolute path stands as it is.
QString StationFile(const QString& folder, const QString& name);

// What the station is given at start.
struct ClientEnvironment {
    QString programFolder; // data, logs and session file live under it
    QString currentDir;    // language files, "noalarm.txt"
    QString exeName;
    quint16 port = protocol::kDefaultPort;
    QString localAddress; // local end of the connection; empty: any
    bool testMode = false;
    QString computerName;
    // The step that failed while the name was read ("NameOfComputer"), for
    // the exception log; empty when the read went well.
    QString computerNameStep;
    QString macText;
    QString versionText;
    // The Windows major version: from 5 on the caption says "[XP]", from 4 on
    // the companion service is watched. Systems other than Windows keep 6.
    int osMajor = 6;
};

// A grant as the server sent it (or a test-mode grant).
struct Grant {
    QString minutes;
    QString user;
    QByteArray password; // scrambled form; empty: none asked
    // The password field was there but is not hexadecimal text: the grant is
    // refused rather than taken as one without a password.
    bool passwordInvalid = false;
};

// What the parts of the station share: the start environment, the platform,
// the settings, the view model and the log. The settings and every flag but
// `closing` belong to the main thread.
struct StationContext {
    StationContext(ClientEnvironment e, StationPlatform p, StationView& v, StationLog& l)
        : env(std::move(e)), platform(p), view(v), log(l) {}

    const ClientEnvironment env;
    StationPlatform platform;
    StationView& view;
    StationLog& log;
    ClientSettings settings = ClientSettings::Defaults();
    std::atomic<bool> closing{false};
    // Until the main window's first show, the clock and the opacity stay put.
    bool firstShowPending = true;

    common::DateTime now() const;
};

} // namespace tarvina::client
