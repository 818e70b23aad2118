#include "server/ui/pages/FramePref.h"

#include "platform/NetworkKey.h"
#include "platform/Printing.h"
#include "platform/Registry.h"
#include "server/central/CentralCopier.h"
#include "server/pin/Ticket.h"
#include "server/ui/pages/DbGrid.h"
#include "server/ui/pages/WindowsColour.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <thread>

namespace tarvina::server::ui {

namespace {

QLabel* Note(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    return l;
}

// A label tied to its control, which takes the caption (without its "&")
// as its accessible name.
QLabel* Buddy(const QString& caption, QWidget* control, QWidget* parent) {
    auto* l = new QLabel(caption, parent);
    l->setBuddy(control);
    QString name = caption;
    name.remove(u'&');
    control->setAccessibleName(name.trimmed());
    return l;
}

QIcon Swatch(const QColor& c) {
    QPixmap pm(16, 12);
    pm.fill(c);
    QPainter p(&pm);
    p.setPen(Qt::black);
    p.drawRect(0, 0, 15, 11);
    return QIcon(pm);
}

void SelectColour(QComboBox* box, qint32 value) {
    int i = box->findData(value);
    if (i < 0) {
        // A value of no entry (set by hand in the store) stays as it is.
        box->addItem(Swatch(ColourFromWindows(value, box->palette())),
                     QStringLiteral("$%1").arg(quint32(value), 8, 16, QLatin1Char('0')).toUpper(),
                     value);
        i = box->count() - 1;
    }
    box->setCurrentIndex(i);
}

} // namespace

TFramePref::TFramePref(Deps deps, QWidget* parent) : QWidget(parent), deps_(std::move(deps)) {
    setObjectName(QStringLiteral("TFramePref"));
    auto* caption = CaptionBar(QStringLiteral("Preferencias y configuración. "), this);
    Tree = new QTreeWidget(this);
    Tree->setHeaderHidden(true);
    Tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Tree->setAccessibleName(QStringLiteral("Temas de configuración"));
    Tree->setMinimumWidth(190);
    Tree->setMaximumWidth(240);
    Pages = new QStackedWidget(this);

    buildPasswordPage(0, QStringLiteral("Contraseña de servicio y bloqueo"),
                      QStringLiteral("La contraseña es solicitada al iniciar el programa y al "
                                     "usar el menú desde la barra de tareas."));
    buildPasswordPage(1, QStringLiteral("Contraseña de creación de PIN"),
                      QStringLiteral("La contraseña es solicitada al crear boletos PIN."));
    buildCompanyPage();
    buildGeneralPage();
    buildPrinterPage();
    buildMiscPage();
    buildModePage();
    buildClientPages();
    buildRegionalPage();
    buildSecurityPage();
    buildTariffPage();
    buildCentralPage();
    buildTree();

    BtnHelp = new QPushButton(QStringLiteral("&Ayuda"), this);
    BtnSave = new QPushButton(QStringLiteral("Guardar cambios"), this);
    BtnSave->setToolTip(QStringLiteral("Cierra el formulario y almacena los cambios de "
                                       "configuración"));
    connect(BtnHelp, &QPushButton::clicked, this, [this] {
        if (deps_.help) {
            deps_.help();
        }
    });
    connect(BtnSave, &QPushButton::clicked, this, [this] { ApplyPreferences(); });

    auto* body = new QHBoxLayout;
    body->addWidget(Tree);
    body->addWidget(Pages, 1);
    auto* foot = new QHBoxLayout;
    foot->addStretch(1);
    foot->addWidget(BtnHelp);
    foot->addWidget(BtnSave);
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 6);
    col->addWidget(caption);
    col->addLayout(body, 1);
    col->addLayout(foot);
    selectNode(QStringLiteral("Empresa"));
}

QWidget* TFramePref::addPage(const QString& title) {
    auto* page = new QWidget(Pages);
    page->setObjectName(title);
    auto* col = new QVBoxLayout(page);
    auto* t = new QLabel(title, page);
    QFont f = t->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 2);
    t->setFont(f);
    col->addWidget(t);
    Pages->addWidget(page);
    return page;
}

