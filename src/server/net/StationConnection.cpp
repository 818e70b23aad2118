#include "server/net/StationConnection.h"

#include "platform/linux/SocketIo.h"
#include "protocol/Block.h"
#include "protocol/Line.h"

#include <sys/socket.h>
#include <unistd.h>

namespace tarvina::server {

StationConnection::StationConnection(int fd)
    : fd_(fd), peer_(platform::PeerAddressOf(fd)), device_(fd), reader_(&device_) {
    int on = 1;
    // A station that vanishes without closing is found by the keep-alive
    // probes even when the server has nothing to write.
    ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
}

StationConnection::~StationConnection() {
    device_.close();
    ::close(fd_);
}

std::optional<QString> StationConnection::sendRaw(QByteArrayView bytes) {
    std::lock_guard<std::mutex> guard(writeMutex_);
    if (!up_.load())
        return QStringLiteral("Conexión cerrada");
    auto err = platform::WriteAllToSocket(fd_, bytes.data(), bytes.size(), kWriteTimeoutMs);
    if (err) {
        up_.store(false);
        ::shutdown(fd_, SHUT_RDWR);
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
    ::shutdown(fd_, SHUT_RDWR);
}

} // namespace tarvina::server
