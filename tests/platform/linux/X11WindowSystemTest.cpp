// The X11 desktop back end on a private display with openbox: other
// programs' windows (made here over connections of their own, as xterm
// would), the window manager's answers, and the lock's grabs against the
// manager's own key and mouse bindings.
#include "platform/linux/X11WindowSystem.h"

#include "support/TempDir.h"
#include "support/XDisplay.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

using tarvina::platform::WindowId;
using tarvina::platform::X11WindowSystem;
using tarvina::test::TestDisplay;

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

// Another program on the display: its own connection and one top-level
// window, with the events it got kept for the test to read.
class Foreign {
public:
    explicit Foreign(const QByteArray& title,
                     const QByteArray& wmClass = QByteArray("xterm\0XTerm\0", 12),
                     const char* type = nullptr, bool utf8Title = true) {
        c_ = xcb_connect(qPrintable(TestDisplay().display()), nullptr);
        const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = s->root;
        id_ = xcb_generate_id(c_);
        const uint32_t mask = XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK;
        const uint32_t values[] = {s->white_pixel, XCB_EVENT_MASK_KEY_PRESS |
                                                       XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                                       XCB_EVENT_MASK_BUTTON_PRESS};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id_, root_, 200, 200, 300, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, mask, values);
        const xcb_atom_t name = utf8Title ? Atom(c_, "_NET_WM_NAME") : xcb_atom_t(XCB_ATOM_WM_NAME);
        const xcb_atom_t textType =
            utf8Title ? Atom(c_, "UTF8_STRING") : xcb_atom_t(XCB_ATOM_STRING);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id_, name, textType, 8,
                            static_cast<uint32_t>(title.size()), title.constData());
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<uint32_t>(wmClass.size()), wmClass.constData());
        const xcb_atom_t del = Atom(c_, "WM_DELETE_WINDOW");
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id_, Atom(c_, "WM_PROTOCOLS"), XCB_ATOM_ATOM,
                            32, 1, &del);
        if (type) {
            const xcb_atom_t t = Atom(c_, type);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id_, Atom(c_, "_NET_WM_WINDOW_TYPE"),
                                XCB_ATOM_ATOM, 32, 1, &t);
        }
        xcb_map_window(c_, id_);
        xcb_flush(c_);
    }
    ~Foreign() {
        if (c_) {
            xcb_destroy_window(c_, id_);
            std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
            xcb_disconnect(c_);
        }
    }
    Foreign(const Foreign&) = delete;
    Foreign& operator=(const Foreign&) = delete;

    WindowId id() const { return id_; }
    xcb_connection_t* connection() const { return c_; }
    void destroy() {
        xcb_destroy_window(c_, id_);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    // Reads what arrived so far: a round trip first, so that every event the
    // server sent before its answer is in.
    void pump() {
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
            switch (e->response_type & 0x7f) {
            case XCB_KEY_PRESS:
                ++keys;
                break;
            case XCB_CLIENT_MESSAGE:
                ++closeRequests;
                break;
            case XCB_CONFIGURE_NOTIFY: {
                auto* ce = reinterpret_cast<xcb_configure_notify_event_t*>(e);
                lastX = ce->x;
                lastY = ce->y;
                break;
            }
            default:
                break;
            }
            std::free(e);
        }
    }
    bool viewable() {
        auto* a = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, id_), nullptr);
        const bool v = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(a);
        return v;
    }
    // Not inside a window manager's frame.
    bool topLevel() {
        auto* t = xcb_query_tree_reply(c_, xcb_query_tree(c_, id_), nullptr);
        const bool top = t && t->parent == root_;
        std::free(t);
        return top;
    }
    // Root-relative position of the window's top-left corner.
    QPoint position() {
        auto* t = xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, id_, root_, 0, 0), nullptr);
        const QPoint p = t ? QPoint(t->dst_x, t->dst_y) : QPoint();
        std::free(t);
        return p;
    }
    // A grab of this program's own, to see whether someone else holds one.
    bool canGrabKeyboard() {
        auto* r =
            xcb_grab_keyboard_reply(c_,
                                    xcb_grab_keyboard(c_, 0, id_, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        const bool ok = r && r->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(r);
        if (ok)
            xcb_ungrab_keyboard(c_, XCB_CURRENT_TIME);
        xcb_flush(c_);
        return ok;
    }

    int keys = 0;
    int closeRequests = 0;
    int lastX = -1, lastY = -1;

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_window_t id_ = 0;
};

int Run(const QString& program, const QStringList& args, QString* out = nullptr) {
    return TestDisplay().run(program, args, out);
}

int Xdotool(const QStringList& args) {
    return Run(QStringLiteral("xdotool"), args);
}

// The back end on its own connection to the test display.
std::unique_ptr<X11WindowSystem> OwnConnection() {
    return X11WindowSystem::Open(TestDisplay().display().toLocal8Bit());
}

bool Managed(X11WindowSystem& ws, WindowId w) {
    const auto order = ws.stackingOrder();
    return order && order->contains(w);
}

} // namespace

