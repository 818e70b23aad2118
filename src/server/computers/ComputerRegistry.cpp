#include "server/computers/ComputerRegistry.h"

namespace tarvina::server {

QString StateLabel(int state) {
    switch (state & 127) {
    case 0:
        return QStringLiteral("Desc.");
    case 1:
        return QStringLiteral("Bloq.");
    case 2:
        return QStringLiteral("Uso");
    case 3:
        return QStringLiteral("Serv.");
    case 4:
        return QStringLiteral("Espera");
    default:
        return QStringLiteral("N/A");
    }
}

bool ComputerRegistry::IsMacKey(const QString& mac) {
    return !mac.isEmpty() && mac.compare(QLatin1String("mac not found"), Qt::CaseInsensitive) != 0;
}

TCompItem* ComputerRegistry::findByAddress(const QString& address) const {
    const auto it = addressIndex_.constFind(address.toLower());
    return it == addressIndex_.cend() ? nullptr : recordAt(*it);
}

TCompItem* ComputerRegistry::findByMac(const QString& mac) const {
    if (!IsMacKey(mac))
        return nullptr;
    const auto it = macIndex_.constFind(mac.toLower());
    return it == macIndex_.cend() ? nullptr : recordAt(*it);
}

TCompItem* ComputerRegistry::addRecord(const QString& address, const QString& macKey) {
    auto record = std::make_unique<TCompItem>();
    const int row = static_cast<int>(records_.size());
    record->row = row;
    TCompItem* raw = record.get();
    records_.push_back(std::move(record));
    // A sorted list that ignores duplicates: the first row keeps a key.
    if (!addressIndex_.contains(address.toLower()))
        addressIndex_.insert(address.toLower(), row);
    if (IsMacKey(macKey) && !macIndex_.contains(macKey.toLower()))
        macIndex_.insert(macKey.toLower(), row);
    return raw;
}

void ComputerRegistry::indexMac(TCompItem* record, const QString& mac) {
    if (record == nullptr || record->row < 0 || !IsMacKey(mac))
        return;
    if (!macIndex_.contains(mac.toLower()))
        macIndex_.insert(mac.toLower(), record->row);
}

TCompItem* ComputerRegistry::recordAt(int row) const {
    if (row < 0 || row >= static_cast<int>(records_.size()))
        return nullptr;
    return records_[static_cast<size_t>(row)].get();
}

int ComputerRegistry::connectionClosed() {
    int cur = connections_.load();
    while (cur > 0 && !connections_.compare_exchange_weak(cur, cur - 1)) {
    }
    return cur > 0 ? cur - 1 : 0;
}

} // namespace tarvina::server
