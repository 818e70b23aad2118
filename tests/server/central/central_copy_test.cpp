// The copy to the central database against a real, throwaway PostgreSQL.
#include "platform/Clock.h"
#include "server/central/CapturingFileSystem.h"
#include "server/central/CentralCopier.h"
#include "server/central/CentralSchema.h"
#include "server/central/ChainReport.h"
#include "server/central/Outbox.h"
#include "support/CodeTables.h"
#include "support/PgCluster.h"
#include "support/TempFolder.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QFile>
#include <QThread>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvina;
using namespace tarvina::server::central;
using tarvina::test::Cluster;

namespace {

testing::Environment* const kPg = testing::AddGlobalTestEnvironment(new test::PgEnvironment);

// One branch's data folder: the code history table, its outbox, the copier.
struct Branch {
    explicit Branch(const QString& branch, const QString& database, const QString& where)
        : name(branch), db(database), folder(where), fs(xbase::RealFileSystem()), box(fs.inner()) {
        table = folder.toStdString() + "/CajaHPIN.dbf";
        if (!fs.Exists(table)) {
            xbase::TableEngine t(fs.inner());
            xbase::test::CreateHistoryTable(t, table);
        }
        box.open(folder + "/Central.box",
                 [this](const CentralRow& r) { return RowStandsInTable(fs.inner(), r); });
        fs.setOutbox(&box);
        handle = std::make_unique<xbase::TableEngine>(fs);
        handle->Open(table, false);
    }
    void append(int i) {
        xbase::test::AppendHistory(
            *handle,
            {"A" + std::to_string(10000 + i % 90000), i, {2026, 12, 1 + i % 28}, "10:00:00"});
        handle->Commit();
    }
    CentralCopier::Config config(const QByteArray& password = test::PgCluster::kPassword) const {
        CentralCopier::Config c;
        c.branch = name;
        c.conninfo = Cluster().conninfo(db);
        c.password = password;
        c.connectTimeoutMs = 3000;
        return c;
    }
    // Runs the copier on its thread until the outbox is empty.
    bool drain(CentralCopier& copier, int seconds = 60) {
        for (int i = 0; i < seconds * 20; ++i) {
            if (box.pending() == 0 && copier.status().state == CopyStatus::State::UpToDate)
                return true;
            copier.wake();
            QThread::msleep(50);
        }
        return false;
    }
    QString name, db, folder;
    CapturingFileSystem fs;
    Outbox box;
    std::string table;
    std::unique_ptr<xbase::TableEngine> handle;
};

QString Count(const QString& db, const QString& branch) {
    return Cluster().scalar(
        db, QStringLiteral("SELECT count(*) || '/' || count(DISTINCT asig) FROM historia_codigos "
                           "WHERE sucursal = '%1'")
                .arg(branch));
}

platform::RealClock realClock;

} // namespace

TEST(CentralCopy, DatabaseStoppedDuringABurstLosesAndDoublesNothing) {
    const QString db = Cluster().createDatabase("burst");
    xbase::test::TempFolder dir;
    Branch b("Centro", db, QString::fromStdString(dir.path()));
    std::vector<QString> seen;
    std::mutex seenMu;
    CentralCopier copier(b.box, realClock, b.config(),
                         {[&](const CopyStatus& s) {
                              std::lock_guard lock(seenMu);
                              seen.push_back(s.text());
                          },
                          {}});
    b.box.setOnRelease([&] { copier.wake(); });
    copier.start();
    for (int i = 0; i < 10000; ++i) {
        if (i == 3000)
            Cluster().stopServer();
        if (i == 7000)
            Cluster().startServer();
        b.append(i);
    }
    ASSERT_TRUE(b.drain(copier, 120));
    copier.stop();
    EXPECT_EQ(Count(db, "Centro"), "10000/10000");
    std::lock_guard lock(seenMu);
    EXPECT_NE(std::find(seen.begin(), seen.end(), "Central: sin conexión"), seen.end());
    EXPECT_EQ(seen.back(), "Central: al día");
}

