#include "server/computers/Senders.h"

#include "common/Cp1252.h"
#include "common/Password.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "server/net/StationConnection.h"

namespace tarvina::server {

namespace p = tarvina::protocol;
using common::ToCp1252;

namespace {

FailureText WithName(const QString& prefix) {
    return [prefix](const QString& name, const QString&) { return prefix + name; };
}
FailureText WithError(const QString& prefix) {
    return [prefix](const QString&, const QString& error) { return prefix + error; };
}

} // namespace

SendResult SendToComputer(ServerContext& ctx, TCompItem* record, const QByteArray& line,
                          const QString& label, const FailureText& failure,
                          const QByteArray* block) {
    if (!label.isEmpty())
        ctx.lastCommand.set(label);
    if (record == nullptr)
        return SendResult::NotConnected;
    std::shared_ptr<StationConnection> conn;
    QString name;
    {
        ComputersGuard guard(ctx.registry.lock());
        conn = record->connection;
        name = record->name;
    }
    if (!conn || !conn->isUp())
        return SendResult::NotConnected;
    QByteArray clean = line;
    clean.replace('\r', ' ').replace('\n', ' ');
    const auto err = block ? conn->sendLineWithBlock(clean, *block) : conn->sendLine(clean);
    if (err) {
        if (failure)
            ctx.console(record, failure(name, *err));
        return SendResult::Failed;
    }
    return SendResult::Sent;
}

SendResult SendNotice(ServerContext& ctx, TCompItem* record, const QString& text) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::Notice, ToCp1252(text)),
                          QStringLiteral("SendNOtice"),
                          WithName(QStringLiteral("Falla enviar mensaje a ")));
}

SendResult SendServicePassword(ServerContext& ctx, TCompItem* record, const QString& password) {
    return SendToComputer(
        ctx, record,
        p::FormatToClient(p::tc::SetServicePassword, common::ScramblePassword(ToCp1252(password))),
        QStringLiteral("NewServPAss"), WithName(QStringLiteral("Falla enviar contraseña a ")));
}

SendResult RunRemote(ServerContext& ctx, TCompItem* record, const QString& command) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::OpenRemote, ToCp1252(command)),
                          QString(),
                          WithName(QStringLiteral("Falla enviado comando a ejecutar en ")));
}

SendResult ScheduleShutdown(ServerContext& ctx, TCompItem* record, int seconds, QChar letter) {
    QByteArray payload = QByteArray::number(seconds) + ", " + ToCp1252(QString(letter));
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::ScheduleShutdown, payload),
                          QStringLiteral("Reset"),
                          WithError(QStringLiteral("Falla al reiniciar equipo ")));
}

SendResult QueryCdList(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::CdListQuery), QString(),
                          WithName(QStringLiteral("Falla obteniendo lista de CD en ")));
}

SendResult CdTray(ServerContext& ctx, TCompItem* record, QChar letter, bool open) {
    QByteArray payload = ToCp1252(QString(letter)) + (open ? "1" : "0");
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::CdTray, payload), QString(),
                          WithName(QStringLiteral("Falla operando unidad de CD en ")));
}

SendResult SetVolume(ServerContext& ctx, TCompItem* record, int left, int right) {
    const auto clamp = [](int v) { return static_cast<quint32>(std::clamp(v, 0, 0xFFFF)); };
    QByteArray payload = p::FormatHex(clamp(left), 4) + p::FormatHex(clamp(right), 4);
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::SetVolume, payload), QString(),
                          WithName(QStringLiteral("Falla enviado volumen a ")));
}

SendResult QueryVolume(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::VolumeQuery), QString(),
                          WithName(QStringLiteral("Falla enviado volumen a ")));
}

SendResult QueryLog(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(
        ctx, record, p::FormatToClient(p::tc::LogQuery), QString(),
        [](const QString&, const QString&) { return QStringLiteral("Falla solicitando log"); });
}

SendResult QueryTransparency(ServerContext& ctx, TCompItem* record) {
    return SendToComputer(ctx, record, p::FormatToClient(p::tc::TransparencyQuery), QString(),
                          WithName(QStringLiteral("Falla solicitando transparencia a ")));
}

int VolumePercent(int value) {
    return value * 100 / 65535;
}

int VolumeFromPercent(int percent) {
    // 65535 div 100 is 655, so 100 % would be 65500; full volume is FFFF.
    if (percent >= 100)
        return 0xFFFF;
    return std::max(0, percent) * (65535 / 100);
}

} // namespace tarvina::server
