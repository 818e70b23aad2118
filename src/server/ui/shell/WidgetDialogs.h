#pragma once

#include "server/pin/OperatorDialogs.h"

#include <QPointer>
#include <QWidget>

namespace tarvina::server {

// The operator's message boxes and file-open dialog, modal to the window.
class WidgetDialogs final : public OperatorDialogs {
public:
    explicit WidgetDialogs(QWidget* owner) : owner_(owner) {}
    void messageBox(const QString& text, const QString& title, MessageIcon icon) override;
    std::optional<QString> pickFile(const QString& filter, const QString& initialFolder) override;

    // "Reporte|*.HTML|Todos|*.*" as Qt's filter list; a pattern matches
    // either case ("*.HTML" also finds "*.html").
    static QString QtFilter(const QString& filter);

private:
    // The window may go first (the pages outlive it at close).
    QPointer<QWidget> owner_;
};

} // namespace tarvina::server
