#include "server/session/ComputersModel.h"

#include "common/Currency.h"
#include "common/DateTime.h"

#include <QLocale>

namespace tarvina::server {

ComputersModel::ComputersModel(ComputerRegistry& registry, QObject* parent)
    : QAbstractTableModel(parent), registry_(registry) {}

void ComputersModel::addRow(TCompItem* record) {
    if (record == nullptr || rowOf(record) >= 0)
        return;
    Row row;
    row.record = record;
    {
        ComputersGuard guard(registry_.lock());
        row.caption = record->name;
    }
    row.cells = {QStringLiteral("Desc."),
                 QStringLiteral("<Ninguno>"),
                 QStringLiteral("<N/A>"),
                 QStringLiteral("<N/A>"),
                 QStringLiteral("<N/A>"),
                 QStringLiteral("<N/A>"),
                 QString()};
    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at);
    rows_.append(row);
    endInsertRows();
}

bool ComputersModel::updateRow(TCompItem* record) {
    const int r = rowOf(record);
    if (r < 0)
        return false;
    Row& row = rows_[r];
    QString name, user, label;
    double start = 0;
    int state = 0;
    bool attention = false;
    {
        ComputersGuard guard(registry_.lock());
        name = record->name;
        user = record->user;
        state = record->state;
        start = record->start;
        attention = record->attention;
        label = StateLabel(record->state);
    }
    bool changed = false;
    const int icon = (state & 127) + (attention ? 5 : 0);
    if (row.icon != icon || row.state != state || row.attention != attention) {
        row.icon = icon;
        row.state = state;
        row.attention = attention;
        changed = true;
    }
    if (row.caption != name) {
        row.caption = name;
        changed = true;
    }
    bool labelChanged = false;
    if (row.cells[Status] != label) {
        row.cells[Status] = label;
        labelChanged = changed = true;
    }
    const QString shownUser = user.isEmpty() ? QStringLiteral("<Gen>") : user;
    if (row.cells[User] != shownUser) {
        row.cells[User] = shownUser;
        changed = true;
    }
    const QString startText =
        start > 0
            ? QLocale().toString(common::DateTime::FromDays(start).time(), QLocale::ShortFormat)
            : QString();
    if (row.cells[StartTime] != startText) {
        row.cells[StartTime] = startText;
        changed = true;
    }
    if (changed)
        rowChanged(r);
    if (labelChanged)
        Q_EMIT stateLabelChanged(r);
    return labelChanged;
}

TCompItem* ComputersModel::recordAt(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].record : nullptr;
}

int ComputersModel::rowOf(const TCompItem* record) const {
    if (record == nullptr)
        return -1;
    // Rows are added in the order of the registry, so the record's own row
    // number finds it at once.
    int hint = -1;
    {
        ComputersGuard guard(registry_.lock());
        hint = record->row;
    }
    if (hint >= 0 && hint < rows_.size() && rows_[hint].record == record)
        return hint;
    for (int i = 0; i < rows_.size(); ++i)
        if (rows_[i].record == record)
            return i;
    return -1;
}

QString ComputersModel::caption(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].caption : QString();
}

QString ComputersModel::cell(int row, int cell) const {
    if (row < 0 || row >= rows_.size() || cell < 0 || cell >= kCells)
        return {};
    return rows_[row].cells[static_cast<size_t>(cell)];
}

int ComputersModel::icon(int row) const {
    return row >= 0 && row < rows_.size() ? rows_[row].icon : -1;
}

void ComputersModel::setCell(int row, int cell, const QString& text) {
    if (row < 0 || row >= rows_.size() || cell < 0 || cell >= kCells)
        return;
    QString& c = rows_[row].cells[static_cast<size_t>(cell)];
    if (c == text)
        return;
    c = text;
    const QModelIndex i = index(row, cell + 1);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole});
}

void ComputersModel::rowChanged(int row) {
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void ComputersModel::setAmountSource(AmountSource source) {
    const bool had = showsAmounts();
    const bool has = bool(source);
    if (had && !has) {
        beginRemoveColumns({}, kCells, kCells);
        amounts_ = {};
        for (Row& r : rows_) {
            r.cells[Amount].clear();
            r.amount = 0;
        }
        endRemoveColumns();
        return;
    }
    if (!had && has) {
        beginInsertColumns({}, kCells, kCells);
        amounts_ = std::move(source);
        endInsertColumns();
        return;
    }
    // Another tariff or currency: every amount is written afresh.
    amounts_ = std::move(source);
    for (Row& r : rows_)
        r.amount = -1;
}

qint64 ComputersModel::amountOf(const QString& computer, bool inUse, double start) const {
    return amounts_ ? amounts_(computer, inUse, start) : 0;
}

namespace {
constexpr qsizetype kMaxAmountTexts = 4096;
} // namespace

void ComputersModel::updateAmount(int row, const QString& computer, bool inUse, double start) {
    if (!amounts_)
        return;
    if (row < 0 || row >= rows_.size())
        return;
    const qint64 cents = amounts_(computer, inUse, start);
    Row& r = rows_[row];
    if (cents == r.amount && (cents == 0) == r.cells[Amount].isEmpty())
        return;
    r.amount = cents;
    if (cents == 0) {
        setCell(row, Amount, QString());
        return;
    }
    if (const QString symbol = common::CurrencySymbol(); symbol != amountSymbol_) {
        amountTexts_.clear();
        amountSymbol_ = symbol;
    }
    auto it = amountTexts_.constFind(cents);
    if (it == amountTexts_.constEnd()) {
        if (amountTexts_.size() >= kMaxAmountTexts)
            amountTexts_.clear();
        it = amountTexts_.insert(cents, common::FormatCurrency(cents));
    }
    setCell(row, Amount, *it);
}

int ComputersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ComputersModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (amounts_ ? kCells + 1 : kCells);
}

QVariant ComputersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const Row& row = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() < 0 || index.column() >= columnCount())
            return {};
        return index.column() == 0 ? row.caption
                                   : row.cells[static_cast<size_t>(index.column() - 1)];
    case RecordRole:
        return QVariant::fromValue(static_cast<void*>(row.record));
    case StateRole:
        return row.state;
    case AttentionRole:
        return row.attention;
    case IconRole:
        return row.icon;
    default:
        return {};
    }
}

QVariant ComputersModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char16_t* const kCaptions[] = {u"Computadora", u"Status",   u"Usuario",
                                                u"Usado",       u"Restante", u"Hora inicio",
                                                u"Último uso",  u"Importe"};
    if (section < 0 || section >= columnCount())
        return {};
    return QString::fromUtf16(kCaptions[section]);
}

} // namespace tarvina::server
