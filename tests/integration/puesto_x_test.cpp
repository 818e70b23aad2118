// The puesto program itself on its own X display (Xvfb with openbox), with a
// cashier played by the test over loopback and a stand-in logind on a
// private bus: what a customer and other programs can and cannot do while
// the station is locked, and what it does once it is granted.
#include "support/FakeCashier.h"
#include "support/Puesto.h"
#include "support/XDisplay.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

namespace {

using tarvina::test::FakeCashier;
using tarvina::test::Puesto;
using tarvina::test::TempDir;
using tarvina::test::XDisplay;

constexpr int kScreenW = 1024;
constexpr int kScreenH = 768;
// A loaded machine (two cores, other builds) may take its time to map and
// answer; every wait is on a condition with this limit.
constexpr int kWait = 30000;

bool Wait(const std::function<bool()>& done, int ms = kWait) {
    return QTest::qWaitFor(done, ms);
}

void WriteText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(text);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// python3-dbusmock's logind on a private bus, with the station's session
// "c7"; every call it gets goes to its log.
class MockLogind {
public:
    bool start(const QString& logPath) {
        log_ = logPath;
        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
        if (!bus_.waitForStarted(5000) || !Wait([&] { return bus_.canReadLine(); }, 10000))
            return false;
        address_ = QString::fromLocal8Bit(bus_.readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        mock_.setProcessEnvironment(env);
        mock_.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"),
                     QStringLiteral("-t"), QStringLiteral("logind"), QStringLiteral("-l"), log_});
        if (!mock_.waitForStarted(5000))
            return false;
        QDBusConnection c = QDBusConnection::connectToBus(address_, QStringLiteral("puesto-x"));
        const bool up = Wait([&] {
            return c.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1"));
        });
        QDBusMessage add = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddSession"));
        add.setArguments(
            {QStringLiteral("c7"), QStringLiteral("seat0"), 1000u, QStringLiteral("ana"), true});
        const bool added = up && c.call(add).type() == QDBusMessage::ReplyMessage;
        QDBusConnection::disconnectFromBus(QStringLiteral("puesto-x"));
        return added;
    }
    ~MockLogind() {
        for (QProcess* p : {&mock_, &bus_}) {
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }
    QString address() const { return address_; }
    QByteArray calls() const { return ReadAll(log_); }

private:
    QProcess bus_, mock_;
    QString address_, log_;
};

// Looks at the display from outside, as another client of the X server.
class XProbe {
public:
    explicit XProbe(const QString& display) {
        c_ = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(c_))
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        active_ = atom("_NET_ACTIVE_WINDOW");
        stacking_ = atom("_NET_CLIENT_LIST_STACKING");
        name_ = atom("_NET_WM_NAME");
        utf8_ = atom("UTF8_STRING");
    }
    ~XProbe() { xcb_disconnect(c_); }
    bool ok() const { return root_ != 0; }

