#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>

namespace tarvina::protocol::test {

// An in-memory stream that hands out its bytes the way a socket does: what
// has "arrived" is readable at once; each waitForReadyRead lets the next
// scripted chunk arrive. When the script runs out the peer may hang up.
class ScriptedDevice : public QIODevice {
public:
    explicit ScriptedDevice(QList<QByteArray> chunks = {}, bool hangUpAtEnd = false);

    // Bytes that arrive now, without waiting.
    void arrive(const QByteArray& bytes) { arrived_.append(bytes); }
    // Bytes that arrive together at the next wait.
    void script(const QByteArray& chunk) { script_.append(chunk); }
    // Bytes that arrive one at a time, one per wait.
    void scriptByteByByte(const QByteArray& bytes);
    void hangUp() { hungUp_ = true; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return arrived_.size() + QIODevice::bytesAvailable(); }
    bool waitForReadyRead(int msecs) override;

    qint64 largestReadRequest() const { return largestRequest_; }
    qsizetype unread() const;
    const QByteArray& written() const { return written_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    QList<QByteArray> script_;
    QByteArray arrived_;
    QByteArray written_;
    bool hangUpAtEnd_;
    bool hungUp_ = false;
    qint64 largestRequest_ = 0;
};

} // namespace tarvina::protocol::test
