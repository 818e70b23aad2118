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
    // The background picture is kept as "fondo.bmp" in `programFolder`.
    ComputersToolBar(ServerSettings& settings, QMainWindow* area, QWidget* owner,
                     const std::array<QAction*, ComputerAction::Count>& actions,
                     std::function<void(int)> chooseStyle, QString programFolder);

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
    // Converts the file into "fondo.bmp" and shows that; the file missing
    // or unreadable, the last "fondo.bmp" stays. Empty: no picture, and
    // "fondo.bmp" is removed so that the next start shows none either.
    void setPicture(const QString& path);
    bool hasPicture() const { return hasPicture_; }
    // "Mostrar barra de herramientas" of the preferences.
    void setVisible(bool visible);

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
    QString programFolder_;
    bool hasPicture_ = false;
};

} // namespace tarvina::server
