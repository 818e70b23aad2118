#pragma once

#include "server/session/ComputerActions.h"

#include <QObject>
#include <QString>
#include <array>
#include <functional>

class QAction;
class QActionGroup;
class QDockWidget;
class QMainWindow;
class QPoint;
class QToolBar;

namespace tarvina::server {

struct ServerSettings;

namespace detail {
class ToolBarGrip;
}

// The computers view's tool bar, in a dock of the view's area: the four
// view styles, then the buttons of the actions. It docks on any side of the
// area (dragged there by its grip) or floats; its buttons are flat or
// raised and it may have a background picture. Its place and look are kept
// in the settings as they change.
class ComputersToolBar : public QObject {
    Q_OBJECT
public:
    // `chooseStyle` gets the index of the style chosen (the view's
    // ViewStyle order); `owner` shows the bar's own menu and file dialog.
    ComputersToolBar(ServerSettings& settings, QMainWindow* area, QWidget* owner,
                     const std::array<QAction*, ComputerAction::Count>& actions,
                     std::function<void(int)> chooseStyle);

    QToolBar* bar() const { return bar_; }
    QDockWidget* dock() const { return dock_; }
    // The style's button shows as chosen.
    void checkStyle(int index);

    // Where the bar is: the ToolBarAlign value (0 floating, 1 top, 2 bottom,
    // 3 left, 4 right).
    int align() const;
    void setAlign(int value);
    bool flat() const { return flat_; }
    void setFlat(bool flat);
    void setPicture(const QString& path);

private:
    void addStyles(std::function<void(int)> chooseStyle);
    void addDock();
    void showMenu(const QPoint& at);
    void place(Qt::DockWidgetArea area);

    ServerSettings& settings_;
    QMainWindow* area_;
    QWidget* owner_;
    QToolBar* bar_ = nullptr;
    QDockWidget* dock_ = nullptr;
    detail::ToolBarGrip* grip_ = nullptr;
    QActionGroup* styles_ = nullptr;
    std::array<QAction*, 4> styleActions_{};
    bool flat_ = true;
    QString picture_;
};

} // namespace tarvina::server
