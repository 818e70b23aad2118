#pragma once

#include <QString>
#include <optional>

namespace tarvina::common {

// The program folder (data, reports, logs, session file): TARVINA_HOME when
// set; else the executable's folder when it is writable; else
// $XDG_DATA_HOME/tarvina/<programName> (created when missing).
QString ProgramFolder(const QString& programName);

// Whether an executable's folder can be a portable install's program folder:
// writable, and not one of the system's own program folders (/usr, /bin,
// /sbin, /lib...), which are writable only to root and must never receive
// data, logs or locks.
bool IsPortableFolder(const QString& dir);

// The name as it exists in folder, found without regard to case ("CajaPIN.dbf"
// finds "cajapin.DBF"); when absent, folder + "/" + name spelled as given.
// An exact spelling wins over other case variants. A name that is empty, ".",
// "..", or holds "/", "\\" or a NUL gives the empty text: nothing may leave
// the folder.
QString FindFileCaseInsensitive(const QString& folder, const QString& name);

// A relative path whose parts are separated by "\" or "/" ("Data\CajaPIN.dbf"),
// each part found as FindFileCaseInsensitive does. nullopt when the path is
// absolute or has an empty, "." or ".." part.
std::optional<QString> ResolveInFolder(const QString& folder, const QString& relativePath);

} // namespace tarvina::common
