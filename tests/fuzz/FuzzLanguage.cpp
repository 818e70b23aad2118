// A language file as the station finds it beside its program, damaged or
// crafted: the language menu lists it, its texts replace the Spanish ones,
// and the texts made from them (the minutes granted, captions without their
// ampersands) are filled. Every text stays within the line bound of the
// reader, nothing crashes and nothing grows without bound.

#include "client/station/Texts.h"

#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <cstdlib>

using namespace tarvina::client;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// A line is read up to this many bytes; one Windows-1252 byte is one
// character.
constexpr qsizetype kLineBound = 8192;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ESP.lng"));
    {
        QFile f(path);
        Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const QList<LanguageMenuEntry> menu = BuildLanguageMenu(dir.path());
    Check(menu.size() == 1 && menu[0].path == path);
    Check(!menu[0].title.isEmpty() && menu[0].title.size() <= kLineBound);

    LanguageTexts texts;
    texts.apply(IniFile::Load(path));
    for (const TextEntry& e : TextTable()) {
        const QString& t = texts.get(e.id);
        Check(t.size() <= kLineBound);
        Check(StripAmpersands(t).size() <= t.size());
    }
    for (int minutes : {0, 5, -1, INT_MAX, INT_MIN})
        Check(texts.minutesGranted(minutes).size() <= kLineBound + 16);
    texts.resetToDefaults();
    Check(texts.get(Txt::StrBlock) == QStringLiteral("Bloqueado"));
    return 0;
}
