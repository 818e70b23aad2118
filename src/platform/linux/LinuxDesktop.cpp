#include "platform/linux/LinuxDesktop.h"

#include "platform/AtomicFile.h"
#include "platform/WindowSystem.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <xcb/xcb.h>

namespace tarvina::platform {

namespace {

constexpr int kMaxSide = 16384;
constexpr qint64 kMaxBmpBytes = 256 * 1024 * 1024;

quint32 U32(const QByteArray& b, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(b.constData() + at);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}
quint16 U16(const QByteArray& b, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(b.constData() + at);
    return quint16(p[0] | p[1] << 8);
}

} // namespace

bool DecodeBmp(const QByteArray& f, Bitmap* out) {
    if (f.size() < 54 || f[0] != 'B' || f[1] != 'M')
        return false;
    const quint32 offBits = U32(f, 10);
    const quint32 infoSize = U32(f, 14);
    if (infoSize < 40 || 14 + qint64(infoSize) > f.size())
        return false;
    const qint32 w = qint32(U32(f, 18));
    const qint32 rawH = qint32(U32(f, 22));
    const int bpp = U16(f, 28);
    const quint32 compression = U32(f, 30);
    quint32 colours = U32(f, 46);
    if (w <= 0 || rawH == 0 || rawH == INT32_MIN || w > kMaxSide || std::abs(rawH) > kMaxSide)
        return false;
    const bool topDown = rawH < 0;
    const int h = std::abs(rawH);
    // Plain pixels only; 32-bit files with bit fields use the usual masks.
    if (!(compression == 0 || (compression == 3 && bpp == 32)))
        return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return false;
    QList<quint32> palette;
    if (bpp <= 8) {
        const quint32 max = 1u << bpp;
        if (colours == 0 || colours > max)
            colours = max;
        const qint64 at = 14 + qint64(infoSize);
        if (at + qint64(colours) * 4 > f.size())
            return false;
        for (quint32 i = 0; i < colours; ++i)
            palette << (U32(f, at + i * 4) & 0xFFFFFF);
    }
    const qint64 stride = ((qint64(w) * bpp + 31) / 32) * 4;
    if (qint64(offBits) + stride * h > f.size())
        return false;
    out->width = w;
    out->height = h;
    out->pixels.resize(qsizetype(w) * h);
    const auto* data = reinterpret_cast<const uchar*>(f.constData()) + offBits;
    for (int y = 0; y < h; ++y) {
        const uchar* row = data + stride * (topDown ? y : h - 1 - y);
        quint32* dst = out->pixels.data() + qsizetype(y) * w;
        for (int x = 0; x < w; ++x) {
            quint32 px = 0;
            switch (bpp) {
            case 32:
            case 24: {
                const uchar* p = row + x * (bpp / 8);
                px = quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
                break;
            }
            default: {
                const int bit = x * bpp;
                const int index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
                px = index < palette.size() ? palette[index] : 0;
                break;
            }
            }
            dst[x] = px;
        }
    }
    return true;
}

QString PathFromEnvironment(const char* variable, const char* fallback) {
    const QString v = qEnvironmentVariable(variable);
    return v.startsWith(u'/') ? v : QString::fromLatin1(fallback);
}

struct LinuxDesktop::X {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    bool saverSaved = false;
    xcb_get_screen_saver_reply_t saver{};
    ~X() {
        if (c)
            xcb_disconnect(c);
    }
    bool ok() const { return c && screen && !xcb_connection_has_error(c); }
    void sync() const { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
};

LinuxDesktop::LinuxDesktop(WindowSystem& windows, LinuxDesktopSetup setup)
    : windows_(windows), setup_(std::move(setup)), x_(std::make_unique<X>()) {
    int screen = 0;
    x_->c = xcb_connect(setup_.display.isEmpty() ? nullptr : setup_.display.constData(), &screen);
    if (!x_->c || xcb_connection_has_error(x_->c))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x_->c));
    for (int i = 0; it.rem && i < screen; ++i)
        xcb_screen_next(&it);
    x_->screen = it.rem ? it.data : nullptr;
}

LinuxDesktop::~LinuxDesktop() {
    restoreScreenSaver();
}

void LinuxDesktop::setTaskBarHidden(bool hidden) {
    windows_.setTaskBarVisible(!hidden);
}