// The child writes rows and copies them until it is killed at a random
// point; the next start goes on from its outbox and its table.
TEST(CentralCopy, KilledBetweenLocalCommitAndCentralWriteThirtyTimes) {
    const QString db = Cluster().createDatabase("kills");
    xbase::test::TempFolder dir;
    const QString folder = QString::fromStdString(dir.path());
    std::mt19937 random(46);
    for (int round = 0; round < 30; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Branch b("Norte", db, folder);
            CentralCopier copier(b.box, realClock, b.config());
            b.box.setOnRelease([&] { copier.wake(); });
            copier.start();
            const int base = round * 1000;
            for (int i = 0; i < 1000; ++i)
                b.append(base + i);
            for (;;)
                ::pause();
        }
        QThread::msleep(std::uniform_int_distribution<int>(5, 150)(random));
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
    }
    Branch b("Norte", db, folder);
    CentralCopier copier(b.box, realClock, b.config());
    copier.start();
    ASSERT_TRUE(b.drain(copier));
    copier.stop();
    const QString rows = QString::number(b.handle->RecordCount());
    EXPECT_EQ(Count(db, "Norte"), rows + "/" + rows);
    // Every local row, as it stands in the table.
    EXPECT_EQ(Cluster().scalar(db, "SELECT max(local_id) FROM historia_codigos"), rows);
}

TEST(CentralCopy, ProbeSaysWhatFailedInSpanish) {
    const QString db = Cluster().createDatabase("probe");
    const QString ok = Cluster().conninfo(db);
    EXPECT_EQ(ProbeCentral(ok, test::PgCluster::kPassword),
              "Conexión correcta. La base central está vacía: Taquilla creará sus tablas al "
              "copiar.");
    EXPECT_TRUE(ProbeCentral(ok, "equivocada").startsWith(FailureText(Failure::Authentication)));
    EXPECT_TRUE(ProbeCentral(Cluster().conninfo("no_existe"), test::PgCluster::kPassword)
                    .startsWith(FailureText(Failure::MissingDatabase)));
    EXPECT_TRUE(ProbeCentral("host=127.0.0.1 port=1 dbname=x", "x")
                    .startsWith(FailureText(Failure::Refused)));
    EXPECT_TRUE(ProbeCentral("host=no-existe.invalid dbname=x", "x")
                    .startsWith(FailureText(Failure::NameResolution)));
    Cluster().exec(db, "CREATE ROLE cajero LOGIN PASSWORD 'c'");
    Cluster().exec(db, "REVOKE CREATE ON SCHEMA public FROM PUBLIC");
    EXPECT_TRUE(ProbeCentral(QString(ok).replace("user=tarvina", "user=cajero"), "c")
                    .startsWith(FailureText(Failure::Rights)));
}

