#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace tarvina::platform {

// Wave sounds and the wave-output volume.
class Audio {
public:
    virtual ~Audio() = default;
    // Starts playing a WAV file and returns at once; false when it cannot be
    // played (no sound card, no file, not a WAV the device takes).
    virtual bool playAsync(const QString& wavPath) = 0;

    struct Volume {
        quint16 left = 0;
        quint16 right = 0;
    };
    // nullopt when the output has no volume control.
    virtual std::optional<Volume> volume() = 0;
    // False when the output has no volume control.
    virtual bool setVolume(Volume v) = 0;
};

// A machine without sound output: nothing plays, there is no volume.
class SilentAudio final : public Audio {
public:
    bool playAsync(const QString&) override { return false; }
    std::optional<Volume> volume() override { return std::nullopt; }
    bool setVolume(Volume) override { return false; }
};

} // namespace tarvina::platform
