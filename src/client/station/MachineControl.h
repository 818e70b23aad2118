#pragma once

#include "platform/WindowSystem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace tarvina::client {

class StationLink;
struct StationContext;

// What machine control reaches of the running station: its settings, view
// and log (main thread), its connection, and the backup of the start and
// exit pictures that the configuration dialog also uses.
struct ControlHost {
    StationContext& ctx;
    StationLink& link;
    std::function<bool()> backupLogos;
};

// The machine-control side of the station: desktop restrictions, tasks,
// screen capture and remote configuration. The dispatcher hands it the
// server's lines of those kinds; the session logic asks it for the task list,
// the banner list and the shutdown actions.
class MachineControl {
public:
    virtual ~MachineControl() = default;

    // Sends one complete line (without CR LF) to the server; false on failure
    // (the caller has then already dropped the connection).
    using SendFn = std::function<bool(const QByteArray& line)>;

    // On the receive thread, inside the dispatch of the line: task list (09),
    // close task (10), and the remote configuration items 22 to 32. For the
    // items that carry a file the block has already been read off the stream.
    virtual void onCommand(int code, const QByteArray& payload, const QByteArray& block,
                           const SendFn& send) = 0;
    // On the receive thread: the block of a file item (22, 23, 24) could not
    // be read off the stream.
    virtual void onTransferFailed(int code, const QByteArray& payload) {
        Q_UNUSED(code);
        Q_UNUSED(payload);
    }
    // On the main thread, for the work the dispatcher posts: screen capture
    // (12), clean tasks (15), configuration report (21).
    virtual void onPosted(int code, const SendFn& send) = 0;

    // The station that owns this control from now on (nullptr: none, at its
    // end). Main thread.
    virtual void attach(ControlHost* host) = 0;

    // Captions of the running tasks (for R45).
    virtual QList<QByteArray> taskCaptions() = 0;

    struct Banner {
        QString file;
        int delaySeconds = 0;
    };
    virtual QList<Banner> banners() = 0;
    virtual int defaultBannerDelay() = 0;
    // LoadBannerList: the list read again from where it is kept.
    virtual void loadBannerList() = 0;

    // Records the running tasks in the settings once after start.
    virtual void recordTasks() = 0;
    // Re-applies the enforced wallpaper (at every lock).
    virtual void applyWallpaper() = 0;
};

// Machine control for tests of the session logic: answers nothing, changes
// nothing.
class NullMachineControl final : public MachineControl {
public:
    void onCommand(int, const QByteArray&, const QByteArray&, const SendFn&) override {}
    void onPosted(int, const SendFn&) override {}
    void attach(ControlHost*) override {}
    QList<QByteArray> taskCaptions() override { return {}; }
    QList<Banner> banners() override { return {}; }
    int defaultBannerDelay() override { return 0; }
    void loadBannerList() override {}
    void recordTasks() override {}
    void applyWallpaper() override {}
};

} // namespace tarvina::client
