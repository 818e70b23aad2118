#pragma once

#include "server/pin/CodesPage.h"
#include "server/pin/TableWindow.h"
#include "server/ui/pages/DbGrid.h"
#include "xbase/TableEngine.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>
#include <functional>
#include <memory>

class QGroupBox;
class QHBoxLayout;

namespace tarvina::platform {
class Clock;
}

namespace tarvina::server {
class ComputerRegistry;
class HtmlListFile;
class CodeRandom;
} // namespace tarvina::server

namespace tarvina::server::ui {

// The codes page, "Manipulación de Boletos de PIN.": a batch of new codes of
// one value, the grid of every code on the frame's own handle (tag
// "FECHOR"), reprinting a ticket, and the jump from a code in use to its
// computer.
class TPinFrame : public QWidget {
    Q_OBJECT
public:
    struct Deps {
        platform::Clock* clock = nullptr;
        HtmlListFile* codeList = nullptr;
        CodeRandom* random = nullptr;
        // Prints one ticket with the current settings.
        std::function<void(const TicketCode&)> print;
        // A code made and stored, with its minutes: the till takes its sale.
        std::function<void(const QString&, qint64)> sold;
        // CompColUse of the settings, as a Windows colour.
        std::function<qint32()> inUseColour;
        const ComputerRegistry* registry = nullptr;
        // "Ver conexión": the computers view with that row selected (-1:
        // selection cleared).
        std::function<void(int row)> showConnection;
        // The program's general error handling.
        std::function<void(const QString&)> generalError;
        // The code table file.
        QString codeTablePath;
    };

    // fs: where the code table lives; the page's handle is made there.
    TPinFrame(xbase::IFileSystem& fs, Deps deps, QWidget* parent = nullptr);
    ~TPinFrame() override;

    xbase::TableEngine& tbPin() { return page_->table(); }
    TableWindow& gridModel() { return model_; }
    CodesPage& page() { return *page_; }

    // Opens the frame's handle when it is closed; false (and the page says
    // why) when it cannot.
    bool openTable();
    // Re-reads the grid (the code checks call this after each change).
    void refreshGrid();
    void applyColours();

    void CmbTimeChange();
    void BtnCreaPINClick();
    void ImprimeticketconPIN1Click();
    void MnuGoConnClick();

    QComboBox* CmbTime;
    QSpinBox* SECnt;
    QPushButton* BtnCreaPIN;
    QCheckBox* ChkPrint;
    DbGrid* RxDBGrid1;
    DbNavigator* Navigator;
    QPushButton* PrintButton;
    QMenu* GridMenu;
    QAction* ImprimeticketconPIN1;
    QAction* MnuGoConn;
    QLabel* ErrorLabel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QGroupBox* buildBatchGroup();
    void buildGrid();
    QHBoxLayout* buildFoot();
    void connectParts();
    void showError(const QString& text);
    void updateActions();

    Deps deps_;
    TableWindow model_;
    std::unique_ptr<CodesPage> page_;
};

} // namespace tarvina::server::ui
