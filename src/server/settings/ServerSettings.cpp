#include "server/settings/ServerSettings.h"

#include "common/Cp1252.h"
#include "common/Currency.h"
#include "common/Password.h"
#include "platform/NetworkKey.h"

#include <iterator>
#include <utility>

namespace tarvina::server {

using platform::Registry;
using namespace keys;

namespace {

// The ticket printer's values, each pair standing or falling together.
void ReadTicket(const Registry& r, ServerSettings& s) {
    const auto nLines = kNLines.read(r);
    const auto raw = kRawMode.read(r);
    if (nLines && raw) {
        s.nLines = *nLines;
        s.rawMode = *raw;
    }
    s.prnTicket = kPrnTicket.value(r);
    s.port = kPort.value(r);
    const auto left = kTicketLeft.read(r);
    const auto width = kTicketWidth.read(r);
    if (left && width) {
        s.ticketLeft = *left;
        s.ticketWidth = *width;
    }
    const auto f1 = kLineaFin1.read(r), f2 = kLineaFin2.read(r);
    if (f1 && f2) {
        s.lineaFin1 = *f1;
        s.lineaFin2 = *f2;
    } else {
        s.lineaFin1 = kLineaFin1.fallback();
        s.lineaFin2 = kLineaFin2.fallback();
    }
}

// The four colours of the computers view, all or none.
void ReadColours(const Registry& r, ServerSettings& s) {
    const auto d = kCompColDesc.read(r), b = kCompColBlock.read(r), u = kCompColUse.read(r),
               w = kCompColWait.read(r);
    if (d && b && u && w) {
        s.compColDesc = *d;
        s.compColBlock = *b;
        s.compColUse = *u;
        s.compColWait = *w;
    }
}

// Country, currency, service mode and the tax registration's caption.
void ReadLocale(const Registry& r, ServerSettings& s) {
    s.pais = kPais.value(r);
    if (s.pais.isEmpty())
        s.pais = kPais.fallback();
    s.moneda = kMoneda.value(r);
    if (s.moneda.isEmpty())
        s.moneda = common::SystemCurrencySymbol();
    if (const auto mode = kServiceMode.read(r)) {
        s.serviceMode = *mode;
    } else {
        s.serviceMode = kServiceMode.fallback();
        s.firstRun = true;
    }
    if (const auto reg = kRegistro.read(r))
        s.registro = reg->isEmpty() ? QString::fromUtf16(kRegistroEmpty) : *reg;
    else
        s.registro = kRegistro.fallback();
}

// The business's particulars, the passwords and the start command: all nine
// or none, the start command then falling back to its default.
void ReadBusiness(const Registry& r, ServerSettings& s) {
    const std::pair<const SettingValue<form::Text>&, QString*> group[] = {
        {kRif, &s.rif},
        {kDenominacion, &s.denominacion},
        {kDir1, &s.dir1},
        {kDir2, &s.dir2},
        {kDir3, &s.dir3},
        {kTelefono, &s.telefono},
        {kPasswordStd, &s.passwordStd},
        {kPasswordStdPin, &s.passwordStdPin},
        {kClientInit, &s.clientInit},
    };
    bool ok = true;
    QString values[std::size(group)];
    for (std::size_t i = 0; i < std::size(group) && ok; ++i) {
        const auto v = group[i].first.read(r);
        ok = v.has_value();
        if (ok)
            values[i] = *v;
    }
    for (std::size_t i = 0; i < std::size(group); ++i)
        *group[i].second = ok ? values[i] : QString();
    if (!ok)
        s.clientInit = kClientInit.fallback();
}

} // namespace

QString ProgramVersionText() {
    return QStringLiteral("%1.%2 (B %3.%4)")
        .arg(TARVINA_VERSION_MAJOR)
        .arg(TARVINA_VERSION_MINOR)
        .arg(TARVINA_VERSION_RELEASE)
        .arg(TARVINA_VERSION_BUILD);
}

ServerSettings LoadSettings(Registry& r) {
    ServerSettings s;
    r.createKey(kTaquilla.root, kTaquilla.text());
    s.toolBarWallPaper = kToolBarWallPaper.value(r);
    s.toolBarFlat = kToolBarFlat.value(r);
    s.toolBarAlign = kToolBarAlign.value(r);
    s.zuStdVer = kZuStdVer.value(r);
    s.confirmClose = kConfirmClose.value(r);
    ReadTicket(r, s);
    ReadColours(r, s);
    ReadLocale(r, s);
    ReadBusiness(r, s);
    const auto modo = kClienteModo.read(r);
    const auto val = kClienteVal.read(r);
    if (modo && val) {
        s.clienteModo = *modo;
        s.clienteVal = *val;
    }
    s.limitBitacora = ReadLogLimit(r);
    s.claveRed = kClaveRed.value(r);
    s.redSegura = kRedSegura.value(r);
    s.tariff = LoadTariff(r);
    s.sucursal = kSucursal.value(r);
    s.central = kCentral.value(r);
    s.centralClave = kCentralClave.value(r);
    return s;
}

bool WriteCentral(Registry& r, const ServerSettings& s) {
    platform::SaveBatch batch(r);
    kSucursal.write(r, s.sucursal);
    kCentral.write(r, s.central);
    kCentralClave.write(r, s.centralClave);
    return batch.commit();
}

namespace {

// The password's bytes as two letters each, from letters the scramble maps
// one-to-one at every position of a text up to 254 long, so the stored form
// gives the password back, which the others never need.
constexpr char kCentralDigits[] = "ACDEFGHJKLMNOQRS";
constexpr qsizetype kCentralMaxBytes = 127;

} // namespace

QString ScrambledCentralPassword(const QString& plain) {
    const QByteArray bytes = plain.toUtf8().left(kCentralMaxBytes);
    QByteArray digits;
    for (char c : bytes) {
        digits.append(kCentralDigits[(quint8(c) >> 4) & 0xF]);
        digits.append(kCentralDigits[quint8(c) & 0xF]);
    }
    return common::FromCp1252(common::ScramblePassword(digits));
}

QString PlainCentralPassword(const QString& stored) {
    const QByteArray bytes = common::ToCp1252(stored);
    if (bytes.size() % 2 != 0 || bytes.size() > 2 * kCentralMaxBytes)
        return {};
    QByteArray probe(bytes.size(), 'A');
    QByteArray plain;
    int high = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        int digit = -1;
        for (int d = 0; d < 16 && digit < 0; ++d) {
            probe[i] = kCentralDigits[d];
            if (common::ScramblePassword(probe)[i] == bytes[i])
                digit = d;
        }
        if (digit < 0)
            return {};
        if (i % 2 == 0)
            high = digit;
        else
            plain.append(char(high << 4 | digit));
    }
    return QString::fromUtf8(plain);
}

