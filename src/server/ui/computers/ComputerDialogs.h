#pragma once

#include "server/dialogs/DialogForms.h"

#include <QDialog>
#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace tarvina::server {

// The dialogs of the computers view, each a thin view over its form.

// "Autoriza acceso a cliente".
class TfrmAutoriza : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAutoriza(QWidget* parent = nullptr);
    // Shows the dialog for one computer; the user and minutes when accepted.
    std::optional<std::pair<QString, QString>> ask(const QString& computerName);
    // Prepares the fields as a showing does (tests drive the rest).
    void prepare(const QString& computerName);
    QLineEdit* userEdit() const { return user_; }
    QComboBox* timeBox() const { return time_; }
    QPushButton* okButton() const { return ok_; }
    QLabel* priceLabel() const { return price_; }
    GrantForm& form() { return form_; }

    void accept() override;

Q_SIGNALS:
    // A refusal box is about to show (tests watch it instead of the box).
    void refused(const QString& text);

private:
    GrantForm form_;
    QLabel* name_;
    QLabel* price_ = nullptr;
    QLineEdit* user_;
    QComboBox* time_;
    QPushButton* ok_;
};

// "Otorga más tiempo".
class TfrmMoreTime : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMoreTime(QWidget* parent = nullptr);
    void prepare();
    // minutes and notify when accepted.
    std::optional<std::pair<QString, bool>> ask();
    QComboBox* timeBox() const { return time_; }
    QCheckBox* notifyBox() const { return notify_; }
    QPushButton* okButton() const { return ok_; }
    const MoreTimeForm& form() const { return form_; }

private:
    void sync();
    MoreTimeForm form_;
    QComboBox* time_;
    QCheckBox* notify_;
    QPushButton* ok_;
};

// "Selecciona nueva máquina de navegación".
class TfrmSelTargetComp : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelTargetComp(QWidget* parent = nullptr);
    void prepare(QList<MoveTargetForm::Entry> entries);
    TCompItem* ask(QList<MoveTargetForm::Entry> entries);
    QListWidget* list() const { return list_; }
    QPushButton* okButton() const { return ok_; }
    const MoveTargetForm& form() const { return form_; }

private:
    MoveTargetForm form_;
    QListWidget* list_;
    QPushButton* ok_;
};

// "Apagar equipos".
class TfrmReset : public QDialog {
    Q_OBJECT
public:
    explicit TfrmReset(QWidget* parent = nullptr);
    // seconds and letter when accepted.
    std::optional<std::pair<int, QChar>> ask();
    QSpinBox* secondsBox() const { return seconds_; }
    QRadioButton* modeButton(int i) const { return modes_[i]; }
    ShutdownForm form() const;

private:
    QSpinBox* seconds_;
    QRadioButton* modes_[5];
};

// "Contraseña de servicio".
class TfrmServPass : public QDialog {
    Q_OBJECT
public:
    explicit TfrmServPass(QWidget* parent = nullptr);
    void prepare();
    std::optional<QString> ask();
    QLineEdit* passwordEdit() const { return first_; }
    QLineEdit* againEdit() const { return second_; }
    void accept() override;

Q_SIGNALS:
    void refused(const QString& text);

private:
    ServicePasswordForm form_;
    QLineEdit* first_;
    QLineEdit* second_;
};

// "Ejecutar en " + name: modeless; keeps sending to the computer it was
// opened for.
class TfrmRun : public QDialog {
    Q_OBJECT
public:
    using Send = std::function<void(TCompItem*, const QString&)>;
    TfrmRun(Send send, QWidget* parent = nullptr);
    void openFor(TCompItem* record, const QString& name);
    QComboBox* commandBox() const { return command_; }
    const RunForm& form() const { return form_; }
    void accept() override;

private:
    Send send_;
    RunForm form_;
    QComboBox* command_;
};

// "Volumen": the computer's name, two vertical sliders and "Sinc. ambos
// can."; a released slider sends both channels.
class TfrmVol : public QDialog {
    Q_OBJECT
public:
    using Send = std::function<void(TCompItem*, int left, int right)>;
    TfrmVol(Send send, QWidget* parent = nullptr);
    void showFor(TCompItem* record, const QString& name, int leftPercent, int rightPercent);
    QSlider* leftSlider() const { return left_; }
    QSlider* rightSlider() const { return right_; }
    QCheckBox* syncBox() const { return sync_; }
    const VolumeForm& form() const { return form_; }

private:
    void released();
    Send send_;
    VolumeForm form_;
    QLabel* name_;
    QSlider* left_;
    QSlider* right_;
    QCheckBox* sync_;
};

// The text windows "Mensajes desde " and "Accesos hechos a ": a read-only
// memo with both scroll bars, in a window of its own that does not block
// the main window.
class TextWindow : public QDialog {
    Q_OBJECT
public:
    TextWindow(const QString& title, const QStringList& lines, QWidget* parent = nullptr);
    QPlainTextEdit* memo() const { return memo_; }

private:
    QPlainTextEdit* memo_;
};

// The notice input box "Notificación" / "Texto:"; none on cancel.
std::optional<QString> AskNotice(QWidget* parent);

} // namespace tarvina::server
