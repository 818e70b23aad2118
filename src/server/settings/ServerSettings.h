#pragma once

#include "platform/Registry.h"

#include <QSize>
#include <QString>
#include <optional>

namespace tarvina::server {

// Where taquilla keeps its settings: a key of the current user's root.
inline constexpr char16_t kSettingsKey[] = u"\\Software\\Velt\\Tarvina";
// What the start command falls back to when its group cannot be read.
inline constexpr char16_t kDefaultClientInit[] = u"http://localhost/";
// Shown in the password fields while a password is stored.
inline constexpr char kPasswordPlaceholder[] = "7403918826150";

// The in-memory copy of the settings, read once at start and written back
// at an orderly close. Passwords are kept scrambled, as stored.
struct ServerSettings {
    QString toolBarWallPaper;
    qint32 toolBarFlat = 1;
    qint32 toolBarAlign = 1;
    QString zuStdVer;
    bool confirmClose = true;
    qint32 nLines = 2;
    bool rawMode = false;
    qint32 prnTicket = 0;
    qint32 port = 0;
    qint32 ticketLeft = 2;
    qint32 ticketWidth = 30;
    qint32 compColDesc = 255;
    qint32 compColBlock = 8421504;
    qint32 compColUse = 65280;
    qint32 compColWait = 65535;
    QString lineaFin1;
    QString lineaFin2;
    QString pais = QStringLiteral("Venezuela");
    QString moneda;
    qint32 serviceMode = 0;
    QString registro = QStringLiteral("Registro fiscal");
    QString rif;
    QString denominacion;
    QString dir1, dir2, dir3;
    QString telefono;
    QString passwordStd;
    QString passwordStdPin;
    QString clientInit;
    qint32 clienteModo = 1;
    QString clienteVal = QStringLiteral("15,30,60");
    qint32 limitBitacora = 10485760;
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
