#include "platform/linux/X11WindowSystem.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

namespace tarvina::platform {

namespace {

// Longest property read, in 32-bit units: a title or class of 16 KB is far
// beyond any real one, and a hostile window cannot make us allocate more.
constexpr uint32_t kMaxTextLongs = 4096;
// A client list of a million windows is not a desktop.
constexpr uint32_t kMaxListLongs = 1u << 20;

// One property reply, freed when it goes.
struct PropReply {
    xcb_get_property_reply_t* r = nullptr;
    PropReply() = default;
    explicit PropReply(xcb_get_property_reply_t* reply) : r(reply) {}
    PropReply(PropReply&& o) noexcept : r(o.r) { o.r = nullptr; }
    PropReply& operator=(PropReply&& o) noexcept {
        std::swap(r, o.r);
        return *this;
    }
    PropReply(const PropReply&) = delete;
    PropReply& operator=(const PropReply&) = delete;
    ~PropReply() { std::free(r); }
    bool ok() const { return r && r->type != XCB_ATOM_NONE; }
    int length() const { return r ? xcb_get_property_value_length(r) : 0; }
    const char* bytes() const {
        return r ? static_cast<const char*>(xcb_get_property_value(r)) : nullptr;
    }
    QList<xcb_window_t> ids() const {
        QList<xcb_window_t> out;
        if (!ok() || r->format != 32)
            return out;
        const int n = length() / 4;
        const auto* v = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
        out.reserve(n);
        for (int i = 0; i < n; ++i)
            out << v[i];
        return out;
    }
};

} // namespace

struct X11WindowSystem::Conn {
    xcb_connection_t* c = nullptr;
    bool owned = false;
    int screen = 0;
    xcb_window_t root = 0;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    ~Conn() {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (owned && c)
            xcb_disconnect(c);
    }
};

struct X11WindowSystem::Atoms {
    xcb_atom_t wmChangeState = XCB_ATOM_NONE;
    xcb_atom_t wmDeleteWindow = XCB_ATOM_NONE;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
};

namespace {

// A burst of notifications (a window raising itself as fast as it can, the
// window manager answering each of our requests) is answered at most this
// often; far below what a person could see.
constexpr int kWatchPaceMs = 10;
// How deep a window manager's frame may nest the program's window.
constexpr int kFrameDepth = 3;
// Windows looked at inside one frame at one depth, at most.
constexpr int kFrameBreadth = 64;

bool Intersects(const xcb_get_geometry_reply_t* g, int width, int height) {
    const int right = g->x + g->width + 2 * g->border_width;
    const int bottom = g->y + g->height + 2 * g->border_width;
    return g->width > 0 && g->height > 0 && right > 0 && bottom > 0 && g->x < width &&
           g->y < height;
}

} // namespace

struct X11WindowSystem::Watch {
    xcb_connection_t* c = nullptr;
    xcb_atom_t active = XCB_ATOM_NONE;
    xcb_atom_t stacking = XCB_ATOM_NONE;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer pace;
    QElapsedTimer sinceCall;
    std::function<void()> changed;

    ~Watch() {
        notifier.reset();
        if (c)
            xcb_disconnect(c);
    }
    void call() {
        sinceCall.start();
        // A copy: the callee may stop the watch.
        const std::function<void()> f = changed;
        if (f)
            f();
    }
    void schedule() {
        if (pace.isActive())
            return;
        const qint64 since = sinceCall.isValid() ? sinceCall.elapsed() : kWatchPaceMs;
        if (since >= kWatchPaceMs)
            call();
        else
            pace.start(static_cast<int>(kWatchPaceMs - since));
    }
    void drain() {
        bool moved = false;
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            switch (e->response_type & 0x7f) {
            case XCB_CREATE_NOTIFY:
            case XCB_DESTROY_NOTIFY:
            case XCB_MAP_NOTIFY:
            case XCB_UNMAP_NOTIFY:
            case XCB_CONFIGURE_NOTIFY:
            case XCB_REPARENT_NOTIFY:
            case XCB_CIRCULATE_NOTIFY:
            case XCB_GRAVITY_NOTIFY:
                moved = true;
                break;
            case XCB_PROPERTY_NOTIFY: {
                // The manager's account of the active window and of its
                // order: a window given the focus may change its layer.
                const auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
                if (p->atom == active || p->atom == stacking)
                    moved = true;
                break;
            }
            default:
                break;
            }
            std::free(e);
        }
        // A display gone for good leaves the socket readable for ever.
        if (xcb_connection_has_error(c))
            notifier->setEnabled(false);
        else if (moved)
            schedule();
    }
};