void TFramePref::buildTree() {
    struct Node {
        const char16_t* text;
        int page; // -1: none
        int parent;
    };
    static const Node nodes[] = {
        {u"Contraseña", -1, -1},
        {u"Acceso general al programa", 0, 0},
        {u"Creación de PIN", 1, 0},
        {u"Empresa", 2, -1},
        {u"General", 3, -1},
        {u"Tarifas", 13, 4},
        {u"Impresora", 4, -1},
        {u"Misceláneos", 5, -1},
        {u"Modo de operación", 6, -1},
        {u"Programa Cliente", 7, -1},
        {u"Solicitud de tiempo", 8, 9},
        {u"Colores vs estado", 9, 9},
        {u"Inicio", 10, 9},
        {u"Regional", 11, -1},
        {u"Seguridad", 12, -1},
        {u"Sucursal", 14, -1},
    };
    std::vector<QTreeWidgetItem*> items;
    for (const Node& n : nodes) {
        auto* item = n.parent < 0 ? new QTreeWidgetItem(Tree)
                                  : new QTreeWidgetItem(items[std::size_t(n.parent)]);
        item->setText(0, QString::fromUtf16(n.text));
        item->setData(0, Qt::UserRole, n.page);
        items.push_back(item);
    }
    Tree->expandAll();
    // An accessibility client selects a node without making it current.
    connect(Tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = Tree->selectedItems();
        if (selected.size() == 1 && selected.first() != Tree->currentItem())
            Tree->setCurrentItem(selected.first());
    });
    connect(Tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const int page = item != nullptr ? item->data(0, Qt::UserRole).toInt() : -1;
        if (page >= 0) {
            Pages->setCurrentIndex(page);
        }
    });
}

bool TFramePref::selectNode(const QString& text) {
    const auto found = Tree->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
    for (QTreeWidgetItem* item : found) {
        if (item->text(0).compare(text, Qt::CaseInsensitive) == 0) {
            Tree->setCurrentItem(item);
            const int page = item->data(0, Qt::UserRole).toInt();
            if (page >= 0) {
                Pages->setCurrentIndex(page);
            }
            return true;
        }
    }
    return false;
}

QString TFramePref::currentPageTitle() const {
    return Pages->currentWidget() != nullptr ? Pages->currentWidget()->objectName() : QString();
}

void TFramePref::buildPasswordPage(int which, const QString& title, const QString& note) {
    QWidget* page = addPage(title);
    auto* form = new QFormLayout;
    static const char16_t* const kLabels[] = {u"&Contraseña original:", u"&Nueva contraseña:",
                                              u"&Re-escribir contraseña:"};
    for (int i = 0; i < 3; ++i) {
        auto* e = new QLineEdit(page);
        e->setEchoMode(QLineEdit::Password);
        e->setMaxLength(64);
        PassEdits[which][i] = e;
        form->addRow(Buddy(QString::fromUtf16(kLabels[i]), e, page), e);
    }
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    col->addLayout(form);
    col->addWidget(Note(note, page));
    col->addStretch(1);
}

void TFramePref::buildCompanyPage() {
    QWidget* page = addPage(QStringLiteral("Identificación de la empresa"));
    auto* form = new QFormLayout;
    EdDenominacion = new QLineEdit(page);
    EdDenominacion->setToolTip(QStringLiteral("Denominación Fiscal de la empresa para la factura"));
    form->addRow(Buddy(QStringLiteral("&Denominación"), EdDenominacion, page), EdDenominacion);
    EdRif = new QLineEdit(page);
    EdRif->setToolTip(QStringLiteral("Registro legal de persona jurídica"));
    EdRif->setMaxLength(12);
    EdRif->installEventFilter(this);
    LblTaxId = new QLabel(page);
    LblTaxId->setBuddy(EdRif);
    LblTaxIdError = new QLabel(page);
    LblTaxIdError->setStyleSheet(QStringLiteral("color: #c00000"));
    LblTaxIdError->setWordWrap(true);
    LblTaxIdError->hide();
    form->addRow(LblTaxId, EdRif);
    form->addRow(QString(), LblTaxIdError);
    static const char16_t* const kHints[] = {u"Primera línea", u"Segunda línea", u"Tercera línea"};
    for (int i = 0; i < 3; ++i) {
        EdDir[i] = new QLineEdit(page);
        EdDir[i]->setToolTip(QString::fromUtf16(kHints[i]));
        EdDir[i]->setAccessibleName(QString::fromUtf16(kHints[i]));
        if (i == 0) {
            auto* l = new QLabel(QStringLiteral("&Dir.  Fiscal"), page);
            l->setBuddy(EdDir[0]);
            form->addRow(l, EdDir[i]);
        } else {
            form->addRow(QString(), EdDir[i]);
        }
    }
    EdTelefono = new QLineEdit(page);
    form->addRow(Buddy(QStringLiteral("&Teléfono"), EdTelefono, page), EdTelefono);
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    col->addLayout(form);
    col->addStretch(1);
}

void TFramePref::buildGeneralPage() {
    QWidget* page = addPage(QStringLiteral("Características generales"));
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    const QString text = QStringLiteral(
        "Dar mensaje de advertencia respecto al cierre del programa dado como reducción de la "
        "aplicación a un simple icono en la barra de tareas");
    ChkConfirmClose = new QCheckBox(page);
    ChkConfirmClose->setAccessibleName(text);
    auto* label = Note(text, page);
    label->setBuddy(ChkConfirmClose);
    auto* row = new QHBoxLayout;
    row->addWidget(ChkConfirmClose, 0, Qt::AlignTop);
    row->addWidget(label, 1);
    col->addLayout(row);
    ChkToolBar = new QCheckBox(QStringLiteral("Mostrar barra de herramientas"), page);
    col->addWidget(ChkToolBar);
    col->addStretch(1);
}

