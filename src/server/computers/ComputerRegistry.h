#pragma once

#include "server/computers/TCompItem.h"
#include "server/net/ComputersLock.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <atomic>
#include <memory>
#include <vector>

namespace tarvina::server {

// What the connection threads need from the settings to answer a station.
// The UI thread publishes a fresh copy whenever the settings change.
struct ClientParams {
    int serviceMode = 0; // ServiceMode: 0 by request, 1 prepaid codes
    int clienteModo = 1; // ClienteModo
    QString clienteVal = QStringLiteral("15,30,60");
    QString clientInit; // ClientInit
};

// The registry of computers: the records (one row each, in the order they
// were first bound), AddressIndex and MacIndex, ConnectionCount.
class ComputerRegistry {
public:
    ComputerRegistry() = default;
    ComputerRegistry(const ComputerRegistry&) = delete;
    ComputerRegistry& operator=(const ComputerRegistry&) = delete;

    ComputersLock& lock() const { return lock_; }

    // --- everything below requires ComputersLock ---

    // AddressIndex and MacIndex lookups, keys compared without regard to case.
    TCompItem* findByAddress(const QString& address) const;
    TCompItem* findByMac(const QString& mac) const;

    // A new record with its row; address and mac become its index keys. An
    // empty mac or "mac not found" is no key: it would tie unrelated
    // computers together.
    TCompItem* addRecord(const QString& address, const QString& macKey);
    // Keys a record that has a row under a MAC it reported later.
    void indexMac(TCompItem* record, const QString& mac);

    int rowCount() const { return static_cast<int>(records_.size()); }
    TCompItem* recordAt(int row) const;
    int knownMacs() const { return static_cast<int>(macIndex_.size()); }
    int knownAddresses() const { return static_cast<int>(addressIndex_.size()); }

    ClientParams& clientParams() { return params_; }
    const ClientParams& clientParams() const { return params_; }

    QByteArray& screenshot() { return screenshot_; }

    // --- ConnectionCount: atomic, no lock needed ---
    int connectionOpened() { return ++connections_; }
    int connectionClosed();
    int connectionCount() const { return connections_.load(); }
    // A number larger than every one handed out before (ComputersLock held).
    quint64 nextStamp() { return ++stamps_; }

    static bool IsMacKey(const QString& mac);

private:
    mutable ComputersLock lock_;
    std::vector<std::unique_ptr<TCompItem>> records_;
    QMap<QString, int> addressIndex_; // lower-cased address -> row
    QMap<QString, int> macIndex_;     // lower-cased MAC -> row
    ClientParams params_;
    QByteArray screenshot_;
    std::atomic<int> connections_{0};
    quint64 stamps_ = 0;
};

} // namespace tarvina::server
