#pragma once

#include <QString>
#include <gtest/gtest.h>
#include <sys/types.h>

namespace tarvina::test {

// A throwaway PostgreSQL cluster: initdb into a scratch folder, the server
// on 127.0.0.1 on a port of its own with its sockets in that folder, run as
// the unprivileged "postgres" user (the server refuses root). One per test
// program, started by PgEnvironment; stopped and removed at the end.
class PgCluster {
public:
    static constexpr const char* kUser = "tarvina";
    static constexpr const char* kPassword = "clave-de-prueba";

    // Throws std::runtime_error, loudly, when no cluster can be had.
    void init();
    void startServer();
    void stopServer();
    void destroy();
    bool running() const { return pid_ > 0; }

    int port() const { return port_; }
    // A connection string without the password.
    QString conninfo(const QString& database) const;
    // A new empty database.
    QString createDatabase(const QString& name);
    // Runs one statement as the superuser on the database.
    void exec(const QString& database, const QString& sql);
    QString scalar(const QString& database, const QString& sql);

private:
    QString dir_;
    int port_ = 0;
    pid_t pid_ = 0;
};

// The cluster of this test program.
PgCluster& Cluster();

class PgEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

} // namespace tarvina::test