void TFramePref::buildTariffPage() {
    QWidget* page = addPage(QStringLiteral("Tarifas"));
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    auto* form = new QFormLayout;
    EdTarifaHora = new QLineEdit(page);
    EdTarifaHora->setMaxLength(16);
    EdTarifaHora->setToolTip(QStringLiteral("Vacío: sin tarifa, el programa no muestra montos"));
    form->addRow(Buddy(QStringLiteral("&Precio por hora:"), EdTarifaHora, page), EdTarifaHora);
    SpTarifaMinimo = new QSpinBox(page);
    SpTarifaMinimo->setRange(0, Tariff::kMaxMinutes);
    form->addRow(Buddy(QStringLiteral("Cobro &mínimo (minutos):"), SpTarifaMinimo, page),
                 SpTarifaMinimo);
    SpTarifaFraccion = new QSpinBox(page);
    SpTarifaFraccion->setRange(1, Tariff::kMaxMinutes);
    form->addRow(Buddy(QStringLiteral("&Fracción de cobro (minutos):"), SpTarifaFraccion, page),
                 SpTarifaFraccion);
    col->addLayout(form);
    auto* bands = new QGroupBox(QStringLiteral("Bandas horarias (hh:mm, precio por hora)"), page);
    auto* grid = new QGridLayout(bands);
    static const char16_t* const kBandParts[] = {u"desde", u"hasta", u"precio"};
    static const char16_t* const kBandCaptions[] = {u"Desde", u"Hasta", u"Precio"};
    // Two bands a row, each as number, from, to, price under its caption.
    for (int half = 0; half < 2; ++half) {
        for (int j = 0; j < 3; ++j)
            grid->addWidget(new QLabel(QString::fromUtf16(kBandCaptions[j]), bands), 0,
                            half * 4 + 1 + j);
    }
    for (int i = 0; i < Tariff::kMaxBands; ++i) {
        const int row = 1 + i / 2, base = (i % 2) * 4;
        grid->addWidget(new QLabel(QStringLiteral("%1.").arg(i + 1), bands), row, base);
        for (int j = 0; j < 3; ++j) {
            auto* e = new QLineEdit(bands);
            e->setMaxLength(16);
            e->setAccessibleName(
                QStringLiteral("Banda %1 %2").arg(i + 1).arg(QString::fromUtf16(kBandParts[j])));
            EdBanda[i][j] = e;
            grid->addWidget(e, row, base + 1 + j);
        }
    }
    col->addWidget(bands);
    auto* codes = new QGroupBox(QStringLiteral("Precio de los PIN"), page);
    auto* codeGrid = new QGridLayout(codes);
    const auto& lengths = TariffCodeMinutes();
    for (std::size_t i = 0; i < lengths.size() && i < std::size(EdTarifaPin); ++i) {
        auto* e = new QLineEdit(codes);
        e->setMaxLength(16);
        const QString caption = QStringLiteral("%1 min:").arg(lengths[i]);
        e->setAccessibleName(QStringLiteral("PIN de %1 minutos").arg(lengths[i]));
        EdTarifaPin[i] = e;
        codeGrid->addWidget(new QLabel(caption, codes), int(i) / 4, int(i) % 4 * 2);
        codeGrid->addWidget(e, int(i) / 4, int(i) % 4 * 2 + 1);
    }
    col->addWidget(codes);
    col->addStretch(1);
}

void TFramePref::buildPrinterPage() {
    QWidget* page = addPage(QStringLiteral("Definición de impresoras para tickets"));
    auto* group = new QGroupBox(QStringLiteral("Tickets"), page);
    auto* grid = new QGridLayout(group);
    RbWindows = new QRadioButton(QStringLiteral("por Windows"), group);
    RbPort = new QRadioButton(QStringLiteral("directo a puerto"), group);
    CmbPrinters = new QComboBox(group);
    CmbPrinters->setAccessibleName(QStringLiteral("Impresoras"));
    CmbPrinters->setMinimumContentsLength(24);
    CmbPorts = new QComboBox(group);
    CmbPorts->setAccessibleName(QStringLiteral("Puertos"));
    CmbPorts->addItems(TicketPorts());
    grid->addWidget(RbWindows, 0, 0);
    grid->addWidget(CmbPrinters, 0, 1);
    grid->addWidget(RbPort, 1, 0);
    grid->addWidget(CmbPorts, 1, 1);
    SpLines = new QSpinBox(group);
    SpLines->setRange(1, 99);
    SpLeft = new QSpinBox(group);
    SpLeft->setRange(0, 70);
    SpWidth = new QSpinBox(group);
    SpWidth->setRange(10, 132);
    grid->addWidget(Buddy(QStringLiteral("Nro. de líneas de salto de página:"), SpLines, group), 2,
                    0);
    grid->addWidget(SpLines, 2, 1, Qt::AlignLeft);
    grid->addWidget(Buddy(QStringLiteral("Margen izquierdo:"), SpLeft, group), 3, 0);
    grid->addWidget(SpLeft, 3, 1, Qt::AlignLeft);
    grid->addWidget(Buddy(QStringLiteral("ancho:"), SpWidth, group), 4, 0);
    grid->addWidget(SpWidth, 4, 1, Qt::AlignLeft);
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    col->addWidget(group);
    col->addStretch(1);
}

