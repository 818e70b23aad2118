#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>
#include <vector>

struct pg_conn;

namespace tarvina::server::central {

// What went wrong with the central database, as the cashier is told.
enum class Failure {
    NameResolution,
    Refused,
    Timeout,
    Authentication,
    Rights,
    MissingDatabase,
    NewerSchema,
    RowRefused,
    Lost,
    Other,
};

class CentralError : public std::runtime_error {
public:
    CentralError(Failure kind, const QString& text, const QString& detail = {});
    Failure kind() const { return kind_; }
    // The cashier's sentence, in Spanish.
    const QString& text() const { return text_; }
    // What the server or the library said, as it said it.
    const QString& detail() const { return detail_; }

private:
    Failure kind_;
    QString text_, detail_;
};

// The cashier's sentence for a kind of failure.
QString FailureText(Failure kind);
// The kind of a failed connection, from what libpq said.
Failure ClassifyConnectMessage(const QString& message);
// The kind of a failed statement, from its SQLSTATE.
Failure ClassifySqlState(const QString& sqlState);

// One connection to PostgreSQL through libpq, never blocking longer than its
// time limit: the connection is made and every statement waits with poll().
// Every failure leaves as CentralError; a statement that fails on a broken
// connection closes it. One thread at a time.
class PgLink {
public:
    using Params = std::vector<std::optional<QByteArray>>;
    using Row = std::vector<std::optional<QString>>;

    PgLink() = default;
    ~PgLink();
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    // conninfo: a libpq connection string or URI without the password.
    void connect(const QString& conninfo, const QByteArray& password, int timeoutMs);
    bool isOpen() const;
    void close();
    void setTimeout(int ms) { timeoutMs_ = ms; }
    // The server process serving this connection.
    int backendPid() const;

    // One statement with text parameters ($1, ...), or several without.
    std::vector<Row> exec(const QString& sql, const Params& params = {});

private:
    void waitSocket(bool forWrite, qint64 deadline);
    [[noreturn]] void lost(const QString& detail);

    pg_conn* conn_ = nullptr;
    int timeoutMs_ = 30000;
};

} // namespace tarvina::server::central
