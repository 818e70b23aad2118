#include "server/central/PgLink.h"

#include <chrono>
#include <libpq-fe.h>
#include <poll.h>

namespace tarvina::server::central {

namespace {

qint64 NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString LibpqMessage(PGconn* c) {
    return c ? QString::fromUtf8(PQerrorMessage(c)).trimmed() : QString();
}

} // namespace

CentralError::CentralError(Failure kind, const QString& text, const QString& detail)
    : std::runtime_error(
          (text + (detail.isEmpty() ? QString() : " (" + detail + ")")).toStdString()),
      kind_(kind), text_(text), detail_(detail) {}

QString FailureText(Failure kind) {
    switch (kind) {
    case Failure::NameResolution:
        return QStringLiteral("No se encontró el servidor central: su nombre no se pudo resolver.");
    case Failure::Refused:
        return QStringLiteral(
            "El servidor central rechazó la conexión: nada atiende en esa dirección y puerto.");
    case Failure::Timeout:
        return QStringLiteral("El servidor central no respondió a tiempo.");
    case Failure::Authentication:
        return QStringLiteral("El servidor central no aceptó el usuario o la clave.");
    case Failure::Rights:
        return QStringLiteral(
            "El usuario no tiene permiso para crear o escribir las tablas de la base central.");
    case Failure::MissingDatabase:
        return QStringLiteral("La base de datos central no existe en ese servidor.");
    case Failure::NewerSchema:
        return QStringLiteral("La base central fue preparada por una versión más nueva de "
                              "Taquilla; actualice Taquilla en esta sucursal.");
    case Failure::RowRefused:
        return QStringLiteral("La base central rechazó una fila.");
    case Failure::Lost:
        return QStringLiteral("Se perdió la conexión con el servidor central.");
    case Failure::Other:
        break;
    }
    return QStringLiteral("Falla al trabajar con la base central.");
}

Failure ClassifyConnectMessage(const QString& message) {
    const QString m = message.toLower();
    if (m.contains(u"could not translate host name") || m.contains(u"name or service not known"))
        return Failure::NameResolution;
    if (m.contains(u"connection refused") || m.contains(u"no such file or directory"))
        return Failure::Refused;
    if (m.contains(u"timeout expired") || m.contains(u"timed out"))
        return Failure::Timeout;
    if (m.contains(u"database") && m.contains(u"does not exist"))
        return Failure::MissingDatabase;
    if (m.contains(u"permission denied"))
        return Failure::Rights;
    if (m.contains(u"password") || m.contains(u"authentication") || m.contains(u"pg_hba.conf") ||
        (m.contains(u"role") && m.contains(u"does not exist")))
        return Failure::Authentication;
    return Failure::Other;
}

Failure ClassifySqlState(const QString& s) {
    if (s.startsWith(u"08") || s.startsWith(u"57P"))
        return Failure::Lost;
    if (s.startsWith(u"22") || s.startsWith(u"23"))
        return Failure::RowRefused;
    if (s == u"42501")
        return Failure::Rights;
    if (s == u"3D000")
        return Failure::MissingDatabase;
    if (s.startsWith(u"28"))
        return Failure::Authentication;
    return Failure::Other;
}

PgLink::~PgLink() {
    close();
}

bool PgLink::isOpen() const {
    return conn_ && PQstatus(conn_) == CONNECTION_OK;
}

void PgLink::close() {
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
}

int PgLink::backendPid() const {
    return conn_ ? PQbackendPID(conn_) : 0;
}

void PgLink::connect(const QString& conninfo, const QByteArray& password, int timeoutMs) {
    close();
    const QByteArray info = conninfo.toUtf8();
    const char* keys[] = {"dbname", "password", "application_name", "client_encoding", nullptr};
    const char* values[] = {info.constData(), password.isEmpty() ? nullptr : password.constData(),
                            "taquilla", "UTF8", nullptr};
    const qint64 deadline = NowMs() + timeoutMs;
    conn_ = PQconnectStartParams(keys, values, 1);
    if (!conn_)
        throw CentralError(Failure::Other, FailureText(Failure::Other),
                           QStringLiteral("sin memoria"));
    PostgresPollingStatusType st = PGRES_POLLING_WRITING;
    while (PQstatus(conn_) != CONNECTION_BAD && st != PGRES_POLLING_OK &&
           st != PGRES_POLLING_FAILED) {
        if (st == PGRES_POLLING_READING || st == PGRES_POLLING_WRITING) {
            const qint64 left = deadline - NowMs();
            pollfd p{PQsocket(conn_), short(st == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
            if (left <= 0 || p.fd < 0 || ::poll(&p, 1, int(left)) == 0) {
                close();
                throw CentralError(Failure::Timeout, FailureText(Failure::Timeout));
            }
        }
        st = PQconnectPoll(conn_);
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        const QString detail = LibpqMessage(conn_);
        close();
        const Failure kind = ClassifyConnectMessage(detail);
        throw CentralError(kind, FailureText(kind), detail);
    }
    timeoutMs_ = std::max(timeoutMs_, timeoutMs);
    if (PQsetnonblocking(conn_, 1) != 0)
        lost(LibpqMessage(conn_));
}

void PgLink::lost(const QString& detail) {
    close();
    throw CentralError(Failure::Lost, FailureText(Failure::Lost), detail);
}

void PgLink::waitSocket(bool forWrite, qint64 deadline) {
    const qint64 left = deadline - NowMs();
    pollfd p{PQsocket(conn_), short(forWrite ? POLLOUT | POLLIN : POLLIN), 0};
    if (p.fd < 0)
        lost(LibpqMessage(conn_));
    if (left <= 0 || ::poll(&p, 1, int(left)) == 0) {
        close();
        throw CentralError(Failure::Timeout, FailureText(Failure::Timeout));
    }
}

std::vector<PgLink::Row> PgLink::exec(const QString& sql, const Params& params) {
    if (!isOpen())
        lost(QStringLiteral("sin conexión"));
    const qint64 deadline = NowMs() + timeoutMs_;
    const QByteArray text = sql.toUtf8();
    int sent = 0;
    if (params.empty()) {
        sent = PQsendQuery(conn_, text.constData());
    } else {
        std::vector<const char*> values;
        values.reserve(params.size());
        for (const auto& p : params)
            values.push_back(p ? p->constData() : nullptr);
        sent = PQsendQueryParams(conn_, text.constData(), int(values.size()), nullptr,
                                 values.data(), nullptr, nullptr, 0);
    }
    if (!sent)
        lost(LibpqMessage(conn_));
    for (;;) {
        const int f = PQflush(conn_);
        if (f == 0)
            break;
        if (f < 0)
            lost(LibpqMessage(conn_));
        waitSocket(true, deadline);
        if (!PQconsumeInput(conn_))
            lost(LibpqMessage(conn_));
    }
    std::vector<Row> rows;
    std::optional<CentralError> failed;
    for (;;) {
        while (PQisBusy(conn_)) {
            waitSocket(false, deadline);
            if (!PQconsumeInput(conn_))
                lost(LibpqMessage(conn_));
        }
        PGresult* r = PQgetResult(conn_);
        if (!r)
            break;
        const ExecStatusType st = PQresultStatus(r);
        if (st == PGRES_TUPLES_OK) {
            rows.clear();
            const int n = PQntuples(r), m = PQnfields(r);
            rows.reserve(std::size_t(n));
            for (int i = 0; i < n; ++i) {
                Row row;
                for (int j = 0; j < m; ++j)
                    row.push_back(PQgetisnull(r, i, j) ? std::nullopt
                                                       : std::optional<QString>(QString::fromUtf8(
                                                             PQgetvalue(r, i, j))));
                rows.push_back(std::move(row));
            }
        } else if (st != PGRES_COMMAND_OK && st != PGRES_EMPTY_QUERY && !failed) {
            const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
            const QString detail = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
            const Failure kind =
                state ? ClassifySqlState(QString::fromLatin1(state)) : Failure::Lost;
            failed.emplace(kind, FailureText(kind), detail);
        }
        PQclear(r);
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        const QString detail = failed ? failed->detail() : LibpqMessage(conn_);
        lost(detail);
    }
    if (failed) {
        if (failed->kind() == Failure::Lost)
            close();
        throw *failed;
    }
    return rows;
}

} // namespace tarvina::server::central
