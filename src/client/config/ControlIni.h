#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace tarvina::client::config {

// One line of the "Panel de control" page: an applet's file name, the text
// shown for it and whether it is shown (ticked).
struct AppletLine {
    QString file;
    QString caption;
    bool shown = true;
    bool operator==(const AppletLine&) const = default;
};

// "Control.ini": an applet is hidden from the control panel while the
// section "don't load" holds the value "no" under its file name. Names of
// sections and entries are compared without regard to case; every other
// line of the file is kept as it was.
class ControlIni {
public:
    explicit ControlIni(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }

    // The entries of "don't load", by lower-case name; empty when the file
    // is missing, unreadable or larger than 1 MB.
    QHash<QString, QString> dontLoad() const;

    // Writes the page's choices: a shown applet whose value is "no" loses its
    // entry; a hidden one whose value is not "no" gets "no". The file is
    // replaced atomically, and only when something changed. False with a
    // Spanish reason when it could not be written.
    bool apply(const QList<AppletLine>& lines, QString* error = nullptr) const;

    static constexpr qint64 kMaxSize = 1024 * 1024;

private:
    QString path_;
};

} // namespace tarvina::client::config