namespace {

PropReply GetProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                      uint32_t maxLongs) {
    if (!c || !w || prop == XCB_ATOM_NONE)
        return {};
    const auto ck = xcb_get_property(c, 0, w, prop, type, 0, maxLongs);
    xcb_generic_error_t* e = nullptr;
    PropReply r(xcb_get_property_reply(c, ck, &e));
    std::free(e);
    return r;
}

xcb_atom_t Intern(xcb_connection_t* c, const char* name) {
    const auto ck = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, ck, nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

// Text of a title property: UTF-8 for _NET_WM_NAME, Latin-1 for STRING.
// Bytes that are not valid UTF-8 become replacement characters, never a
// failure; a trailing NUL is not part of the title.
QString TitleText(const PropReply& p, bool utf8) {
    if (!p.ok() || p.r->format != 8)
        return {};
    QByteArray b(p.bytes(), p.length());
    const int nul = b.indexOf('\0');
    if (nul >= 0)
        b.truncate(nul);
    return utf8 ? QString::fromUtf8(b) : QString::fromLatin1(b);
}

} // namespace

X11WindowSystem::X11WindowSystem(xcb_connection_t* c, int screen, QByteArray displayName)
    : conn_(std::make_unique<Conn>()), atoms_(std::make_unique<Atoms>()), displayName_(displayName),
      serverKeys_(std::move(displayName)) {
    conn_->c = c;
    conn_->screen = screen;
    if (!c || xcb_connection_has_error(c))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem && i < screen; ++i)
        xcb_screen_next(&it);
    if (it.rem)
        conn_->root = it.data->root;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(c, &conn_->ewmh);
    conn_->ewmhReady = cookies && xcb_ewmh_init_atoms_replies(&conn_->ewmh, cookies, nullptr);
    atoms_->wmChangeState = Intern(c, "WM_CHANGE_STATE");
    atoms_->wmDeleteWindow = Intern(c, "WM_DELETE_WINDOW");
    atoms_->wmProtocols = Intern(c, "WM_PROTOCOLS");
    atoms_->wmState = Intern(c, "WM_STATE");
}

namespace {

// A connection of our own to the display (empty name: $DISPLAY); null when
// there is none to be had.
xcb_connection_t* ConnectDisplay(const QByteArray& displayName, int* screen) {
    xcb_connection_t* c =
        xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), screen);
    if (c && xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return nullptr;
    }
    return c;
}

} // namespace

std::unique_ptr<X11WindowSystem> X11WindowSystem::Open(const QByteArray& displayName) {
    int screen = 0;
    xcb_connection_t* c = ConnectDisplay(displayName, &screen);
    if (!c)
        return nullptr;
    auto ws = std::make_unique<X11WindowSystem>(c, screen, displayName);
    ws->conn_->owned = true;
    if (!ws->conn_->ewmhReady || !ws->conn_->root)
        return nullptr;
    return ws;
}

X11WindowSystem::~X11WindowSystem() {
    watch_.reset();
    if (usable()) {
        releaseInput();
        serverKeys_.unblock();
        if (!hiddenDocks_.isEmpty())
            setTaskBarVisible(true);
        // A round trip, so nothing asked above is lost when the connection
        // is closed right after.
        std::free(xcb_get_input_focus_reply(conn_->c, xcb_get_input_focus(conn_->c), nullptr));
    }
}

bool X11WindowSystem::usable() const {
    return conn_->c && conn_->ewmhReady && conn_->root && !xcb_connection_has_error(conn_->c);
}

bool X11WindowSystem::displayLost() {
    return !conn_->c || xcb_connection_has_error(conn_->c);
}

WindowId X11WindowSystem::rootWindow() const {
    return conn_->root;
}

void X11WindowSystem::flush() {
    if (conn_->c)
        xcb_flush(conn_->c);
}

bool X11WindowSystem::managerPresent() {
    if (!usable())
        return false;
    const PropReply p = GetProperty(conn_->c, conn_->root, conn_->ewmh._NET_SUPPORTING_WM_CHECK,
                                    XCB_ATOM_WINDOW, 1);
    const auto ids = p.ids();
    return !ids.isEmpty() && ids.first() != XCB_WINDOW_NONE && exists(ids.first());
}

bool X11WindowSystem::exists(WindowId w) {
    if (!usable() || w == 0 || w > 0xFFFFFFFFu)
        return false;
    const auto ck = xcb_get_window_attributes(conn_->c, static_cast<xcb_window_t>(w));
    xcb_generic_error_t* e = nullptr;
    xcb_get_window_attributes_reply_t* r = xcb_get_window_attributes_reply(conn_->c, ck, &e);
    std::free(e);
    const bool ok = r != nullptr;
    std::free(r);
    return ok;
}

