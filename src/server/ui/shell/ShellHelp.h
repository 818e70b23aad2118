#pragma once

#include "server/shell/TechnicalInfo.h"
#include "server/ui/shell/ShellPlatform.h"

#include <QObject>
#include <QPointer>

namespace tarvina::server {

class InfoPage;
class MainWindow;
class ServerCore;
class ShellBoxes;
class ShellLife;

// What the shell offers for help: the pages of the HTML help opened with the
// desktop's browser (F1 anywhere asks for the topic of the control, or menu
// entry, it was pressed on), the information page with the technical
// information, and the report to technical support.
class ShellHelp : public QObject {
    Q_OBJECT
public:
    ShellHelp(ShellPlatform platform, ShellFolders folders, ServerCore& core, ShellBoxes& boxes,
              const ShellLife& life, QObject* parent = nullptr);

    // The information page in its slot of the window, filled again each
    // time it is shown; the window also owns the report's save dialog.
    void attach(MainWindow& window);
    // Opens a topic of the help (HelpTopics).
    void openHelp(int topic);
    // Builds the report to technical support into a file.
    bool writeSupportReport(const QString& path);
    // "Reporte a soporte técnico": the report offered to the mail program,
    // then a copy saved where the operator chooses.
    void supportReport();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TechnicalInfo::Input technicalInfo() const;
    void refreshInfoPage();

    ShellPlatform platform_;
    ShellFolders folders_;
    ServerCore& core_;
    ShellBoxes& boxes_;
    const ShellLife& life_;
    QPointer<MainWindow> window_;
    QPointer<InfoPage> infoPage_;
};

} // namespace tarvina::server
