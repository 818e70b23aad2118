#pragma once

#include "server/session/ComputerActions.h"

#include <QIcon>
#include <QList>

namespace tarvina::server {

// The pictures of the computers view, drawn rather than shipped: ten row
// icons per size (states 0-4, then the same five marked for attention), the
// two sort arrows (numbers 10 and 11), one picture per view style and one
// per action that has a button.
class ComputerIcons {
public:
    ComputerIcons();
    // Row icon 0-9 (both sizes in one icon); arrows 10 and 11.
    const QIcon& image(int index) const;
    // 0 large icons, 1 small icons, 2 list, 3 report.
    static QIcon StyleIcon(int style);
    // None for the actions that are shown in the menus only.
    static QIcon ActionIcon(ComputerAction::Id id);

private:
    QList<QIcon> images_;
};

} // namespace tarvina::server
