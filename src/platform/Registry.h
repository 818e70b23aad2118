#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <cstring>
#include <optional>

namespace tarvina::platform {

enum class Root { CurrentUser, LocalMachine };
enum class ValueKind { Text, Integer, Binary };

// The settings store: keys of named values under two roots. Keys are written
// with backslashes ("\Software\Velt\Tarvina"; leading, trailing and doubled
// backslashes are ignored). Key and value names are compared without regard
// to case; a name keeps the spelling it was first written with.
//
// Reading a text value that does not exist gives the empty text; reading a
// missing integer or raw value, or any value of another kind, is an error
// (nullopt). Writes create the key and its parents as needed and return false
// when the change could not be made durable. Pure interface: the common
// library uses it without linking the platform library.
class Registry {
public:
    virtual ~Registry() = default;

    virtual std::optional<QString> readString(Root root, const QString& key,
                                              const QString& name) const = 0;
    virtual std::optional<qint32> readInteger(Root root, const QString& key,
                                              const QString& name) const = 0;
    virtual std::optional<QByteArray> readBinary(Root root, const QString& key,
                                                 const QString& name) const = 0;
    virtual std::optional<ValueKind> valueKind(Root root, const QString& key,
                                               const QString& name) const = 0;

    virtual bool writeString(Root root, const QString& key, const QString& name,
                             const QString& value) = 0;
    virtual bool writeInteger(Root root, const QString& key, const QString& name, qint32 value) = 0;
    virtual bool writeBinary(Root root, const QString& key, const QString& name,
                             const QByteArray& value) = 0;

    // Creates the key (and its parents) when absent; true when it exists after.
    virtual bool createKey(Root root, const QString& key) = 0;
    // True when the value existed and is gone durably.
    virtual bool deleteValue(Root root, const QString& key, const QString& name) = 0;
    // Deletes the key with all its values and sub-keys; true when it existed.
    virtual bool deleteKey(Root root, const QString& key) = 0;

    // Value names of a key in the order they were first written; stable
    // across saves and restarts (values rewritten keep their place).
    virtual QStringList valueNames(Root root, const QString& key) const = 0;
    // Direct sub-key names, in the order they were created.
    virtual QStringList subKeyNames(Root root, const QString& key) const = 0;
    virtual bool keyExists(Root root, const QString& key) const = 0;
    virtual bool valueExists(Root root, const QString& key, const QString& name) const = 0;

    // Groups many writes into one save: between beginBatch() and the matching
    // endBatch() changes are kept in memory; endBatch() saves them. Nested
    // batches save at the outermost end. Prefer SaveBatch below.
    virtual void beginBatch() = 0;
    virtual bool endBatch() = 0;
    // Saves whatever is not yet durable; true when nothing is left unsaved.
    virtual bool flush() = 0;
};

// Scope of a batch of writes (see Registry::beginBatch).
class SaveBatch {
public:
    explicit SaveBatch(Registry& r) : r_(r) { r_.beginBatch(); }
    ~SaveBatch() {
        if (!done_)
            r_.endBatch();
    }
    SaveBatch(const SaveBatch&) = delete;
    SaveBatch& operator=(const SaveBatch&) = delete;
    // Ends the batch early and tells whether the save succeeded.
    bool commit() {
        done_ = true;
        return r_.endBatch();
    }

private:
    Registry& r_;
    bool done_ = false;
};

// Date-time values are raw 8-byte values holding a little-endian IEEE 754
// double (days since 1899-12-30).
inline QByteArray EncodeDateTimeValue(double days) {
    quint64 bits;
    std::memcpy(&bits, &days, sizeof bits);
    QByteArray out(8, '\0');
    qToLittleEndian(bits, out.data());
    return out;
}
inline std::optional<double> DecodeDateTimeValue(const QByteArray& raw) {
    if (raw.size() != 8)
        return std::nullopt;
    const quint64 bits = qFromLittleEndian<quint64>(raw.constData());
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

} // namespace tarvina::platform
