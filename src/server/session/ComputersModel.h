#pragma once

#include "server/computers/ComputerRegistry.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <array>

namespace tarvina::server {

// The rows of the computers view: one per record, in the order the records
// were first bound, each with its caption, six cells and its icon number.
// Lives on the UI thread; it reads the records under ComputersLock.
class ComputersModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Cell { Status = 0, User = 1, Used = 2, Left = 3, StartTime = 4, LastUse = 5 };
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
        std::array<QString, 6> cells;
        int icon = 0;
        int state = 0;
        bool attention = false;
    };
    void rowChanged(int row);

    ComputerRegistry& registry_;
    QList<Row> rows_;
};

} // namespace tarvina::server