TEST(X11WindowSystem, NamesClassesAndOrderOfOtherProgramsWindows) {
    auto ws = OwnConnection();
    ASSERT_TRUE(ws);
    EXPECT_TRUE(ws->managerPresent());
    Foreign a("Terminal — ñandú");
    // A title that is not UTF-8 at all, and a Latin-1 one under WM_NAME.
    Foreign b(QByteArray("\xff\xfe roto \xc3", 9), QByteArray("navegador\0Navegador\0", 20));
    Foreign c(QByteArray("Caf\xe9", 4), QByteArray("x\0Y\0", 4), nullptr, false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Managed(*ws, a.id()) && Managed(*ws, b.id()) && Managed(*ws, c.id()); },
        15000));

    EXPECT_EQ(ws->windowTitle(a.id()), QStringLiteral("Terminal — ñandú"));
    EXPECT_TRUE(ws->windowTitle(b.id()).contains(QStringLiteral(" roto ")));
    EXPECT_TRUE(ws->windowTitle(b.id()).contains(QChar(0xFFFD)));
    EXPECT_EQ(ws->windowTitle(c.id()), QStringLiteral("Café"));
    EXPECT_EQ(ws->windowClass(a.id(), 100), QStringLiteral("XTerm"));
    EXPECT_EQ(ws->windowClass(b.id(), 4), QStringLiteral("Nave"));
    EXPECT_FALSE(ws->isTaskBar(a.id()));

    // The stacking order runs from the top (the tray's dock stays above all).
    ws->raise(a.id());
    const auto aboveOthers = [&](const QList<WindowId>& order) {
        const auto ia = order.indexOf(a.id());
        return ia >= 0 && ia < order.indexOf(b.id()) && ia < order.indexOf(c.id());
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto order = ws->stackingOrder();
            return order && aboveOthers(*order);
        },
        15000));
    const QList<WindowId> titled = ws->visibleTitledWindows();
    EXPECT_TRUE(titled.contains(a.id()) && titled.contains(b.id()) && titled.contains(c.id()));
    EXPECT_TRUE(aboveOthers(titled));

    // Activation through the manager, and back.
    ASSERT_TRUE(ws->setForeground(b.id()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ws->foregroundWindow() == b.id(); }, 15000));
    ASSERT_TRUE(ws->setForeground(c.id()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ws->foregroundWindow() == c.id(); }, 15000));
}

