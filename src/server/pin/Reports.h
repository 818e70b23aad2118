#pragma once

#include <QString>

namespace tarvina::common {
class LastCommand;
}
namespace tarvina::platform {
class Shell;
}

namespace tarvina::server {

class OperatorDialogs;

// The "Reportes" menu: the start day's usage report and code list, or any
// day's report picked by the operator, opened with the desktop's program.
class Reports {
public:
    static constexpr char16_t kPickFilter[] = u"Reporte|*.HTML|Todos|*.*";

    // The two paths are those of the day the program started: they stay so
    // after midnight.
    Reports(platform::Shell& shell, OperatorDialogs& dialogs, common::LastCommand& lastCommand,
            QString usageReportPath, QString codeListPath);

    // Opens the file, or tells the operator there is none.
    void ShowReport(const QString& path);
    // The file-open dialog on the folder; the chosen file is opened.
    void PickReport(const QString& folder);

    // The menu's four actions.
    void usageToday();  // "Uso de computadores (día de hoy)..."
    void usageAnyDay(); // "Uso de computadores (cualquier día)..."
    void codesToday();  // "PINs generados (día de hoy)..."
    void codesAnyDay(); // "PINs generados (cualquier día)..."

    const QString& usageReportPath() const { return usagePath_; }
    const QString& codeListPath() const { return codesPath_; }

private:
    platform::Shell& shell_;
    OperatorDialogs& dialogs_;
    common::LastCommand& lastCommand_;
    QString usagePath_;
    QString codesPath_;
};

} // namespace tarvina::server
