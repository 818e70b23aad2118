#pragma once

#include <QCoreApplication>
#include <QString>

namespace tarvina::platform {
class Clock;
class Mail;
class MachineInfo;
class Network;
class Pinger;
class Printing;
class Registry;
class Shell;
} // namespace tarvina::platform

namespace tarvina::xbase {
class IFileSystem;
}

namespace tarvina::server {

// The platform back ends the program's shell works through.
struct ShellPlatform {
    platform::Clock& clock;
    platform::Registry& registry;
    platform::MachineInfo& machine;
    platform::Printing& printing;
    platform::Pinger& pinger;
    platform::Shell& shell;
    platform::Mail& mail;
    // Where the station listener listens.
    platform::Network& network;
    // The code tables' disk.
    xbase::IFileSystem& files;
};

// Where the shell finds and keeps its files.
struct ShellFolders {
    QString program; // data/, report/, pin/, the console archive, the stamp
    QString work;    // bitacora.log, Excepc.log, citas.txt, stations' logs
    QString help;    // the HTML help
};

// The program's name as its files are named after it.
inline QString ShellProgramName() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("taquilla") : name;
}

} // namespace tarvina::server
