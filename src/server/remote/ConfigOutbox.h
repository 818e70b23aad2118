#pragma once

#include "server/computers/Senders.h"
#include "server/remote/RemoteConfigForm.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace tarvina::server {

// Sends what the configuration window asks for, in order, on a thread of
// its own: files of several megabytes go to a station without holding the
// cashier's window. Failures are said on the console by the senders.
class ConfigOutbox {
public:
    explicit ConfigOutbox(ServerContext& ctx) : ctx_(ctx) {}
    // Sends what is queued, then ends its thread.
    ~ConfigOutbox();
    ConfigOutbox(const ConfigOutbox&) = delete;
    ConfigOutbox& operator=(const ConfigOutbox&) = delete;

    void send(TCompItem* record, const QList<ConfigCommand>& commands);
    // Until everything queued so far has been sent (tests, the close).
    void waitIdle();

    // One command through its sender, on the calling thread.
    static SendResult Execute(ServerContext& ctx, TCompItem* record, const ConfigCommand& c);

private:
    void run();

    ServerContext& ctx_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::pair<TCompItem*, ConfigCommand>> queue_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread worker_;
};

} // namespace tarvina::server
