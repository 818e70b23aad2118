#pragma once

#include "platform/Audio.h"

#include <QString>
#include <atomic>
#include <memory>
#include <thread>

namespace tarvina::platform {

// Wave sounds through ALSA's default device and the volume of its "Master"
// mixer control. Without a sound card every call fails quietly.
class AlsaAudio final : public Audio {
public:
    AlsaAudio();
    ~AlsaAudio() override;
    bool playAsync(const QString& wavPath) override;
    std::optional<Volume> volume() override;
    bool setVolume(Volume v) override;

private:
    std::unique_ptr<std::thread> player_;
    std::shared_ptr<std::atomic<bool>> stop_;
};

} // namespace tarvina::platform
