#pragma once

#include "server/central/PgLink.h"

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvina::platform {
class Clock;
}

namespace tarvina::server::central {

class Outbox;

// Where the copy stands, and the status bar's text for it.
struct CopyStatus {
    enum class State { UpToDate, Pending, Offline, Stopped } state = State::UpToDate;
    std::size_t pending = 0;
    // Why the copy is offline or stopped, in the cashier's words.
    QString reason;
    // "Central: al día", "Central: N pendientes", "Central: sin conexión",
    // or the stop with its reason.
    QString text() const;
    bool operator==(const CopyStatus& o) const {
        return state == o.state && pending == o.pending && reason == o.reason;
    }
};

// Copies the outbox to the central database on a thread of its own: rows in
// batches, oldest first, each batch one transaction, acknowledged in the
// outbox only after the database committed it. A connection that fails is
// tried again after 1 s, then twice as long each time up to 5 minutes, on
// the injected clock. A row the database refuses stops the copy (it is
// never skipped) until the program starts it again.
class CentralCopier {
public:
    struct Config {
        QString branch;
        QString conninfo;
        QByteArray password;
        int connectTimeoutMs = 10000;
        int statementTimeoutMs = 60000;
        std::size_t batch = 2000;
    };
    struct Hooks {
        // Called on the copier's thread whenever the status changes.
        std::function<void(const CopyStatus&)> status;
        // Lines for the operator's console, on the copier's thread.
        std::function<void(const QString&)> console;
    };

    static constexpr qint64 kFirstRetryMs = 1000;
    static constexpr qint64 kLastRetryMs = 5 * 60 * 1000;
    // The wait before the attempt after `failures` failed ones.
    static qint64 RetryDelayMs(int failures);

    CentralCopier(Outbox& box, platform::Clock& clock, Config config, Hooks hooks = {});
    ~CentralCopier();
    CentralCopier(const CentralCopier&) = delete;
    CentralCopier& operator=(const CentralCopier&) = delete;

    void start();
    // Joins the thread; the connection closes. Rows not copied stay in the
    // outbox for the next start.
    void stop();
    // New rows, or the clock moved: look again now.
    void wake();

    // One round on the calling thread: connect when due, copy one batch.
    // True when it copied rows and more are waiting.
    bool step();

    CopyStatus status() const;
    // The connection's server process, for tests that cut it; 0 when none.
    int backendPid() const;

private:
    void run();
    void setStatus(CopyStatus s);
    void failed(const CentralError& e);
    bool copyBatch();

    Outbox& box_;
    platform::Clock& clock_;
    const Config config_;
    Hooks hooks_;
    PgLink link_;
    // The copier's own: touched by step() only.
    int failures_ = 0;
    qint64 nextAttemptMs_ = 0;
    bool stopped_ = false;

    mutable std::mutex mu_;
    std::condition_variable cv_;
    bool quit_ = false;
    bool woken_ = false;
    CopyStatus status_;
    int backendPid_ = 0;
    std::thread thread_;
};

// "Probar conexión": connects, checks the rights and the tables' version,
// and says in plain Spanish what failed, or that all is well.
QString ProbeCentral(const QString& conninfo, const QByteArray& password, int timeoutMs = 10000);

} // namespace tarvina::server::central
