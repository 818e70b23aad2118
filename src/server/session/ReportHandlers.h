#pragma once

#include "server/computers/ServerContext.h"
#include "server/remote/ClientLog.h"
#include "server/session/StationReports.h"

#include <QList>
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

// The server's handlers of one connection's reports, on that connection's
// thread. Each reads what follows its line on the stream, if anything, and
// changes the bound record under ComputersLock; the effects on the user
// interface go through the hand-off. Each catches and reports its own
// failures.
class ReportHandlers final : public StationReports {
public:
    ReportHandlers(ServerContext& ctx, std::shared_ptr<StationConnection> conn);

    // The record the connection is bound to, if any (takes ComputersLock).
    TCompItem* boundRecord() const;

    void onLine(const QString& line) override;
    void onIdentify(const report::Identify& r) override;
    void onStatusReport(const report::StatusReport& r) override;
    void onSessionStarted(const report::SessionStarted& r) override;
    void onTimeRequest(const report::TimeRequest& r) override;
    void onTimeAdded(const report::TimeAdded& r) override;
    void onTaskList(const report::TaskList& r) override;
    void onScreen(const report::Screen& r) override;
    void onClientMessage(const report::ClientMessage& r) override;
    void onFreeMessage(const report::FreeMessage& r) override;
    void onConfigReport(const report::ConfigReport& r) override;
    void onCdList(const report::CdList& r) override;
    void onVolumeReport(const report::VolumeReport& r) override;
    void onPinEntered(const report::PinEntered& r) override;
    void onCurrentPin(const report::CurrentPin& r) override;
    void onTransparencyReport(const report::TransparencyReport& r) override;
    void onTaskListTagged(const report::TaskListTagged& r) override;
    void onMacReport(const report::MacReport& r) override;
    void onPinAssigned(const report::PinAssigned& r) override;
    void onLogReport(const report::LogReport& r) override;
    void onAccountQuery(const report::AccountQuery& r) override;
    void onUnknown(const QString& text) override;

private:
    // Runs `apply` with the bound record under ComputersLock; nothing when the
    // connection is not bound. Returns the record it ran on, or nullptr.
    template <class Apply> TCompItem* withRecord(Apply&& apply);

    // The banner part of a configuration report.
    struct BannerOutcome {
        QString error;      // empty when the list came whole
        bool inStep = true; // nothing of an entry is left half read
        bool closed = false;
        bool poolRefused = false;
    };
    BannerOutcome readBanners(QList<RemoteBanner>& banners,
                              const std::function<bool(const QByteArray&)>& charge);
    // A block refused or cut short: says so and drops the connection.
    // poolRefused: the pool of memory in flight had no room for it.
    void refuseBlock(TCompItem* record, const QString& what, int error, bool poolRefused = false);

    ServerContext& ctx_;
    std::shared_ptr<StationConnection> conn_;
};

} // namespace tarvina::server
