// A settings file as it may lie on disk, damaged or crafted, read as both
// programs read theirs: the file registry loads it for both roots, every key
// and value is walked through the registry, and the station's and the
// cashier's settings are read from it. A value written afterwards is saved,
// the saved file loads again cleanly with the value in it, and what a save
// writes of whatever was understood reads back the same.

#include "client/station/ClientSettings.h"
#include "platform/RegFile.h"
#include "platform/linux/FileRegistry.h"
#include "server/settings/ServerSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

using namespace tarvina;
using platform::Root;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

void Walk(const platform::Registry& reg, Root root, const QString& key, int depth, int& budget) {
    Check(depth <= platform::RegistryTree::kMaxKeyDepth + 1);
    for (const QString& name : reg.valueNames(root, key)) {
        if (--budget < 0)
            return;
        Check(reg.valueExists(root, key, name));
        const auto kind = reg.valueKind(root, key, name);
        Check(kind.has_value());
        reg.readString(root, key, name);
        reg.readInteger(root, key, name);
        reg.readBinary(root, key, name);
    }
    for (const QString& sub : reg.subKeyNames(root, key)) {
        if (--budget < 0)
            return;
        const QString path = key + u'\\' + sub;
        Check(reg.keyExists(root, path));
        Walk(reg, root, path, depth + 1, budget);
    }
}

void Write(const QString& path, const uint8_t* data, size_t size) {
    QFile f(path);
    Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    Check(f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) ==
          static_cast<qint64>(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const platform::FileRegistry::Paths paths{dir.filePath(QStringLiteral("user.reg")),
                                              dir.filePath(QStringLiteral("machine.reg"))};
    Write(paths.user, data, size);
    Write(paths.machine, data, size);
    const QString key = QStringLiteral("\\Software\\Velt\\Tarvina");
    const QString marker = QStringLiteral("Fuzz \"valor\"\\\r\n");
    {
        platform::FileRegistry reg(paths);
        for (Root root : {Root::CurrentUser, Root::LocalMachine}) {
            Check(reg.loadProblems(root).size() <= platform::kMaxReportedProblems);
            int budget = 20000;
            Walk(reg, root, QString(), 0, budget);
        }
        client::ClientSettings::Read(reg);
        client::ReadCountry(reg);
        server::LoadSettings(reg);
        // One save per input (each costs a file and a folder sync): the
        // user's root, where the cashier's own writes go.
        Check(reg.writeString(Root::CurrentUser, key, QStringLiteral("FuzzMarca"), marker));
        Check(reg.flush());
    }
    platform::FileRegistry again(paths);
    Check(again.loadProblems(Root::CurrentUser).isEmpty());
    Check(again.readString(Root::CurrentUser, key, QStringLiteral("fuzzmarca")) == marker);
    // The machine's root as a save would write it reads back cleanly too.
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray saved = platform::SerializeRegFile(
        platform::ParseRegFile(text, Root::LocalMachine).tree, Root::LocalMachine);
    const platform::RegParseResult back = platform::ParseRegFile(saved, Root::LocalMachine);
    Check(back.problems.isEmpty());
    Check(platform::SerializeRegFile(back.tree, Root::LocalMachine) == saved);
    return 0;
}
