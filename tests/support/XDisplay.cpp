#include "support/XDisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

extern char** environ;

namespace tarvina::test {

namespace {

// Reads one line from a pipe that a starting server writes its address or
// display number to; empty on time-out or when the writer died first.
QString ReadLine(int fd, int timeoutMs) {
    QByteArray line;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        const int left = int(timeoutMs - t.elapsed());
        const int r = ::poll(&p, 1, left > 0 ? left : 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n')
            return QString::fromLocal8Bit(line);
        line.append(c);
        if (line.size() > 4096)
            break;
    }
    return {};
}

std::vector<QByteArray> EnvironmentBlock(const QProcessEnvironment& env) {
    std::vector<QByteArray> out;
    for (const QString& key : env.keys())
        out.push_back((key + QLatin1Char('=') + env.value(key)).toLocal8Bit());
    return out;
}

bool EndChild(pid_t pid, int signal, int timeoutMs) {
    ::kill(pid, signal);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

} // namespace

XDisplay::XDisplay() : XDisplay(Options()) {}

XDisplay::XDisplay(const Options& options) : options_(options) {
    int fds[2];
    if (::pipe(fds) != 0) {
        error_ = QStringLiteral("pipe: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const QString screen = QStringLiteral("%1x%2x24").arg(options_.width).arg(options_.height);
    const pid_t xvfb =
        spawn({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QString::number(fds[1]),
               QStringLiteral("-screen"), QStringLiteral("0"), screen, QStringLiteral("-nolisten"),
               QStringLiteral("tcp"), QStringLiteral("-noreset")},
              fds[1]);
    ::close(fds[1]);
    const QString number = xvfb > 0 ? ReadLine(fds[0], 15000) : QString();
    ::close(fds[0]);
    if (number.isEmpty()) {
        error_ = QStringLiteral("Xvfb did not start");
        stopAll();
        return;
    }
    display_ = QLatin1Char(':') + number.trimmed();

    if (options_.accessibility) {
        int bus[2];
        if (::pipe(bus) != 0) {
            error_ = QStringLiteral("pipe for the session bus");
            stopAll();
            return;
        }
        ::fcntl(bus[0], F_SETFD, FD_CLOEXEC);
        const pid_t daemon =
            spawn({QStringLiteral("dbus-daemon"), QStringLiteral("--session"),
                   QStringLiteral("--nofork"), QStringLiteral("--print-address=%1").arg(bus[1])},
                  bus[1]);
        ::close(bus[1]);
        busAddress_ = daemon > 0 ? ReadLine(bus[0], 15000).trimmed() : QString();
        ::close(bus[0]);
        if (busAddress_.isEmpty()) {
            error_ = QStringLiteral("the session bus did not start");
            stopAll();
            return;
        }
        spawn({QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
               QStringLiteral("--launch-immediately")});
        // The accessibility bus is up once the launcher answers on the session bus.
        QElapsedTimer t;
        t.start();
        bool up = false;
        while (!up && t.elapsed() < 15000) {
            const pid_t probe =
                spawn({QStringLiteral("dbus-send"), QStringLiteral("--session"),
                       QStringLiteral("--dest=org.a11y.Bus"), QStringLiteral("--print-reply"),
                       QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus.GetAddress")});
            if (probe > 0)
                children_.pop_back(); // a probe is waited for here, not at the end
            int status = 0;
            if (probe > 0 && ::waitpid(probe, &status, 0) == probe && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0)
                up = true;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!up) {
            error_ = QStringLiteral("the accessibility bus did not start");
            stopAll();
            return;
        }
    }

    if (options_.windowManager) {
        spawn({QStringLiteral("openbox"), QStringLiteral("--sm-disable")});
        if (!waitForWindowManager(15000)) {
            error_ = QStringLiteral("openbox did not take the display");
            stopAll();
            return;
        }
    }
    if (options_.tray) {
        spawn({QStringLiteral("trayer"), QStringLiteral("--edge"), QStringLiteral("top"),
               QStringLiteral("--align"), QStringLiteral("right"), QStringLiteral("--widthtype"),
               QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24"),
               QStringLiteral("--SetDockType"), QStringLiteral("true")});
    }
}

XDisplay::~XDisplay() {
    stopAll();
}

void XDisplay::stopAll() {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        if (!EndChild(*it, SIGTERM, 2000))
            EndChild(*it, SIGKILL, 2000);
    }
    children_.clear();
}

pid_t XDisplay::spawn(const QStringList& argv, int keepFd) {
    Q_UNUSED(keepFd); // inherited because only the reading end is close-on-exec
    std::vector<QByteArray> args;
    for (const QString& a : argv)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> argp;
    for (QByteArray& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!display_.isEmpty()) {
        const QProcessEnvironment own = environment();
        for (const QString& key : own.keys())
            env.insert(key, own.value(key));
    }
    std::vector<QByteArray> block = EnvironmentBlock(env);
    std::vector<char*> envp;
    for (QByteArray& e : block)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Keep the children's chatter out of the test's output.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    children_.push_back(pid);
    return pid;
}

namespace {

// True once the window manager has answered the map request of a window of
// ours, by mapping it (inside its frame or not).
bool ProbeMapped(xcb_connection_t* c, xcb_window_t root, int timeoutMs) {
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_map_window(c, w);
    xcb_flush(c);
    bool mapped = false;
    QElapsedTimer t;
    t.start();
    while (!mapped && t.elapsed() < timeoutMs && !xcb_connection_has_error(c)) {
        xcb_get_window_attributes_reply_t* a =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        mapped = a && a->map_state != XCB_MAP_STATE_UNMAPPED;
        std::free(a);
        if (!mapped)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xcb_destroy_window(c, w);
    xcb_flush(c);
    return mapped;
}

} // namespace

// openbox announces itself on the root window before its event loop runs;
// a map request that reaches it in between can stay queued, unanswered, until
// some later request wakes it, and a test's first window then never shows.
// So the manager counts as ready only once it has mapped a probe of ours; a
// fresh probe each round is the request that wakes it.
bool XDisplay::waitForWindowManager(int timeoutMs) {
    xcb_connection_t* c = xcb_connect(display_.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    bool found = false;
    QElapsedTimer t;
    t.start();
    while (atom && !found && t.elapsed() < timeoutMs) {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
        found = r && xcb_get_property_value_length(r) == 4;
        free(r);
        if (!found)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    free(atom);
    bool ready = false;
    while (found && !ready && t.elapsed() < timeoutMs)
        ready = ProbeMapped(c, root, 1000);
    xcb_disconnect(c);
    return ready;
}

QProcessEnvironment XDisplay::environment() const {
    QProcessEnvironment env;
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    if (!busAddress_.isEmpty()) {
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress_);
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_ACCESSIBILITY"), QStringLiteral("1"));
    }
    return env;
}

void XDisplay::applyToThisProcess() const {
    const QProcessEnvironment env = environment();
    for (const QString& key : env.keys())
        qputenv(key.toLocal8Bit().constData(), env.value(key).toLocal8Bit());
}

bool XDisplay::screenshot(const QString& pngPath) const {
    xcb_connection_t* c = xcb_connect(display_.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_get_image_reply_t* img =
        xcb_get_image_reply(c,
                            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s->root, 0, 0,
                                          s->width_in_pixels, s->height_in_pixels, ~0u),
                            nullptr);
    bool saved = false;
    if (img) {
        const int w = s->width_in_pixels;
        const int h = s->height_in_pixels;
        const int length = xcb_get_image_data_length(img);
        if (img->depth == 24 && length >= w * h * 4) {
            const QImage view(xcb_get_image_data(img), w, h, w * 4, QImage::Format_RGB32);
            saved = view.copy().save(pngPath, "PNG");
        }
        free(img);
    }
    xcb_disconnect(c);
    return saved;
}

bool XDisplay::stillScreenshot(const QString& pngPath, int timeoutMs) const {
    QElapsedTimer t;
    t.start();
    QImage before;
    for (;;) {
        const QImage now = screenshot(pngPath) ? QImage(pngPath) : QImage();
        if (!now.isNull() && now == before)
            return true;
        if (t.elapsed() >= timeoutMs)
            return false;
        before = now;
        if (QCoreApplication::instance() &&
            QCoreApplication::instance()->thread() == QThread::currentThread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int XDisplay::run(const QString& program, const QStringList& args, QString* output,
                  int timeoutMs) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QProcessEnvironment own = environment();
    for (const QString& key : own.keys())
        env.insert(key, own.value(key));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&p, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    p.start(program, args);
    limit.start(timeoutMs);
    if (p.state() != QProcess::NotRunning)
        loop.exec();
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(2000);
        if (output)
            *output = QString::fromLocal8Bit(p.readAll());
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    if (p.exitStatus() != QProcess::NormalExit || p.error() == QProcess::FailedToStart)
        return -1;
    return p.exitCode();
}

QString XDisplay::AtspiDriver() {
    return QStringLiteral(TARVINA_TEST_SUPPORT_DIR "/atspi.py");
}

int XDisplay::atspi(const QStringList& args, QString* output, int timeoutMs) const {
    // A wait has its own limit; the driver gets that much and the time a
    // loaded machine needs to start it and to walk the tree once more.
    const qsizetype verb = args.indexOf(QStringLiteral("wait"));
    if (verb >= 0 && args.size() > verb + 2) {
        bool ok = false;
        const double secs = args.last().toDouble(&ok);
        if (ok && secs > 0)
            timeoutMs = std::max(timeoutMs, static_cast<int>(secs * 1000) + 20000);
    }
    return run(QStringLiteral("/usr/bin/python3"), QStringList{AtspiDriver()} + args, output,
               timeoutMs);
}

} // namespace tarvina::test
