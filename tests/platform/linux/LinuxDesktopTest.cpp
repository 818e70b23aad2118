// The desktop rules' effects on a private display: the wallpaper on the root
// window (checked on a screenshot), the X server's screen saver, the task
// bar through the window system, the hidden-drives list and the logos.
#include "platform/linux/LinuxDesktop.h"

#include "platform/fake/FakeWindowSystem.h"
#include "support/TempDir.h"
#include "support/XDisplay.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

using tarvina::platform::Bitmap;
using tarvina::platform::DecodeBmp;
using tarvina::platform::Desktop;
using tarvina::platform::FakeWindowSystem;
using tarvina::platform::LinuxDesktop;
using tarvina::platform::LinuxDesktopSetup;
using tarvina::test::TempDir;
using tarvina::test::TestDisplay;
using Mode = Desktop::WallpaperMode;

namespace {

QByteArray Bmp(const QImage& img) {
    QByteArray out;
    QBuffer b(&out);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "BMP");
    return out;
}

// Four 2x2 quadrants: red, green (top right), blue (bottom left), white.
QImage Quadrants() {
    QImage img(4, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            img.setPixel(x, y,
                         y < 2 ? (x < 2 ? qRgb(255, 0, 0) : qRgb(0, 255, 0))
                               : (x < 2 ? qRgb(0, 0, 255) : qRgb(255, 255, 255)));
    return img;
}

LinuxDesktopSetup DeskSetup(const TempDir& dir) {
    LinuxDesktopSetup s;
    s.display = TestDisplay().display().toLocal8Bit();
    s.hiddenDrivesFile = dir.file(QStringLiteral("hidden-drives"));
    s.greeterConf = dir.file(QStringLiteral("greeter.conf"));
    s.plymouthTheme = dir.file(QStringLiteral("default.plymouth"));
    s.desktopSettings = false; // never the machine's real desktop settings
    return s;
}

QImage Screen(const TempDir& dir) {
    const QString png = dir.file(QStringLiteral("screen.png"));
    if (!TestDisplay().screenshot(png))
        return {};
    return QImage(png);
}

struct Saver {
    int timeout = -1;
};
Saver ServerSaver() {
    xcb_connection_t* c = xcb_connect(qPrintable(TestDisplay().display()), nullptr);
    auto* r = xcb_get_screen_saver_reply(c, xcb_get_screen_saver(c), nullptr);
    Saver s;
    if (r)
        s.timeout = r->timeout;
    std::free(r);
    xcb_disconnect(c);
    return s;
}
void SetServerSaver(int timeout) {
    xcb_connection_t* c = xcb_connect(qPrintable(TestDisplay().display()), nullptr);
    xcb_set_screen_saver(c, static_cast<int16_t>(timeout), 600, XCB_BLANKING_PREFERRED,
                         XCB_EXPOSURES_ALLOWED);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

} // namespace

TEST(DecodeBmp, ReadsTheCommonDepthsAndRefusesDamagedFiles) {
    const QImage q = Quadrants();
    for (QImage::Format f : {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_Indexed8,
                             QImage::Format_Mono}) {
        QImage img = q.convertToFormat(f);
        if (f == QImage::Format_Mono) // two colours only: red and white
            img = QImage(q).convertToFormat(QImage::Format_Mono, {qRgb(255, 0, 0), 0xFFFFFFFF});
        Bitmap b;
        ASSERT_TRUE(DecodeBmp(Bmp(img), &b)) << int(f);
        ASSERT_EQ(b.width, 4);
        ASSERT_EQ(b.height, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(b.pixels[y * 4 + x], img.pixel(x, y) & 0xFFFFFF)
                    << int(f) << " " << x << "," << y;
    }

    const QByteArray good = Bmp(Quadrants());
    Bitmap b;
    EXPECT_FALSE(DecodeBmp({}, &b));
    EXPECT_FALSE(DecodeBmp(good.left(good.size() - 1), &b)); // pixels cut short
    EXPECT_FALSE(DecodeBmp("GIF89a" + good.mid(6), &b));
    QByteArray huge = good;
    huge[18] = char(0xFF); // width 0x...FF: far too wide
    huge[21] = char(0x7F);
    EXPECT_FALSE(DecodeBmp(huge, &b));
    QByteArray rle = good;
    rle[30] = 1; // run-length compressed: not read
    EXPECT_FALSE(DecodeBmp(rle, &b));
    QByteArray offset = good;
    offset[10] = char(0xF0); // pixel data said to start past the end
    offset[11] = char(0xFF);
    EXPECT_FALSE(DecodeBmp(offset, &b));
}

TEST(LinuxDesktop, WallpaperCentredTiledAndStretchedOnTheRootWindow) {
    TempDir dir;
    const QString path = dir.file(QStringLiteral("fondo.BMP"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Bmp(Quadrants()));
    }
    FakeWindowSystem ws;
    LinuxDesktop desk(ws, DeskSetup(dir));

    ASSERT_TRUE(desk.setWallpaper(path, Desktop::ModeOf(0, 2)));
    QImage s = Screen(dir);
    ASSERT_FALSE(s.isNull());
    EXPECT_EQ(QColor(s.pixel(100, 300)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(s.pixel(1200, 300)), QColor(0, 255, 0));
    EXPECT_EQ(QColor(s.pixel(100, 900)), QColor(0, 0, 255));
    EXPECT_EQ(QColor(s.pixel(1200, 900)), QColor(255, 255, 255));

    ASSERT_TRUE(desk.setWallpaper(path, Desktop::ModeOf(1, 0)));
    s = Screen(dir);
    EXPECT_EQ(QColor(s.pixel(400, 400)), QColor(255, 0, 0)); // 400 % 4 == 0
    EXPECT_EQ(QColor(s.pixel(402, 400)), QColor(0, 255, 0));
    EXPECT_EQ(QColor(s.pixel(402, 402)), QColor(255, 255, 255));

    ASSERT_TRUE(desk.setWallpaper(path, Desktop::ModeOf(0, 0)));
    s = Screen(dir);
    EXPECT_EQ(QColor(s.pixel(400, 400)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(s.pixel(638, 510)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(s.pixel(641, 513)), QColor(255, 255, 255));

    // Not a picture, or no file: nothing changes and the answer says so.
    QFile junk(dir.file(QStringLiteral("x.bmp")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a bitmap at all, not even close to one");
    junk.close();
    EXPECT_FALSE(desk.setWallpaper(junk.fileName(), Mode::Centred));
    EXPECT_FALSE(desk.setWallpaper(dir.file(QStringLiteral("none.bmp")), Mode::Centred));
    EXPECT_EQ(QColor(Screen(dir).pixel(638, 510)), QColor(255, 0, 0));
}

TEST(LinuxDesktop, ScreenSaverOffWhileRunningAndPutBackAtTheEnd) {
    TempDir dir;
    SetServerSaver(300);
    FakeWindowSystem ws;
    {
        LinuxDesktop desk(ws, DeskSetup(dir));
        ASSERT_TRUE(desk.suspendScreenSaver());
        EXPECT_EQ(ServerSaver().timeout, 0);
        ASSERT_TRUE(desk.suspendScreenSaver()); // twice: the first value is kept
        desk.restoreScreenSaver();
        EXPECT_EQ(ServerSaver().timeout, 300);
        ASSERT_TRUE(desk.suspendScreenSaver());
        EXPECT_EQ(ServerSaver().timeout, 0);
    }
    // A station that goes away puts it back too.
    EXPECT_EQ(ServerSaver().timeout, 300);
}

TEST(LinuxDesktop, TaskBarHiddenDrivesAndLogos) {
    TempDir dir;
    FakeWindowSystem ws;
    LinuxDesktopSetup setup = DeskSetup(dir);
    setup.deviceOf = [](QChar letter) {
        if (letter == u'D')
            return QStringLiteral("sr0");
        if (letter == u'E')
            return QStringLiteral("sdb");
        if (letter == u'F')
            return QStringLiteral("../../etc/passwd"); // never a path
        return QString();
    };
    {
        QFile g(setup.greeterConf);
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        g.write("[greeter]\nbackground=" + dir.file(QStringLiteral("greeter.png")).toUtf8() +
                "\ntheme-name=Adwaita\n");
        QFile p(dir.file(QStringLiteral("greeter.png")));
        ASSERT_TRUE(p.open(QIODevice::WriteOnly));
        QFile t(setup.plymouthTheme);
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        t.write("[Plymouth Theme]\nName=Prueba\n[two-step]\nImageDir=" + dir.path().toUtf8() +
                "\n");
        QFile w(dir.file(QStringLiteral("watermark.png")));
        ASSERT_TRUE(w.open(QIODevice::WriteOnly));
    }
    LinuxDesktop desk(ws, setup);

    desk.setTaskBarHidden(true);
    desk.setTaskBarHidden(false);
    EXPECT_EQ(ws.taskBarVisibleCalls, QList<bool>({false, true}));

    // C (no drive), D, E and F (a name that is no kernel device name).
    ASSERT_TRUE(desk.setHiddenDrives((1u << 2) | (1u << 3) | (1u << 4) | (1u << 5), nullptr));
    QFile list(setup.hiddenDrivesFile);
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    QStringList lines;
    for (const QByteArray& l : list.readAll().split('\n'))
        if (!l.isEmpty() && !l.startsWith('#'))
            lines << QString::fromUtf8(l);
    EXPECT_EQ(lines, QStringList({"sr0", "sdb"}));

    const QList<Desktop::Logo> logos = desk.logos();
    ASSERT_EQ(logos.size(), 2);
    EXPECT_EQ(logos[0].role, Desktop::Logo::Role::Start);
    EXPECT_EQ(logos[0].path, dir.file(QStringLiteral("greeter.png")));
    EXPECT_EQ(logos[1].role, Desktop::Logo::Role::ShutDown);
    EXPECT_EQ(logos[1].path, dir.file(QStringLiteral("watermark.png")));
    // A start picture deleted is still named, so that its copy can go back.
    ASSERT_TRUE(QFile::remove(dir.file(QStringLiteral("greeter.png"))));
    ASSERT_FALSE(desk.logos().isEmpty());
    EXPECT_EQ(desk.logos()[0].path, dir.file(QStringLiteral("greeter.png")));

    LinuxDesktopSetup none = DeskSetup(dir);
    none.greeterConf = dir.file(QStringLiteral("missing.conf"));
    none.plymouthTheme = dir.file(QStringLiteral("missing.plymouth"));
    EXPECT_TRUE(LinuxDesktop(ws, none).logos().isEmpty());
}
