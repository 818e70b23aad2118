#include "server/remote/ConfigOutbox.h"

#include "protocol/Codes.h"
#include "server/remote/RemoteSenders.h"

namespace tarvina::server {

ConfigOutbox::~ConfigOutbox() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void ConfigOutbox::send(TCompItem* record, const QList<ConfigCommand>& commands) {
    if (record == nullptr || commands.isEmpty())
        return;
    {
        std::lock_guard lock(mutex_);
        for (const ConfigCommand& c : commands)
            queue_.emplace_back(record, c);
        if (!worker_.joinable())
            worker_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
}

void ConfigOutbox::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void ConfigOutbox::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) {
            if (stop_)
                return;
            continue;
        }
        const auto [record, command] = queue_.front();
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        try {
            Execute(ctx_, record, command);
        } catch (...) {
            ctx_.console(record, QStringLiteral("Falla enviando comando de configuracion remota"));
        }
        lock.lock();
        busy_ = false;
        if (queue_.empty())
            idle_.notify_all();
    }
}

SendResult ConfigOutbox::Execute(ServerContext& ctx, TCompItem* record, const ConfigCommand& c) {
    using K = ConfigCommand::Kind;
    switch (c.kind) {
    case K::File:
        return SendConfigFile(ctx, record, c.code, c.path);
    case K::Style:
        return SetWallpaperStyle(ctx, record, c.value);
    case K::Flag:
        return SetConfigFlag(ctx, record, c.code, c.on);
    case K::Disks:
        return SetDiskState(ctx, record, c.mask);
    case K::Banner:
        return SendBanner(ctx, record, c.position, c.path);
    case K::Delay:
        return SetBannerDelay(ctx, record, c.position, c.value);
    case K::Delete:
        return DeleteBanner(ctx, record, c.position);
    case K::Transparency:
        return SetTransparency(ctx, record, c.value);
    case K::Query:
        return ConfigQuery(ctx, record);
    }
    return SendResult::NotConnected;
}

} // namespace tarvina::server
