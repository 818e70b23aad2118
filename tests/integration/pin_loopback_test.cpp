// A station types a prepaid code over a real loopback connection: the server
// checks it in its tables, grants its balance, journals the session and
// charges the minutes when the station locks again.

#include "ServerOnLoopback.h"
#include "protocol/DateTimeText.h"
#include "server/PinTestPrinters.h"
#include "server/PinWorld.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/PinRuntime.h"
#include "support/CodeTables.h"
#include "support/FaultyFileSystem.h"
#include "xbase/PosixFileSystem.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using common::DateTime;
using sim::StationSim;

namespace {

constexpr int kWait = 5000;

std::string Path(const QString& p) {
    return QFile::encodeName(p).toStdString();
}

class PinLoopback : public server::test::ServerOnLoopback {
protected:
    void SetUp() override {
        store.writeInteger(platform::Root::CurrentUser, QStringLiteral("\\Software\\Velt\\Tarvina"),
                           QStringLiteral("ServiceMode"), 1);
        data = env.home() + "/data";
        // The program's own start-up creates the tables; the codes are sold
        // before the station comes.
        PinRuntime::EnsureCodeTables(xbase::RealFileSystem(), data);
        {
            xbase::TableEngine t(xbase::RealFileSystem());
            t.Open(Path(data + "/CajaPIN.dbf"), false);
            for (const char* code : {"0A1B2C", "0D3E4F"}) {
                xbase::test::AddCode(t, code, 30, xbase::Date{2024, 1, 15}, "09:00:00");
            }
        }
        journalPath = env.home() + "/report/15012024.dbf";
        pumpIdle = true;
        startServer([&] {
            const QStringList failures = runtime.start(*core, env.home(), clock.now());
            EXPECT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();
        });
    }
    void TearDown() override {
        sims.clear();
        runtime.close();
        ServerOnLoopback::TearDown();
    }

    struct Row {
        std::map<std::string, std::string> text;
        std::map<std::string, qint64> number;
        std::map<std::string, bool> nullDate;
    };
    // Every live row of a table read by a handle of its own.
    static QList<Row> Rows(const QString& path, const std::vector<std::string>& texts,
                           const std::vector<std::string>& numbers,
                           const std::vector<std::string>& dates) {
        QList<Row> rows;
        xbase::TableEngine t(xbase::RealFileSystem());
        t.Open(Path(path), false);
        for (t.First(); !t.Eof(); t.Next()) {
            if (t.Deleted()) {
                continue;
            }
            Row r;
            for (const auto& f : texts) {
                r.text[f] = t.GetString(f);
            }
            for (const auto& f : numbers) {
                r.number[f] = t.GetInteger(f);
            }
            for (const auto& f : dates) {
                r.nullDate[f] = t.IsNull(f);
            }
            rows << r;
        }
        return rows;
    }
    QList<Row> codeRows() {
        return Rows(data + "/CajaPIN.dbf", {"PIN", "CHORA", "MAC", "EQUIPO"}, {"SALDO"},
                    {"CFECHA"});
    }
    QList<Row> historyRows() {
        return Rows(data + "/CajaHPIN.dbf", {"PIN", "CHORA"}, {"ASIG", "CONSUMO"}, {});
    }
    QList<Row> journalRows() {
        return Rows(journalPath, {"EQUIPO", "MAC", "PIN", "HDESDE", "HHASTA"}, {"MINSOL"},
                    {"FHASTA"});
    }

