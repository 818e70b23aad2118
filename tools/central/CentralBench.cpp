// central-bench: the central copy's figures against a local PostgreSQL.
//   central-bench CONEXION CLAVE
// The database should be empty; the bench fills it.
#include "platform/Clock.h"
#include "server/central/CapturingFileSystem.h"
#include "server/central/CentralCopier.h"
#include "server/central/CentralSchema.h"
#include "server/central/ChainReport.h"
#include "server/central/Outbox.h"
#include "support/CodeTables.h"
#include "support/TempFolder.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>

using namespace tarvina;
using namespace tarvina::server::central;

namespace {

platform::RealClock clock_;

struct Box {
    explicit Box(const std::string& folder) : fs(xbase::RealFileSystem()), box(fs.inner()), t(fs) {
        path = folder + "/CajaHPIN.dbf";
        xbase::TableEngine make(fs.inner());
        xbase::test::CreateHistoryTable(make, path);
        box.open(QString::fromStdString(folder + "/Central.box"), {});
        fs.setOutbox(&box);
        t.Open(path, false);
    }
    void append(int i) {
        xbase::test::AppendHistory(
            t, {"B" + std::to_string(10000 + i % 90000), i, {2026, 12, 1 + i % 28}, "10:00:00"});
        t.Commit();
    }
    CapturingFileSystem fs;
    Outbox box;
    xbase::TableEngine t;
    std::string path;
};

CentralCopier::Config Config(const QString& branch, const QString& conninfo,
                             const QByteArray& password) {
    CentralCopier::Config c;
    c.branch = branch;
    c.conninfo = conninfo;
    c.password = password;
    return c;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("Uso: central-bench CONEXION CLAVE\n", stderr);
        return 2;
    }
    const QString conninfo = QString::fromLocal8Bit(argv[1]);
    const QByteArray password = argv[2];

    // 1000 stations, each changing state every 30 s on average: about 33
    // journal rows a second; the outbox's largest size while copying.
    {
        xbase::test::TempFolder dir;
        Box b(dir.path());
        CentralCopier copier(b.box, clock_, Config("bench-estaciones", conninfo, password));
        b.box.setOnRelease([&] { copier.wake(); });
        copier.start();
        std::size_t most = 0;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 33 * 20; ++i) {
            b.append(i);
            most = std::max(most, b.box.pending());
            QThread::usleep(30000);
        }
        std::printf("1000 estaciones (33 filas/s durante %lld s): cola máxima %zu filas\n",
                    t.elapsed() / 1000, most);
    }
    // A backlog of 100 000 rows, copied from nothing.
    {
        xbase::test::TempFolder dir;
        Box b(dir.path());
        for (int i = 0; i < 100000; ++i)
            b.append(i);
        CentralCopier copier(b.box, clock_, Config("bench-atraso", conninfo, password));
        QElapsedTimer t;
        t.start();
        while (copier.step() || b.box.pending() > 0) {
            if (copier.status().state == CopyStatus::State::Offline) {
                std::fprintf(stderr, "%s\n", qPrintable(copier.status().reason));
                return 1;
            }
        }
        std::printf("atraso de 100000 filas copiado en %.1f s\n", t.elapsed() / 1000.0);
    }
    // The chain report over 50 branches x 365 days, generated in the database.
    PgLink link;
    link.connect(conninfo, password, 10000);
    link.setTimeout(600000);
    EnsureSchema(link);
    link.exec(QStringLiteral(
        "INSERT INTO sucursales (sucursal) SELECT 'S' || b FROM generate_series(1, 50) b "
        "ON CONFLICT DO NOTHING;"
        "INSERT INTO usos (sucursal, local_id, equipo, fdesde, hdesde, fhasta, hhasta)"
        " SELECT 'S' || b, d * 1000 + u, 'PC' || (u % 20), date '2025-01-01' + d,"
        "  to_char(time '08:00' + make_interval(mins => u * 37 % 720), 'HH24:MI:SS'),"
        "  date '2025-01-01' + d,"
        "  to_char(time '08:00' + make_interval(mins => u * 37 % 720 + 45), 'HH24:MI:SS')"
        " FROM generate_series(1, 50) b, generate_series(0, 364) d, generate_series(1, 40) u "
        "ON CONFLICT DO NOTHING;"
        "INSERT INTO caja_movimientos (sucursal, local_id, fecha, hora, equipo, concepto,"
        "  minutos, monto, cobrado)"
        " SELECT 'S' || b, d * 1000 + u, date '2025-01-01' + d, '10:00:00', 'PC1', 'USO', 45,"
        "  1.50 + u % 7, u % 5 <> 0"
        " FROM generate_series(1, 50) b, generate_series(0, 364) d, generate_series(1, 40) u "
        "ON CONFLICT DO NOTHING;"
        "ANALYZE"));
    QElapsedTimer t;
    t.start();
    const QByteArray html =
        ChainReportHtml(ReadChainFigures(link, QDate(2025, 1, 1), QDate(2025, 12, 31)));
    std::printf("reporte de 50 sucursales x 365 días: %.2f s (%lld bytes)\n", t.elapsed() / 1000.0,
                qint64(html.size()));
    return 0;
}
