#include "client/station/Texts.h"

#include "common/BoundedRead.h"
#include "common/Cp1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarvina::client {

namespace {

constexpr char kTexto[] = "Texto";
constexpr char kIndicio[] = "Indicio";
constexpr char kInterno[] = "Interno";
constexpr char kMenu[] = "Menu";
constexpr char kAcceso[] = "Acceso";

// Longest line a language file may hold; longer lines are cut.
constexpr qsizetype kMaxLine = 8192;

QString JoinKey(const QString& section, const QString& key) {
    return section.trimmed().toLower() + u'\n' + key.trimmed().toLower();
}

} // namespace

const std::array<TextEntry, static_cast<size_t>(Txt::Count)>& TextTable() {
    static const std::array<TextEntry, static_cast<size_t>(Txt::Count)> table{{
        {Txt::lblHora, kTexto, "lblHora", "Hora"},
        {Txt::Disponible, kTexto, "Disponible", "Disponible"},
        {Txt::lblDisponible, kTexto, "lblDisponible", "Disponible"},
        {Txt::lblTranscurrido, kTexto, "lblTranscurrido", "Transcurrido"},
        {Txt::lblInvisible, kTexto, "lblInvisible", "Invisible"},
        {Txt::btRegresivo, kTexto, "btRegresivo", "Re&gresivo"},
        {Txt::lblAlarma, kTexto, "lblAlarma", "A&larma"},
        {Txt::lblMin, kTexto, "lblMin", "min"},
        {Txt::btActAlarma, kTexto, "btActAlarma", "&Alarma"},
        {Txt::btIdioma, kTexto, "btIdioma", "&Idioma"},
        {Txt::lblTiempo, kTexto, "lblTiempo", "&Tiempo"},
        {Txt::frmMasTiempo, kTexto, "frmMasTiempo", "&Más tiempo"},
        {Txt::btMensajes, kTexto, "btMensajes", "Me&nsajes"},
        {Txt::btOculta, kTexto, "btOculta", "&Oculta"},
        {Txt::lblPINMsg, kTexto, "lblPINMsg",
         "Es necesario que inserte un número de PIN válido para iniciar el uso de esta máquina. "
         "Si no lo tiene solicitelo al administrador."},
        {Txt::LblStsPin, kTexto, "LblStsPin", "PIN [0..9, A..F]"},
        {Txt::BtnTryPin, kTexto, "BtnTryPin", "Intenta"},
        {Txt::mnuMasTiempo, kTexto, "mnuMasTiempo", "Solicitud de más tiempo"},
        {Txt::mnuFreeMessage, kTexto, "mnuFreeMessage", "Mensaje libre a cajero"},
        {Txt::HintRegresivo, kIndicio, "btRegresivo",
         "Cambia el conteo de tiempo transcurrido/faltante"},
        {Txt::HintAlarma, kIndicio, "seAlarma", "Minutos antes del límite para activar la alarma"},
        {Txt::HintActAlarma, kIndicio, "btActAlarma", "Alarma activa/inactiva"},
        {Txt::HintIdioma, kIndicio, "btIdioma", "Selecciona idioma"},
        {Txt::HintMasTiempoOk, kIndicio, "btMasTiempo",
         "Solicita asignación de minutos adicionales al operador"},
        {Txt::HintMasTiempoBox, kIndicio, "btMasTiempo", "Minutos adicionales a solicitar"},
        {Txt::HintMensajes, kIndicio, "btMensajes", "Enviar mensajes a caja"},
        {Txt::HintOculta, kIndicio, "btOculta", "Oculta el presente formulario"},
        {Txt::HintClock1, kIndicio, "clock1", "Hora actua"},
        {Txt::HintClock2, kIndicio, "clock2", "Tiempo disponible o transcurrido"},
        {Txt::StrEnUso, kInterno, "StrEnUso", "En uso"},
        {Txt::StrCloseRecep, kInterno, "StrCloseRecep", "Cierra recepción"},
        {Txt::StrEndConn, kInterno, "StrEndConn", "Fin de conexión"},
        {Txt::StrDisconecting, kInterno, "StrDisconecting", "Desconectando"},
        {Txt::StrAns01, kInterno, "StrAns01", "Resp. 01 - Conexión"},
        {Txt::StrUnkComm, kInterno, "StrUnkComm", "Comando desconocido"},
        {Txt::StrSuccessConn, kInterno, "StrSuccessConn", "Conexión exitosa"},
        {Txt::StrConnecting, kInterno, "StrConnecting", "Conectando ..."},
        {Txt::StrBadPassword, kInterno, "StrBadPassword", "Clave incorrecta."},
        {Txt::StrFailConn, kInterno, "StrFailConn", "Falla conexión"},
        {Txt::StrBlock, kInterno, "StrBlock", "Bloqueado"},
        {Txt::StrWithOutConn, kInterno, "StrWithOutConn", "Sin conexión"},
        {Txt::StrRetry, kInterno, "StrRetry", "Re-intentando"},
        {Txt::AccessWelcomeCaption, kInterno, "AccessWelcomeCaption", "Acceso / Bienvenido"},
        {Txt::StrNoLimite, kInterno, "StrNoLimite", "Sin límite pre-establecido"},
        {Txt::StrTryAccess, kInterno, "StrTryAccess", "Intento de Acceso"},
        {Txt::StrMinutesGranted, kInterno, "StrMinutesGranted",
         "Se le han otorgando %d minutos adicionales"},
        {Txt::StrMainActive, kInterno, "StrMainActive", "Principal activo"},
        {Txt::StrBackActive, kInterno, "StrBackActive", "Fondo activo"},
        {Txt::StrClockActive, kInterno, "StrClockActive", "Reloj activo"},
        {Txt::StrGrantAccess, kInterno, "StrGrantAccess", "Se otorga acceso"},
        {Txt::StrCheckTask, kInterno, "StrCheckTask", "Revisa tareas"},
        {Txt::StrNotice, kInterno, "StrNotice", "Notificación activa"},
        {Txt::StrPassReq, kInterno, "StrPassReq", "Contraseña solicitada"},
        {Txt::StrAppPresent, kInterno, "StrAppPresent", "Aplicación presente"},
        {Txt::StrPinReq, kInterno, "StrPinReq", "PIN solicitado"},
        {Txt::StrExtWin, kInterno, "StrExtWin", "Ventana ajena activa"},
        {Txt::StrSuccessTrans, kInterno, "StrSuccessTrans", "Trasnmisión exitosa"},
        {Txt::MnuTermina, kMenu, "MnuTermina", "Termina"},
        {Txt::MnuVisible, kMenu, "MnuVisible", "Visible"},
        {Txt::MnuTareas, kMenu, "MnuTareas", "Tareas"},
        {Txt::AccTime, kAcceso, "Time", "Tiempo incial"},
        {Txt::AccUsuario, kAcceso, "Usuario", "Usuario"},
        {Txt::AccClave, kAcceso, "Clave", "Contraseña"},
        {Txt::AccEscribaClave, kAcceso, "Escriba_Clave", "Escriba clave"},
        {Txt::AccOK, kAcceso, "OK", "OK"},
        {Txt::AccCancel, kAcceso, "Cancel", "Cancela"},
        {Txt::PassCaption, kAcceso, "PassCaption", "Contraseña"},
        {Txt::AccessCaption, kAcceso, "AccessCaption", "Acceso"},
        {Txt::NotCaption, kAcceso, "NotCaption", "Mensaje"},
    }};
    return table;
}

