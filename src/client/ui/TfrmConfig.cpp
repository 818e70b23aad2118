#include "client/ui/TfrmConfig.h"

#include "client/StationCore.h"
#include "client/ui/Dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tarvina::client::ui {

using config::ConfigValues;
using config::SaveOutcome;

NetworkActions::NetworkActions(platform::Pinger& pinger, platform::NetworkBrowser* browser,
                               quint16 port, QObject* parent)
    : QObject(parent), pinger_(pinger), browser_(browser), port_(port) {}

NetworkActions::~NetworkActions() {
    if (worker_) {
        worker_->wait();
        delete worker_;
    }
}

void NetworkActions::run(std::function<void()> job) {
    if (worker_)
        return;
    worker_ = QThread::create(std::move(job));
    connect(worker_, &QThread::finished, this, [this] {
        worker_->deleteLater();
        worker_ = nullptr;
    });
    worker_->start();
}

void NetworkActions::refresh() {
    if (!browser_)
        return;
    QPointer<NetworkActions> self(this);
    run([this, self] {
        QStringList list;
        config::EnumerateNetworkComputers(list, *browser_);
        QMetaObject::invokeMethod(
            this, [this, list] { Q_EMIT computersFound(list); }, Qt::QueuedConnection);
    });
}

void NetworkActions::test(const QString& host) {
    config::NetworkTestOptions o;
    o.port = port_;
    run([this, host, o] {
        const QString result =
            config::RunNetworkTest(host, pinger_, o, [this](config::TestStage s) {
                const QString caption = config::StageCaption(s);
                QMetaObject::invokeMethod(
                    this, [this, caption] { Q_EMIT stageStarted(caption); }, Qt::QueuedConnection);
            });
        QMetaObject::invokeMethod(
            this, [this, result] { Q_EMIT testFinished(result); }, Qt::QueuedConnection);
    });
}

