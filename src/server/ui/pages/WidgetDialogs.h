#pragma once

#include "server/pin/OperatorDialogs.h"

#include <QPointer>
#include <QWidget>

namespace tarvina::server::ui {

// The operator's questions as message boxes and file dialogs, modal to the
// given window.
class WidgetDialogs final : public OperatorDialogs {
public:
    explicit WidgetDialogs(QWidget* owner) : owner_(owner) {}
    void messageBox(const QString& text, const QString& title, MessageIcon icon) override;
    std::optional<QString> pickFile(const QString& filter, const QString& initialFolder) override;

private:
    QPointer<QWidget> owner_;
};

} // namespace tarvina::server::ui