bool X11WindowSystem::overrideRedirect(WindowId w) {
    if (!usable() || w == 0)
        return false;
    const auto ck = xcb_get_window_attributes(conn_->c, static_cast<xcb_window_t>(w));
    xcb_generic_error_t* e = nullptr;
    xcb_get_window_attributes_reply_t* r = xcb_get_window_attributes_reply(conn_->c, ck, &e);
    std::free(e);
    const bool o = r && r->override_redirect;
    std::free(r);
    return o;
}

WindowId X11WindowSystem::foregroundWindow() {
    if (!usable())
        return 0;
    const PropReply p =
        GetProperty(conn_->c, conn_->root, conn_->ewmh._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW, 1);
    const auto ids = p.ids();
    if (p.ok() && !ids.isEmpty() && ids.first() != XCB_WINDOW_NONE)
        return ids.first();
    // No manager keeps the property (or none is active): the input focus,
    // when it is a real window.
    xcb_get_input_focus_reply_t* f =
        xcb_get_input_focus_reply(conn_->c, xcb_get_input_focus(conn_->c), nullptr);
    WindowId out = 0;
    if (f && f->focus != XCB_WINDOW_NONE && f->focus != XCB_INPUT_FOCUS_POINTER_ROOT &&
        f->focus != conn_->root)
        out = f->focus;
    std::free(f);
    return out;
}

QString X11WindowSystem::windowClass(WindowId w, int maxLength) {
    if (!usable() || w == 0)
        return {};
    const PropReply p = GetProperty(conn_->c, static_cast<xcb_window_t>(w), XCB_ATOM_WM_CLASS,
                                    XCB_ATOM_STRING, kMaxTextLongs);
    if (!p.ok() || p.r->format != 8)
        return {};
    // "instance\0Class\0": the class is the second string.
    const QByteArray b(p.bytes(), p.length());
    const int nul = b.indexOf('\0');
    QByteArray cls = nul >= 0 ? b.mid(nul + 1) : QByteArray();
    const int end = cls.indexOf('\0');
    if (end >= 0)
        cls.truncate(end);
    return QString::fromLatin1(cls).left(std::max(0, maxLength));
}

QString X11WindowSystem::windowTitle(WindowId w) {
    if (!usable() || w == 0)
        return {};
    const auto win = static_cast<xcb_window_t>(w);
    const PropReply net = GetProperty(conn_->c, win, conn_->ewmh._NET_WM_NAME,
                                      conn_->ewmh.UTF8_STRING, kMaxTextLongs);
    if (net.ok() && net.length() > 0)
        return TitleText(net, true);
    const PropReply icccm =
        GetProperty(conn_->c, win, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kMaxTextLongs);
    // STRING is Latin-1; UTF8_STRING and COMPOUND_TEXT (its ASCII part is
    // the same) read as UTF-8.
    return TitleText(icccm, icccm.ok() && icccm.r->type != XCB_ATOM_STRING);
}

bool X11WindowSystem::hasType(WindowId w, unsigned typeAtom) {
    const PropReply p = GetProperty(conn_->c, static_cast<xcb_window_t>(w),
                                    conn_->ewmh._NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM, 64);
    for (xcb_window_t a : p.ids())
        if (a == typeAtom)
            return true;
    return false;
}

bool X11WindowSystem::isTaskBar(WindowId w) {
    return usable() && w != 0 && hasType(w, conn_->ewmh._NET_WM_WINDOW_TYPE_DOCK);
}

QList<WindowId> X11WindowSystem::clientList(bool stacking) {
    QList<WindowId> out;
    const xcb_atom_t prop =
        stacking ? conn_->ewmh._NET_CLIENT_LIST_STACKING : conn_->ewmh._NET_CLIENT_LIST;
    const PropReply p = GetProperty(conn_->c, conn_->root, prop, XCB_ATOM_WINDOW, kMaxListLongs);
    for (xcb_window_t w : p.ids())
        out << w;
    return out;
}

std::optional<QList<WindowId>> X11WindowSystem::stackingOrder() {
    if (!usable())
        return std::nullopt;
    const PropReply p = GetProperty(conn_->c, conn_->root, conn_->ewmh._NET_CLIENT_LIST_STACKING,
                                    XCB_ATOM_WINDOW, kMaxListLongs);
    if (!p.ok())
        return std::nullopt; // no manager keeps the order
    // The property runs from the bottom up.
    QList<WindowId> out;
    const auto ids = p.ids();
    out.reserve(ids.size());
    for (auto it = ids.crbegin(); it != ids.crend(); ++it)
        out << *it;
    return out;
}

