#include "server/pin/TableWindow.h"

#include "server/pin/PinTableText.h"
#include "xbase/TableEngine.h"

#include <algorithm>
#include <cmath>

namespace tarvina::server {

TableWindow::TableWindow(std::vector<Column> columns, std::string flagField, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)), flagField_(std::move(flagField)) {}

void TableWindow::setTable(xbase::TableEngine* table) {
    table_ = table;
    fill(0);
}

void TableWindow::setPageRows(int rows) {
    rows = std::max(1, rows);
    if (rows == pageRows_) {
        return;
    }
    pageRows_ = rows;
    fill(std::min(current_, pageRows_ - 1));
}

int TableWindow::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int TableWindow::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(columns_.size());
}

QVariant TableWindow::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size()) ||
        index.column() >= int(columns_.size())) {
        return {};
    }
    const Row& r = rows_[std::size_t(index.row())];
    if (role == Qt::DisplayRole) {
        return r.values.value(index.column());
    }
    if (role == kMarkedRole) {
        return r.marked;
    }
    return {};
}

QVariant TableWindow::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return {};
    }
    if (orientation == Qt::Horizontal && section >= 0 && section < int(columns_.size())) {
        return columns_[std::size_t(section)].title;
    }
    return {};
}

std::uint32_t TableWindow::currentRecNo() const {
    return rows_.empty() ? 0 : rows_[std::size_t(current_)].recno;
}

bool TableWindow::marked(int row) const {
    return row >= 0 && row < int(rows_.size()) && rows_[std::size_t(row)].marked;
}

bool TableWindow::usable() const {
    return table_ != nullptr && table_->IsOpen();
}

template <typename F> void TableWindow::guarded(F&& f) {
    try {
        error_.clear();
        f();
    } catch (const std::exception& e) {
        fail(QString::fromLocal8Bit(e.what()));
    }
}

void TableWindow::fail(const QString& text) {
    beginResetModel();
    rows_.clear();
    current_ = 0;
    endResetModel();
    error_ = text;
    Q_EMIT failed(text);
}

TableWindow::Row TableWindow::readRow() {
    xbase::TableEngine& t = *table_;
    Row r;
    r.recno = t.RecNo();
    for (const Column& c : columns_) {
        QString v;
        if (c.field == "FECHA" || c.field == "CFECHA") {
            if (const auto d = t.GetDate(c.field)) {
                v = QStringLiteral("%1/%2/%3")
                        .arg(d->day, 2, 10, QLatin1Char('0'))
                        .arg(d->month, 2, 10, QLatin1Char('0'))
                        .arg(d->year, 4, 10, QLatin1Char('0'));
            }
        } else {
            v = pintext::Text(t.GetString(c.field));
        }
        r.values << v;
    }
    r.marked = !flagField_.empty() && !t.IsNull(flagField_);
    return r;
}

