#pragma once

#include "client/station/StationPlatform.h"
#include "client/station/StationView.h"
#include "platform/NetworkBrowser.h"
#include "platform/Pinger.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tarvina::client::ui {

// The welcome dialog of a grant: time, user and, when the grant carries one,
// the password row.
class TfrmGrantAccess : public QDialog {
    Q_OBJECT
public:
    explicit TfrmGrantAccess(QWidget* parent = nullptr);
    void setTexts(const LanguageTexts& t);
    // Shows modally; true for OK with the typed password.
    bool run(const WelcomeDialog::Setup& setup, QString* typed);

private:
    QLabel* lblTime_;
    QLabel* lblTimeValue_;
    QLabel* lblUser_;
    QLabel* lblUserValue_;
    QLabel* lblPass_;
    QLineEdit* edPass_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QString accessCaption_;
};

// "Mensaje": a stay-on-top notice with one OK button, not modal.
class TfrmNotice : public QDialog {
    Q_OBJECT
public:
    explicit TfrmNotice(QWidget* parent = nullptr);
    void showText(const QString& text, const QString& caption);
    void setTexts(const LanguageTexts& t);

private:
    QLabel* text_;
    QPushButton* ok_;
};

// "Contraseña": the masked password box of the exit.
class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordDlg(QWidget* parent = nullptr);
    bool ask(QString* typed, const QString& caption);
    void setTexts(const LanguageTexts& t);

private:
    QLineEdit* edit_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

// "Solicitud de tiempo adicional": the minutes to ask the cashier for.
class TfrmReqTime : public QDialog {
    Q_OBJECT
public:
    explicit TfrmReqTime(QWidget* parent = nullptr);
    void follow(const ClientDisplay& d, const LanguageTexts& t);
    QString minutesText() const { return CmbMoreTime->currentText(); }
    QComboBox* CmbMoreTime;

private:
    QPushButton* ok_;
    QPushButton* cancel_;
};

// "Enviar mensaje": free text to the cashier.
class TfrmSendMsg : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSendMsg(QWidget* parent = nullptr);
    QString text() const { return memo_->toPlainText(); }
    void clear() { memo_->clear(); }
    // Caption from "btMensajes" of "Indicio", buttons from "Acceso".
    void setTexts(const LanguageTexts& t);

private:
    QPlainTextEdit* memo_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

// "Procesando": the small progress note shown while something loads.
class Tfrmmsg : public QDialog {
    Q_OBJECT
public:
    explicit Tfrmmsg(QWidget* parent = nullptr);
    // Shows the text at once (the work that follows holds the event loop).
    void note(const QString& text);

private:
    QLabel* label_;
};

// "Selecciona computador en RED": the server chooser at start.
class TfrmRed : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRed(const QString& host, QWidget* parent = nullptr);
    QString host() const { return CmbNameIP->currentText().trimmed(); }
    // Switches on "Refresca" (when a browser is given) and "Test".
    void useNetwork(platform::Pinger& pinger, platform::NetworkBrowser* browser, quint16 port);
    QComboBox* CmbNameIP;
    QPushButton* BtnRefresca;
    QPushButton* BtnTest;
};

} // namespace tarvina::client::ui