void TFramePref::buildMiscPage() {
    QWidget* page = addPage(QStringLiteral("Características generales"));
    page->setObjectName(QStringLiteral("Misceláneos"));
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    col->addWidget(
        Note(QStringLiteral("El archivo de bitácora (bitacora.log) guarda cada inicio y cierre "
                            "del programa. Al iniciar, si su tamaño pasa del límite dado aquí, "
                            "el programa pregunta si debe eliminarlo."),
             page));
    SpLogLimit = new QSpinBox(page);
    SpLogLimit->setRange(0, 104857600);
    SpLogLimit->setSingleStep(1024);
    auto* row = new QHBoxLayout;
    row->addWidget(Buddy(QStringLiteral("Límite de la bitácora:"), SpLogLimit, page));
    row->addWidget(SpLogLimit);
    LblUnit = new QLabel(page);
    row->addWidget(LblUnit);
    row->addStretch(1);
    col->addLayout(row);
    auto* unitBox = new QGroupBox(QStringLiteral("Unidad"), page);
    auto* unitRow = new QHBoxLayout(unitBox);
    static const char16_t* const kUnits[] = {u"Bytes", u"KBytes", u"MBytes"};
    auto* units = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        RbUnit[i] = new QRadioButton(QString::fromUtf16(kUnits[i]), unitBox);
        unitRow->addWidget(RbUnit[i]);
        units->addButton(RbUnit[i], i);
    }
    connect(units, &QButtonGroup::idClicked, this,
            [this](int id) { LblUnit->setText(LogUnitLabel(id)); });
    col->addWidget(unitBox);
    auto* reminder = Note(QStringLiteral("Se le recuerda que antes de borrar el archivo de "
                                         "bitácora debe hacer respaldo."),
                          page);
    reminder->setStyleSheet(QStringLiteral("color: red"));
    col->addWidget(reminder);
    col->addStretch(1);
}

void TFramePref::buildSecurityPage() {
    QWidget* page = addPage(QStringLiteral("Seguridad de la conexión con los puestos"));
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    EdClaveRed = new QLineEdit(page);
    EdClaveRed->setReadOnly(true);
    EdClaveRed->setAccessibleName(QStringLiteral("Clave de red"));
    QFont mono = EdClaveRed->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setPointSize(mono.pointSize() + 2);
    EdClaveRed->setFont(mono);
    BtnGenerarClave = new QPushButton(QStringLiteral("&Generar clave de red"), page);
    BtnGenerarClave->setAccessibleName(QStringLiteral("Generar clave de red"));
    BtnCopiarClave = new QPushButton(QStringLiteral("Co&piar"), page);
    BtnCopiarClave->setAccessibleName(QStringLiteral("Copiar"));
    auto* row = new QHBoxLayout;
    row->addWidget(EdClaveRed, 1);
    row->addWidget(BtnCopiarClave);
    auto* form = new QFormLayout;
    form->addRow(Buddy(QStringLiteral("Clave de &red:"), EdClaveRed, page), row);
    col->addLayout(form);
    col->addWidget(BtnGenerarClave, 0, Qt::AlignLeft);
    col->addWidget(Note(QStringLiteral("Escriba la clave en la configuración de cada puesto "
                                       "(página Básico). Una clave nueva deja fuera a los puestos "
                                       "que aún tienen la anterior."),
                        page));
    static const char16_t* const kModes[] = {
        u"Sin cifrar (como hasta ahora)",
        u"Cifrada con la clave y sin cifrar (mientras se cambian los puestos)",
        u"Sólo cifrada con la clave",
    };
    for (int i = 0; i < 3; ++i) {
        RbRedSegura[i] = new QRadioButton(QString::fromUtf16(kModes[i]), page);
        col->addWidget(RbRedSegura[i]);
    }
    col->addStretch(1);
    connect(BtnGenerarClave, &QPushButton::clicked, this, [this] {
        if (const auto key = platform::netkey::Generate())
            EdClaveRed->setText(*key);
        else
            error(QStringLiteral("Error"),
                  QStringLiteral("El sistema no dio números aleatorios para la clave de red."));
    });
    connect(BtnCopiarClave, &QPushButton::clicked, this, [this] {
        if (!EdClaveRed->text().isEmpty())
            QGuiApplication::clipboard()->setText(EdClaveRed->text());
    });
}

