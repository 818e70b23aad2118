#include "platform/linux/AvahiAnnouncer.h"

#include "platform/linux/AvahiBrowser.h"

#include <QProcess>

namespace tarvina::platform {

AvahiAnnouncer::AvahiAnnouncer(quint16 port, QString command, QObject* parent)
    : QObject(parent), port_(port), command_(std::move(command)) {}

AvahiAnnouncer::~AvahiAnnouncer() {
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(1000)) {
            process_->kill();
            process_->waitForFinished(1000);
        }
    }
}

bool AvahiAnnouncer::start(const QString& name, QString* error) {
    if (running())
        return true;
    delete process_;
    process_ = new QProcess(this);
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(QProcess::nullDevice());
    process_->start(command_, {name.left(63), QString::fromLatin1(AvahiBrowser::kServiceType),
                               QString::number(port_)});
    if (!process_->waitForStarted(3000)) {
        if (error)
            *error = process_->errorString();
        return false;
    }
    // The command ends at once when no Avahi daemon answers.
    if (process_->waitForFinished(300)) {
        if (error)
            *error = QStringLiteral("el servicio Avahi no responde");
        return false;
    }
    return true;
}

bool AvahiAnnouncer::running() const {
    return process_ && process_->state() == QProcess::Running;
}

} // namespace tarvina::platform
