// What one hostile connection may cost the server: console lines, the UI
// thread's time, memory in flight, a client log's size, a record's messages,
// and the names of the files it causes.
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/computers/ServerContext.h"
#include "server/net/ConsoleRate.h"
#include "server/net/InFlightPool.h"
#include "server/remote/ClientLog.h"
#include "server/shell/ServerCore.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvina;
using namespace tarvina::server;

namespace {

// --- console and hand-off ---

TEST(ConsoleRateTest, BurstThenSteadyRateAndOneSummaryASecond) {
    ConsoleRate rate(1000);
    int shown = 0;
    for (int i = 0; i < 1000; ++i)
        shown += rate.admit(1000) ? 1 : 0;
    EXPECT_EQ(shown, ConsoleRate::kBurst);
    EXPECT_EQ(rate.omitted(), 1000 - ConsoleRate::kBurst);
    // Not due before a second has passed since the first omitted line.
    EXPECT_EQ(rate.takeOmitted(1999), 0);
    EXPECT_EQ(rate.takeOmitted(2000), 1000 - ConsoleRate::kBurst);
    EXPECT_EQ(rate.takeOmitted(2000), 0);

    // Half a second later: ten more lines' worth, not a new burst.
    shown = 0;
    for (int i = 0; i < 100; ++i)
        shown += rate.admit(1500) ? 1 : 0;
    EXPECT_EQ(shown, ConsoleRate::kPerSecond / 2);
    // At the end of a connection the count is taken whatever the time.
    EXPECT_EQ(rate.takeOmitted(1500, true), 100 - ConsoleRate::kPerSecond / 2);

    // A long quiet refills the burst, never more.
    shown = 0;
    for (int i = 0; i < 1000; ++i)
        shown += rate.admit(1000000) ? 1 : 0;
    EXPECT_EQ(shown, ConsoleRate::kBurst);
}

class ContextFixture : public ::testing::Test {
protected:
    ContextFixture() : ctx(clock, registry, handoff, lastCommand, QString()) {}
    QStringList consoleTexts() {
        QStringList out;
        for (const UiEvent& e : handoff.take())
            if (e.kind == UiEvent::Kind::Console)
                out << e.text;
        return out;
    }