void TableWindow::fill(int line) {
    Page page;
    QString failure;
    try {
        error_.clear();
        if (usable()) {
            page = readPage(line);
        }
    } catch (const std::exception& e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    if (!failure.isEmpty()) {
        fail(failure);
        return;
    }
    beginResetModel();
    rows_ = std::move(page.rows);
    current_ = rows_.empty() ? 0 : std::clamp(page.current, 0, int(rows_.size()) - 1);
    if (rows_.empty()) {
        position_ = 0;
    }
    endResetModel();
    Q_EMIT currentChanged(currentRow());
}

TableWindow::Page TableWindow::readPage(int line) {
    Page page;
    xbase::TableEngine& t = *table_;
    if (t.Eof()) {
        t.Last();
    }
    // A row deleted under the grid (a used-up code) gives way to the next
    // one.
    if (!t.Eof() && t.Deleted()) {
        t.Next();
        if (t.Eof()) {
            t.Last();
        }
    }
    if (t.Eof()) {
        return page;
    }
    const std::uint32_t cur = t.RecNo();
    bool atFirst = false, atLast = false;
    int up = 0;
    while (up < line) {
        t.Prior();
        if (t.Bof()) {
            atFirst = true;
            break;
        }
        ++up;
    }
    if (line == 0) {
        t.Prior();
        atFirst = t.Bof();
        if (!atFirst) {
            t.Next();
        }
    }
    std::vector<Row>& rows = page.rows;
    for (int i = 0; i < pageRows_; ++i) {
        rows.push_back(readRow());
        t.Next();
        if (t.Eof()) {
            atLast = true;
            break;
        }
    }
    // Near the end of the table the rows above fill the grid.
    if (int(rows.size()) < pageRows_ && !atFirst) {
        t.GoTo(rows.front().recno);
        while (int(rows.size()) < pageRows_) {
            t.Prior();
            if (t.Bof()) {
                break;
            }
            rows.insert(rows.begin(), readRow());
            ++up;
        }
    }
    page.current = up;
    atLast = atLast && page.current == int(rows.size()) - 1;
    t.GoTo(cur);
    placeScrollBar(cur, atFirst && page.current == 0, atLast);
    return page;
}

void TableWindow::placeScrollBar(std::uint32_t recno, bool atFirst, bool atLast) {
    const std::uint32_t count = table_->RecordCount();
    if (atFirst) {
        position_ = 0;
    } else if (atLast) {
        position_ = 1;
    } else if (count > 1) {
        position_ = std::clamp(double(recno - 1) / double(count - 1), 0.001, 0.999);
    }
}

void TableWindow::updatePosition() {
    const std::uint32_t count = table_->RecordCount();
    if (count > 1) {
        position_ = std::clamp(double(currentRecNo() - 1) / double(count - 1), 0.0, 1.0);
    }
}

void TableWindow::First() {
    guarded([&] {
        if (usable()) {
            table_->First();
        }
    });
    if (error_.isEmpty()) {
        fill(0);
    }
}

void TableWindow::Last() {
    guarded([&] {
        if (usable()) {
            table_->Last();
        }
    });
    if (error_.isEmpty()) {
        fill(pageRows_ - 1);
    }
}

void TableWindow::Next() {
    MoveBy(1);
}

void TableWindow::Prior() {
    MoveBy(-1);
}

void TableWindow::MoveBy(int delta) {
    if (rows_.empty() || delta == 0) {
        if (rows_.empty()) {
            fill(0);
        }
        return;
    }
    const int wanted = current_ + delta;
    if (wanted >= 0 && wanted < int(rows_.size())) {
        setCurrentRow(wanted);
        return;
    }
    bool refill = false;
    int steps = 0;
    guarded([&] {
        if (!usable()) {
            return;
        }
        xbase::TableEngine& t = *table_;
        std::uint32_t target = currentRecNo();
        t.GoTo(target);
        for (int i = 0; i < std::abs(delta); ++i) {
            delta > 0 ? t.Next() : t.Prior();
            if (t.Eof() || t.Bof()) {
                break;
            }
            target = t.RecNo();
            ++steps;
        }
        t.GoTo(target);
        refill = true;
    });
    if (refill) {
        if (steps == 0 && delta < 0) {
            return; // already on the first row
        }
        if (steps == 0 && delta > 0 && current_ == int(rows_.size()) - 1) {
            return; // already on the last row
        }
        fill(delta > 0 ? pageRows_ - 1 : 0);
    }
}

void TableWindow::setCurrentRow(int row) {
    if (row < 0 || row >= int(rows_.size()) || !usable()) {
        return;
    }
    guarded([&] {
        table_->GoTo(rows_[std::size_t(row)].recno);
        current_ = row;
        updatePosition();
    });
    if (error_.isEmpty()) {
        Q_EMIT currentChanged(current_);
    }
}

void TableWindow::Refresh() {
    guarded([&] {
        if (usable()) {
            table_->Refresh();
        }
    });
    if (error_.isEmpty()) {
        fill(current_);
    }
}

void TableWindow::Follow(int line) {
    fill(std::min(line < 0 ? current_ : line, pageRows_ - 1));
}

void TableWindow::jumpTo(double fraction) {
    bool moved = false;
    guarded([&] {
        if (!usable()) {
            return;
        }
        const std::uint32_t count = table_->RecordCount();
        if (count == 0) {
            return;
        }
        fraction = std::clamp(fraction, 0.0, 1.0);
        if (fraction <= 0) {
            table_->First();
        } else if (fraction >= 1) {
            table_->Last();
        } else {
            table_->GoTo(1 + std::uint32_t(std::llround(fraction * double(count - 1))));
        }
        moved = true;
    });
    if (moved) {
        fill(fraction >= 1 ? pageRows_ - 1 : fraction <= 0 ? 0 : pageRows_ / 2);
    }
}

} // namespace tarvina::server
