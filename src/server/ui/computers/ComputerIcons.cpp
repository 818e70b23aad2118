#include "server/ui/computers/ComputerIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tarvina::server {

namespace {

// The screen colour of each state: disconnected, locked, in use, service,
// waiting.
const QColor kScreen[5] = {QColor(90, 90, 90), QColor(150, 150, 160), QColor(40, 170, 60),
                           QColor(230, 140, 30), QColor(235, 205, 40)};

QPixmap StatePixmap(int size, int state, bool attention) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    // A monitor on its foot.
    p.setPen(QPen(QColor(40, 40, 40), qMax<qreal>(1, u * 0.8)));
    p.setBrush(QColor(220, 220, 225));
    p.drawRoundedRect(QRectF(1 * u, 1.5 * u, 14 * u, 10 * u), u, u);
    p.setBrush(kScreen[state]);
    p.setPen(Qt::NoPen);
    const QRectF screen(2.5 * u, 3 * u, 11 * u, 7 * u);
    p.drawRect(screen);
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(6.5 * u, 11.5 * u, 3 * u, 2 * u));
    p.drawRect(QRectF(4 * u, 13.5 * u, 8 * u, 1.5 * u));
    // A sign on the screen for the states that are not told by colour alone.
    p.setPen(QPen(Qt::white, qMax<qreal>(1, u * 1.2), Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QPointF c = screen.center();
    switch (state) {
    case 0: // a cross: no connection
        p.setPen(QPen(QColor(230, 60, 60), qMax<qreal>(1, u * 1.4), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + QPointF(-2 * u, -2 * u), c + QPointF(2 * u, 2 * u));
        p.drawLine(c + QPointF(2 * u, -2 * u), c + QPointF(-2 * u, 2 * u));
        break;
    case 1: // a padlock
        p.drawArc(QRectF(c.x() - 1.5 * u, c.y() - 3 * u, 3 * u, 3.5 * u), 0, 180 * 16);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(c.x() - 2 * u, c.y() - 0.8 * u, 4 * u, 3 * u));
        break;
    case 2: // a running figure's head and body
        p.setBrush(Qt::white);
        p.drawEllipse(c + QPointF(0, -1.6 * u), 1 * u, 1 * u);
        p.drawLine(c + QPointF(0, -0.3 * u), c + QPointF(0, 2.2 * u));
        break;
    case 3: // a spanner's cross
        p.drawLine(c + QPointF(-2 * u, 0), c + QPointF(2 * u, 0));
        p.drawLine(c + QPointF(0, -2 * u), c + QPointF(0, 2 * u));
        break;
    case 4: // an hourglass
        p.setPen(QPen(QColor(80, 60, 0), qMax<qreal>(1, u)));
        p.drawLine(c + QPointF(-1.8 * u, -2.4 * u), c + QPointF(1.8 * u, 2.4 * u));
        p.drawLine(c + QPointF(1.8 * u, -2.4 * u), c + QPointF(-1.8 * u, 2.4 * u));
        p.drawLine(c + QPointF(-1.8 * u, -2.4 * u), c + QPointF(1.8 * u, -2.4 * u));
        p.drawLine(c + QPointF(-1.8 * u, 2.4 * u), c + QPointF(1.8 * u, 2.4 * u));
        break;
    default:
        break;
    }
    if (attention) {
        // A blue badge with an exclamation mark in the upper right corner.
        const QRectF badge(size - 7.5 * u, 0, 7.5 * u, 7.5 * u);
        p.setPen(QPen(Qt::white, qMax<qreal>(1, u * 0.6)));
        p.setBrush(QColor(0, 70, 220));
        p.drawEllipse(badge);
        p.setPen(QPen(Qt::white, qMax<qreal>(1, u * 1.1), Qt::SolidLine, Qt::RoundCap));
        const QPointF bc = badge.center();
        p.drawLine(bc + QPointF(0, -2 * u), bc + QPointF(0, 0.6 * u));
        p.drawPoint(bc + QPointF(0, 2 * u));
    }
    return pm;
}

QPixmap ArrowPixmap(int size, bool up) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 60));
    const qreal s = size;
    QPolygonF tri;
    if (up)
        tri << QPointF(s * 0.5, s * 0.3) << QPointF(s * 0.8, s * 0.7) << QPointF(s * 0.2, s * 0.7);
    else
        tri << QPointF(s * 0.2, s * 0.3) << QPointF(s * 0.8, s * 0.3) << QPointF(s * 0.5, s * 0.7);
    p.drawPolygon(tri);
    return pm;
}

