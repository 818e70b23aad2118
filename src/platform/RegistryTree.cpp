#include "platform/RegistryTree.h"

namespace tarvina::platform {

std::optional<QString> RegistryTree::NormalizeKey(const QString& key) {
    if (key.size() > kMaxKeyPathLength * 2 || key.contains(u'\n') || key.contains(u'\r') ||
        key.contains(QChar(0)))
        return std::nullopt;
    const QStringList parts = key.split(u'\\', Qt::SkipEmptyParts);
    QString joined = parts.join(u'\\');
    if (parts.size() > kMaxKeyDepth || joined.size() > kMaxKeyPathLength)
        return std::nullopt;
    return joined;
}

const RegKey* RegistryTree::findKey(const QString& normalized) const {
    const auto it = keyIndex_.constFind(Fold(normalized));
    return it == keyIndex_.cend() ? nullptr : &keys_[*it];
}

RegKey& RegistryTree::ensureKey(const QString& normalized) {
    // Parents first, each created when missing (normalized paths are bounded
    // in depth, so this walk is short).
    qsizetype from = 0;
    qsizetype at = 0;
    for (;;) {
        const qsizetype slash = normalized.indexOf(u'\\', from);
        const QString part = slash < 0 ? normalized : normalized.left(slash);
        const QString folded = Fold(part);
        const auto it = keyIndex_.constFind(folded);
        if (it != keyIndex_.cend()) {
            at = *it;
        } else {
            RegKey k;
            k.path = part;
            keys_.append(std::move(k));
            at = keys_.size() - 1;
            keyIndex_.insert(folded, at);
        }
        if (slash < 0)
            break;
        from = slash + 1;
    }
    return keys_[at];
}

bool RegistryTree::keyExists(const QString& normalized) const {
    if (normalized.isEmpty() || findKey(normalized))
        return true;
    const QString prefix = Fold(normalized) + u'\\';
    for (const RegKey& k : keys_) {
        if (Fold(k.path).startsWith(prefix))
            return true;
    }
    return false;
}

bool RegistryTree::removeKeyTree(const QString& normalized) {
    const QString folded = Fold(normalized);
    const QString prefix = folded + u'\\';
    const qsizetype before = keys_.size();
    keys_.removeIf([&](const RegKey& k) {
        const QString f = Fold(k.path);
        return normalized.isEmpty() || f == folded || f.startsWith(prefix);
    });
    if (keys_.size() == before)
        return false;
    reindexKeys();
    return true;
}

QStringList RegistryTree::subKeyNames(const QString& normalized) const {
    QStringList out;
    QStringList seen;
    const QString prefix = normalized.isEmpty() ? QString() : Fold(normalized) + u'\\';
    for (const RegKey& k : keys_) {
        const QString f = Fold(k.path);
        if (k.path.isEmpty() || !f.startsWith(prefix))
            continue;
        const QString rest = k.path.mid(prefix.size());
        const QString child = rest.section(u'\\', 0, 0);
        if (!child.isEmpty() && !seen.contains(Fold(child))) {
            seen.append(Fold(child));
            out.append(child);
        }
    }
    return out;
}

const RegValue* RegistryTree::findValue(const QString& key, const QString& name) const {
    const RegKey* k = findKey(key);
    if (!k)
        return nullptr;
    const auto it = k->index.constFind(Fold(name));
    return it == k->index.cend() ? nullptr : &k->values[*it];
}

void RegistryTree::setValue(const QString& key, RegValue value) {
    RegKey& k = ensureKey(key);
    const QString folded = Fold(value.name);
    const auto it = k.index.constFind(folded);
    if (it != k.index.cend()) {
        RegValue& old = k.values[*it];
        value.name = old.name;
        old = std::move(value);
        return;
    }
    k.values.append(std::move(value));
    k.index.insert(folded, k.values.size() - 1);
}

bool RegistryTree::removeValue(const QString& key, const QString& name) {
    const auto kit = keyIndex_.constFind(Fold(key));
    if (kit == keyIndex_.cend())
        return false;
    RegKey& k = keys_[*kit];
    const auto it = k.index.constFind(Fold(name));
    if (it == k.index.cend())
        return false;
    k.values.removeAt(*it);
    k.index.clear();
    for (qsizetype i = 0; i < k.values.size(); ++i)
        k.index.insert(Fold(k.values[i].name), i);
    return true;
}

void RegistryTree::reindexKeys() {
    keyIndex_.clear();
    for (qsizetype i = 0; i < keys_.size(); ++i)
        keyIndex_.insert(Fold(keys_[i].path), i);
}

} // namespace tarvina::platform
