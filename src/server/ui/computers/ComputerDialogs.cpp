#include "server/ui/computers/ComputerDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>

namespace tarvina::server {

namespace {

// "OK" and "Cancelar" in the program's own words, whatever Qt's language.
QDialogButtonBox* Buttons(QDialog* dialog, QPushButton** ok) {
    auto* box = new QDialogButtonBox(dialog);
    *ok = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    (*ok)->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

QLabel* Note(const QString& text, QWidget* parent) {
    auto* note = new QLabel(text, parent);
    QFont f = note->font();
    f.setBold(true);
    note->setFont(f);
    note->setWordWrap(true);
    return note;
}

QLabel* Buddy(const QString& text, QWidget* field, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(field);
    field->setAccessibleName(QString(text).remove(QLatin1Char('&')).remove(QLatin1Char(':')));
    return label;
}

void Refuse(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::NoButton,
                    parent);
    box.addButton(QStringLiteral("Aceptar"), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace

// --- TfrmAutoriza ---

TfrmAutoriza::TfrmAutoriza(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAutoriza"));
    setWindowTitle(QStringLiteral("Autoriza acceso a cliente"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    name_ = new QLabel(this);
    QFont f = name_->font();
    f.setBold(true);
    name_->setFont(f);
    layout->addWidget(name_);
    auto* form = new QFormLayout;
    user_ = new QLineEdit(this);
    user_->setMaxLength(255);
    time_ = new QComboBox(this);
    time_->setEditable(true);
    time_->addItems(GrantForm::TimeItems());
    time_->setCurrentIndex(-1);
    time_->lineEdit()->setMaxLength(32);
    form->addRow(Buddy(QStringLiteral("&Usuario:"), user_, this), user_);
    form->addRow(Buddy(QStringLiteral("&Tiempo de autorización:"), time_, this), time_);
    time_->lineEdit()->setAccessibleName(time_->accessibleName());
    layout->addLayout(form);
    // The price of the minutes chosen, shown only with a tariff.
    price_ = new QLabel(this);
    price_->setAccessibleName(QStringLiteral("Precio"));
    price_->hide();
    layout->addWidget(price_);
    connect(time_, &QComboBox::editTextChanged, this, [this](const QString& text) {
        form_.minutes = text;
        const QString price = form_.priceText();
        price_->setText(price);
        price_->setVisible(!price.isEmpty());
    });
    layout->addWidget(Buttons(this, &ok_));
    setMinimumWidth(340);
}

void TfrmAutoriza::prepare(const QString& computerName) {
    form_.show(computerName);
    name_->setText(form_.label());
    user_->setText(form_.user);
    time_->setCurrentIndex(-1);
    time_->setEditText(QString());
    user_->setFocus();
    user_->selectAll();
}

std::optional<std::pair<QString, QString>> TfrmAutoriza::ask(const QString& computerName) {
    prepare(computerName);
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return std::make_pair(form_.user, form_.minutes);
}

void TfrmAutoriza::accept() {
    form_.user = user_->text();
    form_.minutes = time_->currentText();
    if (const auto error = form_.acceptError()) {
        Q_EMIT refused(*error);
        Refuse(this, *error);
        return;
    }
    QDialog::accept();
}

// --- TfrmMoreTime ---

TfrmMoreTime::TfrmMoreTime(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmMoreTime"));
    setWindowTitle(QStringLiteral("Otorga más tiempo"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Note(QStringLiteral("Tiempo adicional en minutos"), this));
    auto* row = new QHBoxLayout;
    time_ = new QComboBox(this);
    time_->setEditable(true);
    time_->addItems(MoreTimeForm::TimeItems());
    time_->lineEdit()->setMaxLength(32);
    row->addWidget(Buddy(QStringLiteral("Tiempo adicional:"), time_, this));
    time_->lineEdit()->setAccessibleName(time_->accessibleName());
    row->addWidget(time_, 1);
    layout->addLayout(row);
    notify_ = new QCheckBox(QStringLiteral("Notificar al usuario adición de tiempo"), this);
    layout->addWidget(notify_);
    layout->addWidget(Buttons(this, &ok_));
    connect(time_, &QComboBox::editTextChanged, this, [this] { sync(); });
    connect(notify_, &QCheckBox::toggled, this, [this] { sync(); });
    prepare();
}

void TfrmMoreTime::prepare() {
    form_.show();
    time_->setEditText(form_.minutes);
    notify_->setChecked(form_.notify);
    sync();
    time_->setFocus();
}

void TfrmMoreTime::sync() {
    form_.minutes = time_->currentText();
    form_.notify = notify_->isChecked();
    ok_->setEnabled(form_.okEnabled());
}

std::optional<std::pair<QString, bool>> TfrmMoreTime::ask() {
    prepare();
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return std::make_pair(form_.minutes, form_.notify);
}

// --- TfrmSelTargetComp ---

TfrmSelTargetComp::TfrmSelTargetComp(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSelTargetComp"));
    setWindowTitle(QStringLiteral("Selecciona nueva máquina de navegación"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* note = Note(QStringLiteral("Traslada el conteo de tiempo de un equipo a otro."), this);
    layout->addWidget(note);
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Máquinas bloqueadas"));
    list_->setTextElideMode(Qt::ElideMiddle);
    layout->addWidget(list_);
    layout->addWidget(Buttons(this, &ok_));
    // Choosing an entry (a click, the keyboard or a screen reader's select)
    // enables OK; the list starts with none chosen.
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> chosen = list_->selectedItems();
        form_.click(chosen.isEmpty() ? -1 : list_->row(chosen.first()));
        ok_->setEnabled(form_.okEnabled());
    });
    resize(340, 300);
}

void TfrmSelTargetComp::prepare(QList<MoveTargetForm::Entry> entries) {
    form_.show(std::move(entries));
    list_->clear();
    {
        const QSignalBlocker quiet(list_);
        for (const auto& e : form_.entries())
            list_->addItem(e.name);
        list_->clearSelection();
    }
    ok_->setEnabled(form_.okEnabled());
}

TCompItem* TfrmSelTargetComp::ask(QList<MoveTargetForm::Entry> entries) {
    prepare(std::move(entries));
    if (exec() != QDialog::Accepted)
        return nullptr;
    return form_.chosen();
}

// --- TfrmReset ---

TfrmReset::TfrmReset(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmReset"));
    setWindowTitle(QStringLiteral("Apagar equipos"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Note(QStringLiteral("Apagar o reiniciar equipos."), this));
    auto* row = new QHBoxLayout;
    seconds_ = new QSpinBox(this);
    // A day is far more than any café waits; the station reads a number.
    seconds_->setRange(0, 86400);
    seconds_->setValue(0);
    row->addWidget(Buddy(QStringLiteral("Tiempo para apagar:"), seconds_, this));
    row->addWidget(seconds_);
    row->addWidget(new QLabel(QStringLiteral("segundos."), this));
    row->addStretch(1);
    layout->addLayout(row);
    auto* group = new QGroupBox(QStringLiteral("Modo"), this);
    auto* grid = new QGridLayout(group);
    const QStringList items = ShutdownForm::ModeItems();
    for (int i = 0; i < 5; ++i) {
        modes_[i] = new QRadioButton(items[i], group);
        grid->addWidget(modes_[i], i / 2, i % 2);
    }
    modes_[0]->setChecked(true);
    layout->addWidget(group);
    QPushButton* ok = nullptr;
    layout->addWidget(Buttons(this, &ok));
}

ShutdownForm TfrmReset::form() const {
    ShutdownForm f;
    f.seconds = seconds_->value();
    for (int i = 0; i < 5; ++i)
        if (modes_[i]->isChecked())
            f.mode = i;
    return f;
}

std::optional<std::pair<int, QChar>> TfrmReset::ask() {
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    const ShutdownForm f = form();
    return std::make_pair(f.seconds, f.letter());
}

// --- TfrmServPass ---

TfrmServPass::TfrmServPass(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmServPass"));
    setWindowTitle(QStringLiteral("Contraseña de servicio"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Note(QStringLiteral("Clave o contraseña"), this));
    auto* form = new QFormLayout;
    first_ = new QLineEdit(this);
    second_ = new QLineEdit(this);
    for (QLineEdit* e : {first_, second_}) {
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(64);
    }
    form->addRow(Buddy(QStringLiteral("Contraseña"), first_, this), first_);
    form->addRow(Buddy(QStringLiteral("Re-escribe"), second_, this), second_);
    layout->addLayout(form);
    QPushButton* ok = nullptr;
    layout->addWidget(Buttons(this, &ok));
}

void TfrmServPass::prepare() {
    form_.show();
    first_->setText(form_.password);
    second_->setText(form_.again);
    first_->setFocus();
}

std::optional<QString> TfrmServPass::ask() {
    prepare();
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return form_.password;
}

void TfrmServPass::accept() {
    form_.password = first_->text();
    form_.again = second_->text();
    if (const auto error = form_.acceptError()) {
        Q_EMIT refused(*error);
        Refuse(this, *error);
        return;
    }
    QDialog::accept();
}

// --- TfrmRun ---

TfrmRun::TfrmRun(Send send, QWidget* parent) : QDialog(parent), send_(std::move(send)) {
    setObjectName(QStringLiteral("frmRun"));
    setWindowTitle(form_.caption());
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Note(
        QStringLiteral("Equivale a la opción ejecutar de windows pero de manera remota"), this));
    layout->addWidget(new QLabel(
        QStringLiteral("Escriba el nombre de un programa, carpeta o documento\ny será abierto "
                       "remotamente"),
        this));
    auto* row = new QHBoxLayout;
    command_ = new QComboBox(this);
    command_->setEditable(true);
    command_->setInsertPolicy(QComboBox::NoInsert);
    command_->lineEdit()->setMaxLength(1024);
    command_->setMinimumWidth(260);
    row->addWidget(Buddy(QStringLiteral("Abrir:"), command_, this));
    command_->lineEdit()->setAccessibleName(command_->accessibleName());
    row->addWidget(command_, 1);
    layout->addLayout(row);
    QPushButton* ok = nullptr;
    layout->addWidget(Buttons(this, &ok));
}

void TfrmRun::openFor(TCompItem* record, const QString& name) {
    form_.openFor(record, name);
    setWindowTitle(form_.caption());
    command_->setFocus();
}

void TfrmRun::accept() {
    const QString text = command_->currentText();
    form_.sent(text);
    command_->clear();
    command_->addItems(form_.history());
    command_->setEditText(QString());
    if (send_)
        send_(form_.target(), text);
    QDialog::accept();
}

// --- TfrmVol ---

TfrmVol::TfrmVol(Send send, QWidget* parent) : QDialog(parent), send_(std::move(send)) {
    setObjectName(QStringLiteral("frmVol"));
    setWindowTitle(QStringLiteral("Volumen"));
    auto* layout = new QVBoxLayout(this);
    name_ = new QLabel(this);
    name_->setTextFormat(Qt::PlainText);
    layout->addWidget(name_);
    auto* row = new QHBoxLayout;
    left_ = new QSlider(Qt::Vertical, this);
    right_ = new QSlider(Qt::Vertical, this);
    left_->setAccessibleName(QStringLiteral("Canal izquierdo"));
    right_->setAccessibleName(QStringLiteral("Canal derecho"));
    for (QSlider* s : {left_, right_}) {
        s->setRange(0, 100);
        s->setMinimumHeight(120);
        row->addWidget(s);
    }
    layout->addLayout(row);
    sync_ = new QCheckBox(QStringLiteral("Sinc. ambos can."), this);
    sync_->setChecked(true);
    layout->addWidget(sync_);
    connect(sync_, &QCheckBox::toggled, this, [this](bool on) { form_.sync = on; });
    connect(left_, &QSlider::valueChanged, this, [this](int v) {
        form_.moveLeft(v);
        const QSignalBlocker block(right_);
        right_->setValue(form_.right());
    });
    connect(right_, &QSlider::valueChanged, this, [this](int v) {
        form_.moveRight(v);
        const QSignalBlocker block(left_);
        left_->setValue(form_.left());
    });
    connect(left_, &QSlider::sliderReleased, this, &TfrmVol::released);
    connect(right_, &QSlider::sliderReleased, this, &TfrmVol::released);
    // Keys, the wheel and a screen reader move a slider without a drag: each
    // such step is a release of its own.
    for (QSlider* s : {left_, right_})
        connect(s, &QSlider::valueChanged, this, [this, s] {
            if (!s->isSliderDown())
                released();
        });
}

void TfrmVol::showFor(TCompItem* record, const QString& name, int leftPercent, int rightPercent) {
    form_.show(record, name, leftPercent, rightPercent);
    name_->setText(name);
    const QSignalBlocker a(left_), b(right_);
    left_->setValue(form_.left());
    right_->setValue(form_.right());
    show();
    raise();
    activateWindow();
}

void TfrmVol::released() {
    if (send_)
        send_(form_.target(), form_.leftValue(), form_.rightValue());
}

// --- TextWindow ---

TextWindow::TextWindow(const QString& title, const QStringList& lines, QWidget* parent)
    : QDialog(parent) {
    setModal(false);
    setSizeGripEnabled(true);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    memo_ = new QPlainTextEdit(this);
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setAccessibleName(title);
    memo_->setPlainText(lines.join(QLatin1Char('\n')));
    layout->addWidget(memo_);
    resize(460, 300);
}

std::optional<QString> AskNotice(QWidget* parent) {
    QInputDialog box(parent);
    box.setWindowTitle(QStringLiteral("Notificación"));
    box.setLabelText(QStringLiteral("Texto:"));
    box.setOkButtonText(QStringLiteral("OK"));
    box.setCancelButtonText(QStringLiteral("Cancelar"));
    box.setTextValue(QString());
    // The field answers to its prompt's words on the accessibility bus.
    if (auto* field = box.findChild<QLineEdit*>())
        field->setAccessibleName(QStringLiteral("Texto"));
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}

} // namespace tarvina::server
