#include "server/remote/TaskWindowForm.h"

#include "common/Cp1252.h"
#include "protocol/Fields.h"

namespace tarvina::server {

void TaskWindowForm::fill(TCompItem* record, const QString& computerName, QByteArrayView payload) {
    target_ = record;
    name_ = computerName;
    tasks_.clear();
    selected_ = -1;
    for (const QByteArray& item : protocol::SplitCommaList(payload)) {
        if (tasks_.size() >= kMaxTasks)
            break;
        // The list of one empty item is the empty list.
        if (!item.isEmpty())
            tasks_.append(common::FromCp1252(item));
    }
}

void TaskWindowForm::select(int index) {
    selected_ = index >= 0 && index < tasks_.size() ? index : -1;
}

QString TaskWindowForm::finish() {
    if (selected_ < 0)
        return {};
    const QString title = tasks_.takeAt(selected_);
    selected_ = -1;
    return title;
}

} // namespace tarvina::server
