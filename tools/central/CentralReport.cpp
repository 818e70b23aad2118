// tarvina-central-report: the chain's report, one HTML page from the central
// database for a range of days. It only reads.
#include "server/central/ChainReport.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <cstdio>

using namespace tarvina::server::central;

namespace {

int Usage() {
    std::fputs("Uso: tarvina-central-report CONEXION DESDE HASTA [SALIDA.html]\n"
               "  CONEXION  cadena de conexión de libpq (\"host=... dbname=... user=...\");\n"
               "            la clave en la cadena, en PGPASSWORD o en ~/.pgpass\n"
               "  DESDE, HASTA  días como AAAA-MM-DD\n"
               "  SALIDA    el archivo HTML (por omisión, la salida estándar)\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4 || args.size() > 5)
        return Usage();
    const QDate from = QDate::fromString(args[2], Qt::ISODate);
    const QDate to = QDate::fromString(args[3], Qt::ISODate);
    if (!from.isValid() || !to.isValid() || to < from || from.daysTo(to) > 3660)
        return Usage();
    try {
        PgLink link;
        link.connect(args[1], {}, 15000);
        link.setTimeout(120000);
        link.exec(QStringLiteral("SET default_transaction_read_only = on"));
        const QByteArray html = ChainReportHtml(ReadChainFigures(link, from, to));
        if (args.size() == 5) {
            QSaveFile out(args[4]);
            if (!out.open(QIODevice::WriteOnly) || out.write(html) != html.size() ||
                !out.commit()) {
                std::fprintf(stderr, "No se pudo escribir %s\n", qPrintable(args[4]));
                return 1;
            }
        } else {
            std::fwrite(html.constData(), 1, std::size_t(html.size()), stdout);
        }
    } catch (const CentralError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
