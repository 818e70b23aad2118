#pragma once

#include "client/config/ConfigModel.h"

#include <functional>

namespace tarvina::client {
struct StationContext;
class LockEnforcer;
class MachineControl;
class Session;
class StationLink;
} // namespace tarvina::client

namespace tarvina::client::config {

// The configuration dialog as the station shows it: modally, until closed.
class ConfigDialogView {
public:
    virtual ~ConfigDialogView() = default;
    virtual void exec() = 0;
};

// "Configuración": the service password in front of the dialog, and the lock
// screen out of its way while it is open.
class ConfigGate {
public:
    enum class Result { Cancelled, Refused, Shown };

    ConfigGate(StationContext& ctx, LockEnforcer& lock, Session& session)
        : ctx_(ctx), lock_(lock), session_(session) {}

    Result MnuConfigClick(ConfigDialogView& dialog);

private:
    StationContext& ctx_;
    LockEnforcer& lock_;
    Session& session_;
};

// What the desktop does for the dialog: the start and exit pictures' backup,
// the task bar and the hidden drives. Empty where the desktop offers none:
// the backup then fails (protection stays off) and the rest is only stored.
struct DesktopHooks {
    std::function<bool(bool force)> backupLogos;
    std::function<void(bool hidden)> setTaskBarHidden;
    // False with the reason when the drives could not be hidden.
    std::function<bool(quint32 mask, QString* error)> setHiddenDrives;
};

// The running station's side of a confirmed dialog.
class StationConfigTarget final : public ConfigTarget {
public:
    StationConfigTarget(StationContext& ctx, StationLink& link, LockEnforcer& lock,
                        Session& session, MachineControl& control, DesktopHooks hooks = {})
        : ctx_(ctx), link_(link), lock_(lock), session_(session), control_(control),
          hooks_(std::move(hooks)) {}

    void setDesktopHooks(DesktopHooks hooks) { hooks_ = std::move(hooks); }

    void applySettings(const ClientSettings& next, bool hostChanged) override;
    bool backupLogos(bool force) override;
    void setTaskBarHidden(bool hidden) override;
    void setHiddenDrives(quint32 mask) override;
    void showLockPicture(const QString& path) override;
    void applyWallpaper() override;
    void reloadRotation() override;

private:
    StationContext& ctx_;
    StationLink& link_;
    LockEnforcer& lock_;
    Session& session_;
    MachineControl& control_;
    DesktopHooks hooks_;
};

} // namespace tarvina::client::config
