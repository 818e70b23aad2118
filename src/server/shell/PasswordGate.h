#pragma once

#include <QString>

namespace tarvina::server {

struct ServerSettings;

// The four places that ask the operator's password before going on.
enum class Gate {
    StartUp,       // first show; failure forces the program to close
    ManageClients, // icon menu "Administrar Clientes" or a double click on the icon
    CloseApp,      // icon menu "Cerrar aplicación ZU"
    PinPage,       // side bar item "PIN" (the codes page)
};

// What the password dialog TfrmPass does with what is typed, without its
// widgets: the typed text is scrambled and compared with the stored one; a
// mismatch changes the caption and the dialog asks again.
class PasswordPrompt {
public:
    static constexpr char16_t kCaptionAccess[] = u"Restricción de acceso.";
    static constexpr char16_t kCaptionPin[] = u"Restricción de acceso PIN.";
    static constexpr char16_t kCaptionRetry[] = u"Clave incorrecta. Inténtelo.";

    // storedScrambled as the settings hold it; an empty one needs no dialog.
    PasswordPrompt(QString storedScrambled, QString caption);
    // The gate's password and caption from the settings.
    static PasswordPrompt For(Gate gate, const ServerSettings& settings);

    bool needed() const { return !stored_.isEmpty(); }
    QString caption() const { return caption_; }
    int failures() const { return failures_; }
    // True when the typed text is the password; otherwise the caption
    // becomes the retry text.
    bool submit(const QString& typed);

private:
    QString stored_;
    QString caption_;
    int failures_ = 0;
};

} // namespace tarvina::server
