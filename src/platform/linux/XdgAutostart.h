#pragma once

#include "platform/Autostart.h"
#include "platform/Registry.h"

#include <QString>

namespace tarvina::platform {

// The start value "Puesto" under the machine root's Run key, holding the
// program's path, plus an XDG autostart entry "tarvina-puesto.desktop" that
// makes every desktop session start that program. The machine-wide folder
// (the first of $XDG_CONFIG_DIRS, else /etc/xdg, + "/autostart") serves
// every customer account of the computer.
class XdgAutostart final : public Autostart {
public:
    static constexpr char kEntryName[] = "tarvina-puesto.desktop";

    XdgAutostart(Registry& registry, QString program, QString folder = DefaultFolder());

    bool isEnabled() override;
    bool setEnabled(bool on, QString* error) override;

    QString entryPath() const;
    static QString DefaultFolder();
    // The entry's text for a program path (quoted when it holds blanks).
    static QByteArray EntryText(const QString& program);

private:
    Registry& registry_;
    QString program_;
    QString folder_;
};

} // namespace tarvina::platform
