#pragma once

#include <QString>
#include <exception>

namespace tarvina::server {

// The console line for an error caught while a step of the cashier's
// program ran: "Falla en <step>", and what the error said when it said
// anything. Call it inside a catch block.
inline QString StepFailure(const QString& step) {
    QString text = QStringLiteral("Falla en ") + step;
    try {
        throw;
    } catch (const std::exception& e) {
        text += QStringLiteral(": ") + QString::fromLocal8Bit(e.what()).left(200);
    } catch (...) {
    }
    return text;
}

} // namespace tarvina::server
