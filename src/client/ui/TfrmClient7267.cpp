#include "client/ui/TfrmClient7267.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QStyle>
#include <QVBoxLayout>

namespace tarvina::client::ui {

TfrmClient7267::TfrmClient7267(StationCore& core, bool testMode, QWidget* parent)
    : QWidget(parent), core_(core) {
    setObjectName(QStringLiteral("TfrmClient7267"));
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
    setMinimumSize(390, 147);
    setMaximumHeight(282);

    QHBoxLayout* toolbar = buildToolBar();
    QGridLayout* timeRow = buildTimeRow();
    buildPinPanel();
    status_ = new QStatusBar(this);
    status_->setSizeGripEnabled(false);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(4, 4, 4, 0);
    v->addLayout(toolbar);
    v->addLayout(timeRow);
    v->addWidget(pinPanel_);
    v->addWidget(LblStsCheckPIN_);
    v->addWidget(status_);

    buildPopup(testMode);
    buildTray();
}

QHBoxLayout* TfrmClient7267::buildToolBar() {
    auto tool = [this](const QString& text, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setIcon(style()->standardIcon(icon));
        b->setIconSize(QSize(32, 32));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        return b;
    };
    btRegresivo_ = tool(QStringLiteral("Regresivo"), QStyle::SP_BrowserReload);
    btAlarma_ = tool(QStringLiteral("Alarma"), QStyle::SP_MessageBoxWarning);
    btAlarma_->setCheckable(true);
    btAlarma_->setChecked(true);
    btIdioma_ = tool(QStringLiteral("Idioma"), QStyle::SP_FileDialogDetailedView);
    btMensajes_ = tool(QStringLiteral("mensajes"), QStyle::SP_MessageBoxInformation);
    btOculta_ = tool(QStringLiteral("Oculta"), QStyle::SP_TitleBarMinButton);
    langMenu_ = new QMenu(this);
    btIdioma_->setMenu(langMenu_);
    btIdioma_->setPopupMode(QToolButton::MenuButtonPopup);
    msgMenu_ = new QMenu(this);
    mnuFreeMessage_ = msgMenu_->addAction(QStringLiteral("Mensaje libre a cajero"));
    mnuPriceList_ = msgMenu_->addAction(QStringLiteral("Solicitud de lista de precios"));
    mnuAccount_ = msgMenu_->addAction(QStringLiteral("Solicitud de estado de cuenta"));
    mnuPriceList_->setVisible(false);
    mnuAccount_->setVisible(false);
    mnuMasTiempo_ = msgMenu_->addAction(QStringLiteral("Solicitud de más tiempo"));
    msgMenu_->addSeparator();
    mnuTermina_ = msgMenu_->addAction(QStringLiteral("Termina uso de equipo"));
    // A click writes to the cashier; the arrow opens the other requests.
    btMensajes_->setMenu(msgMenu_);
    btMensajes_->setPopupMode(QToolButton::MenuButtonPopup);
    connect(btMensajes_, &QToolButton::clicked, this, &TfrmClient7267::freeMessageRequested);

    connect(btRegresivo_, &QToolButton::clicked, this, [this] { core_.session().ActClockMode(); });
    connect(btAlarma_, &QToolButton::clicked, this, [this] { core_.session().ActAlarmMode(); });
    connect(btIdioma_, &QToolButton::clicked, this,
            [this] { core_.ApplyLanguage(QStringLiteral("esp.lng")); });
    connect(btOculta_, &QToolButton::clicked, this, [this] { core_.lock().HideMainWindow(); });
    connect(mnuFreeMessage_, &QAction::triggered, this, &TfrmClient7267::freeMessageRequested);
    connect(mnuMasTiempo_, &QAction::triggered, this, &TfrmClient7267::moreTimeRequested);
    connect(mnuPriceList_, &QAction::triggered, this, &TfrmClient7267::priceListRequested);
    connect(mnuAccount_, &QAction::triggered, this, &TfrmClient7267::accountRequested);
    connect(mnuTermina_, &QAction::triggered, this, [this] { core_.session().EndOfUse(); });

    auto* toolbar = new QHBoxLayout;
    for (QToolButton* b : {btRegresivo_, btAlarma_, btIdioma_, btMensajes_, btOculta_})
        toolbar->addWidget(b);
    toolbar->addStretch();
    return toolbar;
}

QGridLayout* TfrmClient7267::buildTimeRow() {
    lblHora_ = new QLabel(QStringLiteral("Hora"), this);
    LblClock_ = new QLabel(this);
    lblDisp_ = new QLabel(this);
    LblDisp_ = new QLabel(QStringLiteral("00:00:00"), this);
    ProgBar_ = new QProgressBar(this);
    ProgBar_->setRange(0, 100);
    lblAlarma_ = new QLabel(QStringLiteral("A&larma"), this);
    SEAlarm_ = new QSpinBox(this);
    SEAlarm_->setRange(-9999, 9999);
    SEAlarm_->setValue(5);
    lblAlarma_->setBuddy(SEAlarm_);
    lblMin_ = new QLabel(QStringLiteral("min"), this);
    connect(SEAlarm_, &QSpinBox::valueChanged, this,
            [this](int minutes) { core_.session().SetAlarmMinutes(minutes); });
    auto* timeRow = new QGridLayout;
    timeRow->addWidget(lblHora_, 0, 0);
    timeRow->addWidget(lblDisp_, 0, 1);
    timeRow->addWidget(LblClock_, 1, 0);
    timeRow->addWidget(LblDisp_, 1, 1);
    timeRow->addWidget(ProgBar_, 1, 2);
    timeRow->addWidget(lblAlarma_, 0, 3);
    timeRow->addWidget(SEAlarm_, 1, 3);
    timeRow->addWidget(lblMin_, 1, 4);
    return timeRow;
}

void TfrmClient7267::buildPinPanel() {
    pinPanel_ = new QWidget(this);
    lblPINMsg_ = new QLabel(pinPanel_);
    lblPINMsg_->setWordWrap(true);
    auto* icon = new QLabel(pinPanel_);
    icon->setPixmap(style()->standardIcon(QStyle::SP_DialogApplyButton).pixmap(32, 32));
    LblStsPin_ = new QLabel(pinPanel_);
    EdPin = new QLineEdit(pinPanel_);
    EdPin->setObjectName(QStringLiteral("EdPin"));
    EdPin->installEventFilter(this);
    BtnTryPin = new QPushButton(pinPanel_);
    BtnTryPin->setObjectName(QStringLiteral("BtnTryPin"));
    BtnTryPin->setDefault(true);
    LblStsCheckPIN_ = new QLabel(this);
    connect(BtnTryPin, &QPushButton::clicked, this, [this] { core_.pin().TryPin(EdPin->text()); });
    connect(EdPin, &QLineEdit::returnPressed, BtnTryPin, &QPushButton::click);
    connect(&core_.view(), &StationView::clearPinBox, EdPin, &QLineEdit::clear);
    auto* pinGrid = new QGridLayout(pinPanel_);
    pinGrid->addWidget(icon, 0, 0, 2, 1);
    pinGrid->addWidget(lblPINMsg_, 0, 1, 1, 3);
    pinGrid->addWidget(LblStsPin_, 1, 1);
    pinGrid->addWidget(EdPin, 1, 2);
    pinGrid->addWidget(BtnTryPin, 1, 3);
}

void TfrmClient7267::buildPopup(bool testMode) {
    popup_ = new QMenu(this);
    mnuTerminar_ = popup_->addAction(QStringLiteral("Terminar"));
    mnuVisible_ = popup_->addAction(QStringLiteral("Visible"));
    mnuVisible_->setCheckable(true);
    mnuVisible_->setChecked(true);
    mnuConfig_ = popup_->addAction(QStringLiteral("Configuración"));
    mnuTareas_ = popup_->addAction(QStringLiteral("Tareas"));
    connect(mnuConfig_, &QAction::triggered, this, &TfrmClient7267::configRequested);
    connect(mnuTareas_, &QAction::triggered, this, &TfrmClient7267::tasksRequested);
    QAction* five = popup_->addAction(QStringLiteral("5 minutos"));
    QAction* two = popup_->addAction(QStringLiteral("2 minutos"));
    QAction* background = popup_->addAction(QStringLiteral("Tareas en fondo"));
    five->setVisible(testMode);
    two->setVisible(testMode);
    background->setVisible(testMode);
    connect(background, &QAction::triggered, this, &TfrmClient7267::backgroundTasksRequested);
    connect(five, &QAction::triggered, this, [this] { core_.session().TestGrant(5); });
    connect(two, &QAction::triggered, this, [this] { core_.session().TestGrant(2); });
    connect(mnuTerminar_, &QAction::triggered, this, &QWidget::close);
    connect(mnuVisible_, &QAction::triggered, this, [this] {
        mnuVisible_->setChecked(!mnuVisible_->isChecked()); // the logic decides
        core_.lock().ToggleMainWindow();
    });
}

void TfrmClient7267::buildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    tray_ = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_ComputerIcon), this);
    tray_->setToolTip(QStringLiteral("Tarvina (reloj)"));
    tray_->setContextMenu(popup_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
            core_.lock().ToggleMainWindow();
    });
    tray_->show();
}

