#include "platform/StreamDevice.h"

namespace tarvina::platform {

StreamDevice::StreamDevice(Stream& stream, int writeTimeoutMs)
    : stream_(stream), writeTimeoutMs_(writeTimeoutMs) {
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool StreamDevice::waitForReadyRead(int msecs) {
    if (ended_)
        return false;
    return stream_.waitReadable(msecs);
}

qint64 StreamDevice::bytesAvailable() const {
    return QIODevice::bytesAvailable() + (ended_ ? 0 : stream_.bytesReadable());
}

qint64 StreamDevice::readData(char* data, qint64 maxSize) {
    if (ended_)
        return -1;
    const Stream::Read r = stream_.read(data, maxSize, 0);
    switch (r.status) {
    case Stream::Read::Status::Data:
        return r.bytes;
    case Stream::Read::Status::Nothing:
        return 0;
    case Stream::Read::Status::Ended:
    case Stream::Read::Status::Failed:
        break;
    }
    ended_ = true;
    setErrorString(r.error);
    return -1;
}

qint64 StreamDevice::writeData(const char* data, qint64 size) {
    if (const auto err = stream_.writeAll(data, size, writeTimeoutMs_)) {
        setErrorString(*err);
        return -1;
    }
    return size;
}

} // namespace tarvina::platform