    xcb_window_t active() { return ids(root_, active_).value(0); }
    // Managed windows from the bottom up.
    QList<xcb_window_t> stacking() { return ids(root_, stacking_); }
    QString title(xcb_window_t w) { return QString::fromUtf8(property(w, name_, utf8_)); }
    QByteArray wmClass(xcb_window_t w) {
        const QByteArray b = property(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
        return b.mid(b.indexOf('\0') + 1).split('\0').value(0);
    }
    QRect geometry(xcb_window_t w) {
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
        xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr);
        QRect r;
        if (g && t)
            r = QRect(t->dst_x, t->dst_y, g->width, g->height);
        free(g);
        free(t);
        return r;
    }
    // Keyboard and pointer both held by another client (the lock's grabs):
    // a grab of the probe's own fails. One that succeeds is given back at once.
    bool inputHeldElsewhere() {
        xcb_grab_keyboard_reply_t* k =
            xcb_grab_keyboard_reply(c_,
                                    xcb_grab_keyboard(c_, 0, root_, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        xcb_grab_pointer_reply_t* p = xcb_grab_pointer_reply(
            c_,
            xcb_grab_pointer(c_, 0, root_, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                             XCB_WINDOW_NONE, XCB_CURSOR_NONE, XCB_CURRENT_TIME),
            nullptr);
        const bool held = k && k->status == XCB_GRAB_STATUS_ALREADY_GRABBED && p &&
                          p->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
        if (k && k->status == XCB_GRAB_STATUS_SUCCESS)
            xcb_ungrab_keyboard(c_, XCB_CURRENT_TIME);
        if (p && p->status == XCB_GRAB_STATUS_SUCCESS)
            xcb_ungrab_pointer(c_, XCB_CURRENT_TIME);
        xcb_flush(c_);
        free(k);
        free(p);
        return held;
    }
    // The manager handles what reaches it in order: once it has answered a
    // request sent now (the frame extents of a window of the probe's), it has
    // acted on everything that reached it before.
    bool managerAnswers() {
        const xcb_window_t w = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, root_, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_client_message_event_t m = {};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = w;
        m.type = atom("_NET_REQUEST_FRAME_EXTENTS");
        xcb_send_event(c_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&m));
        const xcb_atom_t extents = atom("_NET_FRAME_EXTENTS");
        const bool answered =
            Wait([&] { return !property(w, extents, XCB_ATOM_CARDINAL).isEmpty(); });
        xcb_destroy_window(c_, w);
        xcb_flush(c_);
        return answered;
    }
    bool viewable(xcb_window_t w) {
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
        const bool v = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        free(a);
        return v;
    }
    // The root's children from the bottom up (frames, override-redirect
    // windows): the real stacking, whatever a manager says.
    QList<xcb_window_t> rootChildren() {
        QList<xcb_window_t> out;
        xcb_query_tree_reply_t* r = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
        if (r) {
            const xcb_window_t* k = xcb_query_tree_children(r);
            for (int i = 0; i < xcb_query_tree_children_length(r); ++i)
                out << k[i];
        }
        free(r);
        return out;
    }
    // The child of the root that holds w (its frame, or w itself).
    xcb_window_t topLevelOf(xcb_window_t w) {
        for (int depth = 0; w && depth < 16; ++depth) {
            xcb_query_tree_reply_t* r = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr);
            const xcb_window_t parent = r ? r->parent : 0;
            free(r);
            if (parent == root_ || parent == 0)
                return w;
            w = parent;
        }
        return w;
    }
    // Every window of the tree (to depth 3) whose WM_CLASS class is cls.
    QList<xcb_window_t> windowsOf(const QByteArray& cls) {
        QList<xcb_window_t> out;
        collect(root_, cls, 0, &out);
        return out;
    }

private:
    void collect(xcb_window_t w, const QByteArray& cls, int depth, QList<xcb_window_t>* out) {
        xcb_query_tree_reply_t* r = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr);
        if (!r)
            return;
        const xcb_window_t* k = xcb_query_tree_children(r);
        const int n = xcb_query_tree_children_length(r);
        QList<xcb_window_t> kids(k, k + n);
        free(r);
        for (xcb_window_t child : kids) {
            if (wmClass(child) == cls)
                *out << child;
            else if (depth < 3)
                collect(child, cls, depth + 1, out);
        }
    }
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        free(r);
        return a;
    }
    QByteArray property(xcb_window_t w, xcb_atom_t p, xcb_atom_t type) {
        xcb_get_property_reply_t* r =
            xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, p, type, 0, 4096), nullptr);
        QByteArray out;
        if (r)
            out = QByteArray(static_cast<const char*>(xcb_get_property_value(r)),
                             xcb_get_property_value_length(r));
        free(r);
        return out;
    }
    QList<xcb_window_t> ids(xcb_window_t w, xcb_atom_t p) {
        const QByteArray b = property(w, p, XCB_ATOM_WINDOW);
        QList<xcb_window_t> out;
        for (int i = 0; i + 4 <= b.size(); i += 4)
            out << *reinterpret_cast<const xcb_window_t*>(b.constData() + i);
        return out;
    }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t active_ = 0, stacking_ = 0, name_ = 0, utf8_ = 0;
};

class PuestoOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Puesto::Built())
            GTEST_SKIP() << "puesto is not built";
        for (const char* tool : {"Xvfb", "openbox", "xdotool", "xterm", "dbus-daemon"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        XDisplay::Options o;
        o.width = kScreenW;
        o.height = kScreenH;
        display = std::make_unique<XDisplay>(o);
        ASSERT_TRUE(display->ok()) << display->error().toStdString();
        probe = std::make_unique<XProbe>(display->display());
        ASSERT_TRUE(probe->ok());
        ASSERT_TRUE(logind.start(scratch.file(QStringLiteral("logind.log"))));
        ASSERT_NE(cashier.port(), 0);
        // The logind that would end the session is the stand-in.
        station.env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), logind.address());
        station.env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), logind.address());
        station.env.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("c7"));
    }
    void TearDown() override {
        for (QProcess* p : others) {
            p->kill();
            p->waitForFinished(5000);
            delete p;
        }
        others.clear();
    }

    void startPuesto() {
        ASSERT_TRUE(station.start(cashier.port(), display->environment()));
        ASSERT_TRUE(cashier.accept()) << output();
        ASSERT_TRUE(Wait([&] { return lock() != 0; })) << "no lock window";
    }
    std::string output() { return station.output(); }
    // Other programs of the station's desktop, with the station's
    // environment.
    QProcess* startOther(const QString& program, const QStringList& args) {
        auto* p = new QProcess;
        others << p;
        p->setProcessEnvironment(puesto.processEnvironment());
        p->start(program, args);
        return p;
    }

    // The station's windows: the lock covers the screen; the main window's
    // title carries the state ("PC[bloqueado]").
    QList<xcb_window_t> own() { return probe->windowsOf("puesto"); }
    xcb_window_t lock() {
        for (xcb_window_t w : own())
            if (probe->viewable(w) && probe->geometry(w) == QRect(0, 0, kScreenW, kScreenH))
                return w;
        return 0;
    }
    xcb_window_t titled(const QString& part) {
        for (xcb_window_t w : own())
            if (probe->viewable(w) && probe->title(w).contains(part))
                return w;
        return 0;
    }
    xcb_window_t mainWindow() { return titled(QStringLiteral("[")); }
    // The small clock: the station's only short window.
    xcb_window_t clockWindow() {
        for (xcb_window_t w : own())
            if (probe->viewable(w) && probe->geometry(w).height() < 40)
                return w;
        return 0;
    }
    bool ownActive() { return own().contains(probe->active()); }
    // Stacking index among the root's children (higher is above).
    int level(xcb_window_t w) { return int(probe->rootChildren().indexOf(probe->topLevelOf(w))); }

    int xdo(const QStringList& args) { return display->run(QStringLiteral("xdotool"), args); }

    // An xterm whose typed text goes to a file; its window once mapped.
    xcb_window_t startXterm(const QString& file) {
        startOther(QStringLiteral("xterm"),
                   {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                    QStringLiteral("cat > ") + file});
        xcb_window_t w = 0;
        Wait([&] {
            for (xcb_window_t x : probe->windowsOf("XTerm"))
                if (probe->viewable(x))
                    w = x;
            return w != 0;
        });
        return w;
    }
    void activate(xcb_window_t w) { xdo({QStringLiteral("windowactivate"), QString::number(w)}); }
    // The cashier's grant, its welcome accepted with Enter: the desktop free.
    void grant() {
        cashier.send("0430,Ana,");
        ASSERT_TRUE(Wait([&] {
            const xcb_window_t w = titled(QStringLiteral("Bienvenido"));
            return w && probe->active() == w;
        })) << output();
        xdo({QStringLiteral("key"), QStringLiteral("Return")});
        ASSERT_EQ(cashier.line("R04"), "R04Ana");
        ASSERT_TRUE(Wait([&] { return lock() == 0; }));
    }
    // The terminal's file once a last line typed on a free desktop is in it:
    // the terminal takes its keys in order, so whatever reached it before is
    // in the file ahead of that line.
    QByteArray typedWithLastLine(xcb_window_t xterm, const QString& file) {
        activate(xterm);
        if (!Wait([&] { return probe->active() == xterm; }))
            return "(the terminal never came to the front)";
        xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
             QStringLiteral("fin")});
        xdo({QStringLiteral("key"), QStringLiteral("Return")});
        Wait([&] { return ReadAll(file).endsWith("fin\n"); }, 10000);
        return ReadAll(file);
    }

    // How long w keeps the front after it is activated; -1 when it never
    // came to the front, and the limit when it kept it.
    qint64 frontTime(xcb_window_t w, int limitMs = 10000) {
        activate(w);
        QElapsedTimer t;
        t.start();
        qint64 since = -1;
        while (t.elapsed() < limitMs) {
            const bool front = probe->active() == w;
            if (front && since < 0)
                since = t.elapsed();
            if (!front && since >= 0)
                return t.elapsed() - since;
            QTest::qWait(20);
        }
        return since < 0 ? -1 : limitMs;
    }

    bool shot(const QString& name, QImage* out) {
        const QString path = scratch.file(name);
        if (!display->screenshot(path))
            return false;
        // Kept for a person to look at when the run asks for it.
        const QString keep = qEnvironmentVariable("TARVINA_TEST_SHOTS");
        if (!keep.isEmpty()) {
            QDir().mkpath(keep);
            QFile::remove(keep + u'/' + name);
            QFile::copy(path, keep + u'/' + name);
        }
        *out = QImage(path);
        return !out->isNull();
    }

    TempDir scratch;
    std::unique_ptr<XDisplay> display;
    std::unique_ptr<XProbe> probe;
    MockLogind logind;
    FakeCashier cashier;
    Puesto station;
    QProcess& puesto = station.process;
    QList<QProcess*> others;
};

