#include "server/ui/pages/PinFrame.h"

#include "server/pin/CodeGenerator.h"
#include "server/pin/PinTableText.h"
#include "server/ui/pages/WindowsColour.h"

#include <QApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarvina::server::ui {

namespace {

std::vector<TableWindow::Column> CodeColumns() {
    return {{"PIN", QStringLiteral("PIN"), 8},
            {"SALDO", QStringLiteral("Saldo (min)"), 6},
            {"CFECHA", QStringLiteral("Fec. Inic."), 10},
            {"CHORA", QStringLiteral("Hora Inic."), 8},
            {"HORA", QStringLiteral("Hora"), 8},
            {"FECHA", QStringLiteral("Fecha"), 10},
            {"EQUIPO", QStringLiteral("Equipo"), 20},
            {"MAC", QStringLiteral("MAC"), 17}};
}

// Restores the cursor however the batch ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

TPinFrame::TPinFrame(xbase::IFileSystem& fs, Deps deps, QWidget* parent)
    : QWidget(parent), deps_(std::move(deps)), model_(CodeColumns(), "CFECHA") {
    setObjectName(QStringLiteral("TPinFrame"));
    page_ =
        std::make_unique<CodesPage>(fs, *deps_.clock, *deps_.codeList, *deps_.random, deps_.print);
    page_->setSold(deps_.sold);

    auto* caption = CaptionBar(QStringLiteral("Manipulación de Boletos de PIN.  "), this);
    QGroupBox* group = buildBatchGroup();
    buildGrid();
    QHBoxLayout* foot = buildFoot();

    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 9);
    col->addWidget(caption);
    col->addWidget(group);
    col->addWidget(ErrorLabel);
    col->addWidget(RxDBGrid1, 1);
    col->addSpacing(8 - col->spacing());
    col->addLayout(foot);

    connectParts();
    applyColours();
    updateActions();
}

QGroupBox* TPinFrame::buildBatchGroup() {
    auto* group = new QGroupBox(QStringLiteral("Nuevos Boletos PIN"), this);
    CmbTime = new QComboBox(group);
    CmbTime->setEditable(true);
    CmbTime->addItems({QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("15"),
                       QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("90"),
                       QStringLiteral("120")});
    CmbTime->setCurrentIndex(-1);
    CmbTime->setEditText(QString());
    CmbTime->setInsertPolicy(QComboBox::NoInsert);
    CmbTime->lineEdit()->setMaxLength(9);
    SECnt = new QSpinBox(group);
    SECnt->setRange(1, CodesPage::kMaxBatch);
    SECnt->setValue(1);
    BtnCreaPIN = new QPushButton(QStringLiteral("Genera PINs"), group);
    BtnCreaPIN->setEnabled(false);
    auto* timeLabel = new QLabel(QStringLiteral("Tiempo en minutos:"), group);
    timeLabel->setBuddy(CmbTime);
    auto* countLabel = new QLabel(QStringLiteral("Cant.:"), group);
    countLabel->setBuddy(SECnt);
    CmbTime->setAccessibleName(timeLabel->text());
    SECnt->setAccessibleName(countLabel->text());
    auto* groupRow = new QHBoxLayout(group);
    groupRow->addWidget(timeLabel);
    groupRow->addWidget(CmbTime);
    groupRow->addSpacing(12);
    groupRow->addWidget(countLabel);
    groupRow->addWidget(SECnt);
    groupRow->addSpacing(12);
    groupRow->addWidget(BtnCreaPIN);
    groupRow->addStretch(1);
    return group;
}

void TPinFrame::buildGrid() {
    RxDBGrid1 = new DbGrid(model_, this);
    RxDBGrid1->view()->setToolTip(QStringLiteral("Clic con botón derecho para menú (imprimir)"));
    RxDBGrid1->view()->setAccessibleName(QStringLiteral("PINs"));
    RxDBGrid1->view()->setContextMenuPolicy(Qt::CustomContextMenu);

    ErrorLabel = new QLabel(this);
    ErrorLabel->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
    ErrorLabel->setWordWrap(true);
    ErrorLabel->hide();
}

QHBoxLayout* TPinFrame::buildFoot() {
    Navigator = new DbNavigator(model_, this);
    PrintButton = new QPushButton(QStringLiteral("Imprimir"), this);
    PrintButton->setToolTip(QStringLiteral("Imprime ticket seleccionado"));
    PrintButton->setAccessibleName(QStringLiteral("Imprime ticket seleccionado"));
    ChkPrint = new QCheckBox(QStringLiteral("Imprime ticket al crear PIN"), this);
    ChkPrint->setChecked(true);
    // Bold white Arial on the highlight colour, as the caption bar.
    ChkPrint->setStyleSheet(QStringLiteral("QCheckBox { font-family: Arial; font-weight: bold; "
                                           "color: white; background: palette(highlight); "
                                           "padding: 2px 6px; }"));

    GridMenu = new QMenu(this);
    ImprimeticketconPIN1 = GridMenu->addAction(QStringLiteral("Imprimir ticket con PIN"));
    MnuGoConn = GridMenu->addAction(QStringLiteral("Ver conexión"));

    auto* foot = new QHBoxLayout;
    foot->addWidget(Navigator);
    foot->addSpacing(8);
    foot->addWidget(PrintButton, 0, Qt::AlignTop);
    foot->addSpacing(8);
    foot->addWidget(ChkPrint, 0, Qt::AlignBottom);
    foot->addStretch(1);
    return foot;
}

