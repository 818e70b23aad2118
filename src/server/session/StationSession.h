#pragma once

#include "server/computers/ServerContext.h"
#include "server/remote/ClientLog.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace tarvina::server {

class StationConnection;

// Bounds on what a station may send after a line. Anything above is refused
// before a byte of it is stored, and the connection is closed.
inline constexpr qint64 kMaxScreenBlock = 64LL * 1024 * 1024;
inline constexpr qint64 kMaxFreeMessageBlock = 64 * 1024;
// A LogReport may announce this many lines; at most ClientLogWriter::kCapBytes
// of them are kept.
inline constexpr qint32 kMaxLogLines = 65536;
// A configuration report keeps at most this many banners; further entries
// are read and dropped.
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
    // The banner part of a configuration report.
    struct BannerOutcome {
        QString error;      // empty when the list came whole
        bool inStep = true; // nothing of an entry is left half read
        bool closed = false;
        bool poolRefused = false;
    };
    BannerOutcome readBanners(QList<RemoteBanner>& banners,
                              const std::function<bool(const QByteArray&)>& charge);
    void volumeReport(const QByteArray& line);
    void transparencyReport(const QByteArray& line);
    void macReport(const QByteArray& line);
    void logReport();
    // A block refused or cut short: says so and drops the connection.
    // poolRefused: the pool of memory in flight had no room for it.
    void refuseBlock(TCompItem* record, const QString& what, int error, bool poolRefused = false);
    // The station as the console's summary lines name it.
    QString consoleName() const;

    ServerContext& ctx_;
    std::shared_ptr<StationConnection> conn_;
};

} // namespace tarvina::server
