#include "ScriptedDevice.h"

#include <cstring>

namespace tarvina::protocol::test {

ScriptedDevice::ScriptedDevice(QList<QByteArray> chunks, bool hangUpAtEnd)
    : script_(std::move(chunks)), hangUpAtEnd_(hangUpAtEnd) {
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void ScriptedDevice::scriptByteByByte(const QByteArray& bytes) {
    for (char c : bytes)
        script_.append(QByteArray(1, c));
}

bool ScriptedDevice::waitForReadyRead(int) {
    if (!arrived_.isEmpty())
        return true;
    if (script_.isEmpty()) {
        if (hangUpAtEnd_)
            hungUp_ = true;
        return false;
    }
    arrived_.append(script_.takeFirst());
    return true;
}

qsizetype ScriptedDevice::unread() const {
    qsizetype n = arrived_.size();
    for (const QByteArray& c : script_)
        n += c.size();
    return n;
}

qint64 ScriptedDevice::readData(char* data, qint64 maxSize) {
    largestRequest_ = std::max(largestRequest_, maxSize);
    if (arrived_.isEmpty())
        return hungUp_ ? -1 : 0;
    const qint64 n = std::min<qint64>(maxSize, arrived_.size());
    std::memcpy(data, arrived_.constData(), static_cast<size_t>(n));
    arrived_.remove(0, static_cast<qsizetype>(n));
    return n;
}

qint64 ScriptedDevice::writeData(const char* data, qint64 size) {
    written_.append(data, static_cast<qsizetype>(size));
    return size;
}

} // namespace tarvina::protocol::test
