#include "server/shell/UnexpectedError.h"

#include "common/ExceptionLog.h"
#include "server/shell/ServerCore.h"

#include <QDir>

namespace tarvina::server {

QString UnexpectedError::Record(ServerCore& core, const QString& senderClass,
                                const QString& errorText, int helpContext) {
    common::ServerExceptionInfo info;
    info.senderClass = senderClass;
    info.errorText = errorText;
    info.helpContext = helpContext;
    {
        ComputersGuard guard(core.registry().lock());
        info.knownMacs = core.registry().knownMacs();
        info.knownNames = core.registry().knownAddresses();
    }
    info.tallyLength = core.eventTally();
    info.lastCommand = core.lastCommand().get();
    ComputersModel& rows = core.computers();
    for (int row = 0; row < rows.rowCount(); ++row)
        info.computers.append({rows.caption(row), rows.cell(row, ComputersModel::Status)});
    const QString path =
        QDir(core.workFolder()).filePath(QString::fromLatin1(common::kServerExceptionLogName));
    common::AppendWithSizeCheck(path, common::kServerExceptionLogLimit,
                                common::ServerExceptionEntry(core.clock().now(), info));
    return common::ServerErrorBoxText(errorText);
}

} // namespace tarvina::server