QList<WindowId> X11WindowSystem::visibleTitledWindows() {
    QList<WindowId> out;
    if (!usable())
        return out;
    const QList<WindowId> all = clientList(true);
    // Ask about every window first, then read the answers: one round trip
    // for the whole list, however long it is.
    QList<xcb_get_window_attributes_cookie_t> cookies;
    cookies.reserve(all.size());
    for (WindowId w : all)
        cookies << xcb_get_window_attributes(conn_->c, static_cast<xcb_window_t>(w));
    QList<WindowId> viewable;
    for (int i = 0; i < all.size(); ++i) {
        xcb_generic_error_t* e = nullptr;
        xcb_get_window_attributes_reply_t* r =
            xcb_get_window_attributes_reply(conn_->c, cookies[i], &e);
        std::free(e);
        if (r && r->map_state == XCB_MAP_STATE_VIEWABLE)
            viewable << all[i];
        std::free(r);
    }
    for (auto it = viewable.crbegin(); it != viewable.crend(); ++it)
        if (!windowTitle(*it).isEmpty())
            out << *it;
    return out;
}

void X11WindowSystem::sendRootMessage(WindowId w, unsigned type, quint32 d0, quint32 d1, quint32 d2,
                                      quint32 d3, quint32 d4) {
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = static_cast<xcb_window_t>(w);
    ev.type = type;
    ev.data.data32[0] = d0;
    ev.data.data32[1] = d1;
    ev.data.data32[2] = d2;
    ev.data.data32[3] = d3;
    ev.data.data32[4] = d4;
    xcb_send_event(conn_->c, 0, conn_->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}

bool X11WindowSystem::setForeground(WindowId w) {
    if (!exists(w))
        return false;
    const auto win = static_cast<xcb_window_t>(w);
    if (!overrideRedirect(w) && managerPresent()) {
        // Source 2: a pager's request, which managers honour without their
        // focus-stealing rules.
        sendRootMessage(w, conn_->ewmh._NET_ACTIVE_WINDOW, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                        XCB_CURRENT_TIME, 0);
    } else {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_discard_reply(conn_->c, xcb_configure_window_checked(
                                        conn_->c, win, XCB_CONFIG_WINDOW_STACK_MODE, &above)
                                        .sequence);
        xcb_discard_reply(conn_->c,
                          xcb_set_input_focus_checked(conn_->c, XCB_INPUT_FOCUS_POINTER_ROOT, win,
                                                      XCB_CURRENT_TIME)
                              .sequence);
    }
    flush();
    return true;
}

void X11WindowSystem::setTopMost(WindowId w) {
    if (!exists(w))
        return;
    if (!overrideRedirect(w) && managerPresent())
        sendRootMessage(w, conn_->ewmh._NET_WM_STATE, XCB_EWMH_WM_STATE_ADD,
                        conn_->ewmh._NET_WM_STATE_ABOVE, 0, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    raise(w);
}

void X11WindowSystem::raise(WindowId w) {
    if (!exists(w))
        return;
    const auto win = static_cast<xcb_window_t>(w);
    if (!overrideRedirect(w) && managerPresent()) {
        sendRootMessage(w, conn_->ewmh._NET_RESTACK_WINDOW, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                        XCB_WINDOW_NONE, XCB_STACK_MODE_ABOVE);
    } else {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_discard_reply(conn_->c, xcb_configure_window_checked(
                                        conn_->c, win, XCB_CONFIG_WINDOW_STACK_MODE, &above)
                                        .sequence);
    }
    flush();
}

void X11WindowSystem::postTaskList(WindowId) {
    // A dock has no task list to open on request; the lock's enforcement
    // takes the front back at once, which is what the request was for.
}

bool X11WindowSystem::minimize(WindowId w) {
    if (!exists(w) || overrideRedirect(w))
        return false;
    // ICCCM: WM_CHANGE_STATE with IconicState (3).
    sendRootMessage(w, atoms_->wmChangeState, XCB_ICCCM_WM_STATE_ICONIC, 0, 0);
    flush();
    return true;
}

bool X11WindowSystem::closeWindow(WindowId w) {
    if (!exists(w))
        return false;
    if (managerPresent()) {
        sendRootMessage(w, conn_->ewmh._NET_CLOSE_WINDOW, XCB_CURRENT_TIME,
                        XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, 0);
    } else {
        // No manager to ask: the window's own WM_DELETE_WINDOW message.
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = static_cast<xcb_window_t>(w);
        ev.type = atoms_->wmProtocols;
        ev.data.data32[0] = atoms_->wmDeleteWindow;
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_discard_reply(conn_->c,
                          xcb_send_event_checked(conn_->c, 0, ev.window, XCB_EVENT_MASK_NO_EVENT,
                                                 reinterpret_cast<const char*>(&ev))
                              .sequence);
    }
    flush();
    return true;
}

bool X11WindowSystem::ownWindow(WindowId w) const {
    // Every resource this connection creates carries its base: a window of
    // the toolkit (the station's own, on the same connection) among them.
    const xcb_setup_t* setup = xcb_get_setup(conn_->c);
    return setup && (static_cast<quint32>(w) & ~setup->resource_id_mask) == setup->resource_id_base;
}

qint64 X11WindowSystem::serverKnownProcess(WindowId w) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_->c, &xcb_res_id);
    if (!ext || !ext->present)
        return 0;
    // The display server's own record of the connection that made w: a
    // program cannot forge it as it can its window's properties.
    xcb_res_client_id_spec_t spec{};
    spec.client = static_cast<uint32_t>(w);
    spec.mask = XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID;
    xcb_generic_error_t* e = nullptr;
    xcb_res_query_client_ids_reply_t* r =
        xcb_res_query_client_ids_reply(conn_->c, xcb_res_query_client_ids(conn_->c, 1, &spec), &e);
    std::free(e);
    qint64 pid = 0;
    if (r) {
        for (auto it = xcb_res_query_client_ids_ids_iterator(r); it.rem && pid == 0;
             xcb_res_client_id_value_next(&it)) {
            if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                it.data->length == 4)
                pid = *xcb_res_client_id_value_value(it.data);
        }
        std::free(r);
    }
    return pid;
}

