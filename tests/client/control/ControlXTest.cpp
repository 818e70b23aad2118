// Machine control on a real X display with openbox: the picture of the
// screen against the toolkit's own, and the task list, its close and its
// clean against xmessage windows.
#include "client/control/BmpImage.h"
#include "client/control/TaskList.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/ProcProcesses.h"
#include "platform/linux/X11ScreenGrabber.h"
#include "platform/linux/X11WindowSystem.h"
#include "protocol/Fields.h"
#include "support/XDisplay.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

using namespace tarvina;
using namespace tarvina::client;
using tarvina::test::TestDisplay;

namespace {

// A window painted with a pattern, so that a picture of the screen has
// something to get wrong.
class PatternWindow final : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        for (int y = 0; y < height(); y += 8)
            for (int x = 0; x < width(); x += 8)
                p.fillRect(x, y, 8, 8, QColor((x * 3) & 0xFF, (y * 5) & 0xFF, (x + y) & 0xFF));
    }
};

QImage QtScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

} // namespace

TEST(ScreenOnX, TheBitmapHoldsThePixelsOfTheScreen) {
    PatternWindow w;
    w.setGeometry(100, 120, 333, 211);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 30000));
    // The screen is still once two of the toolkit's pictures agree.
    QImage still;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QImage a = QtScreen();
            QTest::qWait(100);
            const bool same = a == QtScreen();
            if (same)
                still = a;
            return same;
        },
        30000));

    platform::X11ScreenGrabber grabber(TestDisplay().display().toLocal8Bit());
    QString err;
    const auto image = grabber.grab(&err);
    ASSERT_TRUE(image) << err.toStdString();
    EXPECT_EQ(image->width, still.width());
    EXPECT_EQ(image->height, still.height());
    const QByteArray bmp = EncodeBmp(*image);
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(bmp, "BMP"));
    decoded = decoded.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(decoded.size(), still.size());
    int differing = 0;
    for (int y = 0; y < still.height(); ++y)
        for (int x = 0; x < still.width(); ++x)
            if ((decoded.pixel(x, y) & 0xFFFFFF) != (still.pixel(x, y) & 0xFFFFFF))
                ++differing;
    EXPECT_EQ(differing, 0);
    // Inside the pattern window, a square of known colour.
    const QPoint at = w.mapToGlobal(QPoint(16, 24));
    EXPECT_EQ(decoded.pixel(at) & 0xFFFFFF, QColor(48, 120, 40).rgb() & 0xFFFFFF);
}

namespace {

// An xmessage window of its own process on the test's display.
struct Message {
    QProcess process;
    explicit Message(const QString& title) {
        process.setProcessEnvironment(TestDisplay().environment());
        process.start(QStringLiteral("xmessage"),
                      {QStringLiteral("-title"), title, QStringLiteral("Mensaje de ") + title});
    }
    // Its process has ended (waitForFinished answers false for one that
    // already has).
    bool ended() {
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000);
    }
    ~Message() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

struct XDesk {
    std::unique_ptr<platform::X11WindowSystem> windows =
        platform::X11WindowSystem::Open(TestDisplay().display().toLocal8Bit());
    platform::MemoryRegistry registry;
    platform::ProcProcesses processes;
    TaskList tasks{*windows, registry, processes, {}};

    QStringList titles() {
        QStringList out;
        for (const auto& t : tasks.tasks())
            out << t.title;
        return out;
    }
    bool waitFor(const QString& title, bool open) {
        return QTest::qWaitFor([&] { return titles().contains(title) == open; }, 30000);
    }
};

} // namespace

TEST(TasksOnX, ListCloseAndCleanOfXmessageWindows) {
    XDesk d;
    ASSERT_TRUE(d.windows);
    Message a(QStringLiteral("Antes, uno")), b(QStringLiteral("Antes dos"));
    ASSERT_TRUE(d.waitFor(QStringLiteral("Antes, uno"), true));
    ASSERT_TRUE(d.waitFor(QStringLiteral("Antes dos"), true));
    const QList<QByteArray> listed = protocol::SplitCommaList(TaskList::Encode(d.tasks.tasks()));
    EXPECT_TRUE(listed.contains("Antes, uno"));
    EXPECT_TRUE(listed.contains("Antes dos"));

    // The first grant's baseline; then a customer opens two more.
    d.tasks.recordBaseline();
    Message c(QStringLiteral("Despues")), e(QStringLiteral("Otra, despues"));
    ASSERT_TRUE(d.waitFor(QStringLiteral("Despues"), true));
    ASSERT_TRUE(d.waitFor(QStringLiteral("Otra, despues"), true));

    // 10 closes one by its caption, commas and case aside.
    EXPECT_TRUE(d.tasks.close(QStringLiteral("otra, DESPUES")));
    EXPECT_TRUE(d.waitFor(QStringLiteral("Otra, despues"), false));
    EXPECT_TRUE(e.ended());

    // 15 closes what came after the baseline and leaves the rest.
    QStringList told;
    EXPECT_EQ(d.tasks.clean([&](const QString& t) { told << t; }),
              QStringList{QStringLiteral("Despues")});
    EXPECT_EQ(told, QStringList{QStringLiteral("Despues")});
    EXPECT_TRUE(d.waitFor(QStringLiteral("Despues"), false));
    EXPECT_TRUE(c.ended());
    EXPECT_TRUE(d.titles().contains(QStringLiteral("Antes, uno")));
    EXPECT_TRUE(d.titles().contains(QStringLiteral("Antes dos")));
    EXPECT_EQ(a.process.state(), QProcess::Running);
    EXPECT_EQ(b.process.state(), QProcess::Running);
}

TEST(TasksOnX, TheMessengerEndsWithItsProgramAndTheStationsWindowsAreNeverTasks) {
    XDesk d;
    ASSERT_TRUE(d.windows);
    // A window of this very process, titled as the messenger: its own, by
    // its process, although no list of own windows was given.
    QWidget own;
    own.setWindowTitle(QStringLiteral("MSN Messenger"));
    own.resize(200, 80);
    own.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&own, 30000));
    const auto wid = static_cast<platform::WindowId>(own.winId());
    EXPECT_EQ(d.windows->windowProcess(wid), QCoreApplication::applicationPid());
    EXPECT_FALSE(d.windows->quitWindow(wid));

    Message msn(QStringLiteral("msn messenger"));
    ASSERT_TRUE(d.waitFor(QStringLiteral("msn messenger"), true));
    EXPECT_FALSE(d.titles().contains(QStringLiteral("MSN Messenger")));
    for (const TaskList::Task& t : d.tasks.tasks()) {
        if (t.title != QStringLiteral("msn messenger"))
            continue;
        // The display server knows the program behind the window, and /proc
        // its file.
        EXPECT_EQ(t.pid, msn.process.processId());
        EXPECT_TRUE(t.program.endsWith(QStringLiteral("xmessage"))) << t.program.toStdString();
    }
    EXPECT_TRUE(d.tasks.close(QStringLiteral("MSN MESSENGER")));
    ASSERT_TRUE(msn.ended());
    // Ended by the signal, not by its window's close.
    EXPECT_EQ(msn.process.exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(own.isVisible());
}