void ShowNetworkTestResult(QWidget* parent, const QString& result) {
    QString text = result;
    text.replace(u'\r', u'\n');
    QMessageBox box(QMessageBox::Information, QStringLiteral("Test de conexión a RED"), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

namespace {

constexpr const char16_t* kStyles[] = {u"Centrado", u"Mosaico", u"Estirado"};

QLabel* Buddy(const QString& text, QWidget* control, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setBuddy(control);
    l->setWordWrap(true);
    control->setAccessibleName(QString(text).remove(u'&'));
    return l;
}

QSpinBox* Interval(int low, QWidget* parent) {
    auto* s = new QSpinBox(parent);
    s->setRange(low, 60000);
    s->setSingleStep(100);
    s->setSuffix(QStringLiteral(" ms"));
    return s;
}

} // namespace

TfrmConfig::TfrmConfig(platform::Pinger& pinger, platform::NetworkBrowser* browser, quint16 port,
                       QWidget* parent)
    : QDialog(parent), net_(new NetworkActions(pinger, browser, port, this)) {
    setObjectName(QStringLiteral("TfrmConfig"));
    setWindowTitle(QStringLiteral("Configuración"));
    setWindowFlag(Qt::WindowStaysOnTopHint);

    auto* tabs = Pages = new QTabWidget(this);
    // Every page's tab in sight: the dialog is as wide as the eight need.
    tabs->setUsesScrollButtons(false);
    tabs->addTab(basicPage(), QStringLiteral("Básico"));
    tabs->addTab(protectionPage(), QStringLiteral("Prot. Windows"));
    tabs->addTab(controlPanelPage_ = controlPanelPage(), QStringLiteral("Panel de control"));
    tabs->addTab(drivesPage(), QStringLiteral("Unidades de disco"));
    tabs->addTab(rotationPage(), QStringLiteral("Fondo en bloqueo"));
    tabs->addTab(appearancePage(), QStringLiteral("Apariencia"));
    tabs->addTab(networkPage(), QStringLiteral("Redes"));
    tabs->addTab(windowsPage_ = windowsPage(), QStringLiteral("Windows"));
    tabs->addTab(desktopPage(), QStringLiteral("Escritorio"));
    connect(tabs, &QTabWidget::currentChanged, this,
            [this, tabs](int index) { pageShown(tabs->widget(index)); });

    auto* box = new QDialogButtonBox(this);
    BtnOk = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    BtnOk->setDefault(true);
    connect(BtnOk, &QPushButton::clicked, this, &TfrmConfig::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* v = new QVBoxLayout(this);
    v->addWidget(tabs);
    v->addWidget(box);

    connect(net_, &NetworkActions::stageStarted, this,
            [this](const QString& caption) { BtnTest->setText(caption); });
    connect(net_, &NetworkActions::testFinished, this, [this](const QString& result) {
        BtnTest->setEnabled(true);
        BtnTest->setText(result.startsWith(QStringLiteral("ZU Caja"))
                             ? QStringLiteral("Test: ok")
                             : QStringLiteral("Test: falla"));
        ShowNetworkTestResult(this, result);
    });
    connect(net_, &NetworkActions::computersFound, this, [this](const QStringList& list) {
        const QString typed = CmbHost->currentText();
        CmbHost->clear();
        CmbHost->addItems(list);
        CmbHost->setEditText(typed);
    });
}

QLineEdit* TfrmConfig::fileRow(QWidget* page, QLayout* into, const QString& label,
                               const QString& filter) {
    auto* edit = new QLineEdit(page);
    edit->setMaxLength(1024);
    auto* pick = new QPushButton(QStringLiteral("..."), page);
    pick->setAccessibleName(QStringLiteral("Buscar ") + QString(label).remove(u'&').remove(u':'));
    connect(pick, &QPushButton::clicked, this, [this, edit, filter] {
        const QString f =
            QFileDialog::getOpenFileName(this, QStringLiteral("Abrir"), edit->text(), filter);
        if (!f.isEmpty())
            edit->setText(f);
    });
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(pick);
    auto* form = static_cast<QFormLayout*>(into);
    form->addRow(Buddy(label, edit, page), row);
    return edit;
}

QWidget* TfrmConfig::basicPage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);

    CmbHost = new QComboBox(page);
    CmbHost->setEditable(true);
    CmbHost->lineEdit()->setMaxLength(300);
    BtnTest = new QPushButton(QStringLiteral("&Test..."), page);
    BtnTest->setAccessibleName(QStringLiteral("Test"));
    auto* refresh = new QPushButton(QStringLiteral("Refresca"), page);
    refresh->setEnabled(net_->canBrowse());
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(CmbHost, 1);
    hostRow->addWidget(refresh);
    hostRow->addWidget(BtnTest);
    form->addRow(Buddy(QStringLiteral("&Anfitrión (caja):"), CmbHost, page), hostRow);
    connect(CmbHost, &QComboBox::editTextChanged, this,
            [this] { BtnTest->setText(QStringLiteral("&Test...")); });
    connect(BtnTest, &QPushButton::clicked, this, [this] {
        BtnTest->setEnabled(false);
        net_->test(CmbHost->currentText());
    });
    connect(refresh, &QPushButton::clicked, net_, &NetworkActions::refresh);

    // Typed from the cashier's screen; empty keeps the link plain.
    TxtClaveRed = new QLineEdit(page);
    TxtClaveRed->setMaxLength(40);
    TxtClaveRed->setPlaceholderText(QStringLiteral("XXXX-XXXX-XXXX-XXXX-XXXX-XXXX"));
    form->addRow(Buddy(QStringLiteral("Clave de &red:"), TxtClaveRed, page), TxtClaveRed);

    TxtPass1 = new QLineEdit(page);
    TxtPass2 = new QLineEdit(page);
    for (QLineEdit* e : {TxtPass1, TxtPass2}) {
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(64);
    }
    form->addRow(Buddy(QStringLiteral("&Contraseña:"), TxtPass1, page), TxtPass1);
    form->addRow(Buddy(QStringLiteral("C&onfirme la contraseña:"), TxtPass2, page), TxtPass2);
    connect(TxtPass1, &QLineEdit::textEdited, this, [this] { passwordChanged_ = true; });
    connect(TxtPass1, &QLineEdit::textChanged, this,
            [this](const QString& t) { TxtPass2->setEnabled(!t.isEmpty()); });

    TxtFileBack = fileRow(page, form, QStringLiteral("&Fondo del bloqueo:"),
                          QStringLiteral("Imágenes (*.png *.jpg *.jpeg *.bmp *.gif);;Todos (*)"));
    TxtAlarmSnd = fileRow(page, form, QStringLiteral("Sonido de &alarma:"),
                          QStringLiteral("Sonidos (*.wav);;Todos (*)"));

    ChkInit = new QCheckBox(QStringLiteral("&Iniciar con el sistema"), page);
    ChkMsgNoBlock =
        new QCheckBox(QStringLiteral("&Mensajes disponibles sólo si no hay bloqueo"), page);
    form->addRow(ChkInit);
    form->addRow(ChkMsgNoBlock);
    auto* note = new QLabel(
        QStringLiteral("La configuración requiere privilegio de administrador para ser almacenada"),
        page);
    note->setWordWrap(true);
    form->addRow(note);
    return page;
}

QWidget* TfrmConfig::protectionPage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    // The caption is long: it wraps in a label beside an untitled box, and
    // stays the box's accessible name.
    ChkProtectLogo = new QCheckBox(page);
    auto* protectCaption = Buddy(
        QStringLiteral("Proteger &pantallas de entrada y salida de windows. Se respaldan los "
                       "archivos gráficos de entrada y salida de windows que son restituidos al "
                       "terminar una sesión de trabajo."),
        ChkProtectLogo, page);
    BtnActBackup = new QPushButton(QStringLiteral("Actualizar respaldo de imágenes"), page);
    connect(BtnActBackup, &QPushButton::clicked, this, [this] {
        if (!backupLogos_)
            return;
        if (backupLogos_())
            QMessageBox::information(this, QStringLiteral("Respaldo"),
                                     QStringLiteral("Respaldo actualizado."));
        else
            QMessageBox::warning(this, QStringLiteral("Respaldo"),
                                 QStringLiteral("No se pudo actualizar el respaldo."));
    });
    auto* protectRow = new QHBoxLayout;
    protectRow->addWidget(ChkProtectLogo, 0, Qt::AlignTop);
    protectRow->addWidget(protectCaption, 1);
    form->addRow(protectRow);
    form->addRow(BtnActBackup);
    EdWallPaper = fileRow(page, form, QStringLiteral("Fondo de &escritorio:"),
                          QStringLiteral("Imágenes (*.png *.jpg *.jpeg *.bmp);;Todos (*)"));
    CmbStyle = new QComboBox(page);
    for (const char16_t* s : kStyles)
        CmbStyle->addItem(QString::fromUtf16(s));
    form->addRow(Buddy(QStringLiteral("E&stilo:"), CmbStyle, page), CmbStyle);
    ChkBarraTareas = new QCheckBox(QStringLiteral("Hacer invisible la barra de tareas."), page);
    form->addRow(ChkBarraTareas);
    return page;
}

