#include "server/central/CentralSchema.h"

#include <QHash>
#include <QStringList>
#include <utility>

namespace tarvina::server::central {

namespace {

// Any number, the same in every branch: the lock that makes two branches
// creating the tables at once wait for each other.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(60466046)";

QString CreateTable(const TableSpec& t) {
    QString sql = QStringLiteral("CREATE TABLE %1 (\n"
                                 "  sucursal text NOT NULL REFERENCES sucursales(sucursal),\n"
                                 "  local_id bigint NOT NULL,\n"
                                 "  borrado boolean NOT NULL DEFAULT false,\n"
                                 "  copiado timestamptz NOT NULL DEFAULT now(),\n")
                      .arg(QLatin1String(t.sqlName));
    for (const ColumnSpec& c : t.columns)
        sql += QStringLiteral("  %1 %2,\n")
                   .arg(QString::fromLatin1(c.field).toLower(), QLatin1String(c.sqlType));
    sql += QStringLiteral("  PRIMARY KEY (sucursal, local_id)\n);\n");
    return sql;
}

// Each step brings the tables from the version before it to its own.
QString Step1() {
    QString sql = QStringLiteral("CREATE TABLE tarvina_esquema (version integer NOT NULL);\n"
                                 "INSERT INTO tarvina_esquema VALUES (0);\n"
                                 "CREATE TABLE sucursales (\n"
                                 "  sucursal text PRIMARY KEY CHECK (sucursal <> ''),\n"
                                 "  alta timestamptz NOT NULL DEFAULT now(),\n"
                                 "  ultima_copia timestamptz\n);\n");
    for (const TableSpec& t : AllTables())
        sql += CreateTable(t);
    // What the chain report reads: the days of a range, branch by branch.
    sql += QStringLiteral("CREATE INDEX usos_dia ON usos (fdesde, sucursal);\n"
                          "CREATE INDEX caja_dia ON caja_movimientos (fecha, sucursal);\n"
                          "CREATE INDEX historia_dia ON historia_codigos (fecha, sucursal);\n"
                          "CREATE VIEW cierres AS\n"
                          "  SELECT sucursal, cierre::integer AS cierre, count(*) AS movimientos,\n"
                          "         sum(monto) FILTER (WHERE NOT borrado) AS total,\n"
                          "         min(fecha) AS desde, max(fecha) AS hasta\n"
                          "  FROM caja_movimientos WHERE cierre > 0 GROUP BY sucursal, cierre;\n");
    return sql;
}

// A failed step ends its transaction; the link may already be gone, and the
// first failure is what the caller reports.
void RollbackQuietly(PgLink& link) {
    if (!link.isOpen())
        return;
    try {
        link.exec(QStringLiteral("ROLLBACK"));
    } catch (const CentralError&) {
    }
}

} // namespace

int SchemaVersion(PgLink& link) {
    // Two statements: a statement naming a missing table fails as it is
    // planned, whatever its conditions say.
    if (!link.exec(QStringLiteral("SELECT to_regclass('tarvina_esquema')"))[0][0])
        return 0;
    const auto rows = link.exec(QStringLiteral("SELECT max(version) FROM tarvina_esquema"));
    return rows.empty() || !rows[0][0] ? 0 : rows[0][0]->toInt();
}

int EnsureSchema(PgLink& link) {
    const QString newer = QStringLiteral(
        "La base central tiene el esquema %1, más nuevo que el %2 que conoce esta versión de "
        "Taquilla. Actualice Taquilla en esta sucursal; no se copia nada mientras tanto.");
    const int before = SchemaVersion(link);
    if (before > kSchemaVersion)
        throw CentralError(Failure::NewerSchema, newer.arg(before).arg(kSchemaVersion));
    if (before == kSchemaVersion)
        return before;
    link.exec(QStringLiteral("BEGIN"));
    try {
        link.exec(QString::fromLatin1(kSchemaLock));
        // Another branch may have done it while this one waited.
        const int now = SchemaVersion(link);
        if (now > kSchemaVersion)
            throw CentralError(Failure::NewerSchema, newer.arg(now).arg(kSchemaVersion));
        const std::vector<QString> steps = {Step1()};
        for (int v = now; v < kSchemaVersion; ++v)
            link.exec(steps[std::size_t(v)]);
        link.exec(QStringLiteral("UPDATE tarvina_esquema SET version = %1").arg(kSchemaVersion));
        link.exec(QStringLiteral("COMMIT"));
    } catch (...) {
        RollbackQuietly(link);
        throw;
    }
    return before;
}

void CheckRights(PgLink& link) {
    const bool empty = SchemaVersion(link) == 0;
    const auto rows = link.exec(
        empty ? QStringLiteral("SELECT has_schema_privilege(current_schema(), 'CREATE')")
              : QStringLiteral("SELECT has_table_privilege('caja_movimientos', 'INSERT,UPDATE') "
                               "AND has_table_privilege('sucursales', 'INSERT,UPDATE')"));
    if (rows.empty() || rows[0][0] != QStringLiteral("t"))
        throw CentralError(Failure::Rights, FailureText(Failure::Rights));
}

void UpsertRows(PgLink& link, const QString& branch, const std::vector<CentralRow>& rows) {
    // The last row of each key, in the order the keys first came: one
    // statement may not touch a row twice.
    std::vector<std::vector<const CentralRow*>> perTable(AllTables().size());
    QHash<QPair<int, qint64>, std::pair<std::size_t, std::size_t>> where;
    for (const CentralRow& r : rows) {
        std::size_t t = 0;
        while (AllTables()[t].id != r.table)
            ++t;
        const auto key = qMakePair(int(r.table), qint64(r.localId));
        auto it = where.find(key);
        if (it != where.end()) {
            perTable[it->first][it->second] = &r;
        } else {
            where.insert(key, {t, perTable[t].size()});
            perTable[t].push_back(&r);
        }
    }
    link.exec(QStringLiteral("BEGIN"));
    try {
        link.exec(
            QStringLiteral("INSERT INTO sucursales (sucursal, ultima_copia) VALUES ($1, now()) "
                           "ON CONFLICT (sucursal) DO UPDATE SET ultima_copia = now()"),
            {branch.toUtf8()});
        for (std::size_t t = 0; t < perTable.size(); ++t) {
            const TableSpec& spec = AllTables()[t];
            // Rows per statement: well below the protocol's 65535 parameters.
            constexpr std::size_t kChunk = 400;
            for (std::size_t from = 0; from < perTable[t].size(); from += kChunk) {
                const std::size_t to = std::min(perTable[t].size(), from + kChunk);
                QStringList cols = {QStringLiteral("sucursal"), QStringLiteral("local_id"),
                                    QStringLiteral("borrado")};
                QStringList updates = {QStringLiteral("borrado = EXCLUDED.borrado"),
                                       QStringLiteral("copiado = now()")};
                for (const ColumnSpec& c : spec.columns) {
                    const QString name = QString::fromLatin1(c.field).toLower();
                    cols << name;
                    updates << QStringLiteral("%1 = EXCLUDED.%1").arg(name);
                }
                PgLink::Params params = {branch.toUtf8()};
                QStringList tuples;
                for (std::size_t i = from; i < to; ++i) {
                    const CentralRow& r = *perTable[t][i];
                    QStringList ph = {QStringLiteral("$1")};
                    params.push_back(QByteArray::number(r.localId));
                    ph << QStringLiteral("$%1::bigint").arg(params.size());
                    params.push_back(QByteArray(r.deleted ? "true" : "false"));
                    ph << QStringLiteral("$%1::boolean").arg(params.size());
                    for (std::size_t c = 0; c < spec.columns.size(); ++c) {
                        const auto& v = c < r.values.size() ? r.values[c] : std::nullopt;
                        params.push_back(v ? std::optional<QByteArray>(v->toUtf8()) : std::nullopt);
                        ph << QStringLiteral("$%1::%2")
                                  .arg(params.size())
                                  .arg(QLatin1String(spec.columns[c].sqlType));
                    }
                    tuples << "(" + ph.join(u',') + ")";
                }
                link.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES %3 "
                                         "ON CONFLICT (sucursal, local_id) DO UPDATE SET %4")
                              .arg(QLatin1String(spec.sqlName), cols.join(u','), tuples.join(u','),
                                   updates.join(u',')),
                          params);
            }
        }
        link.exec(QStringLiteral("COMMIT"));
    } catch (...) {
        RollbackQuietly(link);
        throw;
    }
}

} // namespace tarvina::server::central