void TFramePref::buildCentralPage() {
    QWidget* page = addPage(QStringLiteral("Copia a la base central de la cadena"));
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    EdSucursal = new QLineEdit(page);
    EdSucursal->setMaxLength(60);
    EdSucursal->setAccessibleName(QStringLiteral("Sucursal"));
    EdCentral = new QLineEdit(page);
    EdCentral->setMaxLength(500);
    EdCentral->setAccessibleName(QStringLiteral("Central"));
    EdCentral->setPlaceholderText(QStringLiteral("host=servidor dbname=tarvina user=cafe"));
    EdCentralClave = new QLineEdit(page);
    EdCentralClave->setMaxLength(60);
    EdCentralClave->setEchoMode(QLineEdit::Password);
    EdCentralClave->setAccessibleName(QStringLiteral("Clave"));
    auto* form = new QFormLayout;
    form->addRow(Buddy(QStringLiteral("&Sucursal:"), EdSucursal, page), EdSucursal);
    form->addRow(Buddy(QStringLiteral("&Central:"), EdCentral, page), EdCentral);
    form->addRow(Buddy(QStringLiteral("C&lave:"), EdCentralClave, page), EdCentralClave);
    col->addLayout(form);
    BtnProbarConexion = new QPushButton(QStringLiteral("&Probar conexión"), page);
    BtnProbarConexion->setAccessibleName(QStringLiteral("Probar conexión"));
    col->addWidget(BtnProbarConexion, 0, Qt::AlignLeft);
    LblProbarConexion = new QLabel(page);
    LblProbarConexion->setWordWrap(true);
    LblProbarConexion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    col->addWidget(LblProbarConexion);
    col->addWidget(Note(QStringLiteral("Sin nombre de sucursal no se copia nada. Central es una "
                                       "cadena de conexión de PostgreSQL sin la clave."),
                        page));
    col->addStretch(1);
    // The test runs on a thread of its own: a server that does not answer
    // must not freeze the cashier's window.
    connect(BtnProbarConexion, &QPushButton::clicked, this, [this] {
        BtnProbarConexion->setEnabled(false);
        LblProbarConexion->setText(QStringLiteral("Probando..."));
        const QString info = EdCentral->text();
        const QString typed = EdCentralClave->text();
        const QString password = typed == QLatin1String(kPasswordPlaceholder) && deps_.settings
                                     ? PlainCentralPassword(deps_.settings->centralClave)
                                     : typed;
        QPointer<TFramePref> self(this);
        std::thread([self, info, password] {
            const QString verdict = central::ProbeCentral(info, password.toUtf8());
            QMetaObject::invokeMethod(
                qApp,
                [self, verdict] {
                    if (!self)
                        return;
                    self->LblProbarConexion->setText(verdict);
                    self->BtnProbarConexion->setEnabled(true);
                },
                Qt::QueuedConnection);
        }).detach();
    });
}

void TFramePref::showCentral() {
    const ServerSettings& s = *deps_.settings;
    EdSucursal->setText(s.sucursal);
    EdCentral->setText(s.central);
    EdCentralClave->setText(s.centralClave.isEmpty() ? QString()
                                                     : QString::fromLatin1(kPasswordPlaceholder));
    LblProbarConexion->clear();
}

void TFramePref::applyCentral() {
    ServerSettings& s = *deps_.settings;
    const QString typed = EdCentralClave->text();
    const QString clave = typed == QLatin1String(kPasswordPlaceholder)
                              ? s.centralClave
                              : (typed.isEmpty() ? QString() : ScrambledCentralPassword(typed));
    const QString sucursal = EdSucursal->text().trimmed();
    const QString info = EdCentral->text().trimmed();
    if (sucursal == s.sucursal && info == s.central && clave == s.centralClave)
        return;
    s.sucursal = sucursal;
    s.central = info;
    s.centralClave = clave;
    if (deps_.store != nullptr && !WriteCentral(*deps_.store, s))
        error(QStringLiteral("Error"),
              QStringLiteral("No se pudo guardar la sucursal en la configuración."));
    if (deps_.centralChanged)
        deps_.centralChanged();
}

void TFramePref::buildModePage() {
    QWidget* page = addPage(QStringLiteral("Modo de servicio"));
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    RbModeRequest = new QRadioButton(QStringLiteral("Por solicitud"), page);
    RbModePin = new QRadioButton(QStringLiteral("PIN"), page);
    col->addWidget(RbModeRequest);
    col->addWidget(Note(QStringLiteral("El cajero escoge el equipo y le asigna el tiempo."), page));
    col->addWidget(RbModePin);
    col->addWidget(Note(QStringLiteral("El cajero imprime un ticket con un PIN que el cliente "
                                       "escribe en cualquier equipo."),
                        page));
    col->addStretch(1);
}