QWidget* TfrmConfig::controlPanelPage() {
    auto* page = new QWidget(this);
    auto* v = new QVBoxLayout(page);
    auto* label = new QLabel(
        QStringLiteral("&Elementos del panel de control disponibles para el cliente:"), page);
    ChkLstPanel = new QListWidget(page);
    label->setBuddy(ChkLstPanel);
    ChkLstPanel->setAccessibleName(QStringLiteral("Elementos del panel de control"));
    v->addWidget(label);
    v->addWidget(ChkLstPanel);
    return page;
}

QWidget* TfrmConfig::windowsPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    for (int i = 0; i < config::kPolicyCount; ++i) {
        const QString caption = QString::fromUtf16(config::kPolicyBoxes[i].caption);
        ChkPolicies[i] = new QCheckBox(caption, page);
        ChkPolicies[i]->setAccessibleName(caption.trimmed());
        // Explorer's menus in the first column, the network and display
        // restrictions in the second.
        const bool second = !config::kPolicyBoxes[i].tickedAllows;
        const int row = second ? i - 5 : i;
        grid->addWidget(ChkPolicies[i], row, second ? 1 : 0);
    }
    ChkPapelera = new QCheckBox(QString::fromUtf16(config::kRecycleBinCaption), page);
    ChkMisDocumentos = new QCheckBox(QString::fromUtf16(config::kMyDocumentsCaption), page);
    grid->addWidget(ChkPapelera, 6, 0);
    grid->addWidget(ChkMisDocumentos, 7, 0);
    grid->setRowStretch(9, 1);
    return page;
}

void TfrmConfig::fillApplets(const QList<config::AppletLine>& lines) {
    ChkLstPanel->clear();
    for (const config::AppletLine& l : lines) {
        auto* item = new QListWidgetItem(l.caption);
        item->setData(Qt::UserRole, l.file);
        // Selectable, so that the keyboard's current line shows.
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(l.shown ? Qt::Checked : Qt::Unchecked);
        ChkLstPanel->addItem(item);
    }
    appletsLoaded_ = true;
}

