#pragma once

#include <QDialog>
#include <QHash>
#include <QObject>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace tarvina::platform {
class Shell;
}

namespace tarvina::server {

class MainWindow;
class PinRuntime;
class StationConnection;
class ServerCore;
class TfrmComputers;
struct TCompItem;

// TfrmCobro, "Cobro": the minutes and the amount owed, "Recibido" and the
// change, "Vuelto" (PaymentForm decides).
class TfrmCobro : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCobro(QWidget* parent = nullptr);
    // True when the operator took the payment.
    bool ask(const QString& computer, qint64 minutes, qint64 cents);

private:
    void sync();
    QLabel* what_;
    QLineEdit* received_;
    QLabel* change_;
    QPushButton* ok_;
    qint64 minutes_ = 0, cents_ = 0;
    QString computer_;
};

// TfrmCierreCaja, "Cierre de caja": the totals since the last close and
// "Cerrar caja".
class TfrmCierreCaja : public QDialog {
    Q_OBJECT
public:
    TfrmCierreCaja(ServerCore& core, PinRuntime& pins, platform::Shell& shell,
                   QWidget* parent = nullptr);
    void refresh();

private:
    void closeTill();
    ServerCore& core_;
    PinRuntime& pins_;
    platform::Shell& shell_;
    QTableWidget* totals_;
    QPushButton* close_;
};

// The till's parts of the windows: "Importe" in the computers view,
// "Cobrar..." and its dialog, "Cierre de caja..." in "Reportes". Everything
// follows the tariff: without one nothing of it shows.
class TillWindows : public QObject {
    Q_OBJECT
public:
    TillWindows(ServerCore& core, PinRuntime& pins, TfrmComputers& computers, MainWindow& window,
                platform::Shell& shell);
    // The tariff of the settings took effect: the column and the menu
    // entries appear or go.
    void applyTariff();

private:
    void collect(TCompItem* record);
    // The price list to one station, once per connection and tariff.
    void tellPrices(TCompItem* record, bool withdraw = false);
    void answerAccount(TCompItem* record);
    ServerCore& core_;
    PinRuntime& pins_;
    TfrmComputers& computers_;
    QAction* closeAction_ = nullptr;
    TfrmCobro* payment_ = nullptr;
    TfrmCierreCaja* close_ = nullptr;
    platform::Shell& shell_;
    // The connection each station was last told the prices on, and the
    // tariff's generation then.
    struct Told {
        std::weak_ptr<StationConnection> connection;
        int generation = 0;
    };
    QHash<TCompItem*, Told> told_;
    int generation_ = 0;
    bool pricesShown_ = false;
};

} // namespace tarvina::server
