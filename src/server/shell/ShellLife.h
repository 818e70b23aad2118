#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvina::server {

struct ServerSettings;

// The life of the taquilla process as its main window leads it: what a close
// request does, the forced close, and the orderly close run once, its steps
// in order. No widgets: the window supplies the steps.
class ShellLife {
public:
    // What the window does with a close request.
    enum class CloseOutcome {
        Minimize, // to the notification area (the idle pass minimizes)
        Stay,     // the operator cancelled the confirmation
        Close,    // terminating: the orderly close runs
    };

    // The orderly close's steps, in the order they run. Each is optional; a
    // step that throws does not stop the ones after it.
    struct CloseSteps {
        std::function<void()> removeWindowHandlers; // minimize and restore handlers
        std::function<void()> hideIcon;
        std::function<void()> stopComputersTimer;
        // Activity log, code table, "Espere un momento.. cerrando", the
        // listener, pending messages, settings, console archive.
        std::function<void()> closeDown;
        // Window destruction: the day's lists, the computers view, the
        // placement, the lists and the lock.
        std::function<void()> destroyWindow;
    };

    bool terminating() const { return terminating_; }
    bool terminateAfterClose() const { return terminateAfterClose_; }
    bool closed() const { return closed_; }

    // "Cerrar aplicación", the icon menu's "Cerrar aplicación ZU" after its
    // gate, and the termination signals.
    void requestTerminate() { terminating_ = true; }
    // The failed start-up gate: the confirmation is switched off (and saved
    // so with the other settings), and the program ends after the close.
    void forceClose(ServerSettings& settings);

    // A close request. Without terminating it never ends the program: with
    // ConfirmClose on, confirm is asked (OK true; dontAskAgain set by the
    // check box "No volver a preguntar") and ConfirmClose becomes the
    // negation of that box whatever the answer.
    CloseOutcome closeRequested(ServerSettings& settings,
                                const std::function<bool(bool& dontAskAgain)>& confirm);

    // Runs the steps once; later calls do nothing and return false. The
    // names of the steps that failed are kept for the report to the lead.
    bool runOrderlyClose(const CloseSteps& steps);
    const QStringList& failedSteps() const { return failed_; }

private:
    bool terminating_ = false;
    bool terminateAfterClose_ = false;
    bool closed_ = false;
    QStringList failed_;
};

} // namespace tarvina::server