void TfrmConfig::fillWindows(const config::WindowsPageValues& w) {
    for (int i = 0; i < config::kPolicyCount; ++i)
        ChkPolicies[i]->setChecked(w.ticked[i]);
    ChkPapelera->setChecked(w.recycleBin);
    ChkMisDocumentos->setChecked(w.myDocuments);
    windowsLoaded_ = true;
}

void TfrmConfig::pageShown(QWidget* page) {
    if (page == controlPanelPage_ && !appletsLoaded_ && loadApplets_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        fillApplets(loadApplets_());
        QApplication::restoreOverrideCursor();
    } else if (page == windowsPage_ && !windowsLoaded_ && loadWindows_) {
        fillWindows(loadWindows_());
    }
}

void TfrmConfig::setTransparencyNote(const QString& note) {
    transparencyNote_->setText(note);
    transparencyNote_->setVisible(!note.isEmpty());
}

namespace {
// A floppy for "A" and "B", a removable disk elsewhere; no icon where no
// drive stands.
QIcon DriveIcon(QStyle* style, platform::Drives::Kind kind, bool floppyLetter) {
    using Kind = platform::Drives::Kind;
    switch (kind) {
    case Kind::Removable:
        return floppyLetter ? QIcon::fromTheme(QStringLiteral("media-floppy"),
                                               style->standardIcon(QStyle::SP_DriveFDIcon))
                            : QIcon::fromTheme(QStringLiteral("drive-removable-media"),
                                               style->standardIcon(QStyle::SP_DriveFDIcon));
    case Kind::Fixed:
        return QIcon::fromTheme(QStringLiteral("drive-harddisk"),
                                style->standardIcon(QStyle::SP_DriveHDIcon));
    case Kind::Network:
        return style->standardIcon(QStyle::SP_DriveNetIcon);
    case Kind::CdRom:
        return QIcon::fromTheme(QStringLiteral("drive-optical"),
                                style->standardIcon(QStyle::SP_DriveCDIcon));
    case Kind::None:
        break;
    }
    return {};
}
} // namespace

QWidget* TfrmConfig::drivesPage() {
    auto* page = new QWidget(this);
    auto* v = new QVBoxLayout(page);
    auto* label = new QLabel(QStringLiteral("&Unidades visibles:"), page);
    LstViewDrive = new QListWidget(page);
    label->setBuddy(LstViewDrive);
    LstViewDrive->setAccessibleName(QStringLiteral("Unidades visibles"));
    for (char c = 'A'; c <= 'Z'; ++c) {
        auto* item = new QListWidgetItem(QStringLiteral("%1:").arg(QChar(QLatin1Char(c))));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        LstViewDrive->addItem(item);
    }
    connect(LstViewDrive, &QListWidget::itemChanged, this, [this] { drivesChanged_ = true; });
    v->addWidget(label);
    v->addWidget(LstViewDrive);
    return page;
}

QWidget* TfrmConfig::rotationPage() {
    auto* page = new QWidget(this);
    RxDBGrid1 = new QTableWidget(0, 2, page);
    RxDBGrid1->setHorizontalHeaderLabels({QStringLiteral("Imagen"), QStringLiteral("Segundos")});
    RxDBGrid1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    RxDBGrid1->setAccessibleName(QStringLiteral("Imágenes del bloqueo"));
    auto* add = new QPushButton(QStringLiteral("Agregar"), page);
    auto* remove = new QPushButton(QStringLiteral("Eliminar"), page);
    connect(add, &QPushButton::clicked, this, [this] {
        const QStringList files = QFileDialog::getOpenFileNames(
            this, QStringLiteral("Agregar"), QString(),
            QStringLiteral("Imágenes (*.png *.jpg *.jpeg *.bmp *.gif);;Todos (*)"));
        for (const QString& f : files) {
            if (RxDBGrid1->rowCount() >= config::ConfigModel::kMaxRotation)
                break;
            const int row = RxDBGrid1->rowCount();
            RxDBGrid1->insertRow(row);
            RxDBGrid1->setItem(row, 0, new QTableWidgetItem(f));
            RxDBGrid1->setItem(row, 1, new QTableWidgetItem(QStringLiteral("5")));
        }
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (RxDBGrid1->currentRow() >= 0)
            RxDBGrid1->removeRow(RxDBGrid1->currentRow());
    });
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    auto* h = new QHBoxLayout(page);
    h->addWidget(RxDBGrid1, 1);
    h->addLayout(buttons);
    return page;
}

