#include "client/ui/LockWindows.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QRandomGenerator>
#include <QScreen>

namespace tarvina::client::ui {

namespace {
bool IsGif(const QString& path) {
    return path.endsWith(QStringLiteral(".gif"), Qt::CaseInsensitive);
}
} // namespace

TfrmBack::TfrmBack(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TfrmBack"));
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    p.setColor(QPalette::WindowText, Qt::white);
    setPalette(p);
    // The static picture and the animated control: one of them shows the
    // lock's picture or the banner of the moment, the other is hidden.
    picture_ = new QLabel(this);
    animated_ = new QLabel(this);
    label_ = new QLabel(this);
    label_->move(0, 0);
    animated_->hide();
    picture_->installEventFilter(this);
    animated_->installEventFilter(this);
    if (QScreen* s = QGuiApplication::primaryScreen())
        setGeometry(s->geometry());
}

void TfrmBack::follow(const ClientDisplay& d) {
    mayClose_ = d.lockMayClose;
    if (label_->text() != d.lockMessage) {
        label_->setText(d.lockMessage);
        label_->adjustSize();
        label_->raise();
    }
    setWindowOpacity(d.lockOpacity / 255.0);
    const bool showing = d.lockVisible && !isVisible();
    // Every show starts again from the lock's picture.
    if (d.lockPicture != picturePath_ || showing) {
        picturePath_ = d.lockPicture;
        showPicture(picturePath_, false);
    }
    if (d.bannerSerial != bannerSerial_ && !d.bannerFile.isEmpty()) {
        bannerSerial_ = d.bannerSerial;
        showPicture(d.bannerFile, true);
    }
    if (d.lockVisible && !isVisible()) {
        if (QScreen* s = QGuiApplication::primaryScreen())
            setGeometry(s->geometry());
        show();
        raise();
        activateWindow();
        if (firstShow_)
            firstShow_ = false;
    } else if (!d.lockVisible && isVisible()) {
        close();
    }
}

void TfrmBack::showPicture(const QString& path, bool atRandom) {
    const bool gif = IsGif(path);
    QLabel* shown = gif ? animated_ : picture_;
    QLabel* other = gif ? picture_ : animated_;
    other->hide();
    other->clear();
    delete movie_;
    movie_ = nullptr;
    shown->clear();
    centred_ = !atRandom;
    if (path.isEmpty()) {
        shown->hide();
        return;
    }
    if (gif) {
        movie_ = new QMovie(path, QByteArray(), this);
        animated_->setMovie(movie_);
        movie_->start();
    } else {
        picture_->setPixmap(QPixmap(path));
    }
    shown->adjustSize();
    if (atRandom) {
        const int w = width() - shown->width();
        const int h = height() - shown->height();
        shown->move(w > 0 ? QRandomGenerator::global()->bounded(w) : 0,
                    h > 0 ? QRandomGenerator::global()->bounded(h) : 0);
    } else {
        placePicture();
    }
    shown->show();
    label_->raise();
}

void TfrmBack::placePicture() {
    if (!centred_)
        return;
    for (QLabel* l : {picture_, animated_})
        l->move((width() - l->width()) / 2, (height() - l->height()) / 2);
}

void TfrmBack::resizeEvent(QResizeEvent*) {
    placePicture();
}

void TfrmBack::closeEvent(QCloseEvent* e) {
    if (mayClose_)
        e->accept();
    else
        e->ignore();
}

void TfrmBack::keyPressEvent(QKeyEvent* e) {
    Q_EMIT keyPressed(e->key(), e->modifiers(), e->text());
}

void TfrmBack::mouseReleaseEvent(QMouseEvent*) {
    Q_EMIT backgroundClicked();
}

bool TfrmBack::eventFilter(QObject* o, QEvent* e) {
    if ((o == picture_ || o == animated_) && e->type() == QEvent::MouseButtonRelease) {
        Q_EMIT pictureClicked();
        return true;
    }
    return QWidget::eventFilter(o, e);
}

TfrmClock::TfrmClock(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TfrmClock"));
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                   Qt::X11BypassWindowManagerHint);
    panel_ = new QLabel(QStringLiteral("00:00:00"), this);
    panel_->setAlignment(Qt::AlignCenter);
    panel_->setAutoFillBackground(true);
    auto* l = new QHBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(panel_);
    const QFontMetrics fm(panel_->font());
    const int w = fm.horizontalAdvance(QStringLiteral("00:00:00 ")) + 4;
    const int h = fm.height() + 2;
    int screenW = 800;
    if (QScreen* s = QGuiApplication::primaryScreen())
        screenW = s->geometry().width();
    const int range = screenW - 400;
    move(320 + (range > 0 ? QRandomGenerator::global()->bounded(range) : 0), 3);
    resize(w, h);
}

void TfrmClock::follow(const ClientDisplay& d) {
    panel_->setText(d.clockText);
    QPalette p = panel_->palette();
    switch (d.clockColour) {
    case ClientDisplay::ClockColour::ButtonFace:
        p.setColor(QPalette::Window, palette().color(QPalette::Button));
        break;
    case ClientDisplay::ClockColour::Red:
        p.setColor(QPalette::Window, Qt::red);
        break;
    case ClientDisplay::ClockColour::Yellow:
        p.setColor(QPalette::Window, Qt::yellow);
        break;
    }
    panel_->setPalette(p);
    setToolTip(d.clockHintVisible ? d.clockHint : QString());
}

void TfrmClock::closeEvent(QCloseEvent* e) {
    e->ignore();
}

void TfrmClock::mousePressEvent(QMouseEvent* e) {
    Q_EMIT touched();
    if (e->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
    }
}

void TfrmClock::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_)
        move(e->globalPosition().toPoint() - dragOffset_);
}

void TfrmClock::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
    Q_EMIT touched();
}

void TfrmClock::mouseDoubleClickEvent(QMouseEvent*) {
    Q_EMIT doubleClicked();
}

} // namespace tarvina::client::ui