bool WriteSecurity(Registry& r, const ServerSettings& s) {
    platform::SaveBatch batch(r);
    kClaveRed.write(r, s.claveRed);
    kRedSegura.write(r, s.redSegura);
    return batch.commit();
}

platform::LinkSecurity SecurityOf(const ServerSettings& s) {
    platform::LinkSecurity security;
    if (s.redSegura == 1 || s.redSegura == 2)
        security.mode = static_cast<platform::LinkSecurity::Mode>(s.redSegura);
    if (const auto key = platform::netkey::FromStored(s.claveRed))
        security.psk = platform::netkey::Psk(*key);
    return security;
}

qint32 ReadLogLimit(Registry& r) {
    if (const auto v = kLimitBitacora.read(r))
        return *v;
    kLimitBitacora.write(r, kLimitBitacora.fallback());
    return kLimitBitacora.fallback();
}

std::optional<qint32> StoredLogLimit(const Registry& r) {
    return kLimitBitacora.read(r);
}

bool WriteLogLimit(Registry& r, qint32 limit) {
    platform::SaveBatch batch(r);
    kLimitBitacora.write(r, limit);
    return batch.commit();
}

bool SaveSettings(Registry& r, const ServerSettings& s, double nowDays) {
    platform::SaveBatch batch(r);
    kClienteModo.write(r, s.clienteModo);
    kClienteVal.write(r, s.clienteVal);
    kZuStdVer.write(r, ProgramVersionText());
    kRif.write(r, s.rif);
    kPais.write(r, s.pais);
    kMoneda.write(r, s.moneda);
    kRegistro.write(r, s.registro);
    kServiceMode.write(r, s.serviceMode);
    kDir1.write(r, s.dir1);
    kPasswordStd.write(r, s.passwordStd);
    kPasswordStdPin.write(r, s.passwordStdPin);
    kDenominacion.write(r, s.denominacion);
    kDir2.write(r, s.dir2);
    kDir3.write(r, s.dir3);
    kTelefono.write(r, s.telefono);
    kSalida.write(r, nowDays);
    kClientInit.write(r, s.clientInit);
    kLineaFin1.write(r, s.lineaFin1);
    kLineaFin2.write(r, s.lineaFin2);
    kPrnTicket.write(r, s.prnTicket);
    kRawMode.write(r, s.rawMode);
    kNLines.write(r, s.nLines);
    kPort.write(r, s.port);
    kConfirmClose.write(r, s.confirmClose);
    kToolBarWallPaper.write(r, s.toolBarWallPaper);
    kToolBarFlat.write(r, s.toolBarFlat);
    kToolBarAlign.write(r, s.toolBarAlign);
    kTicketLeft.write(r, s.ticketLeft);
    kTicketWidth.write(r, s.ticketWidth);
    kCompColDesc.write(r, s.compColDesc);
    kCompColBlock.write(r, s.compColBlock);
    kCompColUse.write(r, s.compColUse);
    kCompColWait.write(r, s.compColWait);
    kLastOut.write(r, nowDays);
    // ClaveRed, RedSegura and the tariff are stored when they change
    // (WriteSecurity, SaveTariff), so the close writes what earlier versions
    // wrote and no more.
    return batch.commit();
}