QWidget* TfrmConfig::appearancePage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    RxTransparencia = new QSlider(Qt::Horizontal, page);
    RxTransparencia->setRange(0, 90);
    transparencyValue_ = new QLabel(page);
    connect(RxTransparencia, &QSlider::valueChanged, this,
            [this](int v) { transparencyValue_->setText(QStringLiteral("%1 %").arg(v)); });
    auto* row = new QHBoxLayout;
    row->addWidget(RxTransparencia, 1);
    row->addWidget(transparencyValue_);
    form->addRow(Buddy(QStringLiteral("&Transparencia del bloqueo:"), RxTransparencia, page), row);
    transparencyNote_ = new QLabel(page);
    transparencyNote_->setWordWrap(true);
    transparencyNote_->hide();
    form->addRow(transparencyNote_);
    return page;
}

QWidget* TfrmConfig::desktopPage() {
    auto* page = new QWidget(this);
    auto* box = new QVBoxLayout(page);
    ChkLimpiarEscritorio =
        new QCheckBox(QStringLiteral("&Limpiar el escritorio al terminar cada uso"), page);
    LblModelo = new QLabel(page);
    LblModelo->setWordWrap(true);
    BtnGuardarModelo =
        new QPushButton(QStringLiteral("&Guardar este escritorio como modelo"), page);
    box->addWidget(ChkLimpiarEscritorio);
    box->addWidget(LblModelo);
    box->addWidget(BtnGuardarModelo, 0, Qt::AlignLeft);
    box->addStretch(1);
    connect(BtnGuardarModelo, &QPushButton::clicked, this, [this] {
        if (!saveModel_)
            return;
        if (QMessageBox::question(this, QStringLiteral("Pregunta"),
                                  QStringLiteral("La carpeta modelo quedará igual a la carpeta "
                                                 "personal tal como está ahora. ¿Está seguro?"),
                                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
            saveModel_();
    });
    return page;
}

QWidget* TfrmConfig::networkPage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    SpinDisconn = Interval(500, page);
    SpinConn = Interval(500, page);
    SpinNewConn = Interval(500, page);
    SpinTimeOut = Interval(0, page);
    form->addRow(Buddy(QStringLiteral("Tiempo en milisegundos para reintento de conexión (en caso "
                                      "de conexión pérdida):"),
                       SpinDisconn, page),
                 SpinDisconn);
    form->addRow(Buddy(QStringLiteral("Tiempo en milisegundos para prueba de conexión (en caso de "
                                      "conexión en línea):"),
                       SpinConn, page),
                 SpinConn);
    form->addRow(Buddy(QStringLiteral("Tiempo en milisegundos para nueva de conexión (en caso de "
                                      "caída de la línea):"),
                       SpinNewConn, page),
                 SpinNewConn);
    form->addRow(Buddy(QStringLiteral("Tiempo de espera en milisegundos (timeout, 0 infinito):"),
                       SpinTimeOut, page),
                 SpinTimeOut);
    for (int preset = 0; preset < 3; ++preset) {
        auto* b = new QPushButton(config::ConfigModel::PresetCaption(preset), page);
        connect(b, &QPushButton::clicked, this, [this, preset] {
            ConfigValues v;
            config::ConfigModel::ApplyPreset(v, preset);
            SpinDisconn->setValue(v.intDisconn);
            SpinConn->setValue(v.intConn);
            SpinNewConn->setValue(v.intNewConn);
            SpinTimeOut->setValue(v.timeout);
        });
        form->addRow(b);
    }
    return page;
}

void TfrmConfig::load(const ConfigValues& v) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SpinDisconn->setValue(v.intDisconn);
    SpinConn->setValue(v.intConn);
    SpinNewConn->setValue(v.intNewConn);
    SpinTimeOut->setValue(v.timeout);
    RxDBGrid1->setRowCount(0);
    for (const config::RotationEntry& e : v.rotation) {
        const int row = RxDBGrid1->rowCount();
        RxDBGrid1->insertRow(row);
        RxDBGrid1->setItem(row, 0, new QTableWidgetItem(e.file));
        RxDBGrid1->setItem(row, 1, new QTableWidgetItem(QString::number(e.seconds)));
    }
    CmbHost->setEditText(v.host);
    TxtClaveRed->setText(v.claveRed);
    BtnTest->setText(QStringLiteral("&Test..."));
    TxtPass1->setText(v.pass1);
    TxtPass2->setText(v.pass2);
    TxtFileBack->setText(v.background);
    TxtAlarmSnd->setText(v.alarmSnd);
    EdWallPaper->setText(v.winBackground);
    RxTransparencia->setValue(v.transparency);
    transparencyValue_->setText(QStringLiteral("%1 %").arg(v.transparency));
    CmbStyle->setCurrentIndex(v.wallpaperStyle);
    ChkInit->setChecked(v.startWithSystem);
    ChkMsgNoBlock->setChecked(v.msgOnlyWhenNotBlocked);
    ChkProtectLogo->setChecked(v.protectLogo);
    ChkBarraTareas->setChecked(v.hiddenTaskBar);
    {
        const QSignalBlocker block(LstViewDrive);
        for (int i = 0; i < 26; ++i) {
            QListWidgetItem* item = LstViewDrive->item(i);
            item->setCheckState((v.hiddenDrives >> i) & 1 ? Qt::Unchecked : Qt::Checked);
            item->setIcon(DriveIcon(
                style(), drives_ ? drives_->kindOf(QChar(u'A' + i)) : platform::Drives::Kind::None,
                i < 2));
        }
    }
    ChkLimpiarEscritorio->setChecked(v.limpiarEscritorio);
    passwordChanged_ = false;
    drivesChanged_ = false;
    // The control panel and the "Windows" page are read again when next
    // shown; the dialog opens on its first page.
    appletsLoaded_ = windowsLoaded_ = false;
    ChkLstPanel->clear();
    if (v.appletsLoaded)
        fillApplets(v.applets);
    if (v.windowsLoaded)
        fillWindows(v.windows);
    Pages->setCurrentIndex(0);
    QApplication::restoreOverrideCursor();
}