IniFile IniFile::Parse(const QByteArray& raw) {
    IniFile ini;
    const QByteArray bytes = raw.left(kMaxFileSize);
    QString section;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', pos);
        if (end < 0)
            end = bytes.size();
        QByteArray line = bytes.mid(pos, std::min(end - pos, kMaxLine));
        pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = common::FromCp1252(line).trimmed();
        if (text.isEmpty() || text.startsWith(u';'))
            continue;
        if (text.startsWith(u'[')) {
            const qsizetype close = text.indexOf(u']');
            section = text.mid(1, close < 0 ? -1 : close - 1).trimmed();
            continue;
        }
        const qsizetype eq = text.indexOf(u'=');
        if (eq <= 0 || section.isEmpty())
            continue;
        const QString key = JoinKey(section, text.left(eq));
        // The first occurrence of a key wins, as the profile readers do.
        if (!ini.values_.contains(key))
            ini.values_.insert(key, text.mid(eq + 1).trimmed());
    }
    return ini;
}

IniFile IniFile::Load(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return Parse(common::ReadAtMost(f, kMaxFileSize));
}

bool IniFile::contains(const QString& section, const QString& key) const {
    return values_.contains(JoinKey(section, key));
}

QString IniFile::value(const QString& section, const QString& key, const QString& fallback) const {
    const auto it = values_.constFind(JoinKey(section, key));
    return it == values_.constEnd() ? fallback : *it;
}

LanguageTexts::LanguageTexts() {
    resetToDefaults();
}

void LanguageTexts::resetToDefaults() {
    for (const TextEntry& e : TextTable())
        texts_[static_cast<size_t>(e.id)] = QString::fromUtf8(e.spanish);
}

void LanguageTexts::apply(const IniFile& file) {
    for (const TextEntry& e : TextTable()) {
        texts_[static_cast<size_t>(e.id)] =
            file.value(QString::fromLatin1(e.section), QString::fromLatin1(e.key),
                       QString::fromUtf8(e.spanish));
    }
}

QString LanguageTexts::minutesGranted(int minutes) const {
    // The format comes from a file: fill only the first %d and leave any other
    // '%' alone, so a bad file can never make the fill read beyond its one value.
    QString format = get(Txt::StrMinutesGranted);
    const qsizetype at = format.indexOf(QStringLiteral("%d"));
    if (at < 0)
        return format;
    return format.replace(at, 2, QString::number(minutes));
}

QString StripAmpersands(const QString& caption) {
    QString out = caption;
    out.remove(u'&');
    return out;
}

QList<LanguageMenuEntry> BuildLanguageMenu(const QString& folder) {
    QList<LanguageMenuEntry> menu;
    QDir dir(folder);
    const QFileInfoList files =
        dir.entryInfoList(QStringList{QStringLiteral("*.lng")}, QDir::Files | QDir::Readable,
                          QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& fi : files) {
        const IniFile ini = IniFile::Load(fi.absoluteFilePath());
        QString title = ini.value(QStringLiteral("Id"), QStringLiteral("Titulo"), QString());
        if (title.isEmpty())
            title = fi.fileName();
        menu.append({title, fi.absoluteFilePath()});
    }
    return menu;
}

} // namespace tarvina::client