bool LinuxDesktop::suspendScreenSaver() {
    if (!x_->ok())
        return false;
    if (!x_->saverSaved) {
        xcb_get_screen_saver_reply_t* r =
            xcb_get_screen_saver_reply(x_->c, xcb_get_screen_saver(x_->c), nullptr);
        if (!r)
            return false;
        x_->saver = *r;
        x_->saverSaved = true;
        std::free(r);
    }
    // A time-out of 0 switches the server's saver off; blanking and
    // exposures stay as they were for when it comes back.
    xcb_set_screen_saver(x_->c, 0, x_->saver.interval, x_->saver.prefer_blanking,
                         x_->saver.allow_exposures);
    xcb_force_screen_saver(x_->c, XCB_SCREEN_SAVER_RESET);
    x_->sync();
    return true;
}

void LinuxDesktop::restoreScreenSaver() {
    if (!x_->ok() || !x_->saverSaved)
        return;
    xcb_set_screen_saver(x_->c, static_cast<int16_t>(x_->saver.timeout),
                         static_cast<int16_t>(x_->saver.interval), x_->saver.prefer_blanking,
                         x_->saver.allow_exposures);
    x_->saverSaved = false;
    x_->sync();
}

bool LinuxDesktop::paintRoot(const Bitmap& bmp, WallpaperMode mode) {
    if (!x_->ok())
        return false;
    xcb_connection_t* c = x_->c;
    const xcb_screen_t* s = x_->screen;
    // The root's visual: true colour with 8 bits a channel, 32 bits a pixel.
    const xcb_visualtype_t* visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(s); d.rem && !visual; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == s->root_visual) {
                visual = v.data;
                break;
            }
    }
    int bitsPerPixel = 0;
    const xcb_setup_t* setup = xcb_get_setup(c);
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == s->root_depth)
            bitsPerPixel = f.data->bits_per_pixel;
    if (!visual || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR || bitsPerPixel != 32 ||
        (s->root_depth != 24 && s->root_depth != 32))
        return false;
    const int rs = std::countr_zero(visual->red_mask);
    const int gs = std::countr_zero(visual->green_mask);
    const int bs = std::countr_zero(visual->blue_mask);
    const auto pixel = [&](quint32 rgb) {
        return ((rgb >> 16 & 0xFF) << rs) | ((rgb >> 8 & 0xFF) << gs) | ((rgb & 0xFF) << bs);
    };

    const int W = mode == WallpaperMode::Tiled ? bmp.width : s->width_in_pixels;
    const int H = mode == WallpaperMode::Tiled ? bmp.height : s->height_in_pixels;
    QList<quint32> img(qsizetype(W) * H, pixel(0));
    const int ox = (W - bmp.width) / 2, oy = (H - bmp.height) / 2;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            int sx = x, sy = y;
            if (mode == WallpaperMode::Stretched) {
                sx = int(qint64(x) * bmp.width / W);
                sy = int(qint64(y) * bmp.height / H);
            } else if (mode == WallpaperMode::Centred) {
                sx = x - ox;
                sy = y - oy;
                if (sx < 0 || sy < 0 || sx >= bmp.width || sy >= bmp.height)
                    continue;
            }
            img[qsizetype(y) * W + x] = pixel(bmp.pixels[qsizetype(sy) * bmp.width + sx]);
        }
    }
    if (setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST)
        for (quint32& p : img)
            p = qToBigEndian(p);

    const xcb_pixmap_t pm = xcb_generate_id(c);
    xcb_create_pixmap(c, s->root_depth, pm, s->root, static_cast<uint16_t>(W),
                      static_cast<uint16_t>(H));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pm, 0, nullptr);
    // Rows in bands that fit one request.
    const qint64 maxBytes = qint64(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int rowsPerBand = std::max<int>(1, int(maxBytes / (qint64(W) * 4)));
    for (int y = 0; y < H; y += rowsPerBand) {
        const int rows = std::min(rowsPerBand, H - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pm, gc, static_cast<uint16_t>(W),
                      static_cast<uint16_t>(rows), 0, static_cast<int16_t>(y), 0, s->root_depth,
                      static_cast<uint32_t>(qint64(W) * rows * 4),
                      reinterpret_cast<const uint8_t*>(img.constData() + qsizetype(y) * W));
    }
    xcb_change_window_attributes(c, s->root, XCB_CW_BACK_PIXMAP, &pm);
    xcb_clear_area(c, 0, s->root, 0, 0, 0, 0);
    // The root keeps its own reference to the background.
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, pm);
    x_->sync();
    return !xcb_connection_has_error(c);
}

