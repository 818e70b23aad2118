#include "platform/linux/XdgMail.h"

#include <QProcess>

namespace tarvina::platform {

XdgMail::XdgMail(QString program) : program_(std::move(program)) {}

QStringList XdgMail::Arguments(const MailMessage& m) {
    QStringList args{QStringLiteral("--utf8")};
    if (!m.subject.isEmpty())
        args << QStringLiteral("--subject") << m.subject;
    if (!m.body.isEmpty())
        args << QStringLiteral("--body") << m.body;
    for (const QString& file : m.attachments)
        args << QStringLiteral("--attach") << file;
    // "--" keeps an address that begins with a dash from being an option.
    args << QStringLiteral("--") << m.to;
    return args;
}

void XdgMail::compose(const MailMessage& message, Done done) {
    // xdg-email returns once the mail program has the message; it may also
    // stay until that program ends, so it is never waited for here.
    auto* p = new QProcess;
    p->setProgram(program_);
    p->setArguments(Arguments(message));
    p->setStandardInputFile(QProcess::nullDevice());
    p->setStandardOutputFile(QProcess::nullDevice());
    QObject::connect(p, &QProcess::errorOccurred, p, [p, done](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            if (done)
                done(false, p->errorString());
            p->deleteLater();
        }
    });
    QObject::connect(p, &QProcess::finished, p, [p, done](int code, QProcess::ExitStatus status) {
        if (done) {
            if (status == QProcess::NormalExit && code == 0)
                done(true, {});
            else
                done(false, QString::fromLocal8Bit(p->readAllStandardError()).trimmed());
        }
        p->deleteLater();
    });
    p->start();
}

} // namespace tarvina::platform
