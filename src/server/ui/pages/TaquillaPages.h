#pragma once

#include "server/pin/CodeGenerator.h"
#include "server/ui/pages/FrameHistoPIN.h"
#include "server/ui/pages/FramePref.h"
#include "server/ui/pages/PinFrame.h"
#include "server/ui/shell/WidgetDialogs.h"

#include <QAction>
#include <QMenu>
#include <QObject>
#include <functional>
#include <memory>

namespace tarvina::platform {
class Printing;
class Registry;
} // namespace tarvina::platform

namespace tarvina::server {
class PinRuntime;
class ServerCore;
} // namespace tarvina::server

namespace tarvina::server::ui {

// The codes, code history and preferences pages with what they need: the
// run's code generator, printing, the refresh hooks of the code checks and
// the first-run jump to "Modo de operación". The main window puts the frames
// in its page slots and its menus (its own "PIN" menu, shown only in code
// mode, leads to the codes page), and fills in the functions below.
class TaquillaPages : public QObject {
    Q_OBJECT
public:
    // owner: the window the pages' message boxes belong to. pins must have
    // been started.
    TaquillaPages(ServerCore& core, PinRuntime& pins, platform::Registry& store,
                  platform::Printing& printing, QWidget* owner);
    ~TaquillaPages() override;

    TPinFrame* codesFrame() const { return codes_; }
    TFrameHistoPIN* historyFrame() const { return history_; }
    TFramePref* preferencesFrame() const { return prefs_; }

    // The codes page, through showCodes (and its gate) when the window set it.
    void showCodesFrame();
    // "Preferencias..." and "Consulta historia de PIN".
    QAction* preferencesAction() const { return preferences_; }
    QAction* historyAction() const { return historyAct_; }

    // What the main window provides. showCodes goes through the side bar's
    // item (and its "Restricción de acceso PIN." gate); when unset the
    // frames are shown with showFrame.
    std::function<void(QWidget* frame)> showFrame;
    std::function<void()> showCodes;
    std::function<void(int row)> showComputer;
    std::function<void(bool visible)> setToolBarVisible;
    // Opens a topic of the help; the preferences' "&Ayuda" asks for its own.
    std::function<void(int topic)> openHelp;
    // A new tariff was saved: the till's windows follow it.
    std::function<void()> tariffApplied;
    // The central copy's settings changed.
    std::function<void()> centralChanged;

    // The first start: the "Modo de operación" page, once.
    void FirstRunJump();

private:
    void show(QWidget* frame);
    void printTicket(const TicketCode& code);

    ServerCore& core_;
    PinRuntime& pins_;
    platform::Registry& store_;
    platform::Printing& printing_;
    server::WidgetDialogs dialogs_;
    SeededCodeRandom random_;
    TPinFrame* codes_ = nullptr;
    TFrameHistoPIN* history_ = nullptr;
    TFramePref* prefs_ = nullptr;
    QAction* preferences_ = nullptr;
    QAction* historyAct_ = nullptr;
};

} // namespace tarvina::server::ui
