#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvina::xbase {
class TableEngine;
}

namespace tarvina::server {

// A data-aware grid's view of one table handle: only the rows that fit the
// grid are read, through the handle itself, in its active order. The handle's
// cursor always stands on the grid's current row, so whatever acts on "the
// current code" reads the row the operator sees. Nothing is copied beyond the
// visible rows, whatever the size of the table. Engine failures are caught:
// the grid empties and failed() carries the text for the page.
class TableWindow : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        std::string field;
        QString title;
        int widthChars = 0; // 0: as wide as the field
    };
    // Rows whose flagField is not null are "marked" (codes in use).
    static constexpr int kMarkedRole = Qt::UserRole + 1;

    explicit TableWindow(std::vector<Column> columns, std::string flagField = {},
                         QObject* parent = nullptr);

    // The handle shown; may be closed (the grid is then empty). Not owned.
    void setTable(xbase::TableEngine* table);
    xbase::TableEngine* table() const { return table_; }
    // How many rows the grid has room for (at least 1).
    void setPageRows(int rows);
    int pageRows() const { return pageRows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    const std::vector<Column>& columns() const { return columns_; }

    // Row of the current record within the rows shown; -1 when empty.
    int currentRow() const { return rows_.empty() ? -1 : current_; }
    std::uint32_t currentRecNo() const;
    bool marked(int row) const;
    bool isEmpty() const { return rows_.empty(); }

    // The navigator: first, previous, next, last, refresh.
    void First();
    void Prior();
    void Next();
    void Last();
    // Re-reads the rows around the handle's current record, keeping it on
    // the same line of the grid where it can.
    void Refresh();
    // The handle was moved by someone else (a seek, a new row): show its
    // record on grid line `line`, or on the current line when -1.
    void Follow(int line = -1);
    // Moves the current row by delta rows (wheel, page keys).
    void MoveBy(int delta);
    // A click on a row of the grid.
    void setCurrentRow(int row);

    // Where the current row stands in the table, 0 to 1: by record number,
    // which follows the order of creation (exact for the codes' FECHOR order,
    // an estimate otherwise). jumpTo goes to the record at that place.
    double position() const { return position_; }
    void jumpTo(double fraction);

    // The last failure's text; empty when the last operation went well.
    QString errorText() const { return error_; }

Q_SIGNALS:
    void currentChanged(int row);
    void failed(const QString& text);

private:
    struct Row {
        std::uint32_t recno = 0;
        QStringList values;
        bool marked = false;
    };

    template <typename F> void guarded(F&& f);
    bool usable() const;
    Row readRow();
    // Rows around the handle's current record, that record on line `line`
    // (or as near as the ends of the table allow).
    void fill(int line);
    struct Page {
        std::vector<Row> rows;
        int current = 0;
    };
    // The rows fill shows, read from the table; the handle stays where it
    // was.
    Page readPage(int line);
    // The scroll bar's place for the current record.
    void placeScrollBar(std::uint32_t recno, bool atFirst, bool atLast);
    void fail(const QString& text);
    void updatePosition();

    std::vector<Column> columns_;
    std::string flagField_;
    xbase::TableEngine* table_ = nullptr;
    std::vector<Row> rows_;
    int current_ = 0;
    int pageRows_ = 20;
    double position_ = 0;
    QString error_;
};

} // namespace tarvina::server
