#pragma once

// A CUPS scheduler of a test's own, in its own folder, listening on its own
// socket only, with a raw queue whose device is a loopback listener standing
// in for the ticket printer.

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace tarvina::test {

inline bool WriteText(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
}

inline QString Tail(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(f.readAll().right(2000));
}

// A scheduler of the test's own, in its own folder, listening on its own
// socket only; stopped when the object goes away.
class PrivateCups {
public:
    QString start(const QString& root) {
        const QString cupsd =
            QStandardPaths::findExecutable("cupsd", {"/usr/sbin", "/sbin", "/usr/local/sbin"});
        if (cupsd.isEmpty()) {
            return "cupsd not installed";
        }
        root_ = root;
        QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                        QFile::ExeOther);
        for (const char* sub : {"spool", "spool/tmp", "cache", "state", "log", "ppd"}) {
            QDir().mkpath(root + "/" + sub);
        }
        socket_ = root + "/cups.sock";
        const QString conf = QStringLiteral("Listen %1\n"
                                            "LogLevel warn\n"
                                            "Browsing Off\n"
                                            "DefaultAuthType None\n"
                                            "WebInterface No\n"
                                            "<Location />\n  Order allow,deny\n  Allow all\n"
                                            "</Location>\n"
                                            "<Policy default>\n  <Limit All>\n"
                                            "    Order deny,allow\n  </Limit>\n</Policy>\n")
                                 .arg(socket_);
        const QString files =
            QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\n"
                           "CacheDir %1/cache\nStateDir %1/state\n"
                           "ErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                           "PageLog %1/log/page_log\nTempDir %1/spool/tmp\n"
                           "Sandboxing Relaxed\n")
                .arg(root);
        if (!WriteText(root + "/cupsd.conf", conf) ||
            !WriteText(root + "/cups-files.conf", files)) {
            return "cannot write the configuration";
        }
        proc_.setProcessChannelMode(QProcess::MergedChannels);
        proc_.start(cupsd, {"-f", "-c", root + "/cupsd.conf", "-s", root + "/cups-files.conf"});
        if (!proc_.waitForStarted(5000)) {
            return "cupsd did not start";
        }
        const bool up = QTest::qWaitFor(
            [&] {
                if (proc_.state() != QProcess::Running) {
                    return true;
                }
                QLocalSocket probe;
                probe.connectToServer(socket_);
                return probe.waitForConnected(100);
            },
            10000);
        if (!up || proc_.state() != QProcess::Running) {
            return "cupsd did not come up: " + QString::fromUtf8(proc_.readAll()) +
                   Tail(root + "/log/error_log");
        }
        return {};
    }

    QString socket() const { return socket_; }
    QString errorLog() const { return Tail(root_ + "/log/error_log"); }

    ~PrivateCups() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            if (!proc_.waitForFinished(5000)) {
                proc_.kill();
                proc_.waitForFinished(2000);
            }
        }
    }

    // Adds a raw queue sending its jobs to 127.0.0.1:port; empty on success.
    QString addRawQueue(const QString& name, quint16 port) {
        const QString lpadmin =
            QStandardPaths::findExecutable("lpadmin", {"/usr/sbin", "/usr/bin"});
        if (lpadmin.isEmpty()) {
            return "lpadmin not installed";
        }
        QProcess admin;
        admin.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CUPS_SERVER", socket_);
        admin.setProcessEnvironment(env);
        admin.start(lpadmin,
                    {"-p", name, "-E", "-v", QStringLiteral("socket://127.0.0.1:%1").arg(port)});
        if (!admin.waitForFinished(20000) || admin.exitCode() != 0) {
            return "lpadmin failed: " + QString::fromUtf8(admin.readAll());
        }
        return {};
    }

private:
    QProcess proc_;
    QString root_, socket_;
};

} // namespace tarvina::test
