#pragma once

#include "platform/Registry.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarvina::platform {

struct RegValue {
    QString name; // spelled as first written
    ValueKind kind = ValueKind::Text;
    QString text;
    qint32 integer = 0;
    QByteArray bytes;
};

struct RegKey {
    QString path; // "Software\Velt\Tarvina", spelled as first created; "" is the root
    QList<RegValue> values;
    QHash<QString, qsizetype> index; // folded name -> position in values
};

// The keys and values of one root, in the order they were created. Names are
// matched by their case-folded form.
class RegistryTree {
public:
    // Bounds that keep a hostile file from costing unbounded memory or time.
    static constexpr qsizetype kMaxKeyDepth = 64;
    static constexpr qsizetype kMaxKeyPathLength = 2048;
    static constexpr qsizetype kMaxValueNameLength = 16383;

    // "\Software\\Velt\Tarvina\" -> "Software\Velt\Tarvina"; nullopt when a
    // part holds a line break or a NUL (the file could not carry it).
    static std::optional<QString> NormalizeKey(const QString& key);
    static QString Fold(const QString& s) { return s.toCaseFolded(); }

    const RegKey* findKey(const QString& normalized) const;
    // Creates the key and its parents when absent.
    RegKey& ensureKey(const QString& normalized);
    // The key or any key below it.
    bool keyExists(const QString& normalized) const;
    bool removeKeyTree(const QString& normalized);
    QStringList subKeyNames(const QString& normalized) const;

    const RegValue* findValue(const QString& key, const QString& name) const;
    // Replaces a value in place (keeping its position and first spelling) or
    // appends it.
    void setValue(const QString& key, RegValue value);
    bool removeValue(const QString& key, const QString& name);

    const QList<RegKey>& keys() const { return keys_; }
    bool isEmpty() const { return keys_.isEmpty(); }

private:
    void reindexKeys();
    QList<RegKey> keys_;
    QHash<QString, qsizetype> keyIndex_;
};

} // namespace tarvina::platform
