#include "client/ui/Dialogs.h"

#include "client/ui/TfrmConfig.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QVBoxLayout>

namespace tarvina::client::ui {

TfrmGrantAccess::TfrmGrantAccess(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmGrantAccess"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setModal(true);
    auto* form = new QFormLayout;
    lblTime_ = new QLabel(this);
    lblTimeValue_ = new QLabel(this);
    lblUser_ = new QLabel(this);
    lblUserValue_ = new QLabel(this);
    lblPass_ = new QLabel(this);
    edPass_ = new QLineEdit(this);
    edPass_->setEchoMode(QLineEdit::Password);
    form->addRow(lblUser_, lblUserValue_);
    form->addRow(lblTime_, lblTimeValue_);
    form->addRow(lblPass_, edPass_);
    ok_ = new QPushButton(this);
    cancel_ = new QPushButton(this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* v = new QVBoxLayout(this);
    v->addLayout(form);
    v->addLayout(buttons);
    setTexts(LanguageTexts());
}

void TfrmGrantAccess::setTexts(const LanguageTexts& t) {
    lblTime_->setText(t.get(Txt::AccTime));
    lblUser_->setText(t.get(Txt::AccUsuario));
    lblPass_->setText(t.get(Txt::AccClave));
    edPass_->setPlaceholderText(t.get(Txt::AccEscribaClave));
    ok_->setText(t.get(Txt::AccOK));
    cancel_->setText(t.get(Txt::AccCancel));
    accessCaption_ = StripAmpersands(t.get(Txt::AccessCaption));
}

bool TfrmGrantAccess::run(const WelcomeDialog::Setup& setup, QString* typed) {
    setWindowTitle(setup.caption.isEmpty() ? accessCaption_ : setup.caption);
    lblTimeValue_->setText(setup.timeText);
    lblUserValue_->setText(setup.user);
    lblPass_->setVisible(setup.askPassword);
    edPass_->setVisible(setup.askPassword);
    edPass_->clear();
    if (setup.askPassword)
        edPass_->setFocus();
    const int result = exec();
    *typed = edPass_->text();
    edPass_->clear();
    return result == QDialog::Accepted;
}

TfrmNotice::TfrmNotice(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmNotice"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Mensaje"));
    text_ = new QLabel(this);
    text_->setWordWrap(true);
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    connect(ok_, &QPushButton::clicked, this, &QDialog::close);
    auto* v = new QVBoxLayout(this);
    v->addWidget(text_);
    v->addWidget(ok_, 0, Qt::AlignHCenter);
}

void TfrmNotice::setTexts(const LanguageTexts& t) {
    ok_->setText(t.get(Txt::AccOK));
}

void TfrmNotice::showText(const QString& text, const QString& caption) {
    setWindowTitle(caption);
    text_->setText(text);
    show();
    raise();
    activateWindow();
}

TPasswordDlg::TPasswordDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TPasswordDlg"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    edit_ = new QLineEdit(this);
    edit_->setEchoMode(QLineEdit::Password);
    // The box has no label of its own: a screen reader names it by the
    // dialog's caption.
    edit_->setAccessibleName(QStringLiteral("Contraseña"));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = box->button(QDialogButtonBox::Ok);
    cancel_ = box->button(QDialogButtonBox::Cancel);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* v = new QVBoxLayout(this);
    v->addWidget(edit_);
    v->addWidget(box);
    setTexts(LanguageTexts());
}

void TPasswordDlg::setTexts(const LanguageTexts& t) {
    ok_->setText(t.get(Txt::AccOK));
    cancel_->setText(t.get(Txt::AccCancel));
}

bool TPasswordDlg::ask(QString* typed, const QString& caption) {
    setWindowTitle(caption);
    edit_->clear();
    raise();
    const bool ok = exec() == QDialog::Accepted;
    *typed = edit_->text();
    edit_->clear();
    return ok;
}

TfrmReqTime::TfrmReqTime(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmReqTime"));
    setWindowTitle(QStringLiteral("Solicitud de tiempo adicional"));
    CmbMoreTime = new QComboBox(this);
    CmbMoreTime->setEditable(true);
    CmbMoreTime->setValidator(new QIntValidator(0, 100000, CmbMoreTime));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = box->button(QDialogButtonBox::Ok);
    cancel_ = box->button(QDialogButtonBox::Cancel);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* v = new QVBoxLayout(this);
    v->addWidget(CmbMoreTime);
    v->addWidget(box);
}