    // A station that typed `code`, was granted it and started its session
    // of 30 minutes now; the journal row of that session is open.
    StationSim* inUse(const QByteArray& name, const QByteArray& mac, const QString& from,
                      const QByteArray& code) {
        StationSim* s = bound(name, mac, from);
        s->sendLine("R38" + code);
        EXPECT_TRUE(waitUntil([&] { return s->count("04") > 0; })) << "no grant";
        s->config().state = 2;
        s->config().pin = code;
        s->config().timeLeft = protocol::FormatDateTimeNumber(30.0 / 1440);
        s->config().start = protocol::FormatDateTimeNumber(clock.now().days());
        const auto rows = journalRows().size();
        s->sendStatusReport();
        EXPECT_TRUE(waitUntil([&] { return journalRows().size() == rows + 1; }));
        return s;
    }
    QString pinOf(TCompItem* r) {
        ComputersGuard guard(core->registry().lock());
        return r->pin;
    }
    int stateOf(TCompItem* r) {
        ComputersGuard guard(core->registry().lock());
        return r->state;
    }
    // Waits for the connection threads alone: the UI thread does nothing
    // meanwhile (no event is handled, no idle pass runs).
    static bool WaitWithoutEvents(const std::function<bool()>& pred) {
        for (QDeadlineTimer deadline(kWait); !deadline.hasExpired(); QThread::msleep(1)) {
            if (pred()) {
                return true;
            }
        }
        return pred();
    }
    bool consoleHas(const QString& text) const {
        for (const QString& line : core->console().texts()) {
            if (line.contains(text)) {
                return true;
            }
        }
        return false;
    }

    // The fixture's clock stands at 15 January 2024, 10:00.
    QString data, journalPath;
    xbase::FaultyFileSystem files{xbase::RealFileSystem()};
    PinRuntime runtime{files};
};

TEST_F(PinLoopback, TypedCodeIsGrantedJournaledAndCharged) {
    StationSim* s = bound("PC1", "00-11-22-33-44-31", QStringLiteral("127.0.0.31"));
    s->clearReceived();
    s->sendLine("R380A1B2C");
    ASSERT_TRUE(s->waitForLine("391", kWait)) << "no verdict";
    ASSERT_TRUE(waitUntil([&] { return s->count("04") > 0; }));
    QList<QByteArray> got = s->lines();
    EXPECT_TRUE(got.contains("3910A1B2C"));
    EXPECT_TRUE(got.contains("0430,<Gen>,"));
    EXPECT_LT(got.indexOf("3910A1B2C"), got.indexOf("0430,<Gen>,"));

    auto codes = codeRows();
    ASSERT_EQ(codes.size(), 2);
    EXPECT_EQ(codes[0].text["CHORA"], "10:00:00");
    EXPECT_FALSE(codes[0].nullDate["CFECHA"]);
    EXPECT_EQ(codes[0].text["MAC"], "00-11-22-33-44-31");
    EXPECT_EQ(codes[0].text["EQUIPO"], "PC1");
    auto history = historyRows();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(history[0].text["PIN"], "0A1B2C");
    EXPECT_EQ(history[0].number["ASIG"], 30);

    // The station starts the session: the journal row opens.
    s->config().state = 2;
    s->config().pin = "0A1B2C";
    s->config().timeLeft = protocol::FormatDateTimeNumber(30.0 / 1440);
    s->config().start = protocol::FormatDateTimeNumber(clock.now().days());
    s->sendStatusReport();
    ASSERT_TRUE(waitUntil([&] { return journalRows().size() == 1; }));
    auto journal = journalRows();
    EXPECT_EQ(journal[0].text["EQUIPO"], "127.0.0.31");
    EXPECT_EQ(journal[0].text["MAC"], "00-11-22-33-44-31");
    EXPECT_EQ(journal[0].text["PIN"], "0A1B2C");
    EXPECT_EQ(journal[0].text["HDESDE"], "10:00:00");
    EXPECT_EQ(journal[0].number["MINSOL"], 30);
    EXPECT_TRUE(journal[0].nullDate["FHASTA"]);

    // 20 minutes later it locks: 20 minutes charged, 10 left.
    clock.advanceMinutes(20);
    s->config().state = 1;
    s->config().timeLeft = "0"; // the start of the session stays reported
    s->sendStatusReport();
    ASSERT_TRUE(waitUntil([&] { return historyRows().size() == 2; }));
    history = historyRows();
    EXPECT_EQ(history[1].number["CONSUMO"], 20);
    EXPECT_EQ(history[1].text["CHORA"], "10:00:00");
    codes = codeRows();
    EXPECT_EQ(codes[0].number["SALDO"], 10);
    EXPECT_EQ(codes[0].text["CHORA"], "");
    EXPECT_TRUE(codes[0].nullDate["CFECHA"]);
    ASSERT_TRUE(waitUntil([&] { return !journalRows()[0].nullDate["FHASTA"]; }));
    journal = journalRows();
    ASSERT_EQ(journal.size(), 1);
    EXPECT_EQ(journal[0].text["HHASTA"], "10:20:00");
    EXPECT_EQ(journal[0].text["PIN"], "");
    EXPECT_TRUE(runtime.usageReport().lines().contains("                  PC1//"));

    // An unknown code is refused.
    s->clearReceived();
    s->sendLine("R38FFFFF0");
    ASSERT_TRUE(s->waitForLine("390", kWait));
    EXPECT_TRUE(s->lines().contains("390FFFFF0"));
    EXPECT_TRUE(waitUntil([&] {
        return core->console().texts().contains(QStringLiteral("Intento de PIN inválido FFFFF0"));
    }));

    // At close both lists of the day are complete HTML on disk.
    EXPECT_TRUE(runtime.close());
    QFile html(UsageReportPath(env.home(), clock.now()));
    ASSERT_TRUE(html.open(QIODevice::ReadOnly));
    const QByteArray bytes = html.readAll();
    EXPECT_TRUE(bytes.contains("                  PC1//\r\n"));
    EXPECT_TRUE(bytes.endsWith("</BODY>\r\n</HTML>\r\n"));
    EXPECT_TRUE(QFile::exists(CodeListPath(env.home(), clock.now())));

    // An xBase reader of its own sees the same history and journal rows.
    QProcess py;
    py.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "import sys, dbfread\n"
             "for r in dbfread.DBF(sys.argv[1]):\n"
             "    print(r['PIN'], r['ASIG'], r['CONSUMO'], r['CHORA'])\n"
             "for r in dbfread.DBF(sys.argv[2]):\n"
             "    print(r['EQUIPO'], r['PIN'] or '-', r['HDESDE'], r['HHASTA'], r['MINSOL'])\n"),
         data + "/CajaHPIN.dbf", journalPath});
    if (!py.waitForFinished(30000) || py.exitCode() != 0) {
        GTEST_SKIP() << "python3-dbfread not usable: " << py.readAllStandardError().toStdString();
    }
    EXPECT_EQ(py.readAllStandardOutput(), "0A1B2C 30 None 10:00:00\n"
                                          "0A1B2C None 20 10:00:00\n"
                                          "127.0.0.31 - 10:00:00 10:20:00 30\n");
}