void TFramePref::buildClientPages() {
    {
        QWidget* page = addPage(QStringLiteral("Configuración cliente"));
        auto* col = static_cast<QVBoxLayout*>(page->layout());
        col->addWidget(Note(QStringLiteral("Parámetros que el programa cliente recibe de este "
                                           "servidor: la solicitud de tiempo desde el cliente, "
                                           "los colores de cada estado en la lista de equipos y "
                                           "el comando que se ejecuta al autorizar un cliente."),
                            page));
        col->addStretch(1);
    }
    {
        QWidget* page = addPage(QStringLiteral("Parámetros para el programa cliente/Sol. tiempo"));
        auto* col = static_cast<QVBoxLayout*>(page->layout());
        auto* group = new QGroupBox(QStringLiteral("Solicitud de tiempo desde cliente"), page);
        auto* row = new QHBoxLayout(group);
        static const char16_t* const kModes[] = {u"Deshabilitado", u"Libre", u"Pre-establecido"};
        auto* modes = new QButtonGroup(this);
        for (int i = 0; i < 3; ++i) {
            RbClienteModo[i] = new QRadioButton(QString::fromUtf16(kModes[i]), group);
            row->addWidget(RbClienteModo[i]);
            modes->addButton(RbClienteModo[i], i);
        }
        col->addWidget(group);
        EdClienteVal = new QLineEdit(page);
        EdClienteVal->setMaxLength(200);
        col->addWidget(
            Buddy(QStringLiteral("Los valores preestablecidos deben ser dados entre comas"),
                  EdClienteVal, page));
        col->addWidget(EdClienteVal);
        col->addStretch(1);
        connect(modes, &QButtonGroup::idToggled, this, [this](int id, bool on) {
            if (on) {
                EdClienteVal->setEnabled(id != 0);
            }
        });
    }
    {
        QWidget* page = addPage(QStringLiteral("Clientes"));
        auto* form = new QFormLayout;
        static const char16_t* const kLabels[] = {u"Color ante desconexión", u"Color ante bloqueo",
                                                  u"Color en uso", u"Color en espera"};
        for (int i = 0; i < 4; ++i) {
            CmbColour[i] = new QComboBox(page);
            for (const ColourEntry& e : ColourEntries()) {
                CmbColour[i]->addItem(Swatch(ColourFromWindows(e.value, palette())), e.name,
                                      e.value);
            }
            form->addRow(Buddy(QString::fromUtf16(kLabels[i]), CmbColour[i], page), CmbColour[i]);
        }
        auto* col = static_cast<QVBoxLayout*>(page->layout());
        col->addLayout(form);
        col->addStretch(1);
    }
    {
        QWidget* page = addPage(QStringLiteral("Parámetros para el inicio del programa cliente"));
        auto* col = static_cast<QVBoxLayout*>(page->layout());
        auto* first = Note(QStringLiteral("El comando establecido a continuación será ejecutado "
                                          "cada vez que se autorice un cliente."),
                           page);
        col->addWidget(first);
        EdClientInit = new QLineEdit(page);
        EdClientInit->setMaxLength(250);
        EdClientInit->setAccessibleName(QStringLiteral("Comando de inicio"));
        first->setBuddy(EdClientInit);
        col->addWidget(EdClientInit);
        col->addWidget(Note(QStringLiteral("Puede ser dejado en blanco. Es válido cualquier "
                                           "comando que se pueda ejecutar en la máquina cliente."),
                            page));
        col->addStretch(1);
    }
}

void TFramePref::buildRegionalPage() {
    QWidget* page = addPage(QStringLiteral("Selección de país y parámetros locales de operación"));
    auto* form = new QFormLayout;
    CmbPais = new QComboBox(page);
    CmbPais->addItems(CountryList());
    CmbPais->setToolTip(QStringLiteral("País donde se factura"));
    form->addRow(Buddy(QStringLiteral("&País"), CmbPais, page), CmbPais);
    EdMoneda = new QLineEdit(page);
    EdMoneda->setMaxLength(10);
    form->addRow(Buddy(QStringLiteral("&Moneda"), EdMoneda, page), EdMoneda);
    auto* col = static_cast<QVBoxLayout*>(page->layout());
    col->addLayout(form);
    EdRegistro = new QLineEdit(page);
    EdRegistro->setMaxLength(40);
    auto* l = Buddy(QStringLiteral("Denominación para registro fiscal (Ejem: RUC Uruguay, RIF en "
                                   "Venezuela, CUIT Argentina)"),
                    EdRegistro, page);
    l->setWordWrap(true);
    col->addWidget(l);
    col->addWidget(EdRegistro);
    col->addStretch(1);
    connect(CmbPais, &QComboBox::currentIndexChanged, this, &TFramePref::countryChanged);
}

void TFramePref::error(const QString& title, const QString& text) {
    if (deps_.errorBox) {
        deps_.errorBox(title, text);
    } else {
        QMessageBox::critical(this, title, text);
    }
}

void TFramePref::setTaxIdMask(const QString& mask) {
    taxIdMask_ = mask;
    const QString text = EdRif->text();
    EdRif->setInputMask(LineEditMask(mask));
    if (mask.isEmpty()) {
        EdRif->setMaxLength(12);
    }
    EdRif->setText(text);
    LblTaxIdError->hide();
}

bool TFramePref::taxIdAcceptable() const {
    return TaxIdAcceptable(EdRif->displayText(), taxIdMask_);
}

