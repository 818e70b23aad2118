#pragma once

#include "server/pin/TableWindow.h"
#include "server/ui/pages/DbGrid.h"

#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <functional>

namespace tarvina::xbase {
class TableEngine;
}

namespace tarvina::server::ui {

// The code history page, "Información del sistema.": the history rows of
// the code typed in EdPin, on the history handle (tag "PINFECHOR").
class TFrameHistoPIN : public QWidget {
    Q_OBJECT
public:
    // tbRegPin: the history handle (shared with the code checks, which
    // write through it). openTable opens it when it is closed.
    TFrameHistoPIN(xbase::TableEngine& tbRegPin, std::function<void()> openTable,
                   QWidget* parent = nullptr);

    TableWindow& gridModel() { return model_; }
    void EdPinChange(const QString& text);
    void refreshGrid();

    QLineEdit* EdPin;
    DbGrid* Grid;
    DbNavigator* Navigator;
    QLabel* ErrorLabel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ensureOpen();

    xbase::TableEngine& tbRegPin_;
    std::function<void()> openTable_;
    TableWindow model_;
};

} // namespace tarvina::server::ui
