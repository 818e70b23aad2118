#pragma once

#include <QWidget>

class QLabel;

namespace tarvina::server {

// The start-up splash: borderless, black, centred, "Cargando sistema de
// caja", the edition line and the step under way. Where windows are
// composed it fades out step by step.
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    explicit SplashWindow(const QString& versionText, QWidget* parent = nullptr);

    // Shows the step's text and paints it at once (the start-up holds the
    // event loop between steps); each call also takes the next fading step.
    void step(const QString& text);
    QString stepText() const;
    int fadeStep() const { return fade_; }

    void showCentred();

private:
    QLabel* step_;
    int fade_ = 0;
};

} // namespace tarvina::server