WindowPlacement RestorePlacement(const Registry& r, const QString& windowName, QSize screen) {
    WindowPlacement p;
    if (!r.keyExists(kTaquilla.root, kTaquilla.text()))
        return p;
    p.state = kWindowState.of(windowName).read(r);
    if (!p.state)
        return p;
    if (*p.state != 0)
        return p;
    p.left = kWindowLeft.of(windowName).read(r);
    if (p.left) {
        p.top = kWindowTop.of(windowName).read(r);
        if (p.top) {
            p.height = kWindowHeight.of(windowName).read(r);
            if (p.height)
                p.width = kWindowWidth.of(windowName).read(r);
        }
    }
    if (p.left && *p.left > screen.width())
        p.left = 50;
    if (p.top && *p.top > screen.height())
        p.top = 50;
    if (p.height && *p.height < 150)
        p.height = 150;
    return p;
}

bool SavePlacement(Registry& r, const QString& windowName, int left, int top, int height, int width,
                   int state) {
    platform::SaveBatch batch(r);
    kWindowLeft.of(windowName).write(r, left);
    kWindowTop.of(windowName).write(r, top);
    kWindowHeight.of(windowName).write(r, height);
    kWindowWidth.of(windowName).write(r, width);
    kWindowState.of(windowName).write(r, state);
    return batch.commit();
}

bool PasswordMatches(const QString& storedScrambled, const QString& typed) {
    return common::FromCp1252(common::ScramblePassword(common::ToCp1252(typed))) == storedScrambled;
}

PasswordPageResult ApplyPasswordPage(QString& stored, const QString& oldField,
                                     const QString& newField, const QString& repeatField) {
    if (oldField == QLatin1String(kPasswordPlaceholder))
        return {};
    if (newField == repeatField && (oldField.isEmpty() || PasswordMatches(stored, oldField))) {
        stored = common::FromCp1252(common::ScramblePassword(common::ToCp1252(newField)));
        return {true, {}};
    }
    if (newField != repeatField)
        return {false, QStringLiteral("Las contraseñas no coinciden. No serán tomadas en cuenta.")};
    return {false, QStringLiteral("Contraseña original incorrecta.")};
}

LogLimitShown ShowLogLimit(std::optional<qint32> stored) {
    if (!stored)
        return {10, 2};
    const qint64 v = *stored;
    if (v < 1024)
        return {v, 0};
    if (v > 1048575)
        return {v / 1048576, 2};
    return {v / 1024, 1};
}

std::optional<qint32> LogLimitValue(qint64 number, int unit) {
    const qint64 factor = unit == 2 ? 1048576 : unit == 1 ? 1024 : 1;
    const qint64 v = number * factor;
    if (number < 0 || v > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(v);
}

} // namespace tarvina::server