TEST(X11WindowSystem, CloseMinimiseAndWindowsThatAreGone) {
    auto ws = OwnConnection();
    ASSERT_TRUE(ws);
    Foreign a("Editor");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Managed(*ws, a.id()); }, 15000));

    // A close request reaches the program as WM_DELETE_WINDOW; it decides.
    ASSERT_TRUE(ws->closeWindow(a.id()));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            a.pump();
            return a.closeRequests > 0;
        },
        15000));
    EXPECT_TRUE(a.viewable());

    ASSERT_TRUE(ws->minimize(a.id()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !a.viewable(); }, 15000));

    // Gone between the listing and the next call: every answer is "nothing".
    const WindowId gone = a.id();
    a.destroy();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Managed(*ws, gone); }, 15000));
    EXPECT_FALSE(ws->setForeground(gone));
    EXPECT_FALSE(ws->closeWindow(gone));
    EXPECT_FALSE(ws->minimize(gone));
    EXPECT_FALSE(ws->grabInput(gone));
    ws->raise(gone);
    ws->setTopMost(gone);
    EXPECT_TRUE(ws->windowTitle(gone).isEmpty());
    EXPECT_TRUE(ws->windowClass(gone, 100).isEmpty());
    EXPECT_FALSE(ws->isTaskBar(gone));
    EXPECT_FALSE(ws->displayLost());
}

TEST(X11WindowSystem, TaskBarDocksHideAndShowAndTheDesktopWindow) {
    auto ws = OwnConnection();
    ASSERT_TRUE(ws);
    EXPECT_EQ(ws->desktopWindow(), ws->rootWindow());
    Foreign dock("panel", QByteArray("panel\0Panel\0", 12), "_NET_WM_WINDOW_TYPE_DOCK");
    Foreign desk("escritorio", QByteArray("desk\0Desk\0", 10), "_NET_WM_WINDOW_TYPE_DESKTOP");
    Foreign normal("Hoja");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Managed(*ws, dock.id()) && Managed(*ws, desk.id()) && dock.viewable() &&
                   normal.viewable();
        },
        15000));
    EXPECT_TRUE(ws->isTaskBar(dock.id()));
    EXPECT_EQ(ws->desktopWindow(), desk.id());

    ws->setTaskBarVisible(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dock.viewable(); }, 15000));
    EXPECT_TRUE(normal.viewable());
    ws->setTaskBarVisible(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dock.viewable(); }, 15000));

    // Hidden by a run that ended without showing it: the next one finds it.
    // The manager hands the unmapped dock back to the root in its own time;
    // a next run starts long after that.
    ws->setTaskBarVisible(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dock.viewable() && dock.topLevel(); }, 15000));
    auto next = OwnConnection();
    ASSERT_TRUE(next);
    next->setTaskBarVisible(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dock.viewable(); }, 15000));
}

TEST(X11WindowSystem, ThousandsOfWindowsAndStaleEntriesInTheLists) {
    // A display of its own without a manager: the lists are written here, as
    // a manager would, with windows that exist and some that are long gone.
    tarvina::test::XDisplay::Options o;
    o.windowManager = false;
    tarvina::test::XDisplay other(o);
    ASSERT_TRUE(other.ok()) << qPrintable(other.error());
    xcb_connection_t* c = xcb_connect(qPrintable(other.display()), nullptr);
    const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t name = Atom(c, "_NET_WM_NAME"), utf8 = Atom(c, "UTF8_STRING");
    QList<xcb_window_t> ids;
    for (int i = 0; i < 3000; ++i) {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, i % 500, i % 400, 20, 20, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, 0, nullptr);
        const QByteArray title = i % 3 ? "w" + QByteArray::number(i) : QByteArray();
        if (!title.isEmpty())
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, name, utf8, 8,
                                static_cast<uint32_t>(title.size()), title.constData());
        if (i % 2)
            xcb_map_window(c, w);
        ids << w;
    }
    for (int i = 0; i < 50; ++i)
        ids.insert(i * 60, 0x7FF00000u + i); // never created
    for (const char* list : {"_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST"})
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, s->root, Atom(c, list), XCB_ATOM_WINDOW, 32,
                            static_cast<uint32_t>(ids.size()), ids.constData());
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    auto ws = X11WindowSystem::Open(other.display().toLocal8Bit());
    ASSERT_TRUE(ws);
    const auto order = ws->stackingOrder();
    ASSERT_TRUE(order.has_value());
    ASSERT_EQ(order->size(), 3050);
    EXPECT_EQ(order->first(), ids.last()); // the property runs bottom up
    // Mapped (odd) and titled (not a multiple of 3) ones, top first.
    int expected = 0;
    for (int i = 0; i < 3000; ++i)
        expected += (i % 2 && i % 3) ? 1 : 0;
    const QList<WindowId> titled = ws->visibleTitledWindows();
    EXPECT_EQ(titled.size(), expected);
    EXPECT_EQ(ws->windowTitle(titled.first()), QStringLiteral("w2999"));
    EXPECT_TRUE(ws->windowTitle(0x7FF00001u).isEmpty());
    xcb_disconnect(c);
}

