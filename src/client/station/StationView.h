#pragma once

#include "client/station/Texts.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>

namespace tarvina::client {

// Everything the windows show; the widgets redraw from it on displayChanged.
struct ClientDisplay {
    enum class ClockColour { ButtonFace, Red, Yellow };

    QString statusText = QStringLiteral("Iniciando...");
    QString caption;  // computer name + "[" + state word + "]"
    QString appTitle; // "Tarvina [XP]"
    QString lblClock; // time of day, "hh:mm:ss a/p"
    QString lblDisp = QStringLiteral("00:00:00");
    QString clockText = QStringLiteral("00:00:00");
    QString dispCaption; // "Disponible" / "Transcurrido"
    int progress = 0;
    ClockColour clockColour = ClockColour::ButtonFace;
    QString clockHint;
    bool clockHintVisible = false;

    bool lockVisible = false;
    bool lockMayClose = false;
    int lockOpacity = 255;
    bool lockLayered = false;
    QString lockPicture; // full path of Background when it exists
    QString lockMessage; // the lock's top-left label ("Tareas en fondo")
    QString bannerFile;
    QPoint bannerPos;
    int bannerSerial = 0;

    bool mainVisible = true; // the "Visible" check
    bool terminaUsoEnabled = false;
    bool mensajesEnabled = false;
    bool masTiempoEnabled = false; // follows the connection
    bool masTiempoVisible = true;
    bool moreTimeFreeText = true;
    QStringList moreTimeItems{QStringLiteral("5"),  QStringLiteral("10"), QStringLiteral("15"),
                              QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("120")};

    bool alarmEnabled = true;
    int alarmMinutes = 5;
    int countMode = 0;

    // PIN panel
    bool pinPanelVisible = false;
    bool edPinEnabled = false;
    bool btnTryPinEnabled = false;
    QString lblStsPin = QStringLiteral("PIN [0..9, A..F]");
    QString lblStsCheckPin;
    int mainHeight = 147;

    // The café's price list as the server last sent it; while there is one,
    // the menu offers it and the account's state.
    QString priceList;
};

// The view model of the station's windows: the display, the texts in force
// and the requests to the windows. It lives on the main thread; only
// setStatus may be called from another thread.
class StationView : public QObject {
    Q_OBJECT
public:
    ClientDisplay& display() { return display_; }
    const ClientDisplay& display() const { return display_; }
    LanguageTexts& texts() { return texts_; }
    const LanguageTexts& texts() const { return texts_; }
    QString text(Txt id) const { return texts_.get(id); }

    void changed() { Q_EMIT displayChanged(); }
    // The status bar; from another thread the change is posted.
    void setStatus(const QString& text);
    // A text of the table, read on the main thread (the table changes there).
    void setStatus(Txt id);

Q_SIGNALS:
    void displayChanged();
    void clearPinBox();
    void closeTimeRequestDialog();
    void showClockWindow();
    void raiseLockScreen();
    void closeRequested(); // a shutdown action was carried out
    // The server's answer to "Solicitud de estado de cuenta".
    void showAccount(const QString& text);

private:
    ClientDisplay display_;
    LanguageTexts texts_;
};

} // namespace tarvina::client
