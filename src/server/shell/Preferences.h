#pragma once

#include "server/settings/ServerSettings.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace tarvina::server {

// The countries of the "Regional" page, in the order offered.
const QStringList& CountryList();
// Index of a country in CountryList (without regard to case); -1 when absent.
int CountryIndex(const QString& country);

// One entry of a colour picker: its name and its Windows colour value
// (0x00BBGGRR for plain colours; system colours carry the high bit and the
// system colour's number; "Por defecto" is 0x20000000).
struct ColourEntry {
    QString name;
    qint32 value;
};
const std::vector<ColourEntry>& ColourEntries();
// The first entry with that value; -1 when none has it.
int ColourIndex(qint32 value);
constexpr qint32 kSystemColourFlag = qint32(0x80000000u);
constexpr qint32 kDefaultColour = 0x20000000;

// A tax-id mask as the line editor takes it: "0" becomes a required digit,
// "A" a required letter or digit, every other character a literal; the
// blank character stands in the empty places. Empty for free text.
QString LineEditMask(const QString& editMask);
// The tax number field's text is acceptable when it fits the mask, or when
// nothing has been typed in it.
bool TaxIdAcceptable(const QString& text, const QString& editMask);
// Whether anything but literals and blanks stands in the field as shown.
bool TaxIdTyped(const QString& displayText, const QString& editMask);
// The messages of the tax-id field.
QString TaxIdLeaveError();
QString TaxIdTypingError(const QString& editMask);

// One password page as its three fields show it.
struct PasswordFields {
    QString oldText, newText, repeatText;
    bool oldEnabled = false;
};
PasswordFields ShowPasswordPage(const QString& storedScrambled);

// Everything the preferences page shows, control by control, without the
// widgets: ShowPreferences fills it from the settings, the page edits it,
// ApplyPreferences copies it back.
struct PreferencesForm {
    int serviceMode = 0; // 0 "Por solicitud", 1 "PIN"
    // "Empresa"
    QString denominacion;
    QString taxIdLabel; // the stored Registro
    QString taxIdMask;  // from the country
    QString rif;
    QString dir1, dir2, dir3, telefono;
    // "Regional"
    int countryIndex = -1;
    QString moneda;
    QString registro;
    // "Solicitud de tiempo"
    int clienteModo = 1;
    QString clienteVal;
    bool presetsEnabled = true;
    // "Misceláneos"
    qint64 logNumber = 10;
    int logUnit = 2; // 0 Bytes, 1 KBytes, 2 MBytes
    // "Colores vs estado": desconexión, bloqueo, en uso, en espera
    qint32 colours[4] = {255, 8421504, 65280, 65535};
    // "Contraseña"
    PasswordFields access, pin;
    // "Impresora"
    QStringList printers;
    int printerIndex = -1; // -1: nothing selected
    int portIndex = -1;
    bool rawMode = false; // "por Windows"
    int nLines = 2, ticketWidth = 30, ticketLeft = 2;
    // "Inicio"
    QString clientInit;
    // "General"
    bool confirmClose = true;
    bool toolBarVisible = true;
    // "Seguridad": the network key as shown (empty: none) and RedSegura
    QString networkKey;
    int redSegura = 0;
    // "Tarifas", under "General"
    TariffPageFields tariff;
};

// The unit label of the "Misceláneos" page: "Bytes", "Kbytes", "Mbytes".
QString LogUnitLabel(int unit);

// ShowPreferences: storedLogLimit is read from the store (nullopt when
// unreadable), printers is the system's list of printers.
PreferencesForm ShowPreferences(const ServerSettings& s, std::optional<qint32> storedLogLimit,
                                const QStringList& printers);

// The country chosen on the "Regional" page: the label and mask that take
// effect at once, and Registro with them.
void ChooseCountry(PreferencesForm& form, ServerSettings& s, int countryIndex);

struct ApplyResult {
    // Texts of the "Contraseñas - Error" boxes, access password first.
    QStringList passwordErrors;
    // The log limit did not fit: the save stopped there.
    bool logLimitOverflow = false;
    bool modeChanged = false;
    bool toolBarChanged = false;
    // The network key or the mode changed (stored at once by writeSecurity).
    bool securityChanged = false;
    // An encrypted mode chosen without a key: the mode stays as it was.
    QString securityError;
    // The text of the "Tarifas - Error" box; the stored tariff then stays.
    QString tariffError;
    bool tariffChanged = false;
};

// What ApplyPreferences reaches beyond the settings record.
struct ApplyHooks {
    // Writes LimitBitacora to the store at once.
    std::function<void(qint32)> writeLogLimit;
    // SetServiceMode of the main form.
    std::function<void(int)> setServiceMode;
    // Writes ClaveRed and RedSegura to the store at once: stations are
    // given the key by hand and must not lose it to a crash.
    std::function<void()> writeSecurity;
    // Writes the tariff to the store at once: money must not wait for an
    // orderly close.
    std::function<void(const Tariff&)> writeTariff;
};

// "Guardar cambios": copies the form into the settings in the fixed order.
ApplyResult ApplyPreferences(const PreferencesForm& form, ServerSettings& s,
                             const ApplyHooks& hooks);

struct ServerContext;
// Tells every connected station the operating mode at once ("40" + digit),
// rather than at its next refresh; returns how many were told.
int AnnounceServiceMode(ServerContext& ctx, int mode);

// The text of the integer-overflow error of a log limit that does not fit.
QString LogLimitOverflowText();

} // namespace tarvina::server