TEST(X11WindowSystem, DisplayThatGoesAwayLeavesHarmlessAnswers) {
    tarvina::test::XDisplay::Options o;
    o.windowManager = false;
    auto other = std::make_unique<tarvina::test::XDisplay>(o);
    ASSERT_TRUE(other->ok()) << qPrintable(other->error());
    auto ws = X11WindowSystem::Open(other->display().toLocal8Bit());
    ASSERT_TRUE(ws);
    EXPECT_FALSE(ws->managerPresent());
    EXPECT_FALSE(ws->stackingOrder().has_value()); // nobody keeps the order
    other.reset();
    // The first request after the server died notices it.
    ws->foregroundWindow();
    EXPECT_TRUE(ws->displayLost());
    EXPECT_EQ(ws->foregroundWindow(), 0u);
    EXPECT_FALSE(ws->stackingOrder().has_value());
    EXPECT_FALSE(ws->setForeground(1234));
    EXPECT_FALSE(ws->grabInput(1234));
    ws->releaseInput();
    ws->setTaskBarVisible(true);
    EXPECT_TRUE(ws->visibleTitledWindows().isEmpty());
    EXPECT_FALSE(X11WindowSystem::Open(":999999"));
}

// The input that reached this program's own windows, as the toolkit
// delivers it: what a grab took away from the others.
class OwnInput : public QObject {
public:
    OwnInput() { qApp->installEventFilter(this); }
    ~OwnInput() override { qApp->removeEventFilter(this); }
    bool pressed(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) const {
        return keys_.contains(QKeyCombination(mods, Qt::Key(key)).toCombined());
    }
    int buttonReleases() const { return releases_; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        // Once per event: the toolkit hands it from the window to the widget.
        if (o->isWindowType() && e->type() == QEvent::KeyPress) {
            const auto* k = static_cast<QKeyEvent*>(e);
            keys_ << QKeyCombination(k->modifiers(), Qt::Key(k->key())).toCombined();
        }
        if (o->isWindowType() && e->type() == QEvent::MouseButtonRelease)
            ++releases_;
        return false;
    }

private:
    QList<int> keys_;
    int releases_ = 0;
};

// The station's side: the lock and the code box are this process's widgets
// on the toolkit's connection, which the back end borrows for its grabs.
class X11Lock : public ::testing::Test {
protected:
    void SetUp() override {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        ASSERT_NE(x11, nullptr);
        ws = std::make_unique<X11WindowSystem>(x11->connection(), 0,
                                               TestDisplay().display().toLocal8Bit());
        lock.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
        lock.setStyleSheet(QStringLiteral("background: black;"));
        lock.setGeometry(0, 0, 1280, 1024);
        lock.show();
        // A fresh display's first window waits for the window manager and
        // for the accessibility bus to register it; give a loaded machine time.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&lock, 30000));
        code.setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
        code.setGeometry(500, 400, 200, 40);
        code.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&code, 30000));
    }
    void TearDown() override {
        if (ws)
            ws->releaseInput();
    }
    WindowId lockId() { return static_cast<WindowId>(lock.winId()); }

    std::unique_ptr<X11WindowSystem> ws;
    QWidget lock;
    QLineEdit code;
};

