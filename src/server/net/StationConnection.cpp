#include "server/net/StationConnection.h"

#include "protocol/Block.h"
#include "protocol/Line.h"

namespace tarvina::server {

StationConnection::StationConnection(std::unique_ptr<platform::Stream> stream)
    : stream_(std::move(stream)), peer_(stream_->peerAddress()), device_(*stream_, kWriteTimeoutMs),
      reader_(&device_) {}

StationConnection::~StationConnection() {
    device_.close();
}

std::optional<QString> StationConnection::sendRaw(QByteArrayView bytes) {
    std::lock_guard<std::mutex> guard(writeMutex_);
    if (!up_.load())
        return QStringLiteral("Conexión cerrada");
    auto err = stream_->writeAll(bytes.data(), bytes.size(), kWriteTimeoutMs);
    if (err) {
        up_.store(false);
        stream_->shutdown();
    }
    return err;
}

std::optional<QString> StationConnection::sendLine(QByteArrayView line) {
    return sendRaw(protocol::Terminate(line));
}

std::optional<QString> StationConnection::sendLineWithBlock(QByteArrayView line,
                                                            QByteArrayView block) {
    if (block.size() > std::numeric_limits<qint32>::max())
        return QStringLiteral("Bloque demasiado grande");
    QByteArray bytes = protocol::Terminate(line);
    bytes.append(protocol::EncodeBlock(block));
    return sendRaw(bytes);
}

void StationConnection::shutdown() {
    up_.store(false);
    stream_->shutdown();
}

} // namespace tarvina::server
