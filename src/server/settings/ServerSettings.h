#pragma once

#include "platform/LinkSecurity.h"
#include "platform/Registry.h"
#include "server/settings/ServerKeys.h"
#include "server/settings/Tariff.h"

#include <QSize>
#include <QString>
#include <optional>

namespace tarvina::server {

// Shown in the password fields while a password is stored.
inline constexpr char kPasswordPlaceholder[] = "7403918826150";

// The in-memory copy of the settings, read once at start and written back
// at an orderly close. Passwords are kept scrambled, as stored.
struct ServerSettings {
    QString toolBarWallPaper;
    qint32 toolBarFlat = keys::kToolBarFlat.fallback();
    qint32 toolBarAlign = keys::kToolBarAlign.fallback();
    QString zuStdVer;
    bool confirmClose = keys::kConfirmClose.fallback();
    qint32 nLines = keys::kNLines.fallback();
    bool rawMode = keys::kRawMode.fallback();
    qint32 prnTicket = keys::kPrnTicket.fallback();
    qint32 port = keys::kPort.fallback();
    qint32 ticketLeft = keys::kTicketLeft.fallback();
    qint32 ticketWidth = keys::kTicketWidth.fallback();
    qint32 compColDesc = keys::kCompColDesc.fallback();
    qint32 compColBlock = keys::kCompColBlock.fallback();
    qint32 compColUse = keys::kCompColUse.fallback();
    qint32 compColWait = keys::kCompColWait.fallback();
    QString lineaFin1;
    QString lineaFin2;
    QString pais = keys::kPais.fallback();
    QString moneda;
    qint32 serviceMode = keys::kServiceMode.fallback();
    QString registro = QString::fromUtf16(keys::kRegistroEmpty);
    QString rif;
    QString denominacion;
    QString dir1, dir2, dir3;
    QString telefono;
    QString passwordStd;
    QString passwordStdPin;
    QString clientInit;
    qint32 clienteModo = keys::kClienteModo.fallback();
    QString clienteVal = keys::kClienteVal.fallback();
    qint32 limitBitacora = keys::kLimitBitacora.fallback();
    // Scrambled as stored; empty while none was generated.
    QString claveRed;
    qint32 redSegura = keys::kRedSegura.fallback();
    Tariff tariff;
    // The central copy; centralClave scrambled as stored.
    QString sucursal, central, centralClave;
    // Never stored.
    bool toolBarVisible = true;
    bool firstRun = false;
};

// The program's version text as ZUSTDVer stores it: "%d.%d (B %d.%d)".
QString ProgramVersionText();

// Reads every value as the start-up does (each value or group on its own,
// with its fallbacks); LimitBitacora is written back when unreadable.
ServerSettings LoadSettings(platform::Registry& registry);

// Writes every stored value in the close's order, with `now` as Salida and
// LastOutStd. False when the store could not save.
bool SaveSettings(platform::Registry& registry, const ServerSettings& s, double nowDays);

// What the listener applies: the mode and the key's PSK. A mode outside 0-2
// reads as 0; without a readable key every stream stays plain.
platform::LinkSecurity SecurityOf(const ServerSettings& s);
// Stores ClaveRed and RedSegura at once; false when the store could not save.
bool WriteSecurity(platform::Registry& registry, const ServerSettings& s);
// Stores Sucursal, Central and CentralClave at once.
bool WriteCentral(platform::Registry& registry, const ServerSettings& s);
// The central password as stored (scrambled like the others, over a form
// the scramble can be undone on: the database needs the password itself),
// and back; empty for a stored text that is none.
QString ScrambledCentralPassword(const QString& plain);
QString PlainCentralPassword(const QString& stored);

// Window placement ("frmZUCaja.Left", ...).
struct WindowPlacement {
    std::optional<int> state; // 0 normal, 1 minimized, 2 maximized
    std::optional<int> left, top, height, width;
};
// Reads the state first; a state other than normal is all that is applied.
// Otherwise left, top, height, width in that order until one cannot be read;
// an edge beyond the screen becomes 50; the height is made at least 150.
WindowPlacement RestorePlacement(const platform::Registry& registry, const QString& windowName,
                                 QSize screen);
bool SavePlacement(platform::Registry& registry, const QString& windowName, int left, int top,
                   int height, int width, int state);

// --- rules of the preferences page, without its widgets ---

// What one password page asks for; on error, the text of the box titled
// "Contraseñas - Error".
struct PasswordPageResult {
    bool changed = false;
    QString error;
};
// The fields show kPasswordPlaceholder while a password is stored.
PasswordPageResult ApplyPasswordPage(QString& storedScrambled, const QString& oldField,
                                     const QString& newField, const QString& repeatField);
bool PasswordMatches(const QString& storedScrambled, const QString& typed);

// The log limit as the "Misceláneos" page shows it: a number and its unit
// (0 "Bytes", 1 "Kbytes", 2 "Mbytes").
struct LogLimitShown {
    qint64 number = 10;
    int unit = 2;
};
LogLimitShown ShowLogLimit(std::optional<qint32> stored);
// The stored value of a number and unit; nullopt when it does not fit a
// signed 32-bit integer (the save stops there).
std::optional<qint32> LogLimitValue(qint64 number, int unit);
// Reads LimitBitacora from the store; writes the default when unreadable.
qint32 ReadLogLimit(platform::Registry& registry);
// Reads LimitBitacora as stored; nullopt when it cannot be read.
std::optional<qint32> StoredLogLimit(const platform::Registry& registry);
// Writes LimitBitacora at once (the preferences' save does).
bool WriteLogLimit(platform::Registry& registry, qint32 limit);

} // namespace tarvina::server
