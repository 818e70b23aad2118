#pragma once

#include "client/station/StationView.h"

#include <QLabel>
#include <QMovie>
#include <QWidget>

namespace tarvina::client::ui {

// The full-screen lock: black, the Background picture (animated when it is a
// GIF) centred, the rotating banner, a text label in the corner. It refuses
// to close unless the logic allows it.
class TfrmBack : public QWidget {
    Q_OBJECT
public:
    explicit TfrmBack(QWidget* parent = nullptr);
    void follow(const ClientDisplay& d);
    QLabel* label() const { return label_; }

Q_SIGNALS:
    void pictureClicked();
    void backgroundClicked();
    // A key typed while the lock has the focus (it takes no typing itself).
    void keyPressed(int key, Qt::KeyboardModifiers modifiers, const QString& text);

protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    // The picture in the control for its kind (a GIF animated, any other
    // still), the other control hidden: centred, or at a random place for a
    // banner.
    void showPicture(const QString& path, bool atRandom);
    void placePicture();
    bool mayClose_ = false;
    QString picturePath_;
    int bannerSerial_ = -1;
    QLabel* picture_;
    QLabel* animated_;
    QLabel* label_;
    QMovie* movie_ = nullptr;
    bool centred_ = true;
    bool firstShow_ = true;
};

// The small clock: time left or used, red/yellow while the alarm blinks. It
// never closes; dragging moves it; a double click toggles the main window.
class TfrmClock : public QWidget {
    Q_OBJECT
public:
    explicit TfrmClock(QWidget* parent = nullptr);
    void follow(const ClientDisplay& d);

Q_SIGNALS:
    void doubleClicked();
    void touched();

protected:
    void closeEvent(QCloseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    QLabel* panel_;
    QPoint dragOffset_;
    bool dragging_ = false;
};

} // namespace tarvina::client::ui
