#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace tarvina::server {

struct TCompItem;

// One effect on the user interface, posted by any thread and applied on the
// UI thread in posting order.
struct UiEvent {
    enum class Kind {
        Console,         // record (may be null), text
        StatusText,      // text for the first status panel
        ConnectionCount, // a = the count
        RowAdded,        // record
        RowUpdate,       // record
        StateChanged,    // record, a = new state
        NameChanged,     // record
        CodeTyped,       // record
        TaskList,        // record, data = the whole payload
        RemoteConfig,    // record
        Volume,          // record, a = left %, b = right %
        Transparency,    // record, a = alpha
        PinAssigned,     // record, text = the code
        Screenshot,      // record
    };
    UiEvent(Kind k, TCompItem* r = nullptr, QString t = {}, QByteArray d = {}, int va = 0,
            int vb = 0)
        : kind(k), record(r), text(std::move(t)), data(std::move(d)), a(va), b(vb) {}

    Kind kind;
    TCompItem* record = nullptr;
    QString text;
    QByteArray data;
    int a = 0;
    int b = 0;
};

// The hand-off from connection threads to the UI thread. post() never waits
// for the UI thread: it appends under a private mutex and, when the queue was
// empty, calls the wake-up (which must only schedule a drain, for instance a
// queued QMetaObject::invokeMethod). take() hands the UI thread the oldest
// events posted so far, at most maxCount of them, so that a pass can stop
// between batches and let the event loop (and the listener) run.
class HandOff {
public:
    using Wake = std::function<void()>;

    void setWake(Wake wake);
    void post(UiEvent event);
    std::deque<UiEvent> take(size_t maxCount = SIZE_MAX);
    bool empty() const;

private:
    mutable std::mutex mutex_;
    std::deque<UiEvent> events_;
    Wake wake_;
};

} // namespace tarvina::server