ConfigValues TfrmConfig::values() const {
    ConfigValues v;
    v.host = CmbHost->currentText();
    v.claveRed = TxtClaveRed->text();
    v.pass1 = TxtPass1->text();
    v.pass2 = TxtPass2->text();
    v.passwordChanged = passwordChanged_;
    v.background = TxtFileBack->text();
    v.alarmSnd = TxtAlarmSnd->text();
    v.startWithSystem = ChkInit->isChecked();
    v.msgOnlyWhenNotBlocked = ChkMsgNoBlock->isChecked();
    v.protectLogo = ChkProtectLogo->isChecked();
    v.winBackground = EdWallPaper->text();
    v.wallpaperStyle = CmbStyle->currentIndex();
    v.hiddenTaskBar = ChkBarraTareas->isChecked();
    for (int i = 0; i < 26; ++i)
        if (LstViewDrive->item(i)->checkState() != Qt::Checked)
            v.hiddenDrives |= 1u << i;
    v.drivesChanged = drivesChanged_;
    for (int row = 0; row < RxDBGrid1->rowCount(); ++row) {
        const QTableWidgetItem* file = RxDBGrid1->item(row, 0);
        const QTableWidgetItem* secs = RxDBGrid1->item(row, 1);
        bool ok = false;
        const int s = secs ? secs->text().trimmed().toInt(&ok) : 0;
        v.rotation.append({file ? file->text() : QString(), ok ? s : 0});
    }
    v.appletsLoaded = appletsLoaded_;
    for (int i = 0; appletsLoaded_ && i < ChkLstPanel->count(); ++i) {
        const QListWidgetItem* item = ChkLstPanel->item(i);
        v.applets.append(
            {item->data(Qt::UserRole).toString(), item->text(), item->checkState() == Qt::Checked});
    }
    v.windowsLoaded = windowsLoaded_;
    for (int i = 0; i < config::kPolicyCount; ++i)
        v.windows.ticked[i] = ChkPolicies[i]->isChecked();
    v.windows.recycleBin = ChkPapelera->isChecked();
    v.windows.myDocuments = ChkMisDocumentos->isChecked();
    v.limpiarEscritorio = ChkLimpiarEscritorio->isChecked();
    v.transparency = RxTransparencia->value();
    v.intDisconn = SpinDisconn->value();
    v.intConn = SpinConn->value();
    v.intNewConn = SpinNewConn->value();
    v.timeout = SpinTimeOut->value();
    return v;
}

