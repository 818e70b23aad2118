#pragma once

#include "server/net/ServerContext.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace tarvina::server {

class StationConnection;

// Bounds on what a station may send after a line. Anything above is refused
// before a byte of it is stored, and the connection is closed.
inline constexpr qint64 kMaxScreenBlock = 64LL * 1024 * 1024;
inline constexpr qint64 kMaxFreeMessageBlock = 64 * 1024;
inline constexpr qint32 kMaxLogLines = 65536;
inline constexpr qint32 kMaxBanners = 1024;
// How long a station may take over one block.
inline constexpr int kScreenBlockTimeoutMs = 120000;
inline constexpr int kSmallBlockTimeoutMs = 30000;

// The life of one connection on its own thread: the greeting, the loop that
// reads one line at a time and runs its handler, and the disconnect.
class StationSession {
public:
    StationSession(ServerContext& ctx, std::shared_ptr<StationConnection> conn);

    // On connect, loop, on disconnect. Returns when the connection ends.
    void run();

    // One received line (without CR LF); reads what follows it when the
    // command has a block or further lines.
    void handleLine(const QByteArray& line);

private:
    void onConnect();
    void onDisconnect();
    TCompItem* boundRecord() const;

    void identify(const QByteArray& payload);
    void screen(const QByteArray& line);
    void freeMessage(const QByteArray& line);
    void configReport();
    void volumeReport(const QByteArray& line);
    void transparencyReport(const QByteArray& line);
    void macReport(const QByteArray& line);
    void logReport();
    // A block refused or cut short: says so and drops the connection.
    void refuseBlock(TCompItem* record, const QString& what, int error);

    ServerContext& ctx_;
    std::shared_ptr<StationConnection> conn_;
};

// The file a station's LogReport is saved to, inside the working folder:
// the display name with its extension replaced by ".log" ("192.168.0.15"
// gives "192.168.0.log"), after dropping folder separators, ".." and control
// characters; a name that would overwrite one of the program's own logs is
// prefixed "cliente_".
QString ClientLogFileName(const QString& displayName);

} // namespace tarvina::server
