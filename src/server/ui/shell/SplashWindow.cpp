#include "server/ui/shell/SplashWindow.h"

#include "server/shell/StartupTexts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace tarvina::server {

SplashWindow::SplashWindow(const QString& versionText, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmSplash"));
    setAccessibleName(QString::fromUtf16(StartupTexts::kLoading));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    p.setColor(QPalette::WindowText, Qt::white);
    setPalette(p);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(30, 24, 30, 24);
    auto* title = new QLabel(QString::fromUtf16(StartupTexts::kLoading), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    title->setFont(big);
    auto* edition = new QLabel(QString::fromUtf16(StartupTexts::kEdition) + versionText, this);
    step_ = new QLabel(this);
    step_->setObjectName(QStringLiteral("step"));
    for (QLabel* l : {title, edition, step_}) {
        l->setAlignment(Qt::AlignCenter);
        l->setPalette(p);
        layout->addWidget(l);
    }
    setFixedSize(440, 170);
}

void SplashWindow::showCentred() {
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());
    setWindowOpacity(1.0);
    show();
    raise();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void SplashWindow::step(const QString& text) {
    step_->setText(text);
    if (fade_ < static_cast<int>(StartupTexts::kOpacity.size())) {
        // Without a compositor the window system ignores this: the splash
        // then stays opaque until it closes.
        setWindowOpacity(StartupTexts::kOpacity[fade_] / 255.0);
        ++fade_;
    }
    if (isVisible()) {
        repaint();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

QString SplashWindow::stepText() const {
    return step_->text();
}

} // namespace tarvina::server