void TFramePref::countryChanged(int index) {
    if (filling_ || deps_.settings == nullptr) {
        return;
    }
    PreferencesForm f = collectForm();
    ChooseCountry(f, *deps_.settings, index);
    EdRegistro->setText(f.registro);
    LblTaxId->setText(f.taxIdLabel);
    EdRif->setAccessibleName(f.taxIdLabel);
    setTaxIdMask(f.taxIdMask);
}

void TFramePref::fill(const PreferencesForm& f) {
    filling_ = true;
    (f.serviceMode == 1 ? RbModePin : RbModeRequest)->setChecked(true);
    EdClaveRed->setText(f.networkKey);
    RbRedSegura[qBound(0, f.redSegura, 2)]->setChecked(true);
    EdDenominacion->setText(f.denominacion);
    setTaxIdMask(f.taxIdMask);
    LblTaxId->setText(f.taxIdLabel);
    EdRif->setAccessibleName(f.taxIdLabel);
    EdRif->setText(f.rif);
    for (int i = 0; i < 3; ++i) {
        EdDir[i]->setText(i == 0 ? f.dir1 : i == 1 ? f.dir2 : f.dir3);
    }
    EdTelefono->setText(f.telefono);
    CmbPais->setCurrentIndex(f.countryIndex);
    EdMoneda->setText(f.moneda);
    EdRegistro->setText(f.registro);
    RbClienteModo[std::clamp(f.clienteModo, 0, 2)]->setChecked(true);
    EdClienteVal->setText(f.clienteVal);
    EdClienteVal->setEnabled(f.presetsEnabled);
    SpLogLimit->setValue(int(std::min<qint64>(f.logNumber, SpLogLimit->maximum())));
    RbUnit[f.logUnit]->setChecked(true);
    LblUnit->setText(LogUnitLabel(f.logUnit));
    for (int i = 0; i < 4; ++i) {
        SelectColour(CmbColour[i], f.colours[i]);
    }
    for (int which = 0; which < 2; ++which) {
        const PasswordFields& p = which == 0 ? f.access : f.pin;
        PassEdits[which][0]->setText(p.oldText);
        PassEdits[which][1]->setText(p.newText);
        PassEdits[which][2]->setText(p.repeatText);
        PassEdits[which][0]->setEnabled(p.oldEnabled);
    }
    CmbPrinters->clear();
    CmbPrinters->addItems(f.printers);
    CmbPrinters->setCurrentIndex(f.printerIndex);
    CmbPorts->setCurrentIndex(f.portIndex);
    (f.rawMode ? RbWindows : RbPort)->setChecked(true);
    SpLines->setValue(f.nLines);
    SpWidth->setValue(f.ticketWidth);
    SpLeft->setValue(f.ticketLeft);
    EdClientInit->setText(f.clientInit);
    ChkConfirmClose->setChecked(f.confirmClose);
    ChkToolBar->setChecked(f.toolBarVisible);
    EdTarifaHora->setText(f.tariff.hourPrice);
    SpTarifaMinimo->setValue(f.tariff.minimum);
    SpTarifaFraccion->setValue(f.tariff.step);
    for (int i = 0; i < Tariff::kMaxBands; ++i) {
        const TariffBandFields& b = f.tariff.bands[std::size_t(i)];
        EdBanda[i][0]->setText(b.from);
        EdBanda[i][1]->setText(b.to);
        EdBanda[i][2]->setText(b.price);
    }
    for (int i = 0; i < int(std::size(EdTarifaPin)); ++i) {
        EdTarifaPin[i]->setText(f.tariff.codePrices.value(i));
    }
    filling_ = false;
}