void TfrmConfig::okClicked() {
    if (!saver_) {
        accept();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const SaveOutcome out = saver_(values());
    QApplication::restoreOverrideCursor();
    switch (out.kind) {
    case SaveOutcome::Kind::Invalid:
        QMessageBox::warning(this, QStringLiteral("Advertencia"), out.message);
        return;
    case SaveOutcome::Kind::PasswordMismatch:
        QMessageBox::warning(this, QStringLiteral("Mensaje"), out.message);
        TxtPass1->clear();
        TxtPass2->clear();
        // Empty boxes are no new password: OK now keeps the stored one.
        passwordChanged_ = false;
        return;
    case SaveOutcome::Kind::Saved:
        break;
    }
    passwordChanged_ = false;
    if (!out.notStored.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Advertencia"),
                             out.notStored.join(QStringLiteral("\n")));
    if (out.hostChanged)
        QMessageBox::warning(
            this, QStringLiteral("Advertencia"),
            QStringLiteral("Los cambios en anfitrión serán efectivos al reiniciar"));
    accept();
}

ConfigDialogRunner::ConfigDialogRunner(StationCore& core, config::ConfigModel& model,
                                       platform::Pinger& pinger, platform::NetworkBrowser* browser,
                                       quint16 port, QString currentDir, QString exeName,
                                       QWidget* parent)
    : core_(core), model_(model), currentDir_(std::move(currentDir)), exeName_(std::move(exeName)),
      dialog_(pinger, browser, port, parent) {
    dialog_.setSaver([this](const ConfigValues& v) {
        return model_.save(v, core_.settings(), core_.configTarget(), currentDir_, exeName_);
    });
    dialog_.setLogoBackup([this] { return core_.configTarget().backupLogos(true); });
    dialog_.setPageLoaders([this] { return model_.loadApplets(); },
                           [this] { return model_.loadWindowsPage(); });
    model_.setModelCheck([](const QString& folder) {
        return DesktopCleaning::RefuseModel(QDir::homePath(), folder);
    });
    dialog_.setModelSaver([this] {
        QString err;
        if (core_.SaveDesktopModel(&err)) {
            dialog_.BtnGuardarModelo->setEnabled(false);
            dialog_.LblModelo->setText(QStringLiteral("Guardando el escritorio como modelo..."));
        } else {
            QMessageBox::warning(&dialog_, QStringLiteral("Escritorio"),
                                 QStringLiteral("No se pudo guardar el escritorio como modelo: ") +
                                     err);
        }
    });
    if (DesktopCleaning* c = core_.cleaning())
        modelSaved_ = QObject::connect(
            c, &DesktopCleaning::modelSaved, &dialog_, [this](const DesktopCleaning::Outcome& o) {
                dialog_.BtnGuardarModelo->setEnabled(true);
                showModelState();
                if (o.ok)
                    QMessageBox::information(&dialog_, QStringLiteral("Escritorio"),
                                             QStringLiteral("El escritorio quedó guardado como "
                                                            "modelo en ") +
                                                 core_.settings().modeloEscritorio + u'.');
                else
                    QMessageBox::warning(&dialog_, QStringLiteral("Escritorio"),
                                         QStringLiteral("No se pudo guardar el escritorio como "
                                                        "modelo: ") +
                                             o.error);
            });
}

void ConfigDialogRunner::showModelState() {
    const QString model = core_.settings().modeloEscritorio;
    const QString why = DesktopCleaning::RefuseModel(QDir::homePath(), model);
    dialog_.LblModelo->setText(
        why.isEmpty() ? QStringLiteral("Carpeta modelo: ") + model
                      : why + QStringLiteral(" Sin ella no se puede limpiar el escritorio."));
    dialog_.BtnGuardarModelo->setEnabled(core_.cleaning() != nullptr);
}

void ConfigDialogRunner::exec() {
    {
        Tfrmmsg busy(&dialog_);
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        dialog_.load(
            model_.load(core_.settings(), [&busy](const QString& text) { busy.note(text); }));
        QGuiApplication::restoreOverrideCursor();
    }
    showModelState();
    dialog_.show();
    dialog_.raise();
    dialog_.activateWindow();
    dialog_.exec();
}

} // namespace tarvina::client::ui
