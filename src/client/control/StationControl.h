#pragma once

#include "client/control/Banners.h"
#include "client/control/ReceivedFiles.h"
#include "client/control/RemoteConfig.h"
#include "client/control/TaskList.h"
#include "client/station/MachineControl.h"
#include "platform/DisplayModes.h"

#include <QObject>

namespace tarvina::platform {
class Autostart;
class Desktop;
class DisplayModes;
class Processes;
class Registry;
class ScreenGrabber;
} // namespace tarvina::platform

namespace tarvina::client {

class OwnWindows;

// The station's machine control: the task list and its clean, the picture
// of the screen, the remote configuration and the banner list. Lines from
// the receive thread are carried out on the main thread, in arrival order,
// where the settings and the view live.
class StationControl final : public QObject, public MachineControl {
    Q_OBJECT
public:
    struct Parts {
        platform::Registry& registry;
        platform::WindowSystem& windows;
        platform::Processes& processes;
        platform::Desktop& desktop;
        platform::Autostart& autostart;
        platform::ScreenGrabber& grabber;
        platform::DisplayModes& modes;
        OwnWindows& own;
        QString programFolder; // where received files land
        QString exeName;       // the station's program, never replaced
    };
    explicit StationControl(Parts parts, QObject* parent = nullptr);

    void attach(ControlHost* host) override;
    void onCommand(int code, const QByteArray& payload, const QByteArray& block,
                   const SendFn& send) override;
    void onTransferFailed(int code, const QByteArray& payload) override;
    void onPosted(int code, const SendFn& send) override;
    QList<QByteArray> taskCaptions() override;
    QList<Banner> banners() override { return resolved_; }
    int defaultBannerDelay() override { return banners_.defaultSeconds(); }
    void loadBannerList() override;
    void recordTasks() override { tasks_.recordBaseline(); }
    void applyWallpaper() override;

    TaskList& tasks() { return tasks_; }

private:
    void command(int code, const QByteArray& payload, const std::optional<QByteArray>& block,
                 const SendFn& send);
    void sendTaskList(const SendFn& send);
    void sendScreen();
    void sendConfigReport();
    void cleanTasks();
    void fail(const QString& step, const QString& why);
    void refreshBanners();

    Parts p_;
    ControlHost* host_ = nullptr;
    TaskList tasks_;
    ReceivedFiles files_;
    Banners banners_;
    RemoteConfig remote_;
    QList<Banner> resolved_;
    // The screen's mode when the station started, put back after a clean.
    std::optional<platform::ScreenMode> startMode_;
};

} // namespace tarvina::client