bool Black(const QImage& img, int x, int y) {
    return (img.pixel(x, y) & 0xFFFFFF) == 0;
}

TEST_F(PuestoOnX, CodeTypedAtThePanelAboveTheLockReachesTheCashier) {
    startPuesto();
    cashier.send("401");
    // The main window with the code box comes above the lock and takes the
    // keys, whatever order the window manager mapped them in.
    ASSERT_TRUE(Wait([&] {
        const xcb_window_t m = mainWindow();
        return m && probe->active() == m && level(m) > level(lock()) &&
               probe->geometry(m).height() > 200;
    })) << output();

    QImage img;
    const QRect m = probe->geometry(mainWindow());
    ASSERT_TRUE(Wait([&] {
        return shot(QStringLiteral("pin-panel.png"), &img) &&
               !Black(img, m.center().x(), m.center().y());
    }));
    // The lock covers the screen (black to the corners); the panel shows on
    // it.
    for (const QPoint p :
         {QPoint(0, 0), QPoint(kScreenW - 1, kScreenH - 1), QPoint(0, kScreenH - 1)})
        EXPECT_TRUE(Black(img, p.x(), p.y())) << p.x() << "," << p.y();

    xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"),
         QStringLiteral("a1b2c3")});
    xdo({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_EQ(cashier.line("R38"), "R38A1B2C3");

    // Refused: the box takes keys again. A click on the lock gives it the
    // focus for a moment; what is typed then still reaches the box.
    cashier.send("390A1B2C3");
    ASSERT_TRUE(Wait([&] { return probe->active() == mainWindow(); }));
    xdo({QStringLiteral("mousemove"), QStringLiteral("5"), QStringLiteral("700"),
         QStringLiteral("click"), QStringLiteral("1")});
    xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"),
         QStringLiteral("0f")});
    xdo({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_EQ(cashier.line("R38"), "R380F");
    EXPECT_TRUE(Wait([&] { return level(mainWindow()) > level(lock()); }));
}

TEST_F(PuestoOnX, OtherProgramsNeverKeepTheFrontNorTheKeysWhileLocked) {
    startPuesto();
    const QString typed = scratch.file(QStringLiteral("typed.txt"));
    const xcb_window_t xterm = startXterm(typed);
    ASSERT_NE(xterm, 0u);
    ASSERT_TRUE(Wait([&] { return ownActive() && level(lock()) > level(xterm); }));

    // What a customer sees: black to the corners, the main window drawn on
    // it.
    QImage img;
    const QRect m = probe->geometry(mainWindow());
    ASSERT_TRUE(Wait([&] {
        return shot(QStringLiteral("locked.png"), &img) &&
               !Black(img, m.center().x(), m.center().y());
    }));
    EXPECT_TRUE(Black(img, 0, 0));
    EXPECT_TRUE(Black(img, kScreenW - 1, kScreenH - 1));

    // Activated by another client: back behind the lock within a tick of a
    // second (and a loaded machine's delay).
    for (int i = 0; i < 3; ++i) {
        const qint64 kept = frontTime(xterm);
        EXPECT_LT(kept, 2500) << "round " << i;
        EXPECT_TRUE(Wait([&] { return ownActive(); }, 5000));
    }
    // Typing while it is in front reaches it never: the keyboard is held.
    activate(xterm);
    xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
         QStringLiteral("hola")});
    xdo({QStringLiteral("key"), QStringLiteral("Return")});
    xdo({QStringLiteral("key"), QStringLiteral("--window"), QString::number(xterm),
         QStringLiteral("h"), QStringLiteral("Return")});

    // The window manager's own keys and mouse bindings see nothing.
    const xcb_window_t lockBefore = lock();
    const xcb_window_t mainBefore = mainWindow();
    // Held: what follows can reach neither the manager nor the terminal.
    ASSERT_TRUE(Wait([&] { return ownActive() && probe->inputHeldElsewhere(); })) << output();
    xdo({QStringLiteral("key"), QStringLiteral("alt+Tab")});
    xdo({QStringLiteral("key"), QStringLiteral("alt+F4")});
    xdo({QStringLiteral("mousemove"), QStringLiteral("200"), QStringLiteral("200"),
         QStringLiteral("keydown"), QStringLiteral("alt"), QStringLiteral("mousedown"),
         QStringLiteral("1"), QStringLiteral("mousemove"), QStringLiteral("500"),
         QStringLiteral("500"), QStringLiteral("mouseup"), QStringLiteral("1"),
         QStringLiteral("keyup"), QStringLiteral("alt")});
    // The input held all along. Once the manager has answered a request sent
    // after it, and the station a query sent after that, whatever of it
    // reached either has been acted on.
    EXPECT_TRUE(probe->inputHeldElsewhere());
    ASSERT_TRUE(probe->managerAnswers());
    cashier.send("01");
    ASSERT_FALSE(cashier.line("R01").isNull()) << output();
    EXPECT_EQ(lock(), lockBefore);
    EXPECT_EQ(probe->geometry(lockBefore), QRect(0, 0, kScreenW, kScreenH));
    EXPECT_EQ(mainWindow(), mainBefore);
    EXPECT_TRUE(ownActive());
    EXPECT_GT(level(lockBefore), level(xterm));
    EXPECT_EQ(puesto.state(), QProcess::Running);
    EXPECT_EQ(ReadAll(typed), QByteArray());
    // Nothing typed while locked reached the terminal, not even late.
    ASSERT_NO_FATAL_FAILURE(grant());
    EXPECT_EQ(typedWithLastLine(xterm, typed), "fin\n");
}

