#pragma once

#include <QIcon>
#include <QList>

namespace tarvina::server {

// The pictures of the computers view, drawn rather than shipped: ten row
// icons per size (states 0-4, then the same five marked for attention), the
// two sort arrows (numbers 10 and 11) and one picture per action button.
class ComputerIcons {
public:
    enum Glyph {
        StyleLarge,
        StyleSmall,
        StyleList,
        StyleReport,
        Grant,
        Withdraw,
        MoreTime,
        Lock,
        Move,
        Refresh,
        Restart,
        Capture,
        Tasks,
        CleanTasks,
        SendMessage,
        ViewMessages,
    };

    ComputerIcons();
    // Row icon 0-9 (both sizes in one icon); arrows 10 and 11.
    const QIcon& image(int index) const;
    static QIcon ActionIcon(Glyph glyph);

private:
    QList<QIcon> images_;
};

} // namespace tarvina::server
