#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <sys/types.h>
#include <vector>

namespace tarvina::test {

// A private X display for one test program: its own Xvfb (the server picks a
// free display number, so parallel test programs never meet), optionally a
// window manager, a tray, and a private session bus with the accessibility
// bus on it, so that tests can drive windows by their accessible names.
// Everything it starts ends with the object.
class XDisplay {
public:
    struct Options {
        bool windowManager = true;  // openbox, EWMH like the desktops stations run
        bool accessibility = false; // private D-Bus session bus + AT-SPI bus
        bool tray = false;          // trayer, a system tray for QSystemTrayIcon
        int width = 1280;
        int height = 1024;
    };

    XDisplay();
    explicit XDisplay(const Options& options);
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    QString display() const { return display_; } // ":N"

    // The environment a program needs to live on this display: DISPLAY, the
    // session bus when there is one, QT_QPA_PLATFORM=xcb and Qt's
    // accessibility switch.
    QProcessEnvironment environment() const;
    // The same variables set in this process (before its QApplication exists).
    void applyToThisProcess() const;

    // The whole screen as a PNG file.
    bool screenshot(const QString& pngPath) const;
    // The same once what was just opened has been drawn: the screen counts
    // as still when two pictures in a row are alike (a blinking cursor may
    // take a few tries). The calling thread's events run in between, for
    // this process's own windows to paint. False when it never came still
    // within the limit; the last picture is saved either way.
    bool stillScreenshot(const QString& pngPath, int timeoutMs = 30000) const;

    // Runs a program on this display (xdotool, wmctrl, the AT-SPI driver) and
    // returns its exit status, or -1 when it could not start or timed out.
    // The calling thread's event loop keeps running meanwhile, so a program
    // that talks to this process's own windows (over X or the accessibility
    // bus) gets its answers.
    int run(const QString& program, const QStringList& args, QString* output = nullptr,
            int timeoutMs = 20000) const;

    // The AT-SPI driver script (python3 + pyatspi): `tree`, `find`, `press`,
    // `settext`, `gettext`, `wait`; see its header for the verbs.
    static QString AtspiDriver();
    // Runs the AT-SPI driver with the given verb and arguments.
    int atspi(const QStringList& args, QString* output = nullptr, int timeoutMs = 20000) const;

private:
    pid_t spawn(const QStringList& argv, int keepFd = -1);
    bool waitForWindowManager(int timeoutMs);
    void stopAll();

    Options options_;
    QString error_;
    QString display_;
    QString busAddress_;
    std::vector<pid_t> children_; // started in this order, ended in reverse
};

// The display of a test program linked with the X test main (X_MAIN in
// tarvina_add_test): started before its QApplication.
XDisplay& TestDisplay();

} // namespace tarvina::test
