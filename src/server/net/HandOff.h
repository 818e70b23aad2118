#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace tarvina::server {

struct TCompItem;

// What a state change left on its record, copied under ComputersLock as the
// change is made: whoever serves the change later sees that session, not
// whatever the station reported since.
struct StateSeen {
    int state = 0;
    double start = 0; // days since 1899-12-30
    double end = 0;
    QString pin;
    QString user;
    quint64 stamp = 0; // the record's stateStamp of this change
};

// One effect on the user interface, posted by any thread and applied on the
// UI thread in posting order.
struct UiEvent {
    enum class Kind {
        Console,         // record (may be null), text
        StatusText,      // text for the first status panel
        ConnectionCount, // a = the count
        RowAdded,        // record
        RowUpdate,       // record
        StateChanged,    // record, a = new state, seen
        NameChanged,     // record
        CodeTyped,       // record
        TaskList,        // record, data = the whole payload
        RemoteConfig,    // record
        Volume,          // record, a = left %, b = right %
        Transparency,    // record, a = alpha
        PinAssigned,     // record, text = the code
        Screenshot,      // record
        AccountQuery,    // record
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
    StateSeen seen;
    // The connection that posted it (0: the UI thread or none); set by post().
    quint64 source = 0;
    // Kept alive as long as the event (the memory its data was charged to).
    std::shared_ptr<void> keep;
};

// The hand-off from connection threads to the UI thread. post() never waits
// for the UI thread: it appends under a private mutex and, when the queue was
// empty, calls the wake-up (which must only schedule a drain, for instance a
// queued QMetaObject::invokeMethod). take() hands the UI thread the oldest
// events posted so far, at most maxCount of them, so that a pass can stop
// between batches and let the event loop (and the listener) run.
//
// Bounds. Each connection's events are counted until the UI thread takes
// them; a connection thread asks waitForRoom() before it reads its next
// line, so a station that sends faster than the UI thread can follow is held
// back by TCP instead of filling memory. The queue then never holds more
// than kMaxPendingEvents events or kMaxPendingBytes bytes of one connection,
// and once all of them together hold kMaxTotalBytes, a connection with more
// than kFairShare events waiting waits too (a quiet station still gets its
// few through).
class HandOff {
public:
    using Wake = std::function<void()>;

    static constexpr int kMaxPendingEvents = 256;
    static constexpr qint64 kMaxPendingBytes = 256 * 1024;
    static constexpr qint64 kMaxTotalBytes = 64LL * 1024 * 1024;
    static constexpr int kFairShare = 16;

    // Marks what this thread posts as the given connection's for a scope.
    class SourceScope {
    public:
        explicit SourceScope(quint64 source);
        ~SourceScope();
        SourceScope(const SourceScope&) = delete;
        SourceScope& operator=(const SourceScope&) = delete;

    private:
        quint64 previous_;
    };

    void setWake(Wake wake);
    void post(UiEvent event);
    std::deque<UiEvent> take(size_t maxCount = SIZE_MAX);
    bool empty() const;
    size_t size() const;

    // Waits at most timeoutMs until the source may post more; true when it
    // may.
    bool waitForRoom(quint64 source, int timeoutMs);
    // Connection threads waiting in waitForRoom now.
    int waiting() const;

    // What an event counts for against the bounds.
    static qint64 Cost(const UiEvent& event);

private:
    struct Pending {
        int events = 0;
        qint64 bytes = 0;
    };
    bool hasRoom(quint64 source) const;

    mutable std::mutex mutex_;
    std::condition_variable taken_;
    std::deque<UiEvent> events_;
    std::map<quint64, Pending> pending_;
    qint64 totalBytes_ = 0;
    int waiting_ = 0;
    Wake wake_;
};

} // namespace tarvina::server
