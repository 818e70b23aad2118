#include "server/ui/pages/WidgetDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace tarvina::server::ui {

void WidgetDialogs::messageBox(const QString& text, const QString& title, MessageIcon icon) {
    const QMessageBox::Icon i = icon == MessageIcon::Error         ? QMessageBox::Critical
                                : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                                   : QMessageBox::Information;
    QMessageBox box(i, title, text, QMessageBox::Ok, owner_);
    box.exec();
}

std::optional<QString> WidgetDialogs::pickFile(const QString& filter,
                                               const QString& initialFolder) {
    // "Caption|*.ext|Caption|*.*" becomes "Caption (*.ext);;Caption (*.*)".
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        filters << parts[i] + QStringLiteral(" (") + parts[i + 1] + u')';
    }
    const QString file = QFileDialog::getOpenFileName(owner_, QString(), initialFolder,
                                                      filters.join(QStringLiteral(";;")));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return file;
}

} // namespace tarvina::server::ui