TEST_F(PuestoOnX, GrantFreesTheDesktopAndTheEndOfTimeLocksItAgain) {
    startPuesto();
    const QString typed = scratch.file(QStringLiteral("typed.txt"));
    const xcb_window_t xterm = startXterm(typed);
    ASSERT_NE(xterm, 0u);

    // The welcome dialog comes to the front; Enter accepts it.
    ASSERT_NO_FATAL_FAILURE(grant());

    // The customer's program keeps the front and the keys; the clock stays
    // above it.
    EXPECT_EQ(frontTime(xterm, 3000), 3000);
    xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
         QStringLiteral("hola")});
    xdo({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_TRUE(Wait([&] { return ReadAll(typed) == "hola\n"; }, 10000)) << ReadAll(typed).data();
    xcb_window_t clock = 0;
    for (xcb_window_t w : own())
        if (probe->viewable(w) && probe->geometry(w).height() < 40)
            clock = w;
    ASSERT_NE(clock, 0u);
    EXPECT_TRUE(Wait([&] { return level(clock) > level(xterm); }, 5000));

    // The cashier ends the time: locked again, everything held.
    cashier.send("08");
    EXPECT_FALSE(cashier.line("R021").isEmpty());
    ASSERT_TRUE(Wait([&] { return lock() != 0 && ownActive(); }));
    EXPECT_LT(frontTime(xterm), 2500);
    ASSERT_TRUE(Wait([&] { return probe->inputHeldElsewhere(); })) << "locked but not held";
    activate(xterm);
    xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
         QStringLiteral("otra")});
    xdo({QStringLiteral("key"), QStringLiteral("Return")});
    // Held while typed; granted again, what is typed reaches the terminal,
    // after anything of before that did.
    EXPECT_TRUE(probe->inputHeldElsewhere());
    ASSERT_NO_FATAL_FAILURE(grant());
    EXPECT_EQ(typedWithLastLine(xterm, typed), "hola\nfin\n");
}

TEST_F(PuestoOnX, WindowThatKeepsTheFrontForThirtySixTicksEndsTheSession) {
    startPuesto();
    const xcb_window_t xterm = startXterm(scratch.file(QStringLiteral("typed.txt")));
    ASSERT_NE(xterm, 0u);
    ASSERT_TRUE(Wait([&] { return ownActive(); }));
    // Another client that takes the front back ten times a second.
    startOther(QStringLiteral("sh"),
               {QStringLiteral("-c"),
                QStringLiteral("while :; do xdotool windowactivate %1 >/dev/null 2>&1; "
                               "sleep 0.1; done")
                    .arg(xterm)});
    QElapsedTimer t;
    t.start();
    ASSERT_EQ(cashier.line("R14", 120000), "R14") << output();
    // Counted once a second: not before the thirty-sixth tick.
    EXPECT_GE(t.elapsed(), 34000);
    EXPECT_EQ(cashier.block(), "El bloqueo no se hace efectivo");
    const QByteArray tasks = cashier.line("R45");
    EXPECT_TRUE(
        tasks.startsWith("R45" + QByteArray::number(xterm, 16).toUpper().rightJustified(8, '0')))
        << tasks.data();
    // The customer's session is ended through logind.
    EXPECT_TRUE(Wait([&] { return logind.calls().contains("Terminate"); }))
        << logind.calls().data();
}

