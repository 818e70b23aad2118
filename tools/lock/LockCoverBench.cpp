// lock-cover-bench: how long a window of another program stays above the
// lock before the lock's watch puts it back under. Not a test: it prints
// figures.
//
// On a private display with openbox, a full-screen lock (a window of this
// program, kept on top, as the station's) watches the stacking through the
// X11 back end, as the station does, and puts every window of another
// connection that stands above it right under it. Another thread plays the
// hostile program on a connection of its own: it raises its window (one that
// bypasses the window manager, then one the manager keeps above), and times
// how long it stays above the lock, by reading the root's children in a
// tight loop; each try waits 20 ms after the last.
//
//   lock-cover-bench [--rounds N]
#include "platform/linux/X11WindowSystem.h"
#include "support/XDisplay.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>
#include <xcb/xcb.h>

using namespace tarvina;
using platform::WindowId;

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

QList<xcb_window_t> RootChildren(xcb_connection_t* c, xcb_window_t root) {
    QList<xcb_window_t> out;
    if (auto* r = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr)) {
        const xcb_window_t* k = xcb_query_tree_children(r);
        out = QList<xcb_window_t>(k, k + xcb_query_tree_children_length(r));
        std::free(r);
    }
    return out;
}

xcb_window_t TopLevelOf(xcb_connection_t* c, xcb_window_t root, xcb_window_t w) {
    for (int depth = 0; w && depth < 16; ++depth) {
        auto* r = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        const xcb_window_t parent = r ? r->parent : 0;
        std::free(r);
        if (parent == root || parent == 0)
            return w;
        w = parent;
    }
    return w;
}

// Milliseconds each raise of a window kept it above the lock's top-level
// window; negative when it never got above (it counts as nothing).
std::vector<double> Hostile(const QString& display, xcb_window_t lock, bool managed, int rounds) {
    std::vector<double> out;
    xcb_connection_t* c = xcb_connect(qPrintable(display), nullptr);
    const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t values[] = {s->white_pixel, managed ? 0u : 1u};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, 0, 0, 800, 600, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    if (managed) {
        const xcb_atom_t above = Atom(c, "_NET_WM_STATE_ABOVE");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, Atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM,
                            32, 1, &above);
    }
    xcb_map_window(c, w);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    const xcb_window_t lockTop = TopLevelOf(c, s->root, lock);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const xcb_window_t top = TopLevelOf(c, s->root, w);
    for (int i = 0; i < rounds; ++i) {
        const uint32_t mode = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, w, XCB_CONFIG_WINDOW_STACK_MODE, &mode);
        xcb_flush(c);
        QElapsedTimer t;
        t.start();
        bool wasAbove = false;
        for (;;) {
            const QList<xcb_window_t> kids = RootChildren(c, s->root);
            const bool above = kids.indexOf(top) > kids.indexOf(lockTop);
            wasAbove = wasAbove || above;
            if ((wasAbove && !above) || t.elapsed() > 2000)
                break;
            // A raise that the manager refused never shows: 50 ms is
            // enough to say so.
            if (!wasAbove && t.elapsed() > 50)
                break;
        }
        out.push_back(wasAbove ? t.nsecsElapsed() / 1e6 : -1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xcb_disconnect(c);
    return out;
}

void Print(const char* what, std::vector<double> ms) {
    const auto raised = std::partition(ms.begin(), ms.end(), [](double v) { return v >= 0; });
    const size_t n = size_t(raised - ms.begin());
    if (n == 0) {
        std::printf("%-44s never above the lock in %zu raises\n", what, ms.size());
        return;
    }
    std::sort(ms.begin(), raised);
    std::printf("%-44s %zu raises  median %6.2f ms  p99 %6.2f ms  max %6.2f ms\n", what, n,
                ms[n / 2], ms[std::min(n - 1, n * 99 / 100)], ms[n - 1]);
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 200;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    test::XDisplay::Options o;
    o.width = 800;
    o.height = 600;
    test::XDisplay display(o);
    if (!display.ok()) {
        std::fprintf(stderr, "no display: %s\n", qPrintable(display.error()));
        return 1;
    }
    display.applyToThisProcess();
    // The toolkit wants a private run-time folder.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return 1;
    platform::X11WindowSystem ws(x11->connection(), 0, display.display().toLocal8Bit());
    QWidget lock;
    lock.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    lock.setGeometry(0, 0, 800, 600);
    lock.show();
    if (!QTest::qWaitForWindowExposed(&lock, 30000))
        return 1;
    const WindowId lockId = lock.winId();
    // The station's rule, less what only the station knows of itself: every
    // window above the lock that is not of this connection goes under it.
    ws.watchStacking([&] {
        const auto screen = ws.screenStacking();
        if (!screen)
            return;
        for (const platform::ScreenWindow& w : *screen) {
            if (w.id == lockId)
                break;
            if (!w.sameClient)
                ws.putBelow(w.id, lockId);
        }
    });
    std::printf("lock-cover-bench: %d raises each, one every 20 ms after the last\n", rounds);
    for (const bool managed : {false, true}) {
        std::atomic<bool> done{false};
        std::vector<double> ms;
        std::thread t([&] {
            ms = Hostile(display.display(), static_cast<xcb_window_t>(lockId), managed, rounds);
            done = true;
        });
        while (!done)
            QTest::qWait(5);
        t.join();
        Print(managed ? "managed window kept above, raised:" : "override-redirect window, raised:",
              ms);
    }
    ws.watchStacking(nullptr);
    return 0;
}