void TPinFrame::connectParts() {
    connect(CmbTime, &QComboBox::editTextChanged, this, &TPinFrame::CmbTimeChange);
    connect(CmbTime, &QComboBox::currentTextChanged, this, &TPinFrame::CmbTimeChange);
    connect(BtnCreaPIN, &QPushButton::clicked, this, &TPinFrame::BtnCreaPINClick);
    connect(ImprimeticketconPIN1, &QAction::triggered, this, &TPinFrame::ImprimeticketconPIN1Click);
    connect(PrintButton, &QPushButton::clicked, this, &TPinFrame::ImprimeticketconPIN1Click);
    connect(MnuGoConn, &QAction::triggered, this, &TPinFrame::MnuGoConnClick);
    connect(RxDBGrid1->view(), &QWidget::customContextMenuRequested, this, [this](QPoint at) {
        const QModelIndex i = RxDBGrid1->view()->indexAt(at);
        if (i.isValid()) {
            model_.setCurrentRow(i.row());
        }
        GridMenu->popup(RxDBGrid1->view()->viewport()->mapToGlobal(at));
    });
    connect(&model_, &TableWindow::currentChanged, this, [this] { updateActions(); });
    connect(&model_, &TableWindow::failed, this, [this](const QString& text) {
        showError(QStringLiteral("No se pudo leer la tabla de PINs: ") + text);
    });
    Navigator->onRefresh = [this] {
        if (model_.errorText().isEmpty()) {
            ErrorLabel->hide();
        }
    };
}

TPinFrame::~TPinFrame() {
    // The grid lets go of the handle before the page closes it.
    model_.setTable(nullptr);
}

void TPinFrame::applyColours() {
    if (deps_.inUseColour) {
        RxDBGrid1->setMarkedColour(ColourFromWindows(deps_.inUseColour(), palette()));
    }
}

void TPinFrame::showError(const QString& text) {
    ErrorLabel->setText(text);
    ErrorLabel->show();
}

bool TPinFrame::openTable() {
    xbase::TableEngine& t = page_->table();
    try {
        if (!t.IsOpen()) {
            page_->openTable(deps_.codeTablePath);
            model_.setTable(&t);
        }
    } catch (const std::exception& e) {
        model_.setTable(nullptr);
        showError(QString::fromLocal8Bit(e.what()));
        updateActions();
        return false;
    }
    if (model_.table() != &t) {
        model_.setTable(&t);
    }
    if (model_.errorText().isEmpty()) {
        ErrorLabel->hide();
    }
    updateActions();
    return true;
}

void TPinFrame::refreshGrid() {
    if (page_->table().IsOpen()) {
        model_.Refresh();
        if (model_.errorText().isEmpty()) {
            ErrorLabel->hide();
        }
    }
    updateActions();
}

void TPinFrame::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    applyColours();
    openTable();
    RxDBGrid1->fitRows();
}

void TPinFrame::updateActions() {
    bool inUse = false;
    bool any = false;
    try {
        const xbase::TableEngine& t = page_->table();
        any = t.IsOpen() && !t.Eof() && !model_.isEmpty();
        inUse = any && page_->viewConnectionEnabled();
    } catch (...) {
    }
    MnuGoConn->setEnabled(inUse);
    ImprimeticketconPIN1->setEnabled(any);
    PrintButton->setEnabled(any);
}

void TPinFrame::CmbTimeChange() {
    BtnCreaPIN->setEnabled(CreateButtonEnabled(CmbTime->currentText()));
}

void TPinFrame::BtnCreaPINClick() {
    if (!openTable()) {
        return;
    }
    const int count = SECnt->value();
    QString failure;
    {
        WaitCursor wait;
        try {
            page_->CreateCodes(count, CmbTime->currentText(), ChkPrint->isChecked());
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        }
    }
    model_.Follow();
    updateActions();
    if (!failure.isEmpty()) {
        showError(QStringLiteral("Falla al generar PINs: ") + failure);
        if (deps_.generalError) {
            deps_.generalError(failure);
        }
    }
}

void TPinFrame::ImprimeticketconPIN1Click() {
    if (!page_->table().IsOpen() || model_.isEmpty() || !deps_.print) {
        return;
    }
    try {
        const TicketCode code = page_->currentCode();
        if (!code.pin.isEmpty()) {
            deps_.print(code);
        }
    } catch (const std::exception& e) {
        showError(QStringLiteral("No se pudo leer la tabla de PINs: ") +
                  QString::fromLocal8Bit(e.what()));
    }
}

void TPinFrame::MnuGoConnClick() {
    int row = -1;
    try {
        if (deps_.registry != nullptr) {
            row = page_->connectionRow(*deps_.registry);
        }
    } catch (const std::exception& e) {
        showError(QStringLiteral("No se pudo leer la tabla de PINs: ") +
                  QString::fromLocal8Bit(e.what()));
    }
    if (deps_.showConnection) {
        deps_.showConnection(row);
    }
}

} // namespace tarvina::server::ui
