#pragma once

#include "server/pin/TableOps.h"

#include <QDialog>

class QProgressBar;

namespace tarvina::server {

// TfrmProgressRepair: "Progreso", always on top, two bars that follow the
// re-indexing of the code table and of the history table.
class ProgressRepairWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProgressRepairWindow(QWidget* parent = nullptr);

    // The repair's progress callback: sets the bar and lets the window
    // repaint while the build goes on.
    void progress(TableOps::RepairBar bar, int percent);
    QProgressBar* pinBar() const { return pin_; }
    QProgressBar* histoBar() const { return histo_; }

private:
    QProgressBar* pin_;
    QProgressBar* histo_;
};

} // namespace tarvina::server
