#include "platform/linux/FileRegistry.h"

#include "common/BoundedRead.h"
#include "platform/RegFile.h"

#include <QDir>
#include <QFile>

namespace tarvina::platform {

namespace {

RegParseResult Load(const QString& path, Root root) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // One byte over the limit tells the parser the file was cut.
    const QByteArray text = common::ReadAtMost(f, kMaxRegFileSize + 1);
    return ParseRegFile(text, root);
}

} // namespace

FileRegistry::Paths FileRegistry::DefaultPaths() {
    const QString folder = qEnvironmentVariable("TARVINA_REGISTRY");
    if (!folder.isEmpty()) {
        const QDir d(folder);
        return {d.filePath(QStringLiteral("user.reg")), d.filePath(QStringLiteral("machine.reg"))};
    }
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return {config + QStringLiteral("/tarvina/user.reg"),
            QStringLiteral("/etc/tarvina/machine.reg")};
}

FileRegistry::FileRegistry(Paths paths) : paths_(std::move(paths)) {
    for (Root r : {Root::CurrentUser, Root::LocalMachine}) {
        RegParseResult loaded = Load(r == Root::CurrentUser ? paths_.user : paths_.machine, r);
        problems_[Slot(r)] = loaded.problems;
        replaceTree(r, std::move(loaded.tree));
    }
}

FileRegistry::~FileRegistry() {
    flush();
}

QStringList FileRegistry::loadProblems(Root root) const {
    return problems_[Slot(root)];
}

QString FileRegistry::lastError(Root root) const {
    QMutexLocker lock(&errorMutex_);
    return errors_[Slot(root)];
}

void FileRegistry::setSaveHook(AtomicWriteHook hook) {
    hook_ = std::move(hook);
}

bool FileRegistry::persist(Root root, const RegistryTree& tree) {
    const QString& path = root == Root::CurrentUser ? paths_.user : paths_.machine;
    // The user's file holds the scrambled passwords: private to its owner.
    const unsigned mode = root == Root::CurrentUser ? 0600 : 0644;
    QString error;
    const bool ok = WriteFileAtomically(path, SerializeRegFile(tree, root), mode, &error, hook_);
    QMutexLocker lock(&errorMutex_);
    errors_[Slot(root)] = ok ? QString() : error;
    return ok;
}

} // namespace tarvina::platform
