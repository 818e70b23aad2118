#pragma once

#include "platform/WindowSystem.h"
#include "platform/linux/X11ServerKeys.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <memory>

struct xcb_connection_t;

namespace tarvina::platform {

// The desktop of an X11 display through xcb and the EWMH conventions the
// common window managers follow: the active window, WM_CLASS, the client
// list in stacking order, _NET_WM_NAME, activation and closing by client
// message, dock windows for the task bar; the process behind a window from
// the X-Resource extension (or _NET_WM_PID of a window of this machine).
//
// The station hands it the toolkit's own connection: an active grab sends
// input to the connection that took it, and the station's widgets read
// theirs on the toolkit's. Requests about other programs' windows are
// checked, so a window that went away between listing and acting costs an
// answer of "nothing", never an error report on the toolkit's queue.
// Used from one thread (the station's main thread).
class X11WindowSystem final : public WindowSystem {
public:
    // Borrows c (not closed here). screen: the screen number of c.
    // displayName: what the keymap tool is pointed at (empty: $DISPLAY).
    X11WindowSystem(xcb_connection_t* c, int screen, QByteArray displayName = {});
    // A connection of its own to displayName (empty: $DISPLAY); nullptr when
    // the display cannot be reached.
    static std::unique_ptr<X11WindowSystem> Open(const QByteArray& displayName = {});
    ~X11WindowSystem() override;
    X11WindowSystem(const X11WindowSystem&) = delete;
    X11WindowSystem& operator=(const X11WindowSystem&) = delete;

    WindowId foregroundWindow() override;
    QString windowClass(WindowId w, int maxLength = 100) override;
    QString windowTitle(WindowId w) override;
    bool isTaskBar(WindowId w) override;
    std::optional<QList<WindowId>> stackingOrder() override;
    QList<WindowId> visibleTitledWindows() override;
    bool setForeground(WindowId w) override;
    void setTopMost(WindowId w) override;
    void raise(WindowId w) override;
    void postTaskList(WindowId taskBar) override;

    bool minimize(WindowId w) override;
    bool closeWindow(WindowId w) override;
    qint64 windowProcess(WindowId w) override;
    bool quitWindow(WindowId w) override;
    void setTaskBarVisible(bool visible) override;
    WindowId desktopWindow() override;
    bool grabInput(WindowId w) override;
    void releaseInput() override;
    bool setSystemKeysBlocked(bool blocked) override;
    bool displayLost() override;
    std::optional<QList<ScreenWindow>> screenStacking() override;
    void putBelow(WindowId w, WindowId under) override;
    // The root window's substructure and its active-window property, on a
    // connection of its own (the toolkit reads the events of its own one).
    bool watchStacking(std::function<void()> changed) override;

    WindowId rootWindow() const;
    // The window manager's check window is present (EWMH requests are
    // honoured); without a manager the calls act on the windows directly.
    bool managerPresent();

private:
    struct Atoms;
    struct Conn;
    struct Watch;
    bool usable() const;
    bool exists(WindowId w);
    bool overrideRedirect(WindowId w);
    QList<WindowId> clientList(bool stacking);
    bool hasType(WindowId w, unsigned typeAtom);
    qint64 serverKnownProcess(WindowId w);
    qint64 announcedProcess(WindowId w);
    bool ownWindow(WindowId w) const;
    void sendRootMessage(WindowId w, unsigned type, quint32 d0, quint32 d1, quint32 d2,
                         quint32 d3 = 0, quint32 d4 = 0);
    void flush();
    // The child of the root that holds w (its frame, or w itself); 0 when
    // w is gone.
    quint32 topLevelOf(WindowId w);
    // The program's window inside each frame (the one that carries
    // WM_STATE), the frame itself when none does.
    QList<quint32> clientsOf(const QList<quint32>& frames);

    std::unique_ptr<Conn> conn_;
    std::unique_ptr<Atoms> atoms_;
    bool keyboardGrabbed_ = false;
    bool pointerGrabbed_ = false;
    QSet<WindowId> hiddenDocks_;
    QByteArray displayName_;
    std::unique_ptr<Watch> watch_;
    // Each window of the last screenStacking by the child of the root that
    // holds it.
    QHash<WindowId, quint32> topLevels_;
    X11ServerKeys serverKeys_;
};

// Whether a compositing manager runs on the display (it owns the selection
// _NET_WM_CM_S<screen>): without one a window's opacity cannot apply.
// False when the display cannot be reached. displayName: empty: $DISPLAY.
bool X11CompositingActive(const QByteArray& displayName = {});

} // namespace tarvina::platform