void LinuxDesktop::tellDesktops(const QString& path, WallpaperMode mode) {
    const QString uri = QUrl::fromLocalFile(path).toString();
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (!gsettings.isEmpty()) {
        const QString gnomeMode = mode == WallpaperMode::Tiled       ? QStringLiteral("wallpaper")
                                  : mode == WallpaperMode::Stretched ? QStringLiteral("stretched")
                                                                     : QStringLiteral("centered");
        const auto set = [&](const QString& schema, const QString& key, const QString& value) {
            QProcess::startDetached(gsettings, {QStringLiteral("set"), schema, key, value});
        };
        for (const QString& schema : {QStringLiteral("org.gnome.desktop.background"),
                                      QStringLiteral("org.cinnamon.desktop.background")}) {
            set(schema, QStringLiteral("picture-uri"), uri);
            set(schema, QStringLiteral("picture-options"), gnomeMode);
        }
        set(QStringLiteral("org.gnome.desktop.background"), QStringLiteral("picture-uri-dark"),
            uri);
        set(QStringLiteral("org.mate.background"), QStringLiteral("picture-filename"), path);
        set(QStringLiteral("org.mate.background"), QStringLiteral("picture-options"), gnomeMode);
    }
    const QString xfconf = QStandardPaths::findExecutable(QStringLiteral("xfconf-query"));
    if (!xfconf.isEmpty()) {
        QProcess list;
        list.start(xfconf,
                   {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"), QStringLiteral("-l")});
        if (list.waitForFinished(3000)) {
            const QString style = mode == WallpaperMode::Tiled       ? QStringLiteral("2")
                                  : mode == WallpaperMode::Stretched ? QStringLiteral("3")
                                                                     : QStringLiteral("1");
            const QList<QByteArray> props = list.readAllStandardOutput().split('\n');
            for (const QByteArray& raw : props) {
                const QString p = QString::fromUtf8(raw).trimmed();
                if (p.endsWith(u"/last-image"))
                    QProcess::startDetached(xfconf,
                                            {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"),
                                             QStringLiteral("-p"), p, QStringLiteral("-s"), path});
                else if (p.endsWith(u"/image-style"))
                    QProcess::startDetached(xfconf,
                                            {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"),
                                             QStringLiteral("-p"), p, QStringLiteral("-s"), style});
            }
        }
    }
}

bool LinuxDesktop::setWallpaper(const QString& path, WallpaperMode mode) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxBmpBytes)
        return false;
    Bitmap bmp;
    if (!DecodeBmp(f.readAll(), &bmp))
        return false;
    const bool painted = paintRoot(bmp, mode);
    if (setup_.desktopSettings)
        tellDesktops(QFileInfo(path).absoluteFilePath(), mode);
    return painted;
}

bool LinuxDesktop::setHiddenDrives(quint32 mask, QString* error) {
    QByteArray text = "# Drives kept from the customer (written by puesto, read by udev).\n";
    for (int n = 0; n < 26; ++n) {
        if (!(mask & (1u << n)) || !setup_.deviceOf)
            continue;
        const QString dev = setup_.deviceOf(QChar(u'A' + n));
        // A kernel name only: never a path, never a second line.
        if (dev.isEmpty() || dev.contains(u'/') || dev.contains(u'\n') || dev.size() > 64)
            continue;
        text += dev.toLocal8Bit() + '\n';
    }
    QString why;
    if (WriteFileAtomically(setup_.hiddenDrivesFile, text, 0644, &why))
        return true;
    if (error)
        *error = setup_.hiddenDrivesFile + QStringLiteral(": ") + why;
    return false;
}

QList<Desktop::Logo> LinuxDesktop::logos() {
    QList<Logo> out;
    if (QFileInfo::exists(setup_.greeterConf)) {
        QSettings greeter(setup_.greeterConf, QSettings::IniFormat);
        const QString bg = greeter.value(QStringLiteral("greeter/background")).toString();
        // Named even when the file is gone: a start picture deleted while
        // the station ran is put back from its copy.
        if (bg.startsWith(u'/') && !QFileInfo(bg).isDir())
            out << Logo{Logo::Role::Start, bg};
    }
    if (QFileInfo::exists(setup_.plymouthTheme)) {
        // The theme file names its picture folder; the splash picture is the
        // theme's watermark (two-step themes) or its background.
        const QFileInfo theme(setup_.plymouthTheme);
        QSettings t(theme.canonicalFilePath(), QSettings::IniFormat);
        QString dir;
        for (const QString& section : t.childGroups()) {
            dir = t.value(section + QStringLiteral("/ImageDir")).toString();
            if (!dir.isEmpty())
                break;
        }
        if (dir.startsWith(u'/')) {
            for (const char* name : {"watermark.png", "background.png", "splash.png"}) {
                const QString p = dir + u'/' + QLatin1String(name);
                if (QFileInfo(p).isFile()) {
                    out << Logo{Logo::Role::ShutDown, p};
                    break;
                }
            }
        }
    }
    return out;
}

} // namespace tarvina::platform
