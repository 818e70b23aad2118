#include "protocol/LineReader.h"

#include <QIODevice>
#include <cstring>

namespace tarvina::protocol {

LineReader::LineReader(QIODevice* device, qsizetype maxLine)
    : device_(device), maxLine_(maxLine < 1 ? 1 : maxLine) {}

bool LineReader::deviceClosed() const {
    return device_ == nullptr || !device_->isOpen();
}

qint64 LineReader::fill() {
    if (deviceClosed())
        return -1;
    const qsizetype cap = maxLine_ + 2;
    const qsizetype old = buffer_.size();
    if (old >= cap)
        return 0;
    buffer_.resize(cap);
    const qint64 n = device_->read(buffer_.data() + old, cap - old);
    buffer_.resize(old + (n > 0 ? n : 0));
    if (n < 0)
        return -1;
    return n;
}

TakeLineResult TakeLine(QByteArray& buffer, bool& discarding, qsizetype maxLine, QByteArray& line) {
    for (;;) {
        const qsizetype lf = buffer.indexOf('\n');
        if (discarding) {
            if (lf < 0) {
                buffer.clear();
                return TakeLineResult::NeedMore;
            }
            buffer.remove(0, lf + 1);
            discarding = false;
            continue;
        }
        if (lf >= 0) {
            qsizetype len = lf;
            if (len > 0 && buffer.at(len - 1) == '\r')
                --len;
            if (len > maxLine) {
                buffer.remove(0, lf + 1);
                return TakeLineResult::TooLong;
            }
            line = buffer.left(len);
            buffer.remove(0, lf + 1);
            return TakeLineResult::Line;
        }
        if (buffer.size() >= maxLine + 2) {
            // Not even a CR LF fits any more: the line is over the limit.
            buffer.clear();
            discarding = true;
            return TakeLineResult::TooLong;
        }
        return TakeLineResult::NeedMore;
    }
}

LineReader::Status LineReader::next(QByteArray& line) {
    for (;;) {
        switch (TakeLine(buffer_, discarding_, maxLine_, line)) {
        case TakeLineResult::Line:
            return Status::Line;
        case TakeLineResult::TooLong:
            return Status::TooLong;
        case TakeLineResult::NeedMore:
            break;
        }
        const qint64 n = fill();
        if (n < 0)
            return Status::Closed;
        if (n == 0)
            return Status::NeedMore;
    }
}

bool LineReader::waitForMore(QDeadlineTimer deadline) {
    if (deviceClosed() || deadline.hasExpired())
        return false;
    const qint64 remaining = deadline.remainingTime();
    const int ms = remaining < 0 ? -1 : static_cast<int>(std::min<qint64>(remaining, INT_MAX));
    return device_->waitForReadyRead(ms);
}

LineReader::Status LineReader::readLineWait(QByteArray& line, int timeoutMs) {
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    for (;;) {
        const Status s = next(line);
        if (s != Status::NeedMore)
            return s;
        if (!waitForMore(deadline))
            return next(line);
    }
}

qint64 LineReader::readSome(char* dst, qint64 max) {
    if (max <= 0)
        return 0;
    if (!buffer_.isEmpty()) {
        const qint64 n = std::min<qint64>(max, buffer_.size());
        std::memcpy(dst, buffer_.constData(), static_cast<size_t>(n));
        buffer_.remove(0, static_cast<qsizetype>(n));
        return n;
    }
    if (deviceClosed())
        return -1;
    const qint64 n = device_->read(dst, max);
    return n < 0 ? -1 : n;
}

LineReader::RawStatus LineReader::readExact(char* dst, qint64 n, QDeadlineTimer deadline) {
    qint64 got = 0;
    while (got < n) {
        const qint64 r = readSome(dst + got, n - got);
        if (r < 0)
            return RawStatus::Closed;
        if (r > 0) {
            got += r;
            continue;
        }
        if (!waitForMore(deadline)) {
            const qint64 last = readSome(dst + got, n - got);
            if (last < 0)
                return RawStatus::Closed;
            if (last == 0)
                return deviceClosed() ? RawStatus::Closed : RawStatus::Timeout;
            got += last;
        }
    }
    return RawStatus::Ok;
}

} // namespace tarvina::protocol
