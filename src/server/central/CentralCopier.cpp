#include "server/central/CentralCopier.h"

#include "platform/Clock.h"
#include "server/central/CentralSchema.h"
#include "server/central/Outbox.h"

#include <chrono>

namespace tarvina::server::central {

QString CopyStatus::text() const {
    switch (state) {
    case State::UpToDate:
        return QStringLiteral("Central: al día");
    case State::Pending:
        return QStringLiteral("Central: %1 pendientes").arg(pending);
    case State::Offline:
        return QStringLiteral("Central: sin conexión");
    case State::Stopped:
        break;
    }
    return QStringLiteral("Central: detenida. ") + reason;
}

qint64 CentralCopier::RetryDelayMs(int failures) {
    qint64 d = kFirstRetryMs;
    for (int i = 1; i < failures && d < kLastRetryMs; ++i)
        d *= 2;
    return std::min(d, kLastRetryMs);
}

CentralCopier::CentralCopier(Outbox& box, platform::Clock& clock, Config config, Hooks hooks)
    : box_(box), clock_(clock), config_(std::move(config)), hooks_(std::move(hooks)) {
    status_.pending = box_.pending();
    status_.state = status_.pending ? CopyStatus::State::Pending : CopyStatus::State::UpToDate;
}

CentralCopier::~CentralCopier() {
    stop();
}

void CentralCopier::start() {
    std::lock_guard lock(mu_);
    if (thread_.joinable())
        return;
    quit_ = false;
    thread_ = std::thread([this] { run(); });
}

void CentralCopier::stop() {
    {
        std::lock_guard lock(mu_);
        quit_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
    link_.close();
}

void CentralCopier::wake() {
    {
        std::lock_guard lock(mu_);
        woken_ = true;
    }
    cv_.notify_all();
}

CopyStatus CentralCopier::status() const {
    std::lock_guard lock(mu_);
    return status_;
}

int CentralCopier::backendPid() const {
    std::lock_guard lock(mu_);
    return backendPid_;
}

void CentralCopier::setStatus(CopyStatus s) {
    {
        std::lock_guard lock(mu_);
        backendPid_ = link_.backendPid();
        if (status_ == s)
            return;
        status_ = s;
    }
    if (hooks_.status)
        hooks_.status(s);
}

void CentralCopier::run() {
    for (;;) {
        bool more = false;
        try {
            more = step();
        } catch (const std::exception& e) {
            // Nothing the copy does may end the program; the next round
            // starts over with a new connection.
            link_.close();
            failed(CentralError(Failure::Other, FailureText(Failure::Other),
                                QString::fromUtf8(e.what())));
        }
        std::unique_lock lock(mu_);
        if (quit_)
            return;
        if (more)
            continue;
        // At most a second between looks, so a retry that fell due on the
        // clock is seen without a wake.
        cv_.wait_for(lock, std::chrono::seconds(1), [this] { return quit_ || woken_; });
        woken_ = false;
        if (quit_)
            return;
    }
}

void CentralCopier::failed(const CentralError& e) {
    ++failures_;
    nextAttemptMs_ = clock_.steadyMs() + RetryDelayMs(failures_);
    QString reason = e.text();
    if (!e.detail().isEmpty())
        reason += QStringLiteral(" (") + e.detail() + u')';
    const bool first = status().state != CopyStatus::State::Offline || status().reason != reason;
    if (first && hooks_.console)
        hooks_.console(QStringLiteral("Central: sin conexión. ") + reason);
    setStatus({CopyStatus::State::Offline, box_.pending(), reason});
}

bool CentralCopier::step() {
    if (stopped_)
        return false;
    const std::size_t waiting = box_.pending();
    if (waiting == 0 && link_.isOpen()) {
        setStatus({CopyStatus::State::UpToDate, 0, {}});
        return false;
    }
    if (!link_.isOpen()) {
        if (clock_.steadyMs() < nextAttemptMs_)
            return false;
        try {
            link_.connect(config_.conninfo, config_.password, config_.connectTimeoutMs);
            link_.setTimeout(config_.statementTimeoutMs);
            EnsureSchema(link_);
        } catch (const CentralError& e) {
            link_.close();
            failed(e);
            return false;
        }
        if (failures_ > 0 && hooks_.console)
            hooks_.console(QStringLiteral("Central: conexión restablecida."));
        failures_ = 0;
    }
    if (waiting == 0) {
        setStatus({CopyStatus::State::UpToDate, 0, {}});
        return false;
    }
    return copyBatch();
}

bool CentralCopier::copyBatch() {
    const std::vector<CentralRow> rows = box_.peek(config_.batch);
    try {
        UpsertRows(link_, config_.branch, rows);
        box_.acknowledge(rows.back().seq);
    } catch (const CentralError& e) {
        if (e.kind() != Failure::RowRefused) {
            link_.close();
            failed(e);
            return false;
        }
        // Which row: one at a time, the good ones before it copied.
        for (const CentralRow& r : rows) {
            try {
                UpsertRows(link_, config_.branch, {r});
                box_.acknowledge(r.seq);
            } catch (const CentralError& one) {
                if (one.kind() != Failure::RowRefused) {
                    link_.close();
                    failed(one);
                    return false;
                }
                stopped_ = true;
                const QString reason =
                    QStringLiteral("La base central rechazó la fila %1 de la tabla %2: %3")
                        .arg(r.localId)
                        .arg(TableName(r.table), one.detail());
                if (hooks_.console)
                    hooks_.console(QStringLiteral("Central: copia detenida. ") + reason);
                setStatus({CopyStatus::State::Stopped, box_.pending(), reason});
                return false;
            }
        }
    }
    const std::size_t left = box_.pending();
    setStatus(left ? CopyStatus{CopyStatus::State::Pending, left, {}}
                   : CopyStatus{CopyStatus::State::UpToDate, 0, {}});
    return left > 0;
}

QString ProbeCentral(const QString& conninfo, const QByteArray& password, int timeoutMs) {
    PgLink link;
    try {
        link.connect(conninfo, password, timeoutMs);
        link.setTimeout(timeoutMs);
        const int version = SchemaVersion(link);
        if (version > kSchemaVersion)
            return QStringLiteral("La base central tiene el esquema %1, más nuevo que el %2 que "
                                  "conoce esta versión de Taquilla: actualice Taquilla.")
                .arg(version)
                .arg(kSchemaVersion);
        CheckRights(link);
        return version == 0 ? QStringLiteral("Conexión correcta. La base central está vacía: "
                                             "Taquilla creará sus tablas al copiar.")
                            : QStringLiteral("Conexión correcta. La base central está lista.");
    } catch (const CentralError& e) {
        return e.detail().isEmpty() ? e.text() : e.text() + QStringLiteral("\n\n") + e.detail();
    }
}

} // namespace tarvina::server::central
