#include "platform/linux/X11ScreenGrabber.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace tarvina::platform {

namespace {

struct Connection {
    xcb_connection_t* c = nullptr;
    ~Connection() {
        if (c)
            xcb_disconnect(c);
    }
};

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Bits per pixel of the root's depth in Z format, 0 when the display has no
// such format.
int BitsPerPixel(const xcb_setup_t* setup, int depth) {
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth)
            return it.data->bits_per_pixel;
    return 0;
}

// One row of a square into the picture as blue, green, red, unused.
void CopyRow(const quint8* src, int pixels, int bpp, bool msbFirst, quint8* dst) {
    if (bpp == 32) {
        if (!msbFirst) {
            std::memcpy(dst, src, static_cast<size_t>(pixels) * 4);
            return;
        }
        for (int i = 0; i < pixels; ++i) {
            dst[4 * i] = src[4 * i + 3];
            dst[4 * i + 1] = src[4 * i + 2];
            dst[4 * i + 2] = src[4 * i + 1];
            dst[4 * i + 3] = 0;
        }
        return;
    }
    // 16 bits: red 5, green 6, blue 5.
    for (int i = 0; i < pixels; ++i) {
        const quint16 v = msbFirst ? static_cast<quint16>(src[2 * i] << 8 | src[2 * i + 1])
                                   : static_cast<quint16>(src[2 * i + 1] << 8 | src[2 * i]);
        const int r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
        dst[4 * i] = static_cast<quint8>(b << 3 | b >> 2);
        dst[4 * i + 1] = static_cast<quint8>(g << 2 | g >> 4);
        dst[4 * i + 2] = static_cast<quint8>(r << 3 | r >> 2);
        dst[4 * i + 3] = 0;
    }
}

} // namespace

X11ScreenGrabber::X11ScreenGrabber(QByteArray display) : display_(std::move(display)) {}

std::optional<ScreenImage> X11ScreenGrabber::grab(QString* error) {
    auto fail = [error](const QString& why) -> std::optional<ScreenImage> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    int screenNumber = 0;
    Connection conn;
    conn.c = xcb_connect(display_.isEmpty() ? nullptr : display_.constData(), &screenNumber);
    if (!conn.c || xcb_connection_has_error(conn.c))
        return fail(QStringLiteral("No se pudo abrir la pantalla"));
    const xcb_setup_t* setup = xcb_get_setup(conn.c);
    auto it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return fail(QStringLiteral("La pantalla no existe"));
    const xcb_screen_t* screen = it.data;
    const int depth = screen->root_depth;
    const int bpp = BitsPerPixel(setup, depth);
    if (bpp != 32 && bpp != 16)
        return fail(QStringLiteral("Formato de pantalla no soportado (%1 bits)").arg(bpp));
    const bool msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;

    // Only the primary monitor, as the system's screen is on a desktop of
    // several.
    QRect area(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    if (area_) {
        const QRect primary = area_().intersected(area);
        if (!primary.isEmpty())
            area = primary;
    }
    ScreenImage image;
    image.width = area.width();
    image.height = area.height();
    image.depth = depth;
    image.pixels = QByteArray(static_cast<qsizetype>(image.width) * image.height * 4, '\0');

    const QList<ScreenSquare> plan = SquarePlan(image.width, image.height);
    std::vector<xcb_get_image_cookie_t> cookies;
    cookies.reserve(static_cast<size_t>(plan.size()));
    for (const ScreenSquare& s : plan)
        cookies.push_back(xcb_get_image(
            conn.c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(area.x() + s.x),
            static_cast<int16_t>(area.y() + s.y), static_cast<uint16_t>(s.width),
            static_cast<uint16_t>(s.height), ~0u));
    bool failed = false;
    auto* out = reinterpret_cast<quint8*>(image.pixels.data());
    const int bytesPerPixel = bpp / 8;
    for (qsizetype i = 0; i < plan.size(); ++i) {
        xcb_generic_error_t* e = nullptr;
        std::unique_ptr<xcb_get_image_reply_t, FreeDeleter> reply(
            xcb_get_image_reply(conn.c, cookies[static_cast<size_t>(i)], &e));
        std::free(e);
        // Every reply is read, even after a failure, so none is left queued.
        if (!reply || failed) {
            failed = true;
            continue;
        }
        const ScreenSquare& s = plan[i];
        const int length = xcb_get_image_data_length(reply.get());
        // Rows of a Z image are padded to the display's scanline unit.
        const int pad = setup->bitmap_format_scanline_pad;
        const int rowBits = s.width * bpp;
        const int stride = ((rowBits + pad - 1) / pad) * pad / 8;
        if (length < stride * s.height || stride < s.width * bytesPerPixel) {
            failed = true;
            continue;
        }
        const quint8* data = xcb_get_image_data(reply.get());
        for (int row = 0; row < s.height; ++row)
            CopyRow(data + static_cast<qsizetype>(row) * stride, s.width, bpp, msbFirst,
                    out + (static_cast<qsizetype>(s.y + row) * image.width + s.x) * 4);
    }
    if (failed)
        return fail(QStringLiteral("No se pudo leer la pantalla"));
    return image;
}

} // namespace tarvina::platform
