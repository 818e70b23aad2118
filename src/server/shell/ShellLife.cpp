#include "server/shell/ShellLife.h"

#include "server/settings/ServerSettings.h"

namespace tarvina::server {

void ShellLife::forceClose(ServerSettings& settings) {
    settings.confirmClose = false;
    terminateAfterClose_ = true;
    terminating_ = true;
}

ShellLife::CloseOutcome
ShellLife::closeRequested(ServerSettings& settings,
                          const std::function<bool(bool& dontAskAgain)>& confirm) {
    if (terminating_)
        return CloseOutcome::Close;
    if (!settings.confirmClose || !confirm)
        return CloseOutcome::Minimize;
    bool dontAsk = false;
    const bool ok = confirm(dontAsk);
    settings.confirmClose = !dontAsk;
    // A signal may have come while the question was up.
    if (terminating_)
        return CloseOutcome::Close;
    return ok ? CloseOutcome::Minimize : CloseOutcome::Stay;
}

bool ShellLife::runOrderlyClose(const CloseSteps& steps) {
    if (closed_)
        return false;
    closed_ = true;
    terminating_ = true;
    const std::pair<const char*, const std::function<void()>*> order[] = {
        {"removeWindowHandlers", &steps.removeWindowHandlers},
        {"hideIcon", &steps.hideIcon},
        {"stopComputersTimer", &steps.stopComputersTimer},
        {"closeDown", &steps.closeDown},
        {"destroyWindow", &steps.destroyWindow},
    };
    for (const auto& [name, step] : order) {
        if (!*step)
            continue;
        try {
            (*step)();
        } catch (...) {
            failed_ << QString::fromLatin1(name);
        }
    }
    return true;
}

} // namespace tarvina::server