    platform::FakeClock clock;
    ComputerRegistry registry;
    HandOff handoff;
    common::LastCommand lastCommand;
    ServerContext ctx;
};

TEST_F(ContextFixture, ConnectionThreadsPassTheirAllowanceTheUiThreadDoesNot) {
    std::thread connection([this] {
        ConnectionConsole gate(ctx.clock, ctx.handoff, [] { return QStringLiteral("127.0.0.9"); });
        for (int i = 0; i < 300; ++i)
            ctx.console(nullptr, QStringLiteral("R13 %1").arg(i));
        clock.advanceMs(ConsoleRate::kSummaryEveryMs);
        ctx.console(nullptr, QStringLiteral("después"));
        for (int i = 0; i < 50; ++i)
            ctx.console(nullptr, QStringLiteral("más"));
        gate.flush(nullptr);
    });
    connection.join();
    const QStringList texts = consoleTexts();
    ASSERT_EQ(texts.size(), ConsoleRate::kBurst + 1 + 1 + ConsoleRate::kPerSecond - 1 + 1);
    EXPECT_EQ(texts[ConsoleRate::kBurst - 1], QStringLiteral("R13 39"));
    EXPECT_EQ(texts[ConsoleRate::kBurst], QStringLiteral("260 líneas de 127.0.0.9 omitidas"));
    EXPECT_EQ(texts[ConsoleRate::kBurst + 1], QStringLiteral("después"));
    EXPECT_EQ(texts.last(), QStringLiteral("31 líneas de 127.0.0.9 omitidas"));

    // The operator's own thread has no allowance to spend.
    for (int i = 0; i < 300; ++i)
        ctx.console(nullptr, QStringLiteral("operador"));
    EXPECT_EQ(consoleTexts().size(), 300);
}

TEST(DrainTest, OnePassStopsAfterItsBudgetAndTheRestFollowsInOrder) {
    test::TempDir dir;
    platform::FakeClock clock;
    platform::MemoryRegistry store;
    platform::TcpNetwork network;
    ServerCore core(clock, store, network, dir.path(), dir.path());
    // Each console line costs the UI thread a millisecond here, so the first
    // batch alone uses up a pass's budget.
    QObject::connect(&core.console(), &ConsoleModel::lineAdded, [] { QThread::msleep(1); });
    for (int i = 0; i < 150; ++i)
        core.context().handoff.post({UiEvent::Kind::Console, nullptr, QString::number(i)});
    core.drainHandOff();
    EXPECT_EQ(core.console().lines().size(), static_cast<qsizetype>(ServerCore::kDrainBatch));
    // The later passes come from the event loop by themselves.
    for (int i = 0; i < 100 && !core.context().handoff.empty(); ++i)
        QCoreApplication::processEvents();
    ASSERT_TRUE(core.context().handoff.empty());
    const QStringList texts = core.console().texts();
    ASSERT_EQ(texts.size(), 150);
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ(texts[i], QString::number(i));
}

TEST(HandOffTest, EachConnectionHasABoundedShareOfTheQueue) {
    HandOff handoff;
    const auto postFrom = [&](quint64 source, int n, const QByteArray& data = {}) {
        std::thread t([&] {
            HandOff::SourceScope scope(source);
            for (int i = 0; i < n; ++i)
                handoff.post({UiEvent::Kind::RowUpdate, nullptr, QString(), data});
        });
        t.join();
    };
    postFrom(1, HandOff::kMaxPendingEvents);
    EXPECT_FALSE(handoff.waitForRoom(1, 0));
    EXPECT_TRUE(handoff.waitForRoom(2, 0));
    // Room comes back as the UI thread takes them, and wakes a waiter.
    std::thread waiter([&] { EXPECT_TRUE(handoff.waitForRoom(1, 60000)); });
    while (handoff.waiting() == 0)
        std::this_thread::yield();
    handoff.take(1);
    waiter.join();
    handoff.take();

    // Bytes count too: a few big events fill one connection's share.
    const QByteArray big(HandOff::kMaxPendingBytes / 2, 'x');
    postFrom(3, 2, big);
    EXPECT_FALSE(handoff.waitForRoom(3, 0));
    handoff.take();
    EXPECT_TRUE(handoff.waitForRoom(3, 0));

    // All together past the total: only connections with more than their
    // fair share wait; a quiet one still gets its few events through.
    const QByteArray share(HandOff::kMaxPendingBytes - 1024, 'y');
    quint64 source = 100;
    for (qint64 total = 0; total < HandOff::kMaxTotalBytes; total += share.size())
        postFrom(source++, 1, share);
    postFrom(5, HandOff::kFairShare);
    EXPECT_FALSE(handoff.waitForRoom(5, 0));
    postFrom(6, HandOff::kFairShare - 1);
    EXPECT_TRUE(handoff.waitForRoom(6, 0));
    // The UI thread's own events are never counted.
    handoff.take();
    handoff.post({UiEvent::Kind::RowUpdate});
    EXPECT_TRUE(handoff.waitForRoom(0, 0));
    EXPECT_EQ(handoff.size(), 1u);
}

// --- memory in flight ---

TEST(InFlightPoolTest, BuffersChargeAsBytesArriveAndGiveBackAtTheEnd) {
    InFlightPool pool(100000);
    {
        PooledBuffer a(pool);
        ASSERT_EQ(a.write(QByteArray(30000, 'a')), 30000);
        EXPECT_GE(pool.used(), 30000);
        PooledBuffer b(pool);
        ASSERT_EQ(b.write(QByteArray(40000, 'b')), 40000);
        // A third block that would pass the capacity is refused; the others
        // keep what they have.
        PooledBuffer c(pool);
        EXPECT_EQ(c.write(QByteArray(60000, 'c')), -1);
        EXPECT_TRUE(c.refused());
        EXPECT_EQ(a.data(), QByteArray(30000, 'a'));
        EXPECT_LE(pool.used(), pool.capacity());
        PoolHold hold(pool);
        EXPECT_FALSE(hold.grow(pool.capacity()));
        EXPECT_TRUE(hold.grow(100));
    }
    EXPECT_EQ(pool.used(), 0);
}

TEST(InFlightPoolTest, AReceivedPictureStaysChargedUntilTheUiThreadIsDoneWithIt) {
    InFlightPool pool(1 << 20);
    HandOff handoff;
    {
        PooledBuffer buffer(pool);
        ASSERT_EQ(buffer.write(QByteArray(1000, 'p')), 1000);
        UiEvent shown(UiEvent::Kind::Screenshot, nullptr, QString(), buffer.data());
        shown.keep = buffer.releaseCharge();
        handoff.post(std::move(shown));
    }
    EXPECT_GE(pool.used(), 1000);
    {
        const std::deque<UiEvent> taken = handoff.take();
        ASSERT_EQ(taken.size(), 1u);
        EXPECT_GE(pool.used(), 1000);
    }
    EXPECT_EQ(pool.used(), 0);
}

// --- client logs ---

TEST(ClientLogTest, ALongReplyKeepsItsNewestLinesWithinTheCap) {
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("PC1.log"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("anterior\n");
    old.close();

    ClientLogWriter writer(path);
    ASSERT_TRUE(writer.open());
    constexpr int kLines = 5000;
    const auto line = [](int i) { return QByteArray::number(i).rightJustified(999, '.'); };
    for (int i = 0; i < kLines; ++i)
        ASSERT_TRUE(writer.add(line(i)));
    // Nothing replaces the earlier reply until the new one is complete.
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "anterior\n");
    old.close();
    ASSERT_TRUE(writer.commit());

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_LE(f.size(), ClientLogWriter::kCapBytes);
    EXPECT_GE(f.size(), ClientLogWriter::kCapBytes / 2);
    QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.takeLast(), QByteArray());
    // The newest lines, in order, none cut.
    const int first = kLines - static_cast<int>(lines.size());
    EXPECT_EQ(writer.droppedLines(), first);
    for (int i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], line(first + i));
    // No part file is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("PC1.log")});
}

