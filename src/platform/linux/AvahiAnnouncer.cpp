#include "platform/linux/AvahiAnnouncer.h"

#include "platform/linux/AvahiBrowser.h"

#include <QProcess>

namespace tarvina::platform {

AvahiAnnouncer::AvahiAnnouncer(QString command, QObject* parent)
    : QObject(parent), command_(std::move(command)) {}

AvahiAnnouncer::~AvahiAnnouncer() {
    stop();
}

void AvahiAnnouncer::stop() {
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(1000)) {
            process_->kill();
            process_->waitForFinished(1000);
        }
    }
}

void AvahiAnnouncer::start(const QString& name, quint16 port) {
    if (running() && port == port_)
        return;
    stop();
    port_ = port;
    delete process_;
    process_ = new QProcess(this);
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(QProcess::nullDevice());
    // A service name is one DNS label: 63 bytes at most.
    QString label = name;
    while (label.toUtf8().size() > 63)
        label.chop(1);
    process_->start(
        command_, {label, QString::fromLatin1(AvahiBrowser::kServiceType), QString::number(port_)});
}

bool AvahiAnnouncer::running() const {
    return process_ && process_->state() != QProcess::NotRunning;
}

} // namespace tarvina::platform
