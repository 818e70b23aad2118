#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <array>

namespace tarvina::client {

// Every customer-facing text of the station, by the language-file key it is
// read from. A key read for two controls with different defaults (btMasTiempo
// of "Indicio") has one entry per use.
enum class Txt {
    // Texto
    lblHora,
    Disponible,
    lblDisponible,
    lblTranscurrido,
    lblInvisible,
    btRegresivo,
    lblAlarma,
    lblMin,
    btActAlarma,
    btIdioma,
    lblTiempo,
    frmMasTiempo,
    btMensajes,
    btOculta,
    lblPINMsg,
    LblStsPin,
    BtnTryPin,
    mnuMasTiempo,
    mnuFreeMessage,
    // Indicio
    HintRegresivo,
    HintAlarma,
    HintActAlarma,
    HintIdioma,
    HintMasTiempoOk,
    HintMasTiempoBox,
    HintMensajes,
    HintOculta,
    HintClock1,
    HintClock2,
    // Interno
    StrEnUso,
    StrCloseRecep,
    StrEndConn,
    StrDisconecting,
    StrAns01,
    StrUnkComm,
    StrSuccessConn,
    StrConnecting,
    StrBadPassword,
    StrFailConn,
    StrBlock,
    StrWithOutConn,
    StrRetry,
    AccessWelcomeCaption,
    StrNoLimite,
    StrTryAccess,
    StrMinutesGranted,
    StrMainActive,
    StrBackActive,
    StrClockActive,
    StrGrantAccess,
    StrCheckTask,
    StrNotice,
    StrPassReq,
    StrAppPresent,
    StrPinReq,
    StrExtWin,
    StrSuccessTrans,
    // Menu
    MnuTermina,
    MnuVisible,
    MnuTareas,
    // Acceso
    AccTime,
    AccUsuario,
    AccClave,
    AccEscribaClave,
    AccOK,
    AccCancel,
    PassCaption,
    AccessCaption,
    NotCaption,
    Count
};

struct TextEntry {
    Txt id;
    const char* section;
    const char* key;
    const char* spanish; // UTF-8
};

// The whole table, in the order of the enum.
const std::array<TextEntry, static_cast<size_t>(Txt::Count)>& TextTable();

// A parsed language file: sections of key = value pairs, names compared
// without regard to case as the INI readers of the origin do. The bytes are
// Windows-1252. Lines longer than a few kilobytes and files beyond 1 MiB are
// cut: a language file is small, and nothing read from disk may grow memory
// without bound.
class IniFile {
public:
    static constexpr qsizetype kMaxFileSize = 1 << 20;
    static IniFile Parse(const QByteArray& bytes);
    // Reads the file; a missing or unreadable file reads as empty.
    static IniFile Load(const QString& path);

    // nullptr-like: empty QString with found=false when the key is absent.
    bool contains(const QString& section, const QString& key) const;
    QString value(const QString& section, const QString& key, const QString& fallback) const;

private:
    QHash<QString, QString> values_; // "section\nkey" in lower case -> value
};

// The texts in force: Spanish defaults overlaid by the last applied file.
class LanguageTexts {
public:
    LanguageTexts();
    const QString& get(Txt id) const { return texts_[static_cast<size_t>(id)]; }
    // Every key of the table from the file; missing keys take the defaults.
    void apply(const IniFile& file);
    void resetToDefaults();

    // "Se le han otorgando %d minutos adicionales" filled.
    QString minutesGranted(int minutes) const;

private:
    std::array<QString, static_cast<size_t>(Txt::Count)> texts_;
};

// Captions from which every "&" is removed before use (the more-time and the
// grant-access dialog captions).
QString StripAmpersands(const QString& caption);

// One entry of the language menu.
struct LanguageMenuEntry {
    QString title; // "Id"/"Titulo", or the file's name
    QString path;  // full path (the item's hint)
};
// The "*.lng" files of a folder, sorted by name, with their titles.
QList<LanguageMenuEntry> BuildLanguageMenu(const QString& folder);

} // namespace tarvina::client