TEST_F(X11Lock, GrabKeepsKeysAndWindowManagerBindingsAwayFromOtherPrograms) {
    Foreign term("Terminal");
    auto watcher = OwnConnection();
    ASSERT_TRUE(watcher);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Managed(*watcher, term.id()); }, 15000));
    ASSERT_TRUE(ws->grabInput(lockId()));
    // Taken again while held: still fine.
    ASSERT_TRUE(ws->grabInput(lockId()));
    EXPECT_FALSE(term.canGrabKeyboard());

    // Another program activates the terminal (as a customer's launcher
    // would) and types at it: the keys never reach it.
    ASSERT_EQ(Xdotool({QStringLiteral("windowactivate"), QString::number(term.id())}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher->foregroundWindow() == term.id(); }, 15000));
    OwnInput own;
    ASSERT_EQ(Xdotool({QStringLiteral("type"), QStringLiteral("ls -l")}), 0);
    ASSERT_EQ(Xdotool({QStringLiteral("key"), QStringLiteral("Return")}), 0);
    // The last key came to the lock: had any gone to the terminal, it would
    // be there by now.
    ASSERT_TRUE(QTest::qWaitFor([&] { return own.pressed(Qt::Key_Return); }, 30000))
        << "the grab's window never got the keys";
    term.pump();
    EXPECT_EQ(term.keys, 0);

    // The manager's bindings: Alt+F4 closes nothing, Alt+drag moves nothing,
    // Alt+Tab switches nowhere. The keys coming to the lock show that the
    // manager never saw them.
    ASSERT_EQ(Xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")}), 0);
    ASSERT_EQ(Xdotool({QStringLiteral("key"), QStringLiteral("alt+Tab")}), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return own.pressed(Qt::Key_F4, Qt::AltModifier) &&
                   own.pressed(Qt::Key_Tab, Qt::AltModifier);
        },
        30000))
        << "Alt+F4 and Alt+Tab did not come to the lock";
    EXPECT_EQ(watcher->foregroundWindow(), term.id());
    const QPoint at = term.position();
    const QRect lockAt = lock.geometry();
    ASSERT_EQ(
        Xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("300"),
                 QStringLiteral("keydown"), QStringLiteral("alt"), QStringLiteral("mousedown"),
                 QStringLiteral("1"), QStringLiteral("mousemove"), QStringLiteral("600"),
                 QStringLiteral("600"), QStringLiteral("mouseup"), QStringLiteral("1"),
                 QStringLiteral("keyup"), QStringLiteral("alt")}),
        0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return own.buttonReleases() > 0; }, 30000))
        << "the Alt+drag did not come to the lock";
    term.pump();
    EXPECT_EQ(term.closeRequests, 0);
    EXPECT_EQ(term.position(), at);
    EXPECT_TRUE(term.viewable());
    EXPECT_EQ(lock.geometry(), lockAt);

    // Released: the terminal gets its keys again.
    ws->releaseInput();
    EXPECT_TRUE(term.canGrabKeyboard());
    ASSERT_EQ(Xdotool({QStringLiteral("windowactivate"), QString::number(term.id())}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher->foregroundWindow() == term.id(); }, 15000));
    ASSERT_EQ(Xdotool({QStringLiteral("type"), QStringLiteral("ok")}), 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            term.pump();
            return term.keys >= 2;
        },
        15000));
}

TEST_F(X11Lock, TheStationsOwnCodeBoxGetsTheKeysWhenItHoldsTheGrab) {
    // The grab moves the toolkit's keyboard focus to the window that holds
    // it, so the station grabs for the window that is to take the keys: the
    // code box above the lock in code mode.
    ASSERT_TRUE(ws->grabInput(lockId()));
    Foreign term("Terminal");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Managed(*ws, term.id()); }, 15000));
    ASSERT_TRUE(ws->grabInput(static_cast<WindowId>(code.winId())));
    ASSERT_TRUE(QTest::qWaitFor([&] { return code.isActiveWindow(); }, 15000));
    ASSERT_EQ(Xdotool({QStringLiteral("windowactivate"), QString::number(term.id())}), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ws->foregroundWindow() == term.id(); }, 15000));
    ASSERT_EQ(Xdotool({QStringLiteral("type"), QStringLiteral("A1B2")}), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return code.text() == QStringLiteral("A1B2"); }, 15000))
        << qPrintable(code.text());
    term.pump();
    EXPECT_EQ(term.keys, 0);
}

