#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>

namespace tarvina::server {

// The file a station's LogReport is saved to, inside the working folder:
// the display name with its extension replaced by ".log" ("192.168.0.15"
// gives "192.168.0.log"), after dropping folder separators, ".." and control
// characters, and cut so that the whole name, and the temporary names it is
// written through, fit the file system's 255 bytes. A name that would overwrite one of the
// program's own logs is prefixed "cliente_"; a name with nothing left ("", ".", "..") is named
// after the station's address ("cliente_192_168_0_15.log"), so that two such
// stations never share a file.
QString ClientLogFileName(const QString& displayName, const QString& peerAddress);

// Writes a station's log reply to its file as the lines arrive, so that no
// reply is ever held in memory. The file keeps at most kCapBytes: when a
// reply is longer its older lines are rotated away and the newest ones kept
// (a station's log grows at its end). The file is replaced only by commit(),
// so a reply that cannot be written leaves the previous one in place.
class ClientLogWriter {
public:
    static constexpr qint64 kCapBytes = 1024 * 1024;

    explicit ClientLogWriter(QString path);
    ~ClientLogWriter();
    ClientLogWriter(const ClientLogWriter&) = delete;
    ClientLogWriter& operator=(const ClientLogWriter&) = delete;

    bool open();
    // One line, written with a LF after it.
    bool add(const QByteArray& line);
    // The kept lines become the file.
    bool commit();

    // Lines rotated away so far.
    qint64 droppedLines() const { return dropped_; }
    QString errorString() const { return error_; }

private:
    // Two halves of the cap: when the current one is full the older one is
    // emptied and becomes the current one.
    struct Part {
        std::unique_ptr<QFile> file;
        qint64 bytes = 0;
        qint64 lines = 0;
    };
    bool fail(const QString& text);

    QString path_;
    Part parts_[2];
    int current_ = 0;
    qint64 dropped_ = 0;
    QString error_;
};

} // namespace tarvina::server