// A tool bar picture being drawn on a square of `size` pixels, in 24ths of
// the side, with round-ended strokes of one width.
struct Glyph {
    explicit Glyph(QPixmap& pm) : p(&pm), u(pm.width() / 24.0), w(qMax<qreal>(1.5, 2.2 * u)) {
        p.setRenderHint(QPainter::Antialiasing);
    }
    void pen(const QColor& c) { p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)); }
    // A square of cols x cols tiles.
    void tiles(int cols, qreal cell, qreal gap) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 90, 170));
        for (int y = 0; y < cols; ++y)
            for (int x = 0; x < cols; ++x)
                p.drawRect(QRectF(3 * u + x * (cell + gap) * u, 3 * u + y * (cell + gap) * u,
                                  cell * u, cell * u));
    }
    // Four lines of two parts: a narrow first one for the report's grid.
    void lines(bool grid) {
        pen(QColor(40, 90, 170));
        for (int i = 0; i < 4; ++i) {
            const qreal y = (5 + i * 4.7) * u;
            if (grid) {
                p.drawLine(QPointF(3 * u, y), QPointF(6 * u, y));
                p.drawLine(QPointF(9 * u, y), QPointF(21 * u, y));
            } else {
                p.drawLine(QPointF(3 * u, y), QPointF(10 * u, y));
                p.drawLine(QPointF(14 * u, y), QPointF(21 * u, y));
            }
        }
    }
    void envelope(const QColor& fill) {
        pen(QColor(60, 60, 60));
        p.setBrush(fill);
        p.drawRect(QRectF(3 * u, 6 * u, 18 * u, 13 * u));
        p.drawPolyline(QPolygonF() << QPointF(3 * u, 6 * u) << QPointF(12 * u, 13 * u)
                                   << QPointF(21 * u, 6 * u));
    }

    QPainter p;
    const qreal u;
    const qreal w;
};

void DrawLargeIcons(Glyph& g) {
    g.tiles(2, 8, 2);
}
void DrawSmallIcons(Glyph& g) {
    g.tiles(3, 5, 1.5);
}
void DrawList(Glyph& g) {
    g.lines(false);
}
void DrawReport(Glyph& g) {
    g.lines(true);
}

