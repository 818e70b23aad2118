#include "server/settings/ServerSettings.h"

#include "common/Cp1252.h"
#include "common/Currency.h"
#include "common/Password.h"

namespace tarvina::server {

using platform::Registry;
using platform::Root;

namespace {

const QString& Key() {
    static const QString k = QString::fromUtf16(kSettingsKey);
    return k;
}

std::optional<QString> Text(const Registry& r, const char* name) {
    return r.readString(Root::CurrentUser, Key(), QLatin1String(name));
}
std::optional<qint32> Int(const Registry& r, const char* name) {
    return r.readInteger(Root::CurrentUser, Key(), QLatin1String(name));
}

bool WriteText(Registry& r, const char* name, const QString& v) {
    return r.writeString(Root::CurrentUser, Key(), QLatin1String(name), v);
}
bool WriteInt(Registry& r, const char* name, qint32 v) {
    return r.writeInteger(Root::CurrentUser, Key(), QLatin1String(name), v);
}
bool WriteDate(Registry& r, const char* name, double days) {
    return r.writeBinary(Root::CurrentUser, Key(), QLatin1String(name),
                         platform::EncodeDateTimeValue(days));
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
    r.createKey(Root::CurrentUser, Key());
    s.toolBarWallPaper = Text(r, "ToolBarWallPaper").value_or(QString());
    s.toolBarFlat = Int(r, "ToolBarFlat").value_or(1);
    s.toolBarAlign = Int(r, "ToolBarAlign").value_or(1);
    s.zuStdVer = Text(r, "ZUSTDVer").value_or(QStringLiteral("1.3"));
    s.confirmClose = Int(r, "ConfirmClose").value_or(1) != 0;
    {
        const auto nLines = Int(r, "NLines");
        const auto raw = Int(r, "RawMode");
        if (nLines && raw) {
            s.nLines = *nLines;
            s.rawMode = *raw != 0;
        }
    }
    s.prnTicket = Int(r, "PrnTicket").value_or(0);
    s.port = Int(r, "Port").value_or(0);
    {
        const auto left = Int(r, "TicketLeft");
        const auto width = Int(r, "TicketWidth");
        if (left && width) {
            s.ticketLeft = *left;
            s.ticketWidth = *width;
        }
    }
    {
        const auto d = Int(r, "CompColDesc"), b = Int(r, "CompColBlock"), u = Int(r, "CompColUse"),
                   w = Int(r, "CompColWait");
        if (d && b && u && w) {
            s.compColDesc = *d;
            s.compColBlock = *b;
            s.compColUse = *u;
            s.compColWait = *w;
        }
    }
    {
        const auto f1 = Text(r, "LineaFin1"), f2 = Text(r, "LineaFin2");
        if (f1 && f2) {
            s.lineaFin1 = *f1;
            s.lineaFin2 = *f2;
        } else {
            s.lineaFin1 = QStringLiteral("Gracias por su preferencia");
            s.lineaFin2.clear();
        }
    }
    s.pais = Text(r, "Pais").value_or(QString());
    if (s.pais.isEmpty())
        s.pais = QStringLiteral("Venezuela");
    s.moneda = Text(r, "Moneda").value_or(QString());
    if (s.moneda.isEmpty())
        s.moneda = common::SystemCurrencySymbol();
    if (const auto mode = Int(r, "ServiceMode")) {
        s.serviceMode = *mode;
    } else {
        s.serviceMode = 0;
        s.firstRun = true;
    }
    if (const auto reg = Text(r, "Registro"))
        s.registro = reg->isEmpty() ? QStringLiteral("Registro fiscal") : *reg;
    else
        s.registro = QStringLiteral("Registro");
    {
        static const char* const kGroup[] = {"RIF",         "Denominacion",   "DIR1",
                                             "DIR2",        "DIR3",           "Telefono",
                                             "PasswordStd", "PasswordStdPin", "ClientInit"};
        QString* const fields[] = {&s.rif,         &s.denominacion,   &s.dir1,
                                   &s.dir2,        &s.dir3,           &s.telefono,
                                   &s.passwordStd, &s.passwordStdPin, &s.clientInit};
        bool ok = true;
        QString values[9];
        for (int i = 0; i < 9 && ok; ++i) {
            const auto v = Text(r, kGroup[i]);
            ok = v.has_value();
            if (ok)
                values[i] = *v;
        }
        for (int i = 0; i < 9; ++i)
            *fields[i] = ok ? values[i] : QString();
        if (!ok)
            s.clientInit = QString::fromUtf16(kDefaultClientInit);
    }
    {
        const auto modo = Int(r, "ClienteModo");
        const auto val = Text(r, "ClienteVal");
        if (modo && val) {
            s.clienteModo = *modo;
            s.clienteVal = *val;
        }
    }
    s.limitBitacora = ReadLogLimit(r);
    return s;
}

qint32 ReadLogLimit(Registry& r) {
    if (const auto v = Int(r, "LimitBitacora"))
        return *v;
    WriteInt(r, "LimitBitacora", 10485760);
    return 10485760;
}

std::optional<qint32> StoredLogLimit(const Registry& r) {
    return Int(r, "LimitBitacora");
}

bool WriteLogLimit(Registry& r, qint32 limit) {
    platform::SaveBatch batch(r);
    WriteInt(r, "LimitBitacora", limit);
    return batch.commit();
}

bool SaveSettings(Registry& r, const ServerSettings& s, double nowDays) {
    platform::SaveBatch batch(r);
    WriteInt(r, "ClienteModo", s.clienteModo);
    WriteText(r, "ClienteVal", s.clienteVal);
    WriteText(r, "ZUSTDVer", ProgramVersionText());
    WriteText(r, "RIF", s.rif);
    WriteText(r, "Pais", s.pais);
    WriteText(r, "Moneda", s.moneda);
    WriteText(r, "Registro", s.registro);
    WriteInt(r, "ServiceMode", s.serviceMode);
    WriteText(r, "DIR1", s.dir1);
    WriteText(r, "PasswordStd", s.passwordStd);
    WriteText(r, "PasswordStdPin", s.passwordStdPin);
    WriteText(r, "Denominacion", s.denominacion);
    WriteText(r, "DIR2", s.dir2);
    WriteText(r, "DIR3", s.dir3);
    WriteText(r, "Telefono", s.telefono);
    WriteDate(r, "Salida", nowDays);
    WriteText(r, "ClientInit", s.clientInit);
    WriteText(r, "LineaFin1", s.lineaFin1);
    WriteText(r, "LineaFin2", s.lineaFin2);
    WriteInt(r, "PrnTicket", s.prnTicket);
    WriteInt(r, "RawMode", s.rawMode ? 1 : 0);
    WriteInt(r, "NLines", s.nLines);
    WriteInt(r, "Port", s.port);
    WriteInt(r, "ConfirmClose", s.confirmClose ? 1 : 0);
    WriteText(r, "ToolBarWallPaper", s.toolBarWallPaper);
    WriteInt(r, "ToolBarFlat", s.toolBarFlat);
    WriteInt(r, "ToolBarAlign", s.toolBarAlign);
    WriteInt(r, "TicketLeft", s.ticketLeft);
    WriteInt(r, "TicketWidth", s.ticketWidth);
    WriteInt(r, "CompColDesc", s.compColDesc);
    WriteInt(r, "CompColBlock", s.compColBlock);
    WriteInt(r, "CompColUse", s.compColUse);
    WriteInt(r, "CompColWait", s.compColWait);
    WriteDate(r, "LastOutStd", nowDays);
    return batch.commit();
}

WindowPlacement RestorePlacement(const Registry& r, const QString& windowName, QSize screen) {
    WindowPlacement p;
    if (!r.keyExists(Root::CurrentUser, Key()))
        return p;
    const auto read = [&](const char* suffix) {
        return r.readInteger(Root::CurrentUser, Key(), windowName + QLatin1String(suffix));
    };
    p.state = read(".WindowsState");
    if (!p.state)
        return p;
    if (*p.state != 0)
        return p;
    p.left = read(".Left");
    if (p.left) {
        p.top = read(".Top");
        if (p.top) {
            p.height = read(".Height");
            if (p.height)
                p.width = read(".Width");
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
    const auto write = [&](const char* suffix, int v) {
        r.writeInteger(Root::CurrentUser, Key(), windowName + QLatin1String(suffix), v);
    };
    write(".Left", left);
    write(".Top", top);
    write(".Height", height);
    write(".Width", width);
    write(".WindowsState", state);
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