// The station locks and its customer's next code follows 1 ms later, while
// the lock's consumption is being written: that code is checked and granted,
// not refused as empty.
TEST_F(PinLoopback, ACodeSentWhileTheLockIsChargedIsGranted) {
    StationSim* s = inUse("PC2", "00-11-22-33-44-32", QStringLiteral("127.0.0.32"), "0A1B2C");
    TCompItem* r = record(QStringLiteral("PC2"));
    ASSERT_NE(r, nullptr);
    clock.advanceMinutes(10);
    bool sent = false;
    files.DuringSync([&] {
        if (sent) {
            return;
        }
        sent = true;
        s->sendLine("R380D3E4F");
        EXPECT_TRUE(WaitWithoutEvents([&] { return pinOf(r) == "0D3E4F"; }));
    });
    s->clearReceived();
    s->config().state = 1;
    s->config().timeLeft = "0";
    s->sendStatusReport();
    ASSERT_TRUE(waitUntil([&] { return s->count("39") > 0; })) << "no verdict";
    files.DuringSync({});
    ASSERT_TRUE(sent);
    EXPECT_TRUE(s->lines().contains("3910D3E4F"));
    EXPECT_FALSE(consoleHas(QStringLiteral("Intento de PIN inválido")));
    auto history = historyRows();
    ASSERT_EQ(history.size(), 3);
    EXPECT_EQ(history[1].text["PIN"], "0A1B2C");
    EXPECT_EQ(history[1].number["CONSUMO"], 10);
    EXPECT_EQ(history[2].text["PIN"], "0D3E4F");
    EXPECT_EQ(history[2].number["ASIG"], 30);
}

