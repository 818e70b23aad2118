#pragma once

#include "platform/Audio.h"

#include <QStringList>

namespace tarvina::platform {

class FakeAudio final : public Audio {
public:
    QStringList played;
    bool canPlay = true;
    bool hasVolume = true;
    Volume current{0x8000, 0x8000};

    bool playAsync(const QString& path) override {
        if (!canPlay)
            return false;
        played << path;
        return true;
    }
    std::optional<Volume> volume() override {
        if (!hasVolume)
            return std::nullopt;
        return current;
    }
    bool setVolume(Volume v) override {
        if (!hasVolume)
            return false;
        current = v;
        return true;
    }
};

} // namespace tarvina::platform
