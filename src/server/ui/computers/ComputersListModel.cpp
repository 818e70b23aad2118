#include "server/ui/computers/ComputersListModel.h"

#include "server/computers/ComputerRegistry.h"
#include "server/session/ComputersModel.h"

#include <QBrush>
#include <QColor>

namespace tarvina::server {

ComputersListModel::ComputersListModel(ComputersModel& rows, ComputerRegistry& registry,
                                       std::function<double()> nowDays, QObject* parent)
    : QSortFilterProxyModel(parent), rows_(rows), registry_(registry),
      nowDays_(std::move(nowDays)) {
    setDynamicSortFilter(false);
    setSourceModel(&rows_);
}

void ComputersListModel::setColours(const RowColours& colours) {
    colours_ = colours;
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                           {Qt::BackgroundRole});
}

void ComputersListModel::setFirstCaption(const QString& caption) {
    firstCaption_ = caption;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, 0);
}

void ComputersListModel::headerClicked(int column) {
    if (column < 0 || column >= columnCount())
        return;
    const int previous = sortColumn_;
    if (column == sortColumn_) {
        order_ = order_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    } else {
        sortColumn_ = column;
        order_ = Qt::AscendingOrder;
    }
    sort(column, order_);
    if (previous >= 0 && previous != column)
        Q_EMIT headerDataChanged(Qt::Horizontal, previous, previous);
    Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
}

bool ComputersListModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    return CompareCellTexts(rows_.data(left, Qt::DisplayRole).toString(),
                            rows_.data(right, Qt::DisplayRole).toString()) < 0;
}

QVariant ComputersListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const QModelIndex src = mapToSource(index);
    switch (role) {
    case Qt::DisplayRole:
        return OneLine(rows_.data(src, Qt::DisplayRole).toString());
    case Qt::DecorationRole:
        if (index.column() != 0)
            return {};
        return icons_.image(rows_.data(src, ComputersModel::IconRole).toInt());
    case Qt::BackgroundRole: {
        const qint64 rgb =
            RowBackground(colours_, rows_.data(src, ComputersModel::StateRole).toInt());
        if (rgb < 0)
            return {};
        return QBrush(QColor::fromRgb(static_cast<QRgb>(rgb)));
    }
    case Qt::ForegroundRole:
        return QBrush(QColor::fromRgb(
            RowForeground(rows_.data(src, ComputersModel::AttentionRole).toBool())));
    case Qt::ToolTipRole: {
        TCompItem* record = rows_.recordAt(src.row());
        if (record == nullptr)
            return {};
        QString tip;
        {
            ComputersGuard guard(registry_.lock());
            tip = ComputerTip(*record, nowDays_());
        }
        return TipHtml(tip);
    }
    default:
        return rows_.data(src, role);
    }
}

QVariant ComputersListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return firstCaption_;
    if (orientation == Qt::Horizontal && role == Qt::DecorationRole && section == sortColumn_)
        return icons_.image(order_ == Qt::AscendingOrder ? 10 : 11);
    if (orientation == Qt::Vertical)
        return {};
    return rows_.headerData(section, orientation, role);
}

QString ComputersListModel::TipHtml(const QString& tip) {
    QStringList lines = tip.split(QStringLiteral("\r\n"));
    for (QString& line : lines) {
        QString out;
        int run = 0;
        for (const QChar c : line) {
            out.append(c);
            run = c.isSpace() ? 0 : run + 1;
            // A zero-width space now and then lets a long name wrap.
            if (run >= 40) {
                out.append(QChar(0x200B));
                run = 0;
            }
        }
        line = out.toHtmlEscaped();
    }
    return QStringLiteral("<qt>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</qt>");
}

} // namespace tarvina::server
