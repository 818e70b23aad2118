#include "server/shell/HelpTopics.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QVariant>

namespace tarvina::server {

HelpTopics::Page HelpTopics::PageOf(int topic) {
    switch (topic) {
    case kSystem:
        return {QStringLiteral("sistema.html"), {}};
    case kStation:
        return {QStringLiteral("cliente.html"), {}};
    case kPreferences:
        return {QStringLiteral("caja.html"), QStringLiteral("preferencias")};
    case kReports:
        return {QStringLiteral("caja.html"), QStringLiteral("reportes")};
    default:
        return {QStringLiteral("caja.html"), {}};
    }
}

QString HelpTopics::Address(const QString& helpFolder, int topic) {
    const Page page = PageOf(topic);
    const QFileInfo file(QDir(helpFolder).filePath(page.file));
    if (!file.isFile())
        return {};
    QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
    if (!page.anchor.isEmpty())
        url.setFragment(page.anchor);
    return url.toString(QUrl::FullyEncoded);
}

int HelpTopics::ContextOf(const QObject* object) {
    for (const QObject* o = object; o; o = o->parent()) {
        // A menu's highlighted entry is a child action of the menu; the
        // widget only knows it through its "activeAction" property.
        const QVariant active = o->property("activeAction");
        if (const QObject* action = active.value<QObject*>()) {
            const int topic = action->property(kProperty).toInt();
            if (topic > 0)
                return topic;
        }
        const int topic = o->property(kProperty).toInt();
        if (topic > 0)
            return topic;
    }
    return 0;
}

} // namespace tarvina::server