TEST(CentralCopy, WrongPasswordAndNewerSchemaKeepTheRowsAndSayWhy) {
    const QString db = Cluster().createDatabase("refusals");
    xbase::test::TempFolder dir;
    Branch b("Sur", db, QString::fromStdString(dir.path()));
    b.append(1);
    {
        CentralCopier copier(b.box, realClock, b.config("equivocada"));
        EXPECT_FALSE(copier.step());
        EXPECT_EQ(copier.status().text(), "Central: sin conexión");
        EXPECT_TRUE(copier.status().reason.startsWith(FailureText(Failure::Authentication)));
        // The retry waits its turn on the clock.
        EXPECT_FALSE(copier.step());
    }
    {
        PgLink link;
        link.connect(Cluster().conninfo(db), test::PgCluster::kPassword, 3000);
        EXPECT_EQ(EnsureSchema(link), 0);
        link.exec("UPDATE tarvina_esquema SET version = 99");
        CentralCopier copier(b.box, realClock, b.config());
        EXPECT_FALSE(copier.step());
        EXPECT_TRUE(copier.status().reason.contains("esquema 99, más nuevo"));
        EXPECT_EQ(b.box.pending(), 1u);
        link.exec("UPDATE tarvina_esquema SET version = 1");
    }
    // A row the database refuses stops the copy on it, the rows before it
    // copied, the row and those after it kept.
    PgLink link;
    link.connect(Cluster().conninfo(db), test::PgCluster::kPassword, 3000);
    link.exec("ALTER TABLE historia_codigos ADD CHECK (pin <> 'MALO')");
    xbase::test::AppendHistory(*b.handle, {"MALO", 5, {2026, 12, 2}, "11:00:00"});
    b.handle->Commit();
    b.append(3);
    CentralCopier copier(b.box, realClock, b.config());
    while (copier.step()) {
    }
    EXPECT_EQ(copier.status().state, CopyStatus::State::Stopped)
        << copier.status().text().toStdString();
    EXPECT_TRUE(copier.status().text().startsWith("Central: detenida. La base central rechazó "
                                                  "la fila 2 de la tabla historia_codigos"));
    EXPECT_EQ(b.box.pending(), 2u);
    EXPECT_EQ(Count(db, "Sur"), "1/1");
    EXPECT_FALSE(copier.step());

    EXPECT_EQ(CentralCopier::RetryDelayMs(1), 1000);
    EXPECT_EQ(CentralCopier::RetryDelayMs(4), 8000);
    EXPECT_EQ(CentralCopier::RetryDelayMs(30), 300000);
}

// The connection cut while a batch is in its transaction: the batch is
// sent again on a new connection and every row is there once.
TEST(CentralCopy, ConnectionCutMidTransaction) {
    const QString db = Cluster().createDatabase("cut");
    xbase::test::TempFolder dir;
    Branch b("Este", db, QString::fromStdString(dir.path()));
    for (int i = 0; i < 10000; ++i)
        b.append(i);
    CentralCopier copier(b.box, realClock, b.config());
    copier.start();
    int cuts = 0;
    for (int i = 0; i < 400 && b.box.pending() > 0 && cuts < 3; ++i) {
        const int pid = copier.backendPid();
        if (pid > 0 && b.box.pending() < 10000) {
            Cluster().exec(db, QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid));
            ++cuts;
        }
        QThread::msleep(30);
    }
    EXPECT_GT(cuts, 0);
    ASSERT_TRUE(b.drain(copier));
    copier.stop();
    EXPECT_EQ(Count(db, "Este"), "10000/10000");
}

TEST(CentralCopy, TwoBranchesAtOnceOnAnEmptyDatabase) {
    const QString db = Cluster().createDatabase("two");
    xbase::test::TempFolder d1, d2;
    Branch a("Uno", db, QString::fromStdString(d1.path()));
    Branch b("Dos", db, QString::fromStdString(d2.path()));
    CentralCopier ca(a.box, realClock, a.config()), cb(b.box, realClock, b.config());
    a.box.setOnRelease([&] { ca.wake(); });
    b.box.setOnRelease([&] { cb.wake(); });
    ca.start();
    cb.start();
    std::thread other([&] {
        for (int i = 0; i < 3000; ++i)
            b.append(i);
    });
    for (int i = 0; i < 3000; ++i)
        a.append(i);
    other.join();
    ASSERT_TRUE(a.drain(ca));
    ASSERT_TRUE(b.drain(cb));
    EXPECT_EQ(Count(db, "Uno"), "3000/3000");
    EXPECT_EQ(Count(db, "Dos"), "3000/3000");
}

