#pragma once

#include "server/session/ViewRules.h"
#include "server/ui/computers/ComputerIcons.h"

#include <QSortFilterProxyModel>
#include <functional>

namespace tarvina::server {

class ComputersModel;
class ComputerRegistry;

// The rows of the computers view as the list widgets show them: icons,
// colours, tips and the header's captions and sort arrows over the rows of
// ComputersModel. Rows are sorted only when a header is clicked; rows added
// later stay where they are added (the proxy sorts on demand only).
class ComputersListModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    ComputersListModel(ComputersModel& rows, ComputerRegistry& registry,
                       std::function<double()> nowDays, QObject* parent = nullptr);

    void setColours(const RowColours& colours);
    // "Ordenador" in place of "Computadora" when the country is "España".
    void setFirstCaption(const QString& caption);
    QString firstCaption() const { return firstCaption_; }

    // A header click: the same column reverses the direction, another one
    // sorts ascending. -1 before the first click.
    void headerClicked(int column);
    int sortedColumn() const { return sortColumn_; }
    Qt::SortOrder sortedOrder() const { return order_; }

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The tip as shown: one paragraph per line, escaped, long runs breakable.
    static QString TipHtml(const QString& tip);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    ComputersModel& rows_;
    ComputerRegistry& registry_;
    std::function<double()> nowDays_;
    ComputerIcons icons_;
    RowColours colours_;
    QString firstCaption_ = QStringLiteral("Computadora");
    int sortColumn_ = -1;
    Qt::SortOrder order_ = Qt::AscendingOrder;
};

} // namespace tarvina::server
