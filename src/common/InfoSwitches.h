#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarvina::common {

// "--help" and "--version": what an installed program answers on its command
// line and then ends, before it opens a window or takes its instance lock.
// Nothing for any other command line.
inline std::optional<QString> InfoSwitchText(const QStringList& args, const QString& program,
                                             const QString& usage) {
    for (const QString& a : args.mid(1)) {
        if (a == QStringLiteral("--version"))
            return QStringLiteral("%1 %2.%3.%4.%5\n")
                .arg(program)
                .arg(TARVINA_VERSION_MAJOR)
                .arg(TARVINA_VERSION_MINOR)
                .arg(TARVINA_VERSION_RELEASE)
                .arg(TARVINA_VERSION_BUILD);
        if (a == QStringLiteral("--help") || a == QStringLiteral("-h"))
            return usage;
    }
    return std::nullopt;
}

// The same, from main()'s own arguments.
inline std::optional<QString> InfoSwitchText(int argc, char** argv, const QString& program,
                                             const QString& usage) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return InfoSwitchText(args, program, usage);
}

} // namespace tarvina::common