qint64 X11WindowSystem::announcedProcess(WindowId w) {
    const auto win = static_cast<xcb_window_t>(w);
    // A process id means something only on the machine the program runs on.
    const PropReply machine =
        GetProperty(conn_->c, win, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 64);
    if (machine.ok() && machine.r->format == 8) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0)
            return 0;
        QByteArray named(machine.bytes(), machine.length());
        const int nul = named.indexOf('\0');
        if (nul >= 0)
            named.truncate(nul);
        if (named != QByteArray(host))
            return 0;
    }
    const PropReply p = GetProperty(conn_->c, win, conn_->ewmh._NET_WM_PID, XCB_ATOM_CARDINAL, 1);
    if (!p.ok() || p.r->format != 32 || p.length() < 4)
        return 0;
    quint32 pid = 0;
    std::memcpy(&pid, p.bytes(), sizeof pid);
    return pid;
}

qint64 X11WindowSystem::windowProcess(WindowId w) {
    if (!exists(w))
        return 0;
    if (const qint64 pid = serverKnownProcess(w))
        return pid;
    return announcedProcess(w);
}

bool X11WindowSystem::quitWindow(WindowId w) {
    if (!exists(w) || ownWindow(w))
        return false;
    const qint64 pid = windowProcess(w);
    if (pid == static_cast<qint64>(::getpid()))
        return false;
    // The program ends as a system shutdown asks it to (it may save first);
    // never waited for.
    if (pid > 1 && ::kill(static_cast<pid_t>(pid), SIGTERM) == 0)
        return true;
    // A program of another machine or another user: the display server
    // ends its connection, which ends an X program.
    xcb_discard_reply(conn_->c,
                      xcb_kill_client_checked(conn_->c, static_cast<uint32_t>(w)).sequence);
    flush();
    return true;
}

