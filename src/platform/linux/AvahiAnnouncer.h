#pragma once

#include <QObject>
#include <QString>

class QProcess;

namespace tarvina::platform {

// Announces taquilla on the local network as "_tarvina._tcp" on its port
// through Avahi's publishing command, for as long as this object lives, so
// the stations' server chooser finds it. Without Avahi nothing is announced
// and stations type the address.
class AvahiAnnouncer final : public QObject {
public:
    explicit AvahiAnnouncer(QString command = QStringLiteral("avahi-publish-service"),
                            QObject* parent = nullptr);
    ~AvahiAnnouncer() override;

    // Starts the announcement of port without waiting for it: a missing
    // command or daemon only means that nothing is announced. While one
    // runs, a start for the same port changes nothing and one for another
    // port replaces it.
    void start(const QString& name, quint16 port);
    bool running() const;

private:
    void stop();

    quint16 port_ = 0;
    QString command_;
    QProcess* process_ = nullptr;
};

} // namespace tarvina::platform