PreferencesForm TFramePref::collectForm() const {
    PreferencesForm f;
    f.serviceMode = RbModePin->isChecked() ? 1 : 0;
    f.networkKey = EdClaveRed->text();
    f.redSegura = RbRedSegura[2]->isChecked() ? 2 : RbRedSegura[1]->isChecked() ? 1 : 0;
    f.denominacion = EdDenominacion->text();
    f.taxIdLabel = LblTaxId->text();
    f.taxIdMask = taxIdMask_;
    // Nothing typed in a masked field stores nothing, not its literals.
    f.rif = TaxIdTyped(EdRif->displayText(), taxIdMask_) ? EdRif->text() : QString();
    f.dir1 = EdDir[0]->text();
    f.dir2 = EdDir[1]->text();
    f.dir3 = EdDir[2]->text();
    f.telefono = EdTelefono->text();
    f.countryIndex = CmbPais->currentIndex();
    f.moneda = EdMoneda->text();
    f.registro = EdRegistro->text();
    for (int i = 0; i < 3; ++i) {
        if (RbClienteModo[i]->isChecked()) {
            f.clienteModo = i;
        }
    }
    f.clienteVal = EdClienteVal->text();
    f.presetsEnabled = EdClienteVal->isEnabled();
    f.logNumber = SpLogLimit->value();
    for (int i = 0; i < 3; ++i) {
        if (RbUnit[i]->isChecked()) {
            f.logUnit = i;
        }
    }
    for (int i = 0; i < 4; ++i) {
        f.colours[i] = CmbColour[i]->currentData().toInt();
    }
    for (int which = 0; which < 2; ++which) {
        PasswordFields& p = which == 0 ? f.access : f.pin;
        p.oldText = PassEdits[which][0]->text();
        p.newText = PassEdits[which][1]->text();
        p.repeatText = PassEdits[which][2]->text();
        p.oldEnabled = PassEdits[which][0]->isEnabled();
    }
    for (int i = 0; i < CmbPrinters->count(); ++i) {
        f.printers << CmbPrinters->itemText(i);
    }
    f.printerIndex = CmbPrinters->currentIndex();
    f.portIndex = CmbPorts->currentIndex();
    f.rawMode = RbWindows->isChecked();
    f.nLines = SpLines->value();
    f.ticketWidth = SpWidth->value();
    f.ticketLeft = SpLeft->value();
    f.clientInit = EdClientInit->text();
    f.confirmClose = ChkConfirmClose->isChecked();
    f.toolBarVisible = ChkToolBar->isChecked();
    f.tariff.hourPrice = EdTarifaHora->text();
    f.tariff.minimum = SpTarifaMinimo->value();
    f.tariff.step = SpTarifaFraccion->value();
    for (int i = 0; i < Tariff::kMaxBands; ++i) {
        f.tariff.bands[std::size_t(i)] = {EdBanda[i][0]->text(), EdBanda[i][1]->text(),
                                          EdBanda[i][2]->text()};
    }
    for (QLineEdit* e : EdTarifaPin) {
        f.tariff.codePrices << e->text();
    }
    return f;
}

void TFramePref::ShowPreferences() {
    if (deps_.settings == nullptr) {
        return;
    }
    const std::optional<qint32> limit =
        deps_.store != nullptr ? std::optional<qint32>(ReadLogLimit(*deps_.store)) : std::nullopt;
    const QStringList printers =
        deps_.printing != nullptr ? deps_.printing->printerNames() : QStringList();
    fill(server::ShowPreferences(*deps_.settings, limit, printers));
    showCentral();
}

bool TFramePref::ApplyPreferences() {
    if (deps_.settings == nullptr) {
        return false;
    }
    if (!taxIdAcceptable()) {
        error(QStringLiteral("Error"), TaxIdLeaveError());
        selectNode(QStringLiteral("Empresa"));
        EdRif->setFocus();
        return false;
    }
    ApplyHooks hooks;
    hooks.writeLogLimit = [this](qint32 v) {
        if (deps_.store != nullptr) {
            WriteLogLimit(*deps_.store, v);
        }
    };
    hooks.writeSecurity = [this] {
        if (deps_.store != nullptr && !WriteSecurity(*deps_.store, *deps_.settings))
            error(QStringLiteral("Error"),
                  QStringLiteral("No se pudo guardar la clave de red en la configuración."));
    };
    hooks.writeTariff = [this](const Tariff& t) {
        if (deps_.store != nullptr) {
            SaveTariff(*deps_.store, t);
        }
    };
    const ApplyResult r = server::ApplyPreferences(collectForm(), *deps_.settings, hooks);
    applyCentral();
    if (!r.securityError.isEmpty()) {
        error(QStringLiteral("Error"), r.securityError);
    }
    if (r.logLimitOverflow) {
        error(QStringLiteral("Error"), LogLimitOverflowText());
    }
    for (const QString& text : r.passwordErrors) {
        error(QStringLiteral("Contraseñas - Error"), text);
    }
    if (!r.tariffError.isEmpty()) {
        error(QStringLiteral("Tarifas - Error"), r.tariffError);
    }
    if (deps_.applied) {
        deps_.applied(r);
    }
    ShowPreferences();
    return true;
}

void TFramePref::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ShowPreferences();
}

bool TFramePref::eventFilter(QObject* watched, QEvent* event) {
    if (watched == EdRif && !taxIdMask_.isEmpty()) {
        if (event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                !taxIdAcceptable()) {
                // The field keeps the cursor until its text fits.
                QTimer::singleShot(0, EdRif, [this] {
                    EdRif->setFocus();
                    error(QStringLiteral("Error"), TaxIdLeaveError());
                });
            }
        } else if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            const QString typed = key->text();
            if (key->key() == Qt::Key_Escape) {
                LblTaxIdError->hide();
                return false;
            }
            if (!typed.isEmpty() && typed[0].isPrint()) {
                const QString before = EdRif->displayText();
                const int at = EdRif->cursorPosition();
                static_cast<QObject*>(EdRif)->event(event);
                if (EdRif->displayText() == before && EdRif->cursorPosition() == at) {
                    QApplication::beep();
                    LblTaxIdError->setText(TaxIdTypingError(taxIdMask_));
                    LblTaxIdError->show();
                } else {
                    LblTaxIdError->hide();
                }
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tarvina::server::ui
