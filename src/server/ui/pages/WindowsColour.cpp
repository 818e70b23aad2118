#include "server/ui/pages/WindowsColour.h"

#include "server/shell/Preferences.h"

namespace tarvina::server::ui {

QColor ColourFromWindows(qint32 value, const QPalette& p) {
    if (value == kDefaultColour) {
        return p.color(QPalette::Base);
    }
    if ((value & kSystemColourFlag) != 0) {
        switch (value & 0xFF) {
        case 1:  // desktop
        case 12: // application work space
            return p.color(QPalette::Dark);
        case 2:
        case 10:
        case 13:
            return p.color(QPalette::Highlight);
        case 3:
        case 11:
        case 17:
        case 19:
            return p.color(QPalette::Disabled, QPalette::WindowText);
        case 4:
        case 15:
            return p.color(QPalette::Button);
        case 5:
            return p.color(QPalette::Base);
        case 6:
        case 21:
            return p.color(QPalette::Shadow);
        case 7:
        case 8:
            return p.color(QPalette::Text);
        case 9:
        case 14:
            return p.color(QPalette::HighlightedText);
        case 16:
            return p.color(QPalette::Mid);
        case 18:
            return p.color(QPalette::ButtonText);
        case 20:
            return p.color(QPalette::Light);
        case 22:
            return p.color(QPalette::Midlight);
        case 23:
            return p.color(QPalette::ToolTipText);
        case 24:
            return p.color(QPalette::ToolTipBase);
        default:
            return p.color(QPalette::Window);
        }
    }
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

} // namespace tarvina::server::ui