TEST(ClientLogTest, AReplyThatCannotBeWrittenSaysWhy) {
    test::TempDir dir;
    ClientLogWriter writer(dir.file(QStringLiteral("no/existe/PC1.log")));
    EXPECT_FALSE(writer.open());
    EXPECT_FALSE(writer.add("x"));
    EXPECT_FALSE(writer.commit());
    EXPECT_FALSE(writer.errorString().isEmpty());
}

TEST(ClientLogTest, NamesFitTheFileSystemAndEmptyNamesDoNotCollide) {
    test::TempDir dir;
    // 255 two-byte characters: cut in bytes, and a file that can be made.
    const QString accents(255, QChar(u'é'));
    const QString name = ClientLogFileName(accents, QStringLiteral("10.0.0.1"));
    EXPECT_LE(QFile::encodeName(name).size(), 255);
    EXPECT_TRUE(name.endsWith(QStringLiteral("é.log")));
    // The log is written through temporary files named after it: they fit too.
    ClientLogWriter writer(dir.file(name));
    EXPECT_TRUE(writer.open() && writer.add("línea") && writer.commit())
        << writer.errorString().toStdString();
    EXPECT_TRUE(QFile::exists(dir.file(name)));
    // A character outside the basic plane is never split in two.
    const QString faces = QString(200, QChar(u'a')) + QString::fromUcs4(U"\U0001F600").repeated(20);
    const QString cut = ClientLogFileName(faces, QStringLiteral("10.0.0.1"));
    EXPECT_LE(QFile::encodeName(cut).size(), 255);
    EXPECT_FALSE(cut.chopped(4).back().isHighSurrogate());

    // "", "." and ".." are named after the address: two stations never share
    // a log, and nothing leaves the folder.
    QStringList names;
    for (const char* bad : {"", ".", "..", "/", "...."})
        for (const char* address : {"192.168.0.15", "192.168.0.16", "fe80::1"})
            names << ClientLogFileName(QString::fromLatin1(bad), QString::fromLatin1(address));
    EXPECT_EQ(names[0], QStringLiteral("cliente_192_168_0_15.log"));
    EXPECT_EQ(names[2], QStringLiteral("cliente_fe80__1.log"));
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_FALSE(names[i].contains(u'/'));
        EXPECT_NE(names[i % 3], names[(i % 3 + 1) % 3]);
        EXPECT_EQ(names[i], names[i % 3]);
    }
}

// --- records ---

TEST(RecordTest, MessagesKeepTheirLatestTwoHundred) {
    TCompItem record;
    for (int i = 0; i < 3000; ++i) {
        AppendMessage(record, QString::number(i));
        ASSERT_LE(record.messages.size(), kMaxMessages);
    }
    EXPECT_EQ(record.messages.first(), QStringLiteral("2800"));
    EXPECT_EQ(record.messages.last(), QStringLiteral("2999"));
}

} // namespace
