#include "server/ui/shell/WidgetDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tarvina::server {

void WidgetDialogs::messageBox(const QString& text, const QString& title, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Error         ? QMessageBox::Critical
                    : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                       : QMessageBox::Information,
                    title, text, QMessageBox::Ok, owner_);
    box.exec();
}

QString WidgetDialogs::QtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (p == QLatin1String("*.*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            patterns << p;
            if (p.toLower() != p)
                patterns << p.toLower();
            else if (p.toUpper() != p)
                patterns << p.toUpper();
        }
        // A name that shows its own patterns would show them twice.
        QString name = parts.at(i);
        const qsizetype paren = name.indexOf(QLatin1Char('('));
        if (paren > 0)
            name = name.left(paren).trimmed();
        out << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

std::optional<QString> WidgetDialogs::pickFile(const QString& filter,
                                               const QString& initialFolder) {
    const QString file = QFileDialog::getOpenFileName(owner_, QStringLiteral("Abrir"),
                                                      initialFolder, QtFilter(filter));
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

} // namespace tarvina::server