// A torn tail is cut off; the row a kill left staged without its record is
// settled against the table; acknowledged rows stay gone.
TEST(CentralOutbox, ReopenDropsATornTailAndSettlesTheRowInDoubt) {
    xbase::test::TempFolder dir;
    const QString path = QString::fromStdString(dir.file("Central.box"));
    auto row = [](int id) {
        CentralRow r;
        r.table = CentralTable::Till;
        r.localId = id;
        r.values = {QStringLiteral("2026-12-10"), std::nullopt};
        return r;
    };
    {
        Outbox box(xbase::RealFileSystem());
        box.open(path, {});
        for (int i = 1; i <= 3; ++i)
            box.release(box.stage(row(i)), true);
        box.acknowledge(1);
        box.stage(row(4)); // killed before its record was written
    }
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("\x20\x00\x00\x00garbage", 11);
    }
    Outbox box(xbase::RealFileSystem());
    std::vector<std::int64_t> asked;
    box.open(path, [&](const CentralRow& r) {
        asked.push_back(r.localId);
        return false;
    });
    EXPECT_EQ(asked, std::vector<std::int64_t>{4});
    const auto rows = box.peek(10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].localId, 2);
    EXPECT_EQ(rows[1].values, row(3).values);
    // New rows follow the good records and keep their order after a reopen.
    box.release(box.stage(row(5)), true);
    Outbox again(xbase::RealFileSystem());
    again.open(path, {});
    ASSERT_EQ(again.pending(), 3u);
    EXPECT_EQ(again.peek(3)[2].localId, 5);
    EXPECT_GT(again.peek(3)[2].seq, rows[1].seq);
}

// What the chain report makes of a branch's copied rows.
TEST(ChainReport, FiguresPerBranchAndDayAndTheHoursPicture) {
    const QString db = Cluster().createDatabase("report");
    PgLink link;
    link.connect(Cluster().conninfo(db), test::PgCluster::kPassword, 3000);
    EnsureSchema(link);
    auto till = [](int id, const char* day, const char* amount, bool paid) {
        CentralRow r;
        r.table = CentralTable::Till;
        r.localId = id;
        r.values = {QString::fromLatin1(day),
                    "10:00:00",
                    "PC1",
                    "",
                    "USO",
                    "60",
                    QString::fromLatin1(amount),
                    paid ? "true" : "false",
                    "",
                    "",
                    "0"};
        return r;
    };
    auto use = [](int id, const char* pc, const char* from, const char* to) {
        CentralRow r;
        r.table = CentralTable::Uses;
        r.localId = id;
        r.values = {
            QString::fromLatin1(pc), "",  "", "2026-12-10", QString::fromLatin1(from), "2026-12-10",
            QString::fromLatin1(to), "60"};
        return r;
    };
    // Voided rows arrive as rows of the opposite amount.
    UpsertRows(link, "<Centro>",
               {till(1, "2026-12-10", "2.50", true), till(2, "2026-12-10", "1.25", false),
                till(3, "2026-12-10", "-2.50", true), till(4, "2026-12-11", "3.00", true),
                use(1, "PC1", "10:30:00", "12:00:00"), use(2, "PC2", "11:00:00", "bad"),
                use(3, "PC2", "23:30:00", "23:59:59")});
    const ChainFigures f = ReadChainFigures(link, QDate(2026, 12, 10), QDate(2026, 12, 10));
    ASSERT_EQ(f.days.size(), 1u);
    EXPECT_EQ(f.days[0].branch, "<Centro>");
    EXPECT_EQ(f.days[0].takenCents, 0);
    EXPECT_EQ(f.days[0].dueCents, 125);
    // 90 minutes and 29 min 59 s, rounded to the minute.
    EXPECT_EQ(f.days[0].minutesSold, 120);
    EXPECT_EQ(f.days[0].occupancyPercent, 120 * 100 / (2 * 1440));
    // Two computers: 10 h holds 30 of their 120 minutes, 11 h 60.
    EXPECT_EQ(f.occupancyPerHour[10], 25);
    EXPECT_EQ(f.occupancyPerHour[11], 50);
    EXPECT_EQ(f.occupancyPerHour[12], 0);
    const QString html = QString::fromUtf8(ChainReportHtml(f));
    EXPECT_FALSE(html.contains("<Centro>"));
    EXPECT_TRUE(html.contains("&lt;Centro&gt;"));
    EXPECT_EQ(html.count("<svg"), 2);
    EXPECT_FALSE(html.contains("<script"));
}
