#include "server/shell/Preferences.h"

#include "common/Format.h"
#include "platform/NetworkKey.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "server/computers/Senders.h"
#include "server/computers/ServerContext.h"

namespace tarvina::server {

const QStringList& CountryList() {
    static const QStringList list = {
        QStringLiteral("Argentina"),
        QStringLiteral("Aruba"),
        QStringLiteral("Bolivia"),
        QStringLiteral("Bosnia Herzegowina"),
        QStringLiteral("Brazil"),
        QStringLiteral("Chile"),
        QStringLiteral("China"),
        QStringLiteral("Colombia"),
        QStringLiteral("Costa Rica"),
        QStringLiteral("Cuba"),
        QStringLiteral("Ecuador"),
        QStringLiteral("El Salvador"),
        QStringLiteral("Estados Unidos"),
        QStringLiteral("España"),
        QStringLiteral("Guatemala"),
        QStringLiteral("Honduras"),
        QStringLiteral("México"),
        QStringLiteral("Panamá"),
        QStringLiteral("Paraguay"),
        QStringLiteral("Perú"),
        QStringLiteral("Portugal"),
        QStringLiteral("Puerto Rico"),
        QStringLiteral("República Dominicana"),
        QStringLiteral("Trinidad y Tobago"),
        QStringLiteral("Uruguay"),
        QStringLiteral("Venezuela"),
        QStringLiteral("<Otro>"),
    };
    return list;
}

int CountryIndex(const QString& country) {
    const QStringList& list = CountryList();
    for (int i = 0; i < list.size(); ++i) {
        if (list[i].compare(country, Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

const std::vector<ColourEntry>& ColourEntries() {
    auto sys = [](int n) { return qint32(kSystemColourFlag | n); };
    static const std::vector<ColourEntry> entries = {
        {QStringLiteral("Agua"), 0xFFFF00},
        {QStringLiteral("Negro"), 0x000000},
        {QStringLiteral("Azul"), 0xFF0000},
        {QStringLiteral("Gris oscuro"), 0x808080},
        {QStringLiteral("Fucsia"), 0xFF00FF},
        {QStringLiteral("Gris"), 0x808080},
        {QStringLiteral("Verde"), 0x008000},
        {QStringLiteral("Lima"), 0x00FF00},
        {QStringLiteral("Gris claro"), 0xC0C0C0},
        {QStringLiteral("Marrón"), 0x000080},
        {QStringLiteral("Azúl Marino"), 0x800000},
        {QStringLiteral("Verde Oliva"), 0x008080},
        {QStringLiteral("Púrpura"), 0x800080},
        {QStringLiteral("Rojo"), 0x0000FF},
        {QStringLiteral("Plateado"), 0xC0C0C0},
        {QStringLiteral("Teal"), 0x808000},
        {QStringLiteral("Balnco"), 0xFFFFFF},
        {QStringLiteral("Amarillo"), 0x00FFFF},
        {QStringLiteral("Fondo"), sys(1)},
        {QStringLiteral("Título activo"), sys(2)},
        {QStringLiteral("Título inactivo"), sys(3)},
        {QStringLiteral("Menú"), sys(4)},
        {QStringLiteral("Ventana"), sys(5)},
        {QStringLiteral("Marco de ventana"), sys(6)},
        {QStringLiteral("Texto en menú"), sys(7)},
        {QStringLiteral("Texto en ventana"), sys(8)},
        {QStringLiteral("Texto en título"), sys(9)},
        {QStringLiteral("Borde activo"), sys(10)},
        {QStringLiteral("Borde inactivo"), sys(11)},
        {QStringLiteral("Área de trabajo"), sys(12)},
        {QStringLiteral("Destacado"), sys(13)},
        {QStringLiteral("Texto destacado"), sys(14)},
        {QStringLiteral("Cara de botón"), sys(15)},
        {QStringLiteral("Sombra de botón"), sys(16)},
        {QStringLiteral("Texto gris"), sys(17)},
        {QStringLiteral("Texto en botón"), sys(18)},
        {QStringLiteral("Texto de título inactivo"), sys(19)},
        {QStringLiteral("Botón destacado"), sys(20)},
        {QStringLiteral("Sombra 3D"), sys(21)},
        {QStringLiteral("Luz 3D"), sys(22)},
        {QStringLiteral("Texto de información"), sys(23)},
        {QStringLiteral("Fondo de información"), sys(24)},
        {QStringLiteral("Por defecto"), kDefaultColour},
    };
    return entries;
}

int ColourIndex(qint32 value) {
    const auto& entries = ColourEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].value == value) {
            return int(i);
        }
    }
    return -1;
}

QString LineEditMask(const QString& editMask) {
    const common::EditMask m = common::ParseEditMask(editMask);
    if (m.pattern.isEmpty()) {
        return {};
    }
    // Characters the line editor reads as mask codes are escaped when the
    // mask means them as literals.
    static const QString kCodes = QStringLiteral("AaNnXx90Dd#HhBb<>!;[]{}\\");
    QString out;
    for (const QChar c : m.pattern) {
        if (c == u'0') {
            out += u'9';
        } else if (c == u'A') {
            out += u'N';
        } else if (kCodes.contains(c)) {
            out += u'\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out + u';' + m.blank;
}

bool TaxIdTyped(const QString& text, const QString& editMask) {
    if (editMask.isEmpty()) {
        return !text.trimmed().isEmpty();
    }
    const common::EditMask m = common::ParseEditMask(editMask);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool literal = i < m.pattern.size() && m.pattern[i] != u'0' && m.pattern[i] != u'A' &&
                             text[i] == m.pattern[i];
        if (!literal && text[i] != m.blank && text[i] != u' ') {
            return true;
        }
    }
    return false;
}

bool TaxIdAcceptable(const QString& text, const QString& editMask) {
    return editMask.isEmpty() || !TaxIdTyped(text, editMask) ||
           common::TextFitsMask(text, editMask);
}

QString TaxIdLeaveError() {
    return QStringLiteral("Hay un error en texto escrito. No corresponde al formato esperado.");
}

QString TaxIdTypingError(const QString& editMask) {
    return QStringLiteral("El texto no corresponde al formato esperado (%1). Presione <Esc> "
                          "para abandonar cambios.")
        .arg(editMask);
}

PasswordFields ShowPasswordPage(const QString& storedScrambled) {
    PasswordFields f;
    if (!storedScrambled.isEmpty()) {
        const QString p = QLatin1String(kPasswordPlaceholder);
        f = {p, p, p, true};
    }
    return f;
}

QString LogUnitLabel(int unit) {
    switch (unit) {
    case 0:
        return QStringLiteral("Bytes");
    case 1:
        return QStringLiteral("Kbytes");
    default:
        return QStringLiteral("Mbytes");
    }
}

PreferencesForm ShowPreferences(const ServerSettings& s, std::optional<qint32> storedLogLimit,
                                const QStringList& printers) {
    PreferencesForm f;
    f.serviceMode = s.serviceMode == 1 ? 1 : 0;
    if (const auto key = platform::netkey::FromStored(s.claveRed))
        f.networkKey = platform::netkey::Shown(*key);
    f.redSegura = s.redSegura >= 0 && s.redSegura <= 2 ? s.redSegura : 0;
    f.denominacion = s.denominacion;
    f.taxIdMask = common::TaxIdFormat(s.pais).mask;
    f.taxIdLabel = s.registro;
    f.rif = s.rif;
    f.dir1 = s.dir1;
    f.dir2 = s.dir2;
    f.dir3 = s.dir3;
    f.telefono = s.telefono;
    f.countryIndex = CountryIndex(s.pais);
    f.moneda = s.moneda;
    f.registro = s.registro;
    f.clienteModo = std::clamp(s.clienteModo, 0, 2);
    f.clienteVal = s.clienteVal;
    f.presetsEnabled = s.clienteModo != 0;
    const LogLimitShown shown = ShowLogLimit(storedLogLimit);
    f.logNumber = shown.number;
    f.logUnit = shown.unit;
    f.colours[0] = s.compColDesc;
    f.colours[1] = s.compColBlock;
    f.colours[2] = s.compColUse;
    f.colours[3] = s.compColWait;
    f.access = ShowPasswordPage(s.passwordStd);
    f.pin = ShowPasswordPage(s.passwordStdPin);
    f.printers = printers;
    f.printerIndex = s.prnTicket >= 0 && s.prnTicket < printers.size() ? s.prnTicket : -1;
    f.portIndex = s.port >= 0 && s.port < 5 ? s.port : -1;
    f.rawMode = s.rawMode;
    f.nLines = s.nLines;
    f.ticketWidth = s.ticketWidth;
    f.ticketLeft = s.ticketLeft;
    f.clientInit = s.clientInit;
    f.confirmClose = s.confirmClose;
    f.toolBarVisible = s.toolBarVisible;
    f.tariff = ShowTariff(s.tariff);
    return f;
}

void ChooseCountry(PreferencesForm& form, ServerSettings& s, int countryIndex) {
    form.countryIndex = countryIndex;
    const common::TaxIdFormatInfo info = common::TaxIdFormat(CountryList().value(countryIndex));
    form.registro = info.label;
    form.taxIdLabel = info.label;
    form.taxIdMask = info.mask;
    s.registro = info.label;
}

QString LogLimitOverflowText() {
    return QStringLiteral("Desbordamiento de entero: el límite de la bitácora no cabe en 2047 "
                          "MBytes.");
}

ApplyResult ApplyPreferences(const PreferencesForm& f, ServerSettings& s, const ApplyHooks& hooks) {
    ApplyResult r;
    s.clienteModo = f.clienteModo;
    s.clienteVal = f.clienteVal;
    if (f.countryIndex >= 0 && f.countryIndex < CountryList().size()) {
        s.pais = CountryList()[f.countryIndex];
    }
    s.moneda = f.moneda;
    s.registro = f.registro;
    s.denominacion = f.denominacion;
    s.rif = f.rif;
    s.dir1 = f.dir1;
    s.dir2 = f.dir2;
    s.dir3 = f.dir3;
    s.telefono = f.telefono;
    const std::optional<qint32> limit = LogLimitValue(f.logNumber, f.logUnit);
    if (!limit) {
        r.logLimitOverflow = true;
        return r;
    }
    s.limitBitacora = *limit;
    if (hooks.writeLogLimit) {
        hooks.writeLogLimit(*limit);
    }
    s.compColDesc = f.colours[0];
    s.compColBlock = f.colours[1];
    s.compColUse = f.colours[2];
    s.compColWait = f.colours[3];
    for (auto [fields, stored] :
         {std::pair{&f.access, &s.passwordStd}, std::pair{&f.pin, &s.passwordStdPin}}) {
        const PasswordPageResult p =
            ApplyPasswordPage(*stored, fields->oldText, fields->newText, fields->repeatText);
        if (!p.error.isEmpty()) {
            r.passwordErrors << p.error;
        }
    }
    const int mode = f.serviceMode == 1 ? 1 : 0;
    r.modeChanged = mode != s.serviceMode;
    if (hooks.setServiceMode) {
        hooks.setServiceMode(mode);
    }
    s.serviceMode = mode;
    if (f.portIndex >= 0) {
        s.port = f.portIndex;
    }
    if (f.printerIndex >= 0) {
        s.prnTicket = f.printerIndex;
    }
    s.rawMode = f.rawMode;
    s.nLines = f.nLines;
    s.ticketWidth = f.ticketWidth;
    s.ticketLeft = f.ticketLeft;
    s.clientInit = f.clientInit;
    s.confirmClose = f.confirmClose;
    r.toolBarChanged = s.toolBarVisible != f.toolBarVisible;
    s.toolBarVisible = f.toolBarVisible;
    const auto key = platform::netkey::Normalise(f.networkKey);
    const QString claveRed = key ? platform::netkey::Scrambled(*key) : QString();
    int redSegura = f.redSegura >= 0 && f.redSegura <= 2 ? f.redSegura : 0;
    if (redSegura != 0 && !key) {
        r.securityError = QStringLiteral("Genere la clave de red antes de elegir una conexión "
                                         "cifrada con los puestos.");
        redSegura = s.redSegura;
    }
    r.securityChanged = claveRed != s.claveRed || redSegura != s.redSegura;
    s.claveRed = claveRed;
    s.redSegura = redSegura;
    if (r.securityChanged && hooks.writeSecurity)
        hooks.writeSecurity();
    const TariffPageResult tariff = ApplyTariffPage(f.tariff);
    if (!tariff.error.isEmpty()) {
        r.tariffError = tariff.error;
    } else if (!(tariff.tariff == s.tariff)) {
        s.tariff = tariff.tariff;
        r.tariffChanged = true;
        if (hooks.writeTariff) {
            hooks.writeTariff(s.tariff);
        }
    }
    return r;
}

int AnnounceServiceMode(ServerContext& ctx, int mode) {
    namespace p = tarvina::protocol;
    const QByteArray line =
        p::FormatToClient(p::tc::ServiceMode, p::FormatHex(static_cast<quint32>(mode & 0xF), 1));
    std::vector<TCompItem*> records;
    {
        ComputersGuard guard(ctx.registry.lock());
        for (int i = 0; i < ctx.registry.rowCount(); ++i) {
            records.push_back(ctx.registry.recordAt(i));
        }
    }
    int told = 0;
    for (TCompItem* r : records) {
        const SendResult sent =
            SendToComputer(ctx, r, line, QStringLiteral("SetServiceMode"),
                           [](const QString& name, const QString&) {
                               return QStringLiteral("Falla al intentar refrescar ") + name;
                           });
        told += sent == SendResult::Sent ? 1 : 0;
    }
    return told;
}

} // namespace tarvina::server
