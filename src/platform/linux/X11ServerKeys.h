#pragma once

#include <QByteArray>
#include <QString>

namespace tarvina::platform {

// The keys the X server acts on by itself, before any grab: Ctrl+Alt+F1..F12
// (switch to a text console), Ctrl+Alt+Backspace (kill the server) and the
// grab-breaking keys of the keypad. While blocked, the display's keyboard
// map carries no such action: the map is read with xkbcomp, every
// SwitchScreen, Terminate and Private action is replaced by NoAction, and
// the result is loaded back; unblocking loads the map that was read. The
// keys keep their symbols, so programs see ordinary function keys.
//
// The X server's own configuration can switch these keys off for good
// (DontVTSwitch and DontZap in the ServerFlags section); the package
// installs that file, so this is the second line for servers set up
// otherwise.
class X11ServerKeys {
public:
    // displayName: the display xkbcomp talks to (empty: $DISPLAY).
    // tool: the keymap compiler to run.
    explicit X11ServerKeys(QByteArray displayName = {}, QString tool = QStringLiteral("xkbcomp"));

    // True when the actions are off afterwards (also when they already were).
    bool block();
    // Puts back the map read by block(); true when nothing is left to undo.
    bool unblock();
    bool blocked() const { return !saved_.isEmpty(); }

    // The keymap text with every server action replaced by NoAction.
    static QByteArray Disarm(const QByteArray& keymap);
    // How many server actions the keymap text still carries.
    static int ServerActions(const QByteArray& keymap);

    // The display's current keymap as text; empty on failure. Bounded.
    QByteArray readKeymap() const;
    bool loadKeymap(const QByteArray& keymap) const;

private:
    QString display() const;
    QByteArray displayName_;
    QString tool_;
    QByteArray saved_;
};

} // namespace tarvina::platform
