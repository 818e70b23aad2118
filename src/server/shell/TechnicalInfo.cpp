#include "server/shell/TechnicalInfo.h"

#include "platform/Registry.h"
#include "server/settings/ServerKeys.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>

namespace tarvina::server {

namespace {

QString Item(const QString& name, const QString& value) {
    return QStringLiteral("   ") + name + QStringLiteral(": ") + value;
}

QString OkNo(bool on) {
    return on ? QStringLiteral("ok") : QStringLiteral("no");
}

// The program's build: a debug build carries its checks and symbols.
constexpr bool kDebugBuild =
#ifdef NDEBUG
    false;
#else
    true;
#endif

} // namespace

QStringList TechnicalInfo::Lines(const Input& in) {
    const QString version = QStringLiteral("%1.%2.%3.%4")
                                .arg(TARVINA_VERSION_MAJOR)
                                .arg(TARVINA_VERSION_MINOR)
                                .arg(TARVINA_VERSION_RELEASE)
                                .arg(TARVINA_VERSION_BUILD);
    // The creation date as the two 32-bit halves of a count of 100 ns since
    // 1 January 1601, as the version resource keeps it.
    quint64 fileTime = 0;
    const QDateTime modified = QFileInfo(in.executablePath).lastModified();
    if (modified.isValid()) {
        constexpr qint64 kEpochDifferenceMs = 11644473600000LL;
        fileTime = static_cast<quint64>(modified.toMSecsSinceEpoch() + kEpochDifferenceMs) * 10000;
    }
    QStringList out;
    out << QStringLiteral("Encabezado")
        << Item(QStringLiteral("Asunto"), QStringLiteral("Análisis de sistema por ZU Tarvina"))
        << Item(QStringLiteral("Fecha"),
                common::FormatDateTime(QStringLiteral("dd/mm/yyyy hh:nn:ss"), in.now));
    out << QStringLiteral("SO") << Item(QStringLiteral("Win versión"), in.osText)
        << Item(QStringLiteral("Propietario"), in.owner)
        << Item(QStringLiteral("Organización"), in.organization);
    out << QStringLiteral("Versión de archivo") << Item(QStringLiteral("Versión"), version)
        << Item(QStringLiteral("Debug info"), OkNo(kDebugBuild))
        << Item(QStringLiteral("Versión de desarrollo"), OkNo(false))
        << Item(QStringLiteral("Modificado"), OkNo(false))
        << Item(QStringLiteral("Versión privada"), OkNo(false))
        << Item(QStringLiteral("Nro. versión generado dinámicamente"), OkNo(false))
        << Item(QStringLiteral("Versión especial"), OkNo(false))
        << Item(QStringLiteral("Sistema destino"),
                QStringLiteral("Linux ") + QSysInfo::buildCpuArchitecture())
        << Item(QStringLiteral("Tipo de archivo"), QStringLiteral("Aplicación"))
        << Item(QStringLiteral("Fecha de creación (alta)"),
                QString::number(static_cast<quint32>(fileTime >> 32), 16))
        << Item(QStringLiteral("Fecha de creación (baja)"),
                QString::number(static_cast<quint32>(fileTime & 0xFFFFFFFFu), 16))
        << Item(QStringLiteral("CompanyName"), QStringLiteral("Velt"))
        << Item(QStringLiteral("FileDescription"), QStringLiteral("ZU Tarvina - programa de caja"))
        << Item(QStringLiteral("FileVersion"), version)
        << Item(QStringLiteral("InternalName"), QStringLiteral("taquilla"))
        << Item(QStringLiteral("OriginalFilename"), QStringLiteral("taquilla"))
        << Item(QStringLiteral("ProductName"), QStringLiteral("ZU Tarvina Estándar"))
        << Item(QStringLiteral("ProductVersion"), version);
    return out;
}

void TechnicalInfo::ReadOwner(const platform::Registry& registry, QString* owner,
                              QString* organization) {
    if (owner)
        *owner = keys::kRegisteredOwner.value(registry);
    if (organization)
        *organization = keys::kRegisteredOrganization.value(registry);
}

} // namespace tarvina::server