// A green tick.
void DrawGrant(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(30, 150, 50));
    g.p.drawPolyline(QPolygonF() << QPointF(4 * u, 13 * u) << QPointF(10 * u, 19 * u)
                                 << QPointF(20 * u, 5 * u));
}
// A red cross.
void DrawWithdraw(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(200, 40, 40));
    g.p.drawLine(QPointF(5 * u, 5 * u), QPointF(19 * u, 19 * u));
    g.p.drawLine(QPointF(19 * u, 5 * u), QPointF(5 * u, 19 * u));
}
// A clock with a plus.
void DrawMoreTime(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(30, 90, 170));
    g.p.drawEllipse(QRectF(2 * u, 4 * u, 14 * u, 14 * u));
    g.p.drawLine(QPointF(9 * u, 11 * u), QPointF(9 * u, 7 * u));
    g.p.drawLine(QPointF(9 * u, 11 * u), QPointF(12 * u, 11 * u));
    g.pen(QColor(30, 150, 50));
    g.p.drawLine(QPointF(19 * u, 13 * u), QPointF(19 * u, 21 * u));
    g.p.drawLine(QPointF(15 * u, 17 * u), QPointF(23 * u, 17 * u));
}
// A padlock.
void DrawLock(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(90, 90, 90));
    g.p.drawArc(QRectF(7 * u, 3 * u, 10 * u, 11 * u), 0, 180 * 16);
    g.p.setBrush(QColor(200, 160, 40));
    g.p.drawRoundedRect(QRectF(5 * u, 10 * u, 14 * u, 11 * u), 2 * u, 2 * u);
}
// An arrow from one screen to another.
void DrawMove(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(60, 60, 60));
    g.p.drawRect(QRectF(2 * u, 4 * u, 7 * u, 6 * u));
    g.p.drawRect(QRectF(15 * u, 14 * u, 7 * u, 6 * u));
    g.pen(QColor(30, 90, 170));
    g.p.drawLine(QPointF(7 * u, 13 * u), QPointF(13 * u, 17 * u));
    g.p.drawPolyline(QPolygonF() << QPointF(9.5 * u, 18 * u) << QPointF(13 * u, 17 * u)
                                 << QPointF(12 * u, 13.5 * u));
}
// A circular arrow.
void DrawRefresh(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(30, 130, 60));
    g.p.drawArc(QRectF(4 * u, 4 * u, 16 * u, 16 * u), 60 * 16, 290 * 16);
    g.p.drawPolyline(QPolygonF() << QPointF(17 * u, 2.5 * u) << QPointF(17 * u, 7 * u)
                                 << QPointF(12.5 * u, 7 * u));
}
// A power sign.
void DrawRestart(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(190, 50, 40));
    g.p.drawArc(QRectF(4 * u, 5 * u, 16 * u, 16 * u), 120 * 16, 300 * 16);
    g.p.drawLine(QPointF(12 * u, 3 * u), QPointF(12 * u, 12 * u));
}
// A camera.
void DrawCapture(Glyph& g) {
    const qreal u = g.u;
    g.pen(QColor(60, 60, 60));
    g.p.setBrush(QColor(200, 200, 210));
    g.p.drawRoundedRect(QRectF(3 * u, 7 * u, 18 * u, 12 * u), 2 * u, 2 * u);
    g.p.setBrush(QColor(40, 90, 170));
    g.p.drawEllipse(QPointF(12 * u, 13 * u), 3.5 * u, 3.5 * u);
    g.p.drawRect(QRectF(8 * u, 4.5 * u, 6 * u, 2.5 * u));
}
// A list of tasks.
void DrawTasks(Glyph& g) {
    g.lines(false);
}
// The list of tasks crossed out.
void DrawCleanTasks(Glyph& g) {
    const qreal u = g.u;
    g.lines(false);
    g.pen(QColor(200, 40, 40));
    g.p.drawLine(QPointF(13 * u, 13 * u), QPointF(22 * u, 22 * u));
    g.p.drawLine(QPointF(22 * u, 13 * u), QPointF(13 * u, 22 * u));
}
// An envelope, yellow to send, blue to read.
void DrawSendMessage(Glyph& g) {
    g.envelope(QColor(250, 240, 200));
}
void DrawViewMessages(Glyph& g) {
    g.envelope(QColor(210, 225, 250));
}

using Draw = void (*)(Glyph&);

// In the view's style order.
const Draw kStyleGlyphs[4] = {DrawLargeIcons, DrawSmallIcons, DrawList, DrawReport};

using A = ComputerAction;
const std::pair<A::Id, Draw> kActionGlyphs[] = {
    {A::Grant, DrawGrant},
    {A::Withdraw, DrawWithdraw},
    {A::MoreTime, DrawMoreTime},
    {A::Lock, DrawLock},
    {A::Move, DrawMove},
    {A::Refresh, DrawRefresh},
    {A::Restart, DrawRestart},
    {A::Capture, DrawCapture},
    {A::Tasks, DrawTasks},
    {A::CleanTasks, DrawCleanTasks},
    {A::SendMessage, DrawSendMessage},
    {A::ViewMessages, DrawViewMessages},
};

QIcon GlyphIcon(Draw draw) {
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        {
            Glyph g(pm);
            draw(g);
        }
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace

ComputerIcons::ComputerIcons() {
    for (int i = 0; i < 10; ++i) {
        QIcon icon;
        for (int size : {16, 32})
            icon.addPixmap(StatePixmap(size, i % 5, i >= 5));
        images_.append(icon);
    }
    for (bool up : {true, false}) {
        QIcon icon;
        icon.addPixmap(ArrowPixmap(16, up));
        images_.append(icon);
    }
}

const QIcon& ComputerIcons::image(int index) const {
    return images_[index >= 0 && index < images_.size() ? index : 0];
}

QIcon ComputerIcons::StyleIcon(int style) {
    return style >= 0 && style < 4 ? GlyphIcon(kStyleGlyphs[style]) : QIcon();
}

QIcon ComputerIcons::ActionIcon(ComputerAction::Id id) {
    for (const auto& [action, draw] : kActionGlyphs)
        if (action == id)
            return GlyphIcon(draw);
    return QIcon();
}

} // namespace tarvina::server