// A program that wants to be seen above the lock, on a connection of its
// own: a full-screen window that either goes through the window manager
// (kept above, full screen, activating itself) or bypasses it.
class Hostile {
public:
    enum Kind { Managed, Raiser, Remapper, Passive };
    Hostile(const QString& display, Kind kind) : kind_(kind) {
        c_ = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = s->root;
        id_ = xcb_generate_id(c_);
        const uint32_t values[] = {s->white_pixel, kind == Managed ? 0u : 1u};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id_, root_, 0, 0, kScreenW, kScreenH, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        if (kind == Managed) {
            const QByteArray cls("pelicula\0Pelicula\0", 18);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                                8, uint32_t(cls.size()), cls.constData());
            const xcb_atom_t states[] = {atom("_NET_WM_STATE_ABOVE"),
                                         atom("_NET_WM_STATE_FULLSCREEN")};
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, id_, atom("_NET_WM_STATE"),
                                XCB_ATOM_ATOM, 32, 2, states);
        }
        xcb_map_window(c_, id_);
        sync();
    }
    ~Hostile() { xcb_disconnect(c_); }
    Hostile(const Hostile&) = delete;
    Hostile& operator=(const Hostile&) = delete;
    xcb_window_t id() const { return id_; }

    // Its try to stand above everything: raised (through the manager, and
    // activated, when managed); mapped again when it finds itself lowered
    // under `lockTop`; nothing for the passive one.
    void tryAgain(const QList<xcb_window_t>& rootChildren, xcb_window_t ownTop,
                  xcb_window_t lockTop) {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        switch (kind_) {
        case Managed: {
            xcb_client_message_event_t m = {};
            m.response_type = XCB_CLIENT_MESSAGE;
            m.format = 32;
            m.window = id_;
            m.type = atom("_NET_ACTIVE_WINDOW");
            m.data.data32[0] = 2;
            xcb_send_event(c_, 0, root_,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                               XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char*>(&m));
            xcb_configure_window(c_, id_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
            break;
        }
        case Raiser:
            xcb_configure_window(c_, id_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
            break;
        case Remapper:
            if (rootChildren.indexOf(ownTop) < rootChildren.indexOf(lockTop)) {
                xcb_unmap_window(c_, id_);
                xcb_map_window(c_, id_);
            }
            break;
        case Passive:
            break;
        }
        xcb_flush(c_);
    }
    void sync() { free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        free(r);
        return a;
    }
    Kind kind_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0, id_ = 0;
};

TEST_F(PuestoOnX, NoWindowOfAnotherProgramStaysAboveTheLock) {
    startPuesto();
    ASSERT_NO_FATAL_FAILURE(grant());
    // The customer's programs, on the free desktop: a film kept above and
    // full screen, a pop-up that bypasses the window manager, one that maps
    // itself again whenever it is lowered.
    Hostile film(display->display(), Hostile::Managed);
    Hostile popup(display->display(), Hostile::Raiser);
    Hostile remapper(display->display(), Hostile::Remapper);
    ASSERT_TRUE(Wait([&] {
        return probe->viewable(film.id()) && probe->viewable(popup.id()) &&
               probe->viewable(remapper.id());
    }));

    // The time ends; as the lock comes up, one more is made above it.
    cashier.send("08");
    xcb_window_t lockWindow = 0;
    ASSERT_TRUE(Wait([&] { return (lockWindow = lock()) != 0; })) << output();
    Hostile late(display->display(), Hostile::Passive);
    const QList<Hostile*> hostiles{&film, &popup, &remapper, &late};
    const xcb_window_t lockTop = probe->topLevelOf(lockWindow);
    QList<xcb_window_t> tops;
    for (Hostile* h : hostiles)
        tops << probe->topLevelOf(h->id());

    // Every 100 ms each of them tries again; 90 ms later one reading of the
    // stacking (the root's children, one request) must find the lock above
    // all four: put back every time within that time, for three seconds.
    const char* names[] = {"film", "popup", "remapper", "late"};
    QStringList covered;
    QElapsedTimer t;
    t.start();
    for (int cycle = 0; cycle < 30; ++cycle) {
        while (t.elapsed() < cycle * 100)
            QTest::qWait(2);
        const QList<xcb_window_t> before = probe->rootChildren();
        for (qsizetype i = 0; i < hostiles.size(); ++i)
            hostiles[i]->tryAgain(before, tops[i], lockTop);
        const qint64 tried = t.elapsed();
        while (t.elapsed() < tried + 90)
            QTest::qWait(2);
        const QList<xcb_window_t> now = probe->rootChildren();
        for (qsizetype i = 0; i < hostiles.size(); ++i)
            if (now.indexOf(tops[i]) > now.indexOf(lockTop))
                covered << QStringLiteral("%1 at %2 ms")
                               .arg(QString::fromLatin1(names[i]))
                               .arg(t.elapsed());
    }
    EXPECT_EQ(covered.join(u", ").toStdString(), "") << output();
    // The lock was found above them: it did not go away, and it still holds
    // the keyboard and the pointer.
    EXPECT_EQ(lock(), lockWindow);
    EXPECT_TRUE(probe->inputHeldElsewhere());
    EXPECT_EQ(puesto.state(), QProcess::Running);
}

TEST_F(PuestoOnX, DoubleClickOnTheClockShowsTheMainWindowAboveTheLock) {
    startPuesto();
    ASSERT_TRUE(Wait([&] {
        const xcb_window_t m = mainWindow();
        return m && level(m) > level(lock());
    })) << output();
    const xcb_window_t clock = clockWindow();
    ASSERT_NE(clock, 0u);
    const QPoint at = probe->geometry(clock).center();
    const auto doubleClick = [&] {
        xdo({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
             QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
             QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
    };
    doubleClick();
    ASSERT_TRUE(Wait([&] { return mainWindow() == 0; })) << "a double click hides it";
    // When in the next 2.5 s (two ticks) the lock covered m.
    const auto coveredAt = [&](xcb_window_t m) {
        QElapsedTimer t;
        t.start();
        QStringList covered;
        while (t.elapsed() < 2500) {
            if (level(m) < level(lock()))
                covered << QString::number(t.elapsed());
            QTest::qWait(40);
        }
        return covered.join(u' ').toStdString();
    };
    // Shown again: above the lock from the moment it shows, through the
    // button release that ends the double click and the ticks after it.
    for (int round = 0; round < 3; ++round) {
        doubleClick();
        xcb_window_t m = 0;
        ASSERT_TRUE(Wait([&] { return (m = mainWindow()) != 0; })) << "round " << round;
        EXPECT_EQ(coveredAt(m), "") << "round " << round;
        // A single click (its press and its release) leaves it above too.
        xdo({QStringLiteral("click"), QStringLiteral("1")});
        EXPECT_EQ(coveredAt(m), "") << "round " << round << ", one click";
        doubleClick();
        ASSERT_TRUE(Wait([&] { return mainWindow() == 0; }));
    }
}

TEST_F(PuestoOnX, LogosChangedWhileRunningArePutBackAtTheOrderlyClose) {
    // The greeter's picture (start) and the splash theme's (shut-down), in
    // the test's own folders; larger than one block of the comparison.
    const QString greeter = scratch.file(QStringLiteral("pictures/greeter.png"));
    const QString splash = scratch.file(QStringLiteral("pictures/theme/watermark.png"));
    const QByteArray startPicture = "PNG-start-" + QByteArray(30000, 's');
    const QByteArray splashPicture = "PNG-splash-" + QByteArray(30000, 'p');
    WriteText(greeter, startPicture);
    WriteText(splash, splashPicture);
    WriteText(scratch.file(QStringLiteral("greeter.conf")),
              "[greeter]\nbackground=" + greeter.toUtf8() + "\n");
    WriteText(scratch.file(QStringLiteral("tema.plymouth")),
              "[Plymouth Theme]\nName=Prueba\nModuleName=two-step\n\n[two-step]\nImageDir=" +
                  QFileInfo(splash).path().toUtf8() + "\n");
    station.env.insert(QStringLiteral("TARVINA_GREETER_CONF"),
                       scratch.file(QStringLiteral("greeter.conf")));
    station.env.insert(QStringLiteral("TARVINA_PLYMOUTH_THEME"),
                       scratch.file(QStringLiteral("tema.plymouth")));
    startPuesto();

    // Protection on from the cashier: the copies are taken.
    const QString startCopy = station.home() + QStringLiteral("/Logos/logo.sys");
    const QString splashCopy = station.home() + QStringLiteral("/Logos/logos.sys");
    cashier.send("281");
    ASSERT_TRUE(Wait([&] {
        return ReadAll(startCopy) == startPicture && ReadAll(splashCopy) == splashPicture;
    })) << output();

    // Changed while the station runs: the start picture deleted, one byte of
    // the splash picture past the first block. Protection set on again does
    // not take the changed picture as its copy.
    ASSERT_TRUE(QFile::remove(greeter));
    QByteArray changed = splashPicture;
    changed[25000] = 'X';
    WriteText(splash, changed);
    cashier.send("281");
    cashier.send("21");
    ASSERT_FALSE(cashier.line("R21").isNull());
    EXPECT_EQ(ReadAll(splashCopy), splashPicture);

    // The orderly close (the system ends the session): both put back, the
    // cashier told of each; the copies stay for the next close.
    puesto.terminate();
    EXPECT_EQ(cashier.line("R13El logotipo de windows"),
              "R13El logotipo de windows est\xe1 siendo restitu\xed"
              "do");
    EXPECT_EQ(cashier.line("R13El logotipo de apagado"),
              "R13El logotipo de apagado de windows (logos) est\xe1 siendo restitu\xed"
              "do");
    ASSERT_TRUE(puesto.waitForFinished(kWait)) << output();
    EXPECT_EQ(puesto.exitCode(), 0) << output();
    EXPECT_EQ(ReadAll(greeter), startPicture);
    EXPECT_EQ(ReadAll(splash), splashPicture);
    EXPECT_EQ(ReadAll(startCopy), startPicture);
    EXPECT_EQ(ReadAll(splashCopy), splashPicture);
}

TEST_F(PuestoOnX, ScheduledShutDownPowersOffThroughLogind) {
    startPuesto();
    QElapsedTimer t;
    t.start();
    cashier.send("035,A");
    ASSERT_TRUE(Wait([&] { return logind.calls().contains("PowerOff"); })) << logind.calls().data();
    EXPECT_GE(t.elapsed(), 4000);
    // Carried out: the station closes in order by itself.
    ASSERT_TRUE(puesto.waitForFinished(kWait)) << output();
    EXPECT_EQ(puesto.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(puesto.exitCode(), 0) << output();
}

} // namespace

namespace {

// "written" (offset 8), user (57, length-prefixed) and state (313) of the
// session file.
struct SavedSession {
    double written = 0;
    QByteArray user;
    int state = -1;
};
SavedSession ReadSession(const QString& path) {
    const QByteArray b = ReadAll(path);
    SavedSession s;
    if (b.size() < 384)
        return s;
    s.written = qFromLittleEndian<double>(b.constData() + 8);
    s.user = b.mid(58, quint8(b[57]));
    s.state = quint8(b[313]);
    return s;
}

TEST_F(PuestoOnX, DisplayThatGoesAwaySavesTheSessionAndEndsInOrder) {
    startPuesto();
    ASSERT_NO_FATAL_FAILURE(grant());
    const QString file = station.home() + QStringLiteral("/Data/session.dta");
    ASSERT_TRUE(Wait([&] { return ReadSession(file).state == 2; }));
    const double granted = ReadSession(file).written;
    // Saved in use; now time passes, so that a save at the end bears a later
    // stamp than this one.
    QTest::qWait(2000);

    // The X server ends under the running station.
    probe.reset();
    display.reset();
    ASSERT_TRUE(puesto.waitForFinished(kWait)) << "still running without a display";
    EXPECT_EQ(puesto.exitStatus(), QProcess::NormalExit) << output();
    // Not the orderly close of a customer or the system (those end with 0):
    // the guardian may start it again.
    EXPECT_EQ(puesto.exitCode(), 1) << output();
    const SavedSession saved = ReadSession(file);
    EXPECT_EQ(saved.state, 2);
    EXPECT_EQ(saved.user, "Ana");
    EXPECT_GT(saved.written, granted + 1.0 / 86400) << "not saved at the end";
    // The settings are written back as at every close.
    EXPECT_TRUE(
        ReadAll(station.registry() + QStringLiteral("/machine.reg")).contains("\"AlphaBlend\""));
}

} // namespace