void X11WindowSystem::setTaskBarVisible(bool visible) {
    if (!usable())
        return;
    if (!visible) {
        for (WindowId w : clientList(false)) {
            if (!hasType(w, conn_->ewmh._NET_WM_WINDOW_TYPE_DOCK))
                continue;
            xcb_discard_reply(
                conn_->c,
                xcb_unmap_window_checked(conn_->c, static_cast<xcb_window_t>(w)).sequence);
            hiddenDocks_.insert(w);
        }
        flush();
        return;
    }
    // Docks hidden by this process, and any dock left unmapped among the
    // top-level windows (by an earlier run that ended without showing them).
    QSet<WindowId> toShow = hiddenDocks_;
    hiddenDocks_.clear();
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(conn_->c, xcb_query_tree(conn_->c, conn_->root), nullptr);
    if (tree) {
        const xcb_window_t* kids = xcb_query_tree_children(tree);
        const int n = xcb_query_tree_children_length(tree);
        QList<xcb_get_property_cookie_t> types;
        QList<xcb_get_window_attributes_cookie_t> attrs;
        for (int i = 0; i < n; ++i) {
            types << xcb_get_property(conn_->c, 0, kids[i], conn_->ewmh._NET_WM_WINDOW_TYPE,
                                      XCB_ATOM_ATOM, 0, 64);
            attrs << xcb_get_window_attributes(conn_->c, kids[i]);
        }
        for (int i = 0; i < n; ++i) {
            xcb_generic_error_t* e = nullptr;
            PropReply t(xcb_get_property_reply(conn_->c, types[i], &e));
            std::free(e);
            e = nullptr;
            xcb_get_window_attributes_reply_t* a =
                xcb_get_window_attributes_reply(conn_->c, attrs[i], &e);
            std::free(e);
            const bool unmapped = a && a->map_state == XCB_MAP_STATE_UNMAPPED;
            std::free(a);
            if (unmapped && t.ids().contains(conn_->ewmh._NET_WM_WINDOW_TYPE_DOCK))
                toShow.insert(kids[i]);
        }
        std::free(tree);
    }
    for (WindowId w : toShow)
        xcb_discard_reply(conn_->c,
                          xcb_map_window_checked(conn_->c, static_cast<xcb_window_t>(w)).sequence);
    flush();
}

WindowId X11WindowSystem::desktopWindow() {
    if (!usable())
        return 0;
    for (WindowId w : clientList(false))
        if (hasType(w, conn_->ewmh._NET_WM_WINDOW_TYPE_DESKTOP))
            return w;
    return conn_->root;
}

bool X11WindowSystem::grabInput(WindowId w) {
    if (!exists(w))
        return false;
    const auto win = static_cast<xcb_window_t>(w);
    // owner_events: input for the station's own windows (the code box above
    // the lock) reaches them as usual; all other input comes to w.
    const auto kc = xcb_grab_keyboard(conn_->c, 1, win, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                      XCB_GRAB_MODE_ASYNC);
    const auto pc = xcb_grab_pointer(conn_->c, 1, win,
                                     XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                         XCB_EVENT_MASK_POINTER_MOTION,
                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_WINDOW_NONE,
                                     XCB_CURSOR_NONE, XCB_CURRENT_TIME);
    xcb_grab_keyboard_reply_t* kr = xcb_grab_keyboard_reply(conn_->c, kc, nullptr);
    xcb_grab_pointer_reply_t* pr = xcb_grab_pointer_reply(conn_->c, pc, nullptr);
    keyboardGrabbed_ = kr && kr->status == XCB_GRAB_STATUS_SUCCESS;
    pointerGrabbed_ = pr && pr->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(kr);
    std::free(pr);
    return keyboardGrabbed_ && pointerGrabbed_;
}

void X11WindowSystem::releaseInput() {
    if (!conn_->c || xcb_connection_has_error(conn_->c))
        return;
    // Only what this object took: the toolkit's own grabs (an open menu)
    // are not ours to end.
    if (keyboardGrabbed_)
        xcb_ungrab_keyboard(conn_->c, XCB_CURRENT_TIME);
    if (pointerGrabbed_)
        xcb_ungrab_pointer(conn_->c, XCB_CURRENT_TIME);
    keyboardGrabbed_ = pointerGrabbed_ = false;
    // A round trip: once this returns, the server has let go, and a program
    // the customer starts next can take its own grabs.
    std::free(xcb_get_input_focus_reply(conn_->c, xcb_get_input_focus(conn_->c), nullptr));
}

bool X11WindowSystem::setSystemKeysBlocked(bool blocked) {
    // A display that went away has no keymap left to change (and the keymap
    // tool would only wait for it).
    if (displayLost())
        return false;
    return blocked ? serverKeys_.block() : serverKeys_.unblock();
}

bool X11WindowSystem::watchStacking(std::function<void()> changed) {
    if (!changed) {
        watch_.reset();
        return true;
    }
    if (!usable())
        return false;
    if (!watch_) {
        auto w = std::make_unique<Watch>();
        w->c = xcb_connect(displayName_.isEmpty() ? nullptr : displayName_.constData(), nullptr);
        if (!w->c || xcb_connection_has_error(w->c))
            return false;
        // The same screen's root: window ids are the display's, whichever
        // connection names them.
        const uint32_t mask[] = {XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY |
                                 XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_generic_error_t* e = xcb_request_check(
            w->c, xcb_change_window_attributes_checked(w->c, conn_->root, XCB_CW_EVENT_MASK, mask));
        if (e) {
            std::free(e);
            return false;
        }
        w->active = conn_->ewmh._NET_ACTIVE_WINDOW;
        w->stacking = conn_->ewmh._NET_CLIENT_LIST_STACKING;
        w->pace.setSingleShot(true);
        Watch* raw = w.get();
        QObject::connect(&w->pace, &QTimer::timeout, [raw] { raw->call(); });
        w->notifier =
            std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(w->c), QSocketNotifier::Read);
        QObject::connect(w->notifier.get(), &QSocketNotifier::activated, [raw] { raw->drain(); });
        watch_ = std::move(w);
    }
    watch_->changed = std::move(changed);
    return true;
}