void TfrmClient7267::setLanguageMenu(const QList<LanguageMenuEntry>& entries) {
    langMenu_->clear();
    for (const LanguageMenuEntry& e : entries) {
        QAction* a = langMenu_->addAction(e.title);
        a->setToolTip(e.path);
        const QString path = e.path;
        connect(a, &QAction::triggered, this, [this, path] { core_.ApplyLanguage(path); });
    }
}

void TfrmClient7267::follow(const ClientDisplay& d, const LanguageTexts& t) {
    setWindowTitle(d.caption.isEmpty() ? d.appTitle : d.caption);
    btRegresivo_->setText(t.get(Txt::btRegresivo));
    btRegresivo_->setToolTip(t.get(Txt::HintRegresivo));
    btAlarma_->setText(t.get(Txt::btActAlarma));
    btAlarma_->setToolTip(t.get(Txt::HintActAlarma));
    btAlarma_->setChecked(d.alarmEnabled);
    btIdioma_->setText(t.get(Txt::btIdioma));
    btIdioma_->setToolTip(t.get(Txt::HintIdioma));
    btMensajes_->setText(t.get(Txt::btMensajes));
    btMensajes_->setToolTip(t.get(Txt::HintMensajes));
    btMensajes_->setEnabled(d.mensajesEnabled);
    btOculta_->setText(t.get(Txt::btOculta));
    btOculta_->setToolTip(t.get(Txt::HintOculta));
    mnuFreeMessage_->setText(t.get(Txt::mnuFreeMessage));
    mnuMasTiempo_->setText(t.get(Txt::mnuMasTiempo));
    mnuMasTiempo_->setVisible(d.masTiempoVisible);
    mnuPriceList_->setVisible(!d.priceList.isEmpty());
    mnuAccount_->setVisible(!d.priceList.isEmpty());
    mnuMasTiempo_->setEnabled(d.masTiempoEnabled);
    mnuTermina_->setEnabled(d.terminaUsoEnabled);
    mnuTerminar_->setText(t.get(Txt::MnuTermina));
    mnuTareas_->setText(t.get(Txt::MnuTareas));
    mnuVisible_->setText(t.get(Txt::MnuVisible));
    mnuVisible_->setChecked(d.mainVisible);
    lblHora_->setText(t.get(Txt::lblHora));
    lblHora_->setToolTip(t.get(Txt::HintClock1));
    LblClock_->setText(d.lblClock);
    lblDisp_->setText(d.dispCaption);
    LblDisp_->setText(d.lblDisp);
    LblDisp_->setToolTip(t.get(Txt::HintClock2));
    ProgBar_->setValue(d.progress);
    lblAlarma_->setText(t.get(Txt::lblAlarma));
    lblMin_->setText(t.get(Txt::lblMin));
    SEAlarm_->setEnabled(d.alarmEnabled);
    SEAlarm_->setToolTip(t.get(Txt::HintAlarma));
    lblPINMsg_->setText(t.get(Txt::lblPINMsg));
    BtnTryPin->setText(t.get(Txt::BtnTryPin));
    LblStsPin_->setText(d.lblStsPin);
    LblStsCheckPIN_->setText(d.lblStsCheckPin);
    pinPanel_->setVisible(d.pinPanelVisible);
    EdPin->setEnabled(d.edPinEnabled);
    // The code box takes what is typed as soon as it can take it (the panel
    // shown, the box enabled again after a verdict), not the first button of
    // the tool bar.
    const bool pinReady = d.pinPanelVisible && d.edPinEnabled;
    if (pinReady && !pinReady_)
        EdPin->setFocus(Qt::OtherFocusReason);
    pinReady_ = pinReady;
    BtnTryPin->setEnabled(d.btnTryPinEnabled);
    status_->showMessage(d.statusText);
    // Longer or shorter captions of a language resize the window to its tool bar.
    int toolWidth = 8;
    for (QToolButton* b : {btRegresivo_, btAlarma_, btIdioma_, btMensajes_, btOculta_})
        toolWidth += b->sizeHint().width();
    if (width() != std::max(390, toolWidth))
        resize(std::max(390, toolWidth), height());
    if (height() != d.mainHeight)
        resize(width(), d.mainHeight);
    if (d.mainVisible && !isVisible()) {
        show();
        raise();
    } else if (!d.mainVisible && isVisible()) {
        hide();
    }
}

void TfrmClient7267::typeIntoPinBox(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    if (!isVisible() || !pinPanel_->isVisible() || !EdPin->isEnabled())
        return;
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(EdPin, &press);
}

bool TfrmClient7267::eventFilter(QObject* o, QEvent* e) {
    if (o == EdPin && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        const QString text = k->text();
        if (text.size() == 1) {
            const QChar c = core_.pin().FilterPinKey(text[0]);
            if (c.isNull())
                return true;
            if (c.unicode() > 31 && c != text[0]) {
                EdPin->insert(QString(c));
                return true;
            }
        }
    }
    return QWidget::eventFilter(o, e);
}

void TfrmClient7267::closeEvent(QCloseEvent* e) {
    if (closeAllowed_ || core_.CloseQuery()) {
        e->accept();
        Q_EMIT closeAccepted();
    } else {
        e->ignore();
    }
}

void TfrmClient7267::contextMenuEvent(QContextMenuEvent* e) {
    popup_->exec(e->globalPos());
}

} // namespace tarvina::client::ui
