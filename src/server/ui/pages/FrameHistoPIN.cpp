#include "server/ui/pages/FrameHistoPIN.h"

#include "server/pin/CodesPage.h"
#include "xbase/TableEngine.h"

#include <QHBoxLayout>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace tarvina::server::ui {

namespace {

std::vector<TableWindow::Column> HistoryColumns() {
    return {
        {"PIN", QStringLiteral("PIN"), 8},           {"ASIG", QStringLiteral("Original"), 6},
        {"CONSUMO", QStringLiteral("Consumido"), 6}, {"CFECHA", QStringLiteral("Fec. Inic."), 10},
        {"CHORA", QStringLiteral("Hora Inic."), 8},  {"FECHA", QStringLiteral("Fecha"), 10},
        {"HORA", QStringLiteral("Hora"), 8}};
}

} // namespace

TFrameHistoPIN::TFrameHistoPIN(xbase::TableEngine& tbRegPin, std::function<void()> openTable,
                               QWidget* parent)
    : QWidget(parent), tbRegPin_(tbRegPin), openTable_(std::move(openTable)),
      model_(HistoryColumns()) {
    setObjectName(QStringLiteral("TFrameHistoPIN"));
    auto* caption = CaptionBar(QStringLiteral("Información del sistema.  "), this);
    // The box before its label, so that a search by caption meets the box.
    EdPin = new QLineEdit(this);
    auto* prompt = new QLabel(QStringLiteral("Escriba el número de PIN que desea revisar:"), this);
    EdPin->setMaxLength(6);
    EdPin->setAccessibleName(prompt->text());
    prompt->setBuddy(EdPin);
    auto* promptRow = new QHBoxLayout;
    promptRow->addWidget(prompt);
    promptRow->addWidget(EdPin);
    promptRow->addStretch(1);

    Grid = new DbGrid(model_, this);
    Grid->view()->setAccessibleName(QStringLiteral("Historia de PIN"));
    ErrorLabel = new QLabel(this);
    ErrorLabel->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
    ErrorLabel->setWordWrap(true);
    ErrorLabel->hide();
    Navigator = new DbNavigator(model_, this);
    auto* foot = new QHBoxLayout;
    foot->addWidget(Navigator);
    foot->addStretch(1);

    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 9);
    col->addWidget(caption);
    col->addLayout(promptRow);
    col->addWidget(ErrorLabel);
    col->addWidget(Grid, 1);
    col->addLayout(foot);

    connect(EdPin, &QLineEdit::textChanged, this, &TFrameHistoPIN::EdPinChange);
    connect(&model_, &TableWindow::failed, this, [this](const QString& text) {
        ErrorLabel->setText(QStringLiteral("No se pudo leer la historia de PINs: ") + text);
        ErrorLabel->show();
    });
}

void TFrameHistoPIN::ensureOpen() {
    if (!tbRegPin_.IsOpen() && openTable_) {
        openTable_();
    }
    if (model_.table() != &tbRegPin_ || model_.isEmpty()) {
        model_.setTable(&tbRegPin_);
    }
}

void TFrameHistoPIN::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    try {
        ensureOpen();
        if (tbRegPin_.IsOpen() && tbRegPin_.Order() != "PINFECHOR") {
            tbRegPin_.SetOrder("PINFECHOR");
            model_.First();
        }
    } catch (const std::exception& e) {
        ErrorLabel->setText(QStringLiteral("No se pudo abrir la historia de PINs: ") +
                            QString::fromLocal8Bit(e.what()));
        ErrorLabel->show();
    }
    Grid->fitRows();
}

void TFrameHistoPIN::EdPinChange(const QString& text) {
    try {
        ensureOpen();
        CodesPage::EdPinChange(tbRegPin_, text);
        if (model_.errorText().isEmpty()) {
            ErrorLabel->hide();
        }
    } catch (const std::exception& e) {
        ErrorLabel->setText(QStringLiteral("No se pudo leer la historia de PINs: ") +
                            QString::fromLocal8Bit(e.what()));
        ErrorLabel->show();
        return;
    }
    model_.Follow(0);
}

void TFrameHistoPIN::refreshGrid() {
    if (tbRegPin_.IsOpen()) {
        model_.Refresh();
    }
}

} // namespace tarvina::server::ui
