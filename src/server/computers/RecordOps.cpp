#include "server/computers/RecordOps.h"

#include "protocol/Codes.h"
#include "protocol/Line.h"
#include "server/computers/Senders.h"
#include "server/net/StationConnection.h"

namespace tarvina::server {

TCompItem* BindConnection(ServerContext& ctx, const std::shared_ptr<StationConnection>& conn,
                          const std::optional<QString>& mac) {
    ComputersGuard guard(ctx.registry.lock());
    ComputerRegistry& reg = ctx.registry;
    const QString address = conn->peerAddress();
    TCompItem* record = nullptr;
    if (mac)
        record = reg.findByMac(*mac);
    if (record == nullptr)
        record = reg.findByAddress(address);
    bool created = false;
    if (record == nullptr) {
        record = reg.addRecord(address, mac.value_or(QString()));
        created = true;
    }
    if (record->address != address)
        record->address = address;
    SetName(ctx, record, address);
    ctx.lastCommand.set(QStringLiteral("New conn ") + record->name);
    if (mac && *mac != record->mac) {
        record->mac = *mac;
        reg.indexMac(record, *mac);
    }
    if (record->connection && record->connection != conn)
        record->connection->record = nullptr;
    record->connection = conn;
    conn->record = record;
    ctx.handoff.post({created ? UiEvent::Kind::RowAdded : UiEvent::Kind::RowUpdate, record});
    return record;
}

void SetState(ServerContext& ctx, TCompItem* record, int state) {
    if (record == nullptr)
        return;
    ComputersGuard guard(ctx.registry.lock());
    const auto s = static_cast<quint8>(state);
    if (s == record->state)
        return;
    record->state = s;
    record->stateStamp = ctx.registry.nextStamp();
    UiEvent changed(UiEvent::Kind::StateChanged, record, QString(), QByteArray(), s);
    changed.seen = StateChange::Of(record).seen;
    ctx.handoff.post(std::move(changed));
    if (s == 1) {
        record->relock = false;
    } else if (record->relock && s == 2) {
        SendToComputer(ctx, record, protocol::FormatToClient(protocol::tc::Lock), QString(),
                       [](const QString&, const QString&) {
                           return QStringLiteral("Falla al establecer bloqueo");
                       });
    }
}

void SetName(ServerContext& ctx, TCompItem* record, const QString& name) {
    if (record == nullptr)
        return;
    ComputersGuard guard(ctx.registry.lock());
    if (record->name == name)
        return;
    record->name = name;
    ctx.handoff.post({UiEvent::Kind::NameChanged, record});
}

} // namespace tarvina::server
