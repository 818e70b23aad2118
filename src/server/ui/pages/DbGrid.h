#pragma once

#include "server/pin/TableWindow.h"

#include <QColor>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QWidget>
#include <functional>

namespace tarvina::server::ui {

// A read-only data-aware grid: a table view over a TableWindow (only the
// rows that fit are read), with its own scroll bar that shows where the
// current row stands in the table. Wheel, arrow and page keys move through
// the table, not through a copy of it.
class DbGrid : public QWidget {
    Q_OBJECT
public:
    explicit DbGrid(TableWindow& model, QWidget* parent = nullptr);

    QTableView* view() const { return view_; }
    QScrollBar* scrollBar() const { return bar_; }
    TableWindow& model() const { return model_; }
    // Paints marked rows (codes in use) with this colour; others take the
    // window colour.
    void setMarkedColour(const QColor& c);
    // Fits the page to the height available and re-reads the rows.
    void fitRows();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showCurrent(int row);

    TableWindow& model_;
    QTableView* view_;
    QScrollBar* bar_;
    bool syncing_ = false;
};

// The record navigator: first, previous, next, last and refresh, each button
// with its hint as its name.
class DbNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DbNavigator(TableWindow& model, QWidget* parent = nullptr);
    QToolButton* button(int i) const { return buttons_[i]; }
    // Called after the refresh button re-read the rows.
    std::function<void()> onRefresh;

private:
    QToolButton* buttons_[5];
};

// The header bar of a page: bold white text on the highlight colour,
// right-aligned.
QLabel* CaptionBar(const QString& text, QWidget* parent);

} // namespace tarvina::server::ui