quint32 X11WindowSystem::topLevelOf(WindowId w) {
    if (w == 0 || w > 0xFFFFFFFFu)
        return 0;
    auto win = static_cast<xcb_window_t>(w);
    for (int depth = 0; depth < 16; ++depth) {
        xcb_generic_error_t* e = nullptr;
        xcb_query_tree_reply_t* r =
            xcb_query_tree_reply(conn_->c, xcb_query_tree(conn_->c, win), &e);
        std::free(e);
        if (!r)
            return 0;
        const xcb_window_t parent = r->parent;
        std::free(r);
        if (parent == conn_->root)
            return win;
        if (parent == XCB_WINDOW_NONE)
            return 0;
        win = parent;
    }
    return 0;
}

QList<quint32> X11WindowSystem::clientsOf(const QList<quint32>& frames) {
    QList<quint32> found(frames.size(), XCB_WINDOW_NONE);
    QList<QList<xcb_window_t>> frontier;
    for (quint32 f : frames)
        frontier << QList<xcb_window_t>{f};
    // One level of every frame at a time: each level costs one round trip
    // however many frames there are.
    for (int depth = 0; depth <= kFrameDepth; ++depth) {
        QList<QList<xcb_get_property_cookie_t>> states(frames.size());
        QList<QList<xcb_query_tree_cookie_t>> trees(frames.size());
        for (qsizetype i = 0; i < frames.size(); ++i) {
            if (found[i] != XCB_WINDOW_NONE)
                continue;
            for (xcb_window_t w : frontier[i]) {
                states[i] << xcb_get_property(conn_->c, 0, w, atoms_->wmState, XCB_ATOM_ANY, 0, 0);
                trees[i] << xcb_query_tree(conn_->c, w);
            }
        }
        bool open = false;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            QList<xcb_window_t> next;
            for (qsizetype k = 0; k < states[i].size(); ++k) {
                xcb_generic_error_t* e = nullptr;
                PropReply p(xcb_get_property_reply(conn_->c, states[i][k], &e));
                std::free(e);
                e = nullptr;
                xcb_query_tree_reply_t* t = xcb_query_tree_reply(conn_->c, trees[i][k], &e);
                std::free(e);
                if (p.ok() && found[i] == XCB_WINDOW_NONE)
                    found[i] = frontier[i][k];
                if (t) {
                    const xcb_window_t* kids = xcb_query_tree_children(t);
                    const int n = xcb_query_tree_children_length(t);
                    for (int j = 0; j < n && next.size() < kFrameBreadth; ++j)
                        next << kids[j];
                    std::free(t);
                }
            }
            frontier[i] = found[i] == XCB_WINDOW_NONE ? next : QList<xcb_window_t>();
            open = open || !frontier[i].isEmpty();
        }
        if (!open)
            break;
    }
    for (qsizetype i = 0; i < frames.size(); ++i)
        if (found[i] == XCB_WINDOW_NONE)
            found[i] = frames[i];
    return found;
}

