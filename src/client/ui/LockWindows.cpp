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
    picture_ = new QLabel(this);
    banner_ = new QLabel(this);
    label_ = new QLabel(this);
    label_->move(0, 0);
    banner_->hide();
    picture_->installEventFilter(this);
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
    if (d.lockPicture != picturePath_) {
        picturePath_ = d.lockPicture;
        delete movie_;
        movie_ = nullptr;
        picture_->clear();
        if (!picturePath_.isEmpty()) {
            if (IsGif(picturePath_)) {
                movie_ = new QMovie(picturePath_, QByteArray(), this);
                picture_->setMovie(movie_);
                movie_->start();
            } else {
                picture_->setPixmap(QPixmap(picturePath_));
            }
        }
        placePicture();
    }
    if (d.bannerSerial != bannerSerial_ && !d.bannerFile.isEmpty()) {
        bannerSerial_ = d.bannerSerial;
        delete bannerMovie_;
        bannerMovie_ = nullptr;
        if (IsGif(d.bannerFile)) {
            bannerMovie_ = new QMovie(d.bannerFile, QByteArray(), this);
            banner_->setMovie(bannerMovie_);
            bannerMovie_->start();
        } else {
            banner_->setPixmap(QPixmap(d.bannerFile));
        }
        banner_->adjustSize();
        const int w = width() - banner_->width();
        const int h = height() - banner_->height();
        banner_->move(w > 0 ? QRandomGenerator::global()->bounded(w) : 0,
                      h > 0 ? QRandomGenerator::global()->bounded(h) : 0);
        banner_->show();
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

void TfrmBack::placePicture() {
    picture_->adjustSize();
    picture_->move((width() - picture_->width()) / 2, (height() - picture_->height()) / 2);
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
    if (o == picture_ && e->type() == QEvent::MouseButtonRelease) {
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
