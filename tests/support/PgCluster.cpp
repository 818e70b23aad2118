#include "support/PgCluster.h"

#include "server/central/PgLink.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarvina::test {

namespace {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";

struct Account {
    uid_t uid;
    gid_t gid;
};

Account Unprivileged() {
    if (::geteuid() != 0)
        return {::geteuid(), ::getegid()};
    const passwd* pw = ::getpwnam("postgres");
    if (!pw)
        throw std::runtime_error("no unprivileged 'postgres' user to run the test cluster as "
                                 "(install postgresql-15: scripts/deps)");
    return {pw->pw_uid, pw->pw_gid};
}

// Starts the program as the unprivileged user; returns its pid.
pid_t Spawn(const std::vector<std::string>& args, const QString& log) {
    const Account a = Unprivileged();
    const QByteArray logPath = QFile::encodeName(log);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(a.gid) != 0 || ::setuid(a.uid) != 0))
            ::_exit(126);
        const int fd = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::setsid();
        std::vector<char*> argv;
        for (const auto& s : args)
            argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        throw std::runtime_error("no free port for the test cluster");
    ::close(s);
    return ntohs(a.sin_port);
}

QString ReadLog(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().right(2000)) : QString();
}

} // namespace

PgCluster& Cluster() {
    static PgCluster c;
    return c;
}

void PgCluster::init() {
    char tmpl[] = "/tmp/tarvina-pg-XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error("no scratch folder for the test cluster");
    dir_ = QString::fromLocal8Bit(tmpl);
    const Account a = Unprivileged();
    const QByteArray d = QFile::encodeName(dir_);
    if (::chown(d.constData(), a.uid, a.gid) != 0 || ::chmod(d.constData(), 0700) != 0)
        throw std::runtime_error("cannot give the scratch folder to the cluster's user");
    const QString pwfile = dir_ + "/pw";
    {
        QFile f(pwfile);
        if (!f.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the cluster's password file");
        f.write(kPassword);
    }
    if (::chown(QFile::encodeName(pwfile).constData(), a.uid, a.gid) != 0)
        throw std::runtime_error("cannot give the password file to the cluster's user");
    const pid_t pid =
        Spawn({std::string(kBin) + "initdb", "-D", (dir_ + "/data").toStdString(), "-U", kUser,
               "--pwfile=" + pwfile.toStdString(), "--auth-host=scram-sha-256",
               "--auth-local=trust", "-E", "UTF8", "--locale=C", "--no-sync"},
              dir_ + "/initdb.log");
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
        throw std::runtime_error("initdb failed: " + ReadLog(dir_ + "/initdb.log").toStdString());
    port_ = FreePort();
    startServer();
}

void PgCluster::startServer() {
    if (pid_ > 0)
        return;
    pid_ = Spawn({std::string(kBin) + "postgres", "-D", (dir_ + "/data").toStdString(), "-p",
                  std::to_string(port_), "-k", dir_.toStdString(), "-c",
                  "listen_addresses=127.0.0.1", "-c", "fsync=off", "-c", "synchronous_commit=off",
                  "-c", "lc_messages=C", "-c", "max_connections=60"},
                 dir_ + "/server.log");
    for (int i = 0; i < 300; ++i) {
        int st = 0;
        if (::waitpid(pid_, &st, WNOHANG) == pid_) {
            pid_ = 0;
            throw std::runtime_error("the test cluster did not start: " +
                                     ReadLog(dir_ + "/server.log").toStdString());
        }
        try {
            server::central::PgLink link;
            link.connect(conninfo("postgres"), kPassword, 1000);
            return;
        } catch (const server::central::CentralError&) {
            QThread::msleep(50);
        }
    }
    throw std::runtime_error("the test cluster did not answer: " +
                             ReadLog(dir_ + "/server.log").toStdString());
}

void PgCluster::stopServer() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGINT); // fast shutdown: sessions are cut
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = 0;
}

void PgCluster::destroy() {
    stopServer();
    if (!dir_.isEmpty())
        QDir(dir_).removeRecursively();
    dir_.clear();
}

QString PgCluster::conninfo(const QString& database) const {
    return QStringLiteral("host=127.0.0.1 port=%1 dbname=%2 user=%3")
        .arg(port_)
        .arg(database, QLatin1String(kUser));
}

void PgCluster::exec(const QString& database, const QString& sql) {
    server::central::PgLink link;
    link.connect(conninfo(database), kPassword, 5000);
    link.exec(sql);
}

QString PgCluster::scalar(const QString& database, const QString& sql) {
    server::central::PgLink link;
    link.connect(conninfo(database), kPassword, 5000);
    const auto rows = link.exec(sql);
    return rows.empty() || rows[0].empty() || !rows[0][0] ? QString() : *rows[0][0];
}

QString PgCluster::createDatabase(const QString& name) {
    exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE ") + name);
    return name;
}

void PgEnvironment::SetUp() {
    try {
        Cluster().init();
    } catch (const std::exception& e) {
        FAIL() << "no PostgreSQL test cluster: " << e.what();
    }
}

void PgEnvironment::TearDown() {
    Cluster().destroy();
}

} // namespace tarvina::test
