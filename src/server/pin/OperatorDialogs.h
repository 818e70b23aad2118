#pragma once

#include <QString>
#include <optional>

namespace tarvina::server {

enum class MessageIcon { Information, Exclamation, Error };

// The few modal questions the code, ticket and report logic puts to the
// operator; the main window answers them, tests record them.
class OperatorDialogs {
public:
    virtual ~OperatorDialogs() = default;
    virtual void messageBox(const QString& text, const QString& title, MessageIcon icon) = 0;
    // The main window's file-open dialog with a filter in the form
    // "Caption|*.ext|Caption|*.*"; nullopt when the operator cancels.
    virtual std::optional<QString> pickFile(const QString& filter,
                                            const QString& initialFolder) = 0;
};

} // namespace tarvina::server