void TfrmReqTime::follow(const ClientDisplay& d, const LanguageTexts& t) {
    setWindowTitle(StripAmpersands(t.get(Txt::frmMasTiempo)));
    CmbMoreTime->setToolTip(t.get(Txt::HintMasTiempoBox));
    ok_->setText(t.get(Txt::AccOK));
    ok_->setToolTip(t.get(Txt::HintMasTiempoOk));
    cancel_->setText(t.get(Txt::AccCancel));
    CmbMoreTime->setEnabled(d.masTiempoEnabled);
    QStringList current;
    for (int i = 0; i < CmbMoreTime->count(); ++i)
        current << CmbMoreTime->itemText(i);
    if (current != d.moreTimeItems) {
        CmbMoreTime->clear();
        CmbMoreTime->addItems(d.moreTimeItems);
    }
    CmbMoreTime->setEditable(d.moreTimeFreeText);
}

TfrmSendMsg::TfrmSendMsg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmSendMsg"));
    setWindowTitle(QStringLiteral("Enviar mensaje"));
    memo_ = new QPlainTextEdit(this);
    memo_->setAccessibleName(QStringLiteral("Mensaje"));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = box->button(QDialogButtonBox::Ok);
    cancel_ = box->button(QDialogButtonBox::Cancel);
    ok_->setText(QStringLiteral("OK"));
    cancel_->setText(QStringLiteral("Cancelar"));
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* v = new QVBoxLayout(this);
    v->addWidget(memo_);
    v->addWidget(box);
}

void TfrmSendMsg::setTexts(const LanguageTexts& t) {
    setWindowTitle(t.get(Txt::HintMensajes));
    ok_->setText(t.get(Txt::AccOK));
    cancel_->setText(t.get(Txt::AccCancel));
}

Tfrmmsg::Tfrmmsg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Tfrmmsg"));
    setWindowTitle(QStringLiteral("Procesando"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    label_ = new QLabel(this);
    label_->setMinimumWidth(320);
    auto* v = new QVBoxLayout(this);
    v->addWidget(label_);
}

void Tfrmmsg::note(const QString& text) {
    label_->setText(text);
    if (!isVisible())
        show();
    raise();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

TfrmRed::TfrmRed(const QString& host, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmRed"));
    setWindowTitle(QStringLiteral("Selecciona computador en RED"));
    CmbNameIP = new QComboBox(this);
    CmbNameIP->setEditable(true);
    CmbNameIP->setEditText(host);
    // Switched on by useNetwork().
    BtnRefresca = new QPushButton(QStringLiteral("Refresca"), this);
    BtnTest = new QPushButton(QStringLiteral("Test"), this);
    BtnRefresca->setEnabled(false);
    BtnTest->setEnabled(false);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancela"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addWidget(BtnRefresca);
    row->addWidget(BtnTest);
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    auto* v = new QVBoxLayout(this);
    v->addWidget(CmbNameIP);
    v->addLayout(row);
}

void TfrmRed::useNetwork(platform::Pinger& pinger, platform::NetworkBrowser* browser,
                         quint16 port) {
    auto* net = new NetworkActions(pinger, browser, port, this);
    BtnRefresca->setEnabled(browser != nullptr);
    BtnTest->setEnabled(true);
    connect(BtnRefresca, &QPushButton::clicked, this, [this, net] {
        BtnRefresca->setEnabled(false);
        net->refresh();
    });
    connect(net, &NetworkActions::computersFound, this, [this](const QStringList& list) {
        const QString typed = CmbNameIP->currentText();
        CmbNameIP->clear();
        CmbNameIP->addItems(list);
        CmbNameIP->setEditText(typed.isEmpty() && !list.isEmpty() ? list.first() : typed);
        BtnRefresca->setEnabled(true);
    });
    connect(BtnTest, &QPushButton::clicked, this, [this, net] {
        BtnTest->setEnabled(false);
        net->test(CmbNameIP->currentText());
    });
    connect(net, &NetworkActions::stageStarted, this,
            [this](const QString& caption) { setWindowTitle(caption); });
    connect(net, &NetworkActions::testFinished, this, [this](const QString& result) {
        setWindowTitle(QStringLiteral("Selecciona computador en RED"));
        BtnTest->setEnabled(true);
        ShowNetworkTestResult(this, result);
    });
}

} // namespace tarvina::client::ui