TEST_F(X11Lock, TopMostAndForegroundFollowTheStationsRequests) {
    Foreign term("Terminal");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Managed(*ws, term.id()); }, 15000));
    ws->setTopMost(term.id());
    ws->setForeground(term.id());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ws->foregroundWindow() == term.id(); }, 15000));
    ws->setTopMost(lockId());
    ASSERT_TRUE(ws->setForeground(lockId()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ws->foregroundWindow() == lockId(); }, 15000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const auto order = ws->stackingOrder();
            return order && order->indexOf(lockId()) >= 0 &&
                   order->indexOf(lockId()) < order->indexOf(term.id());
        },
        15000));
}

namespace {

// A window that bypasses the window manager (override-redirect, no title),
// as a pop-up or a hostile full-screen film would be, on a connection of its
// own.
class Popup {
public:
    Popup() {
        c_ = xcb_connect(qPrintable(TestDisplay().display()), nullptr);
        const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        id_ = xcb_generate_id(c_);
        const uint32_t values[] = {s->white_pixel, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id_, s->root, 0, 0, 400, 300, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c_, id_);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    ~Popup() { xcb_disconnect(c_); }
    Popup(const Popup&) = delete;
    Popup& operator=(const Popup&) = delete;
    WindowId id() const { return id_; }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t id_ = 0;
};

qsizetype IndexOf(const QList<tarvina::platform::ScreenWindow>& screen, WindowId w) {
    for (qsizetype i = 0; i < screen.size(); ++i)
        if (screen[i].id == w)
            return i;
    return -1;
}

} // namespace

TEST_F(X11Lock, ScreenStackingShowsEveryWindowAndPutsOthersUnderTheLock) {
    int changes = 0;
    ASSERT_TRUE(ws->watchStacking([&] { ++changes; }));
    Foreign term("Terminal");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Managed(*ws, term.id()); }, 15000));
    ws->setTopMost(term.id());
    Popup popup;
    // Told by the display, not found by asking.
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes > 0; }, 15000));

    const auto screen = [&] {
        return ws->screenStacking().value_or(QList<tarvina::platform::ScreenWindow>());
    };
    QList<tarvina::platform::ScreenWindow> now;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            now = screen();
            return IndexOf(now, popup.id()) == 0 && IndexOf(now, term.id()) >= 0 &&
                   IndexOf(now, term.id()) < IndexOf(now, lockId());
        },
        15000));
    // The terminal by its own window (not the manager's frame); the pop-up,
    // untitled and unmanaged, too; the lock and the code box as this
    // program's own.
    const auto at = [&](WindowId w) { return now[IndexOf(now, w)]; };
    EXPECT_TRUE(at(term.id()).managed);
    EXPECT_FALSE(at(term.id()).sameClient);
    EXPECT_FALSE(at(popup.id()).managed);
    EXPECT_TRUE(at(lockId()).sameClient);
    EXPECT_TRUE(at(static_cast<WindowId>(code.winId())).sameClient);
    EXPECT_EQ(at(popup.id()).pid, QCoreApplication::applicationPid());

    ws->putBelow(popup.id(), lockId());
    ws->putBelow(term.id(), lockId());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            now = screen();
            const qsizetype lockAt = IndexOf(now, lockId());
            return lockAt >= 0 && IndexOf(now, popup.id()) > lockAt &&
                   IndexOf(now, term.id()) > lockAt;
        },
        15000));
    // Gone: harmless.
    ws->putBelow(0x7FF00001u, lockId());
    ws->watchStacking(nullptr);
}
