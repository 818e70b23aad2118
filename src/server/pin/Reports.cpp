#include "server/pin/Reports.h"

#include "common/LastCommand.h"
#include "platform/Shell.h"
#include "server/pin/OperatorDialogs.h"

#include <QFileInfo>

namespace tarvina::server {

Reports::Reports(platform::Shell& shell, OperatorDialogs& dialogs, common::LastCommand& lastCommand,
                 QString usageReportPath, QString codeListPath)
    : shell_(shell), dialogs_(dialogs), lastCommand_(lastCommand),
      usagePath_(std::move(usageReportPath)), codesPath_(std::move(codeListPath)) {}

void Reports::ShowReport(const QString& path) {
    if (QFileInfo(path).isFile()) {
        shell_.openDocument(path);
        return;
    }
    dialogs_.messageBox(QStringLiteral("No hay registros para la fecha dada (") + path +
                            QStringLiteral(". no hallado)"),
                        QStringLiteral("consulta inexistente"), MessageIcon::Exclamation);
}

void Reports::PickReport(const QString& folder) {
    const std::optional<QString> chosen =
        dialogs_.pickFile(QString::fromUtf16(kPickFilter), folder);
    if (chosen && !chosen->isEmpty()) {
        shell_.openDocument(*chosen);
    }
}

void Reports::usageToday() {
    ShowReport(usagePath_);
}

void Reports::usageAnyDay() {
    PickReport(QFileInfo(usagePath_).absolutePath());
}

void Reports::codesToday() {
    lastCommand_.set(QStringLiteral("RPtPINGenEXecute"));
    ShowReport(codesPath_);
}

void Reports::codesAnyDay() {
    PickReport(QFileInfo(codesPath_).absolutePath());
}

} // namespace tarvina::server
