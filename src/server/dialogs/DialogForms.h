#pragma once

#include "common/DateTime.h"
#include "server/settings/Tariff.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarvina::server {

struct TCompItem;

// The models of the computers view's dialogs: what each field starts with,
// what it offers and when the dialog may close. The dialogs are thin views
// over them.

// TfrmAutoriza, "Autoriza acceso a cliente".
class GrantForm {
public:
    static QStringList TimeItems();
    // Each showing: the user back to "<Gen>"; the label names the computer.
    void show(const QString& computerName);
    QString label() const { return label_; }
    QString user;
    QString minutes;
    // "Faltan campos por seleccionar" unless the user is not empty and the
    // minutes are a positive integer or "<sin límite>".
    std::optional<QString> acceptError() const;

    // With a tariff the dialog shows what the minutes chosen cost from
    // `start`: "Precio: " and the amount; empty without one, for no minutes
    // and for use without limit.
    Tariff tariff;
    common::DateTime start;
    QString priceText() const;

private:
    QString label_;
};

// TfrmCobro, "Cobro": what a computer owes and the change for what the
// customer hands over.
class PaymentForm {
public:
    void show(const QString& computerName, qint64 minutes, qint64 cents);
    QString computer;
    qint64 minutes = 0;
    qint64 cents = 0;
    // "Recibido" as typed; empty takes the exact amount.
    QString received;
    // The change; nullopt while "Recibido" is no amount or less than owed.
    std::optional<qint64> change() const;
    // "Vuelto" in the café's currency, or why there is none yet.
    QString changeText() const;
    bool okEnabled() const { return cents > 0 && change().has_value(); }
};

// TfrmMoreTime, "Otorga más tiempo".
class MoreTimeForm {
public:
    static QStringList TimeItems();
    void show();
    QString minutes = QStringLiteral("30");
    bool notify = true;
    bool okEnabled() const { return !minutes.isEmpty(); }
    bool silent() const { return !notify; }
};

// TfrmSelTargetComp, "Selecciona nueva máquina de navegación".
class MoveTargetForm {
public:
    struct Entry {
        TCompItem* record = nullptr;
        QString name;
    };
    void show(QList<Entry> entries, int preselected = -1);
    const QList<Entry>& entries() const { return entries_; }
    // A click on an entry (or -1 on none).
    void click(int index);
    bool okEnabled() const { return chosen_ >= 0; }
    TCompItem* chosen() const;

private:
    QList<Entry> entries_;
    int chosen_ = -1;
};

// TfrmReset, "Apagar equipos".
class ShutdownForm {
public:
    static QStringList ModeItems();
    static QChar LetterOf(int mode);
    int seconds = 0;
    int mode = 0;
    QChar letter() const { return LetterOf(mode); }
};

// TfrmServPass, "Contraseña de servicio".
class ServicePasswordForm {
public:
    // Both fields are emptied each time the dialog opens.
    void show();
    QString password;
    QString again;
    // "Las contraseñas difieren o están en blanco. Inténtelo de nuevo por
    // favor." unless both are equal and not empty.
    std::optional<QString> acceptError() const;
};

// TfrmRun, "Ejecutar en " + name: remembers its computer; the list grows
// with every text sent during the run (duplicates kept).
class RunForm {
public:
    void openFor(TCompItem* record, const QString& name);
    TCompItem* target() const { return target_; }
    QString caption() const;
    const QStringList& history() const { return history_; }
    // OK: the text joins the list; the caller then sends it.
    void sent(const QString& text);

private:
    TCompItem* target_ = nullptr;
    QString name_;
    QStringList history_;
};

// TfrmVol, "Volumen": two channels in percent; with "Sinc. ambos can." each
// slider follows the other.
class VolumeForm {
public:
    void show(TCompItem* record, const QString& name, int leftPercent, int rightPercent);
    TCompItem* target() const { return target_; }
    const QString& name() const { return name_; }
    int left() const { return left_; }
    int right() const { return right_; }
    bool sync = true;
    void moveLeft(int percent);
    void moveRight(int percent);
    // The values sent on release, 0..65535.
    int leftValue() const;
    int rightValue() const;

private:
    TCompItem* target_ = nullptr;
    QString name_;
    int left_ = 0;
    int right_ = 0;
};

} // namespace tarvina::server
