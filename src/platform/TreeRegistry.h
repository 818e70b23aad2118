#pragma once

#include "platform/Registry.h"
#include "platform/RegistryTree.h"

#include <QMutex>

namespace tarvina::platform {

// The registry's rules over two in-memory trees; subclasses decide how a
// changed root is made durable. Thread-safe: one mutex guards both trees and
// the batch state, and is held while a root is persisted so that saves of the
// same root never run at once.
class TreeRegistry : public Registry {
public:
    std::optional<QString> readString(Root root, const QString& key,
                                      const QString& name) const override;
    std::optional<qint32> readInteger(Root root, const QString& key,
                                      const QString& name) const override;
    std::optional<QByteArray> readBinary(Root root, const QString& key,
                                         const QString& name) const override;
    std::optional<ValueKind> valueKind(Root root, const QString& key,
                                       const QString& name) const override;

    bool writeString(Root root, const QString& key, const QString& name,
                     const QString& value) override;
    bool writeInteger(Root root, const QString& key, const QString& name, qint32 value) override;
    bool writeBinary(Root root, const QString& key, const QString& name,
                     const QByteArray& value) override;

    bool createKey(Root root, const QString& key) override;
    bool deleteValue(Root root, const QString& key, const QString& name) override;
    bool deleteKey(Root root, const QString& key) override;

    QStringList valueNames(Root root, const QString& key) const override;
    QStringList subKeyNames(Root root, const QString& key) const override;
    bool keyExists(Root root, const QString& key) const override;
    bool valueExists(Root root, const QString& key, const QString& name) const override;

    void beginBatch() override;
    bool endBatch() override;
    bool flush() override;

    // Whether a root has changes that are not durable yet.
    bool isDirty(Root root) const;

protected:
    // Called with the lock held; returns true when the root's tree is durable.
    virtual bool persist(Root root, const RegistryTree& tree) = 0;
    // For subclasses loading their trees (before any other use).
    void replaceTree(Root root, RegistryTree tree);
    static int Slot(Root r) { return r == Root::CurrentUser ? 0 : 1; }

private:
    bool write(Root root, const QString& key, RegValue value);
    // Saves now unless a batch is open; lock held.
    bool changed(Root root);
    bool saveDirtyLocked();
    mutable QMutex mutex_;
    RegistryTree trees_[2];
    bool dirty_[2] = {false, false};
    int batchDepth_ = 0;
};

} // namespace tarvina::platform