std::optional<QList<ScreenWindow>> X11WindowSystem::screenStacking() {
    if (!usable())
        return std::nullopt;
    xcb_generic_error_t* e = nullptr;
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(conn_->c, xcb_query_tree(conn_->c, conn_->root), &e);
    std::free(e);
    if (!tree)
        return std::nullopt;
    // The root's children run from the bottom up: the order the display
    // draws them in, frames and pop-ups alike.
    const xcb_window_t* kids = xcb_query_tree_children(tree);
    const QList<xcb_window_t> children(kids, kids + xcb_query_tree_children_length(tree));
    std::free(tree);
    const xcb_screen_t* screen = nullptr;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(conn_->c)); it.rem; xcb_screen_next(&it))
        if (it.data->root == conn_->root)
            screen = it.data;
    const int width = screen ? screen->width_in_pixels : 0;
    const int height = screen ? screen->height_in_pixels : 0;

    // A window in the display server's own range of ids is no program's:
    // the composite overlay window, which a compositing desktop keeps above
    // everything to paint the others on, is one.
    const xcb_setup_t* setup = xcb_get_setup(conn_->c);
    const auto serverOwned = [setup](xcb_window_t w) {
        return (w & ~setup->resource_id_mask) == 0;
    };
    QList<xcb_get_window_attributes_cookie_t> attrs;
    QList<xcb_get_geometry_cookie_t> geoms;
    attrs.reserve(children.size());
    geoms.reserve(children.size());
    for (xcb_window_t w : children) {
        attrs << xcb_get_window_attributes(conn_->c, w);
        geoms << xcb_get_geometry(conn_->c, w);
    }
    QList<quint32> shown;
    QList<bool> bypass;
    for (qsizetype i = 0; i < children.size(); ++i) {
        e = nullptr;
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(conn_->c, attrs[i], &e);
        std::free(e);
        e = nullptr;
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(conn_->c, geoms[i], &e);
        std::free(e);
        if (a && g && !serverOwned(children[i]) && a->map_state == XCB_MAP_STATE_VIEWABLE &&
            a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT && Intersects(g, width, height)) {
            shown << children[i];
            bypass << bool(a->override_redirect);
        }
        std::free(a);
        std::free(g);
    }

    const bool manager = managerPresent();
    QList<quint32> frames;
    for (qsizetype i = 0; i < shown.size(); ++i)
        if (manager && !bypass[i])
            frames << shown[i];
    const QList<quint32> clients = clientsOf(frames);
    topLevels_.clear();
    QList<ScreenWindow> out;
    out.reserve(shown.size());
    for (qsizetype i = shown.size() - 1, f = frames.size() - 1; i >= 0; --i) {
        ScreenWindow w;
        w.managed = manager && !bypass[i];
        w.id = w.managed ? clients[f--] : shown[i];
        w.sameClient = ownWindow(w.id);
        topLevels_.insert(w.id, shown[i]);
        out << w;
    }
    // Who made each window, from the display server's own record.
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_->c, &xcb_res_id);
    if (ext && ext->present) {
        QList<xcb_res_query_client_ids_cookie_t> ids;
        ids.reserve(out.size());
        for (const ScreenWindow& w : out) {
            xcb_res_client_id_spec_t spec{};
            spec.client = static_cast<uint32_t>(w.id);
            spec.mask = XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID;
            ids << xcb_res_query_client_ids(conn_->c, 1, &spec);
        }
        for (qsizetype i = 0; i < out.size(); ++i) {
            e = nullptr;
            xcb_res_query_client_ids_reply_t* r =
                xcb_res_query_client_ids_reply(conn_->c, ids[i], &e);
            std::free(e);
            if (!r)
                continue;
            for (auto it = xcb_res_query_client_ids_ids_iterator(r); it.rem;
                 xcb_res_client_id_value_next(&it)) {
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                    it.data->length == 4)
                    out[i].pid = *xcb_res_client_id_value_value(it.data);
            }
            std::free(r);
        }
    }
    return out;
}

void X11WindowSystem::putBelow(WindowId w, WindowId under) {
    if (!usable() || w == under)
        return;
    const auto cachedTop = [this](WindowId id) {
        const quint32 top = topLevels_.value(id);
        return top ? top : topLevelOf(id);
    };
    const quint32 top = cachedTop(w);
    const quint32 sibling = cachedTop(under);
    if (!top || !sibling || top == sibling)
        return;
    if (overrideRedirect(top) || !managerPresent()) {
        // Nobody else decides where such a window goes: it goes there now.
        const uint32_t values[] = {sibling, XCB_STACK_MODE_BELOW};
        xcb_discard_reply(conn_->c, xcb_configure_window_checked(conn_->c, top,
                                                                 XCB_CONFIG_WINDOW_SIBLING |
                                                                     XCB_CONFIG_WINDOW_STACK_MODE,
                                                                 values)
                                        .sequence);
    } else {
        // The manager keeps its own order of its windows: it is asked, as a
        // pager would (source 2), with the window to go under.
        sendRootMessage(w, conn_->ewmh._NET_RESTACK_WINDOW, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                        static_cast<quint32>(under), XCB_STACK_MODE_BELOW);
    }
    flush();
}

bool X11CompositingActive(const QByteArray& displayName) {
    int screen = 0;
    xcb_connection_t* c = ConnectDisplay(displayName, &screen);
    if (!c)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
    bool active = false;
    if (atom) {
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
        active = owner && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
        std::free(atom);
    }
    xcb_disconnect(c);
    return active;
}

} // namespace tarvina::platform
