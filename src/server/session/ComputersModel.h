#pragma once

#include "server/computers/ComputerRegistry.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <array>
#include <functional>

namespace tarvina::server {

// The rows of the computers view: one per record, in the order the records
// were first bound, each with its caption, six cells and its icon number.
// Lives on the UI thread; it reads the records under ComputersLock.
class ComputersModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Cell { Status = 0, User = 1, Used = 2, Left = 3, StartTime = 4, LastUse = 5, Amount = 6 };
    static constexpr int kCells = 7;
    // What a computer owes, in cents: its unpaid movements and, while in
    // use, the running amount of the use since `start`.
    using AmountSource = std::function<qint64(const QString& computer, bool inUse, double start)>;
    enum Role { RecordRole = Qt::UserRole + 1, StateRole, AttentionRole, IconRole };

    explicit ComputersModel(ComputerRegistry& registry, QObject* parent = nullptr);

    // A record's row appears with the cells "Desc.", "<Ninguno>" and four
    // times "<N/A>" and the display name as caption.
    void addRow(TCompItem* record);
    // UpdateRow: icon, caption, state label, user, start time; true when the
    // state label changed (the actions are then recomputed).
    bool updateRow(TCompItem* record);

    TCompItem* recordAt(int row) const;
    int rowOf(const TCompItem* record) const;
    QString caption(int row) const;
    QString cell(int row, int cell) const;
    int icon(int row) const;
    // Rewrites a cell only when its text changes.
    void setCell(int row, int cell, const QString& text);

    // With a source the view has an eighth column, "Importe"; without one
    // (no tariff) it looks as it always has.
    void setAmountSource(AmountSource source);
    bool showsAmounts() const { return bool(amounts_); }
    // The row's "Importe" from the source: the amount in the café's
    // currency, empty when nothing is owed.
    void updateAmount(int row, const QString& computer, bool inUse, double start);
    qint64 amountOf(const QString& computer, bool inUse, double start) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

Q_SIGNALS:
    void stateLabelChanged(int row);

private:
    struct Row {
        TCompItem* record = nullptr;
        QString caption;
        std::array<QString, kCells> cells;
        int icon = 0;
        int state = 0;
        bool attention = false;
        // The amount the "Importe" cell shows, so that a tick formats only
        // the amounts that changed.
        qint64 amount = 0;
    };
    void rowChanged(int row);

    ComputerRegistry& registry_;
    QList<Row> rows_;
    AmountSource amounts_;
    // The texts of the amounts shown lately: a café's amounts repeat from row
    // to row and tick to tick, and the locale's formatting is the column's
    // dearest step.
    QHash<qint64, QString> amountTexts_;
    QString amountSymbol_; // the currency they were made with
};

} // namespace tarvina::server
