#include "platform/TreeRegistry.h"

namespace tarvina::platform {

namespace {
bool NameOk(const QString& name) {
    return name.size() <= RegistryTree::kMaxValueNameLength;
}
} // namespace

std::optional<QString> TreeRegistry::readString(Root root, const QString& key,
                                                const QString& name) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    const RegValue* v = k ? trees_[Slot(root)].findValue(*k, name) : nullptr;
    if (!v)
        return QString();
    if (v->kind != ValueKind::Text)
        return std::nullopt;
    return v->text;
}

std::optional<qint32> TreeRegistry::readInteger(Root root, const QString& key,
                                                const QString& name) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    const RegValue* v = k ? trees_[Slot(root)].findValue(*k, name) : nullptr;
    if (!v || v->kind != ValueKind::Integer)
        return std::nullopt;
    return v->integer;
}

std::optional<QByteArray> TreeRegistry::readBinary(Root root, const QString& key,
                                                   const QString& name) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    const RegValue* v = k ? trees_[Slot(root)].findValue(*k, name) : nullptr;
    if (!v || v->kind != ValueKind::Binary)
        return std::nullopt;
    return v->bytes;
}

std::optional<ValueKind> TreeRegistry::valueKind(Root root, const QString& key,
                                                 const QString& name) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    const RegValue* v = k ? trees_[Slot(root)].findValue(*k, name) : nullptr;
    if (!v)
        return std::nullopt;
    return v->kind;
}

bool TreeRegistry::write(Root root, const QString& key, RegValue value) {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    if (!k || !NameOk(value.name))
        return false;
    trees_[Slot(root)].setValue(*k, std::move(value));
    return changed(root);
}

bool TreeRegistry::writeString(Root root, const QString& key, const QString& name,
                               const QString& value) {
    RegValue v;
    v.name = name;
    v.kind = ValueKind::Text;
    v.text = value;
    return write(root, key, std::move(v));
}

bool TreeRegistry::writeInteger(Root root, const QString& key, const QString& name, qint32 value) {
    RegValue v;
    v.name = name;
    v.kind = ValueKind::Integer;
    v.integer = value;
    return write(root, key, std::move(v));
}

bool TreeRegistry::writeBinary(Root root, const QString& key, const QString& name,
                               const QByteArray& value) {
    RegValue v;
    v.name = name;
    v.kind = ValueKind::Binary;
    v.bytes = value;
    return write(root, key, std::move(v));
}

bool TreeRegistry::createKey(Root root, const QString& key) {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    if (!k)
        return false;
    RegistryTree& t = trees_[Slot(root)];
    if (t.findKey(*k))
        return true;
    t.ensureKey(*k);
    return changed(root);
}

bool TreeRegistry::deleteValue(Root root, const QString& key, const QString& name) {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    if (!k || !trees_[Slot(root)].removeValue(*k, name))
        return false;
    return changed(root);
}

bool TreeRegistry::deleteKey(Root root, const QString& key) {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    if (!k || !trees_[Slot(root)].removeKeyTree(*k))
        return false;
    return changed(root);
}

QStringList TreeRegistry::valueNames(Root root, const QString& key) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    const RegKey* rk = k ? trees_[Slot(root)].findKey(*k) : nullptr;
    QStringList out;
    if (rk) {
        for (const RegValue& v : rk->values)
            out.append(v.name);
    }
    return out;
}

QStringList TreeRegistry::subKeyNames(Root root, const QString& key) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    return k ? trees_[Slot(root)].subKeyNames(*k) : QStringList();
}

bool TreeRegistry::keyExists(Root root, const QString& key) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    return k && trees_[Slot(root)].keyExists(*k);
}

bool TreeRegistry::valueExists(Root root, const QString& key, const QString& name) const {
    QMutexLocker lock(&mutex_);
    const std::optional<QString> k = RegistryTree::NormalizeKey(key);
    return k && trees_[Slot(root)].findValue(*k, name) != nullptr;
}

void TreeRegistry::beginBatch() {
    QMutexLocker lock(&mutex_);
    ++batchDepth_;
}

bool TreeRegistry::endBatch() {
    QMutexLocker lock(&mutex_);
    if (batchDepth_ > 0)
        --batchDepth_;
    if (batchDepth_ > 0)
        return true;
    return saveDirtyLocked();
}

bool TreeRegistry::flush() {
    QMutexLocker lock(&mutex_);
    return saveDirtyLocked();
}

bool TreeRegistry::isDirty(Root root) const {
    QMutexLocker lock(&mutex_);
    return dirty_[Slot(root)];
}

void TreeRegistry::replaceTree(Root root, RegistryTree tree) {
    QMutexLocker lock(&mutex_);
    trees_[Slot(root)] = std::move(tree);
    dirty_[Slot(root)] = false;
}

bool TreeRegistry::changed(Root root) {
    dirty_[Slot(root)] = true;
    if (batchDepth_ > 0)
        return true;
    if (persist(root, trees_[Slot(root)])) {
        dirty_[Slot(root)] = false;
        return true;
    }
    return false;
}

bool TreeRegistry::saveDirtyLocked() {
    bool ok = true;
    for (Root r : {Root::CurrentUser, Root::LocalMachine}) {
        if (!dirty_[Slot(r)])
            continue;
        if (persist(r, trees_[Slot(r)]))
            dirty_[Slot(r)] = false;
        else
            ok = false;
    }
    return ok;
}

} // namespace tarvina::platform
