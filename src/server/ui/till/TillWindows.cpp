#include "server/ui/till/TillWindows.h"

#include "common/Cp1252.h"
#include "common/Currency.h"
#include "platform/Shell.h"
#include "protocol/Codes.h"
#include "protocol/Line.h"
#include "protocol/StationLines.h"
#include "server/computers/Senders.h"
#include "server/dialogs/DialogForms.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/TillReport.h"
#include "server/shell/ServerCore.h"
#include "server/ui/MainWindow.h"
#include "server/ui/computers/TfrmComputers.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarvina::server {

// --- TfrmCobro ---

TfrmCobro::TfrmCobro(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmCobro"));
    setWindowTitle(QStringLiteral("Cobro"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    what_ = new QLabel(this);
    what_->setWordWrap(true);
    layout->addWidget(what_);
    auto* form = new QFormLayout;
    received_ = new QLineEdit(this);
    received_->setMaxLength(16);
    received_->setAccessibleName(QStringLiteral("Recibido"));
    auto* label = new QLabel(QStringLiteral("&Recibido:"), this);
    label->setBuddy(received_);
    form->addRow(label, received_);
    change_ = new QLabel(this);
    change_->setAccessibleName(QStringLiteral("Vuelto"));
    form->addRow(new QLabel(QStringLiteral("Vuelto:"), this), change_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(received_, &QLineEdit::textChanged, this, [this] { sync(); });
    setMinimumWidth(320);
}

void TfrmCobro::sync() {
    PaymentForm f;
    f.show(computer_, minutes_, cents_);
    f.received = received_->text();
    change_->setText(f.changeText());
    ok_->setEnabled(f.okEnabled());
}

bool TfrmCobro::ask(const QString& computer, qint64 minutes, qint64 cents) {
    computer_ = computer;
    minutes_ = minutes;
    cents_ = cents;
    what_->setText(QStringLiteral("%1\nMinutos: %2\nImporte: %3")
                       .arg(computer)
                       .arg(minutes)
                       .arg(common::FormatCurrency(cents)));
    received_->clear();
    sync();
    received_->setFocus();
    return exec() == QDialog::Accepted;
}

// --- TfrmCierreCaja ---

TfrmCierreCaja::TfrmCierreCaja(ServerCore& core, PinRuntime& pins, platform::Shell& shell,
                               QWidget* parent)
    : QDialog(parent), core_(core), pins_(pins), shell_(shell) {
    setObjectName(QStringLiteral("frmCierreCaja"));
    setWindowTitle(QStringLiteral("Cierre de caja"));
    auto* layout = new QVBoxLayout(this);
    totals_ = new QTableWidget(0, 2, this);
    totals_->setAccessibleName(QStringLiteral("Totales desde el último cierre"));
    totals_->setHorizontalHeaderLabels({QStringLiteral("Concepto"), QStringLiteral("Monto")});
    totals_->horizontalHeader()->setStretchLastSection(true);
    totals_->verticalHeader()->hide();
    totals_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(totals_, 1);
    auto* buttons = new QDialogButtonBox(this);
    close_ = buttons->addButton(QStringLiteral("Cerrar caja"), QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("Salir"), QDialogButtonBox::RejectRole);
    connect(close_, &QPushButton::clicked, this, &TfrmCierreCaja::closeTill);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(420, 360);
}

void TfrmCierreCaja::refresh() {
    Till* till = pins_.till();
    const std::vector<TillLine> lines =
        till != nullptr ? TillSummary(till->totals()) : std::vector<TillLine>{};
    totals_->setRowCount(int(lines.size()));
    for (int i = 0; i < int(lines.size()); ++i) {
        totals_->setItem(i, 0, new QTableWidgetItem(lines[std::size_t(i)].caption));
        auto* amount = new QTableWidgetItem(lines[std::size_t(i)].amount);
        amount->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        totals_->setItem(i, 1, amount);
    }
    close_->setEnabled(till != nullptr && till->isOpen());
}

void TfrmCierreCaja::closeTill() {
    Till* till = pins_.till();
    if (till == nullptr || !till->isOpen())
        return;
    try {
        const QString path = CloseTillWithReport(*till, pins_.fileSystem(), core_.programFolder(),
                                                 core_.settings().denominacion);
        core_.ShowRemoteMessage(nullptr, QStringLiteral("Caja cerrada: ") + path);
        shell_.openDocument(path);
    } catch (const std::exception& e) {
        QMessageBox::critical(this, QStringLiteral("Cierre de caja"),
                              QString::fromLocal8Bit(e.what()));
    }
    refresh();
}

// --- TillWindows ---

TillWindows::TillWindows(ServerCore& core, PinRuntime& pins, TfrmComputers& computers,
                         MainWindow& window, platform::Shell& shell)
    : QObject(&window), core_(core), pins_(pins), computers_(computers), shell_(shell) {
    payment_ = new TfrmCobro(&window);
    close_ = new TfrmCierreCaja(core, pins, shell, &window);
    computers.setHandler(TfrmComputers::Collect, [this](const QList<TCompItem*>& rows) {
        if (!rows.isEmpty())
            collect(rows.first());
    });
    if (QMenu* reports = window.menu(MainWindow::MenuId::Reports)) {
        reports->addSeparator();
        closeAction_ = reports->addAction(QStringLiteral("Cierre de caja..."));
        closeAction_->setStatusTip(
            QStringLiteral("Totales de la caja desde el último cierre, y su cierre con reporte"));
        connect(closeAction_, &QAction::triggered, this, [this] {
            close_->refresh();
            close_->show();
            close_->raise();
        });
    }
    connect(&core, &ServerCore::rowShown, this, [this](TCompItem* r) { tellPrices(r); });
    connect(&core, &ServerCore::accountQueried, this, &TillWindows::answerAccount);
    applyTariff();
}

void TillWindows::tellPrices(TCompItem* record, bool withdraw) {
    const Tariff& tariff = core_.settings().tariff;
    if (record == nullptr || (!tariff.set && !withdraw))
        return;
    std::shared_ptr<StationConnection> connection;
    {
        ComputersGuard guard(core_.registry().lock());
        connection = record->connection;
    }
    if (!connection)
        return;
    // A connection that ended cannot compare equal to the new one.
    const auto told = told_.constFind(record);
    if (told != told_.constEnd() && told->generation == generation_ &&
        told->connection.lock() == connection)
        return;
    told_[record] = {connection, generation_};
    // An empty list takes the station's menu entries away again.
    const QByteArray list = withdraw ? QByteArray() : common::ToCp1252(PriceListText(tariff));
    SendToComputer(
        core_.context(), record, protocol::FormatToClient(protocol::tc::PriceList), QString(),
        [](const QString&, const QString&) {
            return QStringLiteral("Falla al enviar la lista de precios");
        },
        &list);
}

void TillWindows::answerAccount(TCompItem* record) {
    Till* till = pins_.till();
    if (record == nullptr || till == nullptr || !core_.settings().tariff.set)
        return;
    QString name;
    bool inUse = false;
    double start = 0;
    {
        ComputersGuard guard(core_.registry().lock());
        name = record->name;
        inUse = record->state == 2;
        start = record->start;
    }
    const Till::Account a =
        till->accountOf(name, inUse, common::DateTime::FromDays(start), core_.clock().now());
    SendToComputer(core_.context(), record,
                   protocol::station::AccountState(
                       a.minutes, common::ToCp1252(common::FormatCurrency(a.cents))),
                   QString(), [](const QString&, const QString&) {
                       return QStringLiteral("Falla al enviar el estado de cuenta");
                   });
}

void TillWindows::applyTariff() {
    const bool on = core_.settings().tariff.set && pins_.till() != nullptr;
    if (on) {
        Till* till = pins_.till();
        core_.computers().setAmountSource([this, till](const QString& computer, bool inUse,
                                                       double start) {
            qint64 cents = till->due(computer);
            if (inUse)
                cents += till->runningCost(common::DateTime::FromDays(start), core_.clock().now());
            return cents;
        });
    } else {
        core_.computers().setAmountSource({});
    }
    if (closeAction_ != nullptr)
        closeAction_->setVisible(on);
    computers_.UpdateActions();
    // Every station hears of the new prices.
    ++generation_;
    if (on || pricesShown_) {
        pricesShown_ = on;
        QList<TCompItem*> records;
        {
            ComputersGuard guard(core_.registry().lock());
            for (int i = 0; i < core_.registry().rowCount(); ++i)
                records.append(core_.registry().recordAt(i));
        }
        for (TCompItem* r : records)
            tellPrices(r, !on);
    }
}

void TillWindows::collect(TCompItem* record) {
    Till* till = pins_.till();
    if (till == nullptr || record == nullptr)
        return;
    QString name;
    {
        ComputersGuard guard(core_.registry().lock());
        name = record->name;
    }
    const qint64 cents = till->due(name);
    if (cents <= 0 || !payment_->ask(name, till->dueMinutes(name), cents))
        return;
    try {
        till->collect(name);
        core_.ShowRemoteMessage(record, QStringLiteral("Cobrado ") + common::FormatCurrency(cents));
    } catch (const std::exception& e) {
        core_.ShowRemoteMessage(record, QString::fromLocal8Bit(e.what()));
    }
    ComputersModel& model = core_.computers();
    model.updateAmount(model.rowOf(record), name, false, 0);
    computers_.UpdateActions();
}

} // namespace tarvina::server