// A station in use loses its cashier's connection, its time ends while it is
// offline; it comes back with the lock report and the customer's next code
// at once. Then it loses the connection again and comes back already in a
// session whose lock was never seen. Each session keeps a row of its own.
TEST_F(PinLoopback, SessionsAcrossLostConnectionsKeepOneRowEach) {
    StationSim* s = inUse("PC3", "00-11-22-33-44-33", QStringLiteral("127.0.0.33"), "0A1B2C");
    TCompItem* r = record(QStringLiteral("PC3"));
    ASSERT_NE(r, nullptr);
    s->abort();
    ASSERT_TRUE(waitUntil([&] { return stateOf(r) == 0; }));
    clock.advanceMinutes(30);

    StationSim::Config back = s->config();
    back.state = 1;
    back.timeLeft = "0";
    back.answerStatusQuery = false;
    back.answerPinQuery = false;
    s = station(back);
    ASSERT_TRUE(s->waitForLine("02", kWait));
    s->sendRaw(s->statusReportLine() + "\r\nR380D3E4F\r\n");
    // Both lines are the server's before its next idle pass.
    ASSERT_TRUE(WaitWithoutEvents([&] { return pinOf(r) == "0D3E4F" && stateOf(r) == 1; }));
    ASSERT_TRUE(waitUntil([&] { return s->count("04") > 0; })) << "no grant";
    EXPECT_TRUE(s->lines().contains("3910D3E4F"));
    ASSERT_TRUE(waitUntil([&] { return !journalRows()[0].nullDate["FHASTA"]; }));
    auto journal = journalRows();
    ASSERT_EQ(journal.size(), 1);
    EXPECT_EQ(journal[0].text["HDESDE"], "10:00:00");
    EXPECT_EQ(journal[0].text["HHASTA"], "10:30:00");
    EXPECT_EQ(journal[0].text["PIN"], "");
    auto history = historyRows();
    ASSERT_EQ(history.size(), 3);
    EXPECT_EQ(history[2].text["PIN"], "0A1B2C");
    EXPECT_EQ(history[2].number["CONSUMO"], 30);

    // The next session.
    s->config().state = 2;
    s->config().pin = "0D3E4F";
    s->config().timeLeft = protocol::FormatDateTimeNumber(30.0 / 1440);
    s->config().start = protocol::FormatDateTimeNumber(clock.now().days());
    s->sendStatusReport();
    ASSERT_TRUE(waitUntil([&] { return journalRows().size() == 2; }));
    journal = journalRows();
    EXPECT_EQ(journal[1].text["PIN"], "0D3E4F");
    EXPECT_EQ(journal[1].text["HDESDE"], "10:30:00");
    EXPECT_TRUE(journal[1].nullDate["FHASTA"]);

    // Lost again; it comes back in a session that started while it was away.
    s->abort();
    ASSERT_TRUE(waitUntil([&] { return stateOf(r) == 0; }));
    clock.advanceMinutes(15);
    back = s->config();
    back.answerStatusQuery = true;
    back.start = protocol::FormatDateTimeNumber(clock.now().days());
    s = station(back);
    ASSERT_TRUE(waitUntil([&] { return journalRows().size() == 3; }));
    journal = journalRows();
    EXPECT_EQ(journal[0].text["HDESDE"], "10:00:00");
    EXPECT_EQ(journal[0].text["HHASTA"], "10:30:00");
    EXPECT_EQ(journal[1].text["PIN"], "0D3E4F");
    EXPECT_EQ(journal[1].text["HDESDE"], "10:30:00");
    EXPECT_EQ(journal[1].text["HHASTA"], "10:45:00");
    EXPECT_FALSE(journal[1].nullDate["FHASTA"]);
    EXPECT_EQ(journal[2].text["HDESDE"], "10:45:00");
    EXPECT_TRUE(journal[2].nullDate["FHASTA"]);
}

} // namespace
