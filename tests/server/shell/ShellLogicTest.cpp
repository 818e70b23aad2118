// taquilla's shell without widgets: the greeting and its quotes file, the
// password gates, the close requests and the orderly close, the network
// test's lines, the first show's lines.
#include "common/Cp1252.h"
#include "common/Password.h"
#include "platform/fake/FakePinger.h"
#include "server/settings/ServerSettings.h"
#include "server/shell/FirstShow.h"
#include "server/shell/Greeting.h"
#include "server/shell/HelpTopics.h"
#include "server/shell/NetworkTest.h"
#include "server/shell/PasswordGate.h"
#include "server/shell/ShellLife.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <QVariant>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;

namespace {

void WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

TEST(GreetingTest, SalutationChangesAtNoonAndAtSixInTheEvening) {
    EXPECT_EQ(Greeting::Salutation(QTime(0, 0)), QStringLiteral("Buenos días "));
    EXPECT_EQ(Greeting::Salutation(QTime(11, 59, 59)), QStringLiteral("Buenos días "));
    EXPECT_EQ(Greeting::Salutation(QTime(12, 0)), QStringLiteral("Buenas tardes "));
    EXPECT_EQ(Greeting::Salutation(QTime(17, 59, 59)), QStringLiteral("Buenas tardes "));
    EXPECT_EQ(Greeting::Salutation(QTime(18, 0)), QStringLiteral("Buenas noches "));
    EXPECT_EQ(Greeting::Text(QTime(9, 0), QStringLiteral("Hola")),
              QStringLiteral("Buenos días \r\nCita del día: \r\n   Hola"));
    EXPECT_EQ(Greeting::Text(QTime(20, 0), std::nullopt), QStringLiteral("Buenas noches "));
}

TEST(GreetingTest, EveryQuoteCanBeChosenAndTheCountLineNever) {
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("citas.txt"));
    WriteFile(path, "3\r\nuno\r\ndos\r\ntres\r\n");
    QStringList got;
    quint32 asked = 0;
    for (quint32 i = 0; i < 3; ++i) {
        got << Greeting::QuoteOfTheDay(path, [&](quint32 n) {
                   asked = n;
                   return i;
               }).value_or(QStringLiteral("?"));
    }
    EXPECT_EQ(asked, 3u);
    EXPECT_EQ(got, QStringList({"uno", "dos", "tres"}));
    // Windows text and text from an editor here both read right.
    WriteFile(path, "1\nca\xf1\x61");
    EXPECT_EQ(Greeting::QuoteOfTheDay(path, [](quint32) { return 0u; }), QStringLiteral("caña"));
    WriteFile(path, "1\nca\xc3\xb1\x61\n");
    EXPECT_EQ(Greeting::QuoteOfTheDay(path, [](quint32) { return 0u; }), QStringLiteral("caña"));
}

TEST(GreetingTest, BadQuotesFilesGiveNoQuote) {
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("citas.txt"));
    const auto first = [](quint32) { return 0u; };
    EXPECT_FALSE(Greeting::QuoteOfTheDay(path, first)); // missing
    for (const QByteArray& bad :
         {QByteArray("tres\nuno\n"), QByteArray("0\nuno\n"), QByteArray("-2\nuno\n"),
          QByteArray(""), QByteArray("\n"), QByteArray("99999999999999999999\nuno\n"),
          // promises more than it holds
          QByteArray("5\nuno\ndos\n"), QByteArray("2\nuno\n")}) {
        WriteFile(path, bad);
        EXPECT_FALSE(Greeting::QuoteOfTheDay(path, first)) << bad.constData();
    }
    // A picker out of range is no quote either (never the count line).
    WriteFile(path, "1\nuno\n");
    EXPECT_FALSE(Greeting::QuoteOfTheDay(path, [](quint32) { return 1u; }));

    // Over the size bound: not read at all.
    QByteArray big = "1\nuno\n";
    big.append(QByteArray(Greeting::kMaxFileBytes, 'x'));
    WriteFile(path, big);
    EXPECT_FALSE(Greeting::QuoteOfTheDay(path, first));
    // A very long quote is cut.
    WriteFile(path, "1\n" + QByteArray(5000, 'a') + "\n");
    EXPECT_EQ(Greeting::QuoteOfTheDay(path, first)->size(), Greeting::kMaxQuoteChars);
}

QString Scrambled(const QString& plain) {
    return common::FromCp1252(common::ScramblePassword(common::ToCp1252(plain)));
}

TEST(PasswordGateTest, GatesTakeTheirPasswordAndCaption) {
    ServerSettings s;
    s.passwordStd = Scrambled(QStringLiteral("caja"));
    s.passwordStdPin = Scrambled(QStringLiteral("pin"));
    for (Gate g : {Gate::StartUp, Gate::ManageClients, Gate::CloseApp}) {
        PasswordPrompt p = PasswordPrompt::For(g, s);
        EXPECT_TRUE(p.needed());
        EXPECT_EQ(p.caption(), QStringLiteral("Restricción de acceso."));
        EXPECT_FALSE(p.submit(QStringLiteral("pin")));
        EXPECT_TRUE(p.submit(QStringLiteral("caja")));
    }
    PasswordPrompt pin = PasswordPrompt::For(Gate::PinPage, s);
    EXPECT_EQ(pin.caption(), QStringLiteral("Restricción de acceso PIN."));
    EXPECT_FALSE(pin.submit(QStringLiteral("caja")));
    EXPECT_EQ(pin.caption(), QStringLiteral("Clave incorrecta. Inténtelo."));
    EXPECT_FALSE(pin.submit(QString()));
    EXPECT_EQ(pin.failures(), 2);
    EXPECT_TRUE(pin.submit(QStringLiteral("pin")));

    // An empty stored password skips its gate.
    s.passwordStdPin.clear();
    EXPECT_FALSE(PasswordPrompt::For(Gate::PinPage, s).needed());
    EXPECT_TRUE(PasswordPrompt::For(Gate::PinPage, s).submit(QStringLiteral("x")));
}

TEST(ShellLifeTest, CloseButtonNeverEndsTheProgramAndTheBoxDecidesConfirmClose) {
    ShellLife life;
    ServerSettings s;
    s.confirmClose = true;
    int asked = 0;
    const auto answer = [&](bool ok, bool dontAsk) {
        return [&asked, ok, dontAsk](bool& box) {
            ++asked;
            box = dontAsk;
            return ok;
        };
    };
    EXPECT_EQ(life.closeRequested(s, answer(false, false)), ShellLife::CloseOutcome::Stay);
    EXPECT_TRUE(s.confirmClose);
    // The box counts even when cancelled.
    EXPECT_EQ(life.closeRequested(s, answer(false, true)), ShellLife::CloseOutcome::Stay);
    EXPECT_FALSE(s.confirmClose);
    s.confirmClose = true;
    EXPECT_EQ(life.closeRequested(s, answer(true, true)), ShellLife::CloseOutcome::Minimize);
    EXPECT_FALSE(s.confirmClose);
    EXPECT_EQ(asked, 3);
    // ConfirmClose off: no question, straight to the notification area.
    EXPECT_EQ(life.closeRequested(s, answer(false, false)), ShellLife::CloseOutcome::Minimize);
    EXPECT_EQ(asked, 3);
    EXPECT_FALSE(life.terminating());

    // Terminating: the orderly close, without a question.
    s.confirmClose = true;
    life.requestTerminate();
    EXPECT_EQ(life.closeRequested(s, answer(false, false)), ShellLife::CloseOutcome::Close);
    EXPECT_EQ(asked, 3);
}

TEST(ShellLifeTest, SignalWhileTheConfirmationIsUpCloses) {
    ShellLife life;
    ServerSettings s;
    EXPECT_EQ(life.closeRequested(s,
                                  [&](bool&) {
                                      life.requestTerminate();
                                      return false;
                                  }),
              ShellLife::CloseOutcome::Close);
}

TEST(ShellLifeTest, ForcedCloseSavesConfirmCloseOffAndEndsAfterTheClose) {
    ShellLife life;
    ServerSettings s;
    s.confirmClose = true;
    life.forceClose(s);
    EXPECT_FALSE(s.confirmClose);
    EXPECT_TRUE(life.terminating());
    EXPECT_TRUE(life.terminateAfterClose());
}

TEST(ShellLifeTest, OrderlyCloseRunsOnceInOrderAndPastAFailingStep) {
    ShellLife life;
    QStringList ran;
    ShellLife::CloseSteps steps;
    steps.removeWindowHandlers = [&] { ran << "handlers"; };
    steps.hideIcon = [&] { ran << "icon"; };
    steps.stopComputersTimer = [&] {
        ran << "timer";
        throw std::runtime_error("x");
    };
    steps.closeDown = [&] { ran << "closeDown"; };
    steps.destroyWindow = [&] { ran << "destroy"; };
    EXPECT_TRUE(life.runOrderlyClose(steps));
    EXPECT_EQ(ran, QStringList({"handlers", "icon", "timer", "closeDown", "destroy"}));
    EXPECT_EQ(life.failedSteps(), QStringList({"stopComputersTimer"}));
    EXPECT_TRUE(life.terminating());
    EXPECT_FALSE(life.runOrderlyClose(steps));
    EXPECT_EQ(ran.size(), 5);
}

TEST(NetworkTestTest, ReplyLinesAndFailureLines) {
    platform::EchoReply r{64, QStringLiteral("10.0.0.1"), 2, 64, 5};
    EXPECT_EQ(NetworkTest::ReplyLine(r),
              QStringLiteral("64 bytes de 10.0.0.1: icmp_seq=2 ttl=64 time=5 ms"));
    r.timeMs = 0;
    EXPECT_EQ(NetworkTest::ReplyLine(r),
              QStringLiteral("64 bytes de 10.0.0.1: icmp_seq=2 ttl=64 time<1 ms"));
    r.from = QStringLiteral("%1%2");
    EXPECT_EQ(NetworkTest::ReplyLine(r),
              QStringLiteral("64 bytes de %1%2: icmp_seq=2 ttl=64 time<1 ms"));
    EXPECT_EQ(NetworkTest::FailureLine(QStringLiteral("nohay")), QStringLiteral("falla ->nohay"));
}

// A pinger whose replies come from a list, one per request, off the thread
// that asked.
class ScriptedPinger final : public platform::Pinger {
public:
    QList<std::optional<platform::EchoReply>> replies;
    QList<int> sequences;
    bool ping(const QString&, int) override { return false; }
    std::optional<platform::EchoReply> echo(const QString&, int seq, int) override {
        sequences << seq;
        return replies.value(seq - 1);
    }
};

TEST(NetworkTestTest, FourRequestsInOrderOffTheCallersThread) {
    ScriptedPinger pinger;
    pinger.replies = {platform::EchoReply{64, "127.0.0.1", 1, 64, 0}, std::nullopt,
                      platform::EchoReply{64, "127.0.0.1", 3, 64, 7}, std::nullopt};
    NetworkTest test(pinger);
    QStringList lines;
    bool done = false;
    QObject::connect(&test, &NetworkTest::line, [&](const QString& l) { lines << l; });
    QObject::connect(&test, &NetworkTest::finished, [&] { done = true; });
    ASSERT_TRUE(test.start(QStringLiteral("h")));
    EXPECT_FALSE(test.start(QStringLiteral("h"))); // one at a time
    QDeadlineTimer deadline(10000);
    while (!done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(done);
    EXPECT_EQ(pinger.sequences, QList<int>({1, 2, 3, 4}));
    EXPECT_EQ(lines,
              QStringList({"64 bytes de 127.0.0.1: icmp_seq=1 ttl=64 time<1 ms", "falla ->h",
                           "64 bytes de 127.0.0.1: icmp_seq=3 ttl=64 time=7 ms", "falla ->h"}));
    EXPECT_TRUE(test.start(QStringLiteral("h")));
}

TEST(FirstShowTest, PrinterLineForEachCase) {
    FirstShow::Facts f{QStringLiteral("Linux 6"), QStringLiteral("Caja"),
                       QStringLiteral("10.1.1.5")};
    EXPECT_EQ(FirstShow::MachineLines(f),
              QStringList({"OS: Linux 6", "Impresora: Caja", "IP: 10.1.1.5", "Nombre: 10.1.1.5"}));
    f.printer = QString();
    EXPECT_EQ(FirstShow::MachineLines(f).at(1),
              QStringLiteral("Observación: No hay impresora definida"));
    f.printer = std::nullopt;
    EXPECT_EQ(FirstShow::MachineLines(f).at(1),
              QStringLiteral("Impresora: No hay impresora definida"));
    EXPECT_FALSE(FirstShow::CurrentAddress().isEmpty());
}

} // namespace

namespace {

TEST(HelpTopicsTest, TopicsOpenTheirPageAtTheirSection) {
    test::TempDir root;
    // A folder name with a space stays one local path in the address.
    const QString help = root.file("mi ayuda");
    ASSERT_TRUE(QDir().mkpath(help));
    for (const char* page : {"sistema.html", "caja.html", "cliente.html"})
        WriteFile(QDir(help).filePath(page), "<html></html>");
    const auto at = [&](int topic) { return QUrl(HelpTopics::Address(help, topic)); };
    EXPECT_EQ(at(HelpTopics::kSystem).fileName(), QStringLiteral("sistema.html"));
    EXPECT_EQ(at(HelpTopics::kStation).fileName(), QStringLiteral("cliente.html"));
    EXPECT_EQ(at(HelpTopics::kCashier).fileName(), QStringLiteral("caja.html"));
    EXPECT_TRUE(at(HelpTopics::kCashier).fragment().isEmpty());
    EXPECT_EQ(at(HelpTopics::kPreferences).fragment(), QStringLiteral("preferencias"));
    EXPECT_EQ(at(HelpTopics::kReports).fragment(), QStringLiteral("reportes"));
    EXPECT_TRUE(at(HelpTopics::kReports).isLocalFile());
    EXPECT_EQ(at(HelpTopics::kReports).toLocalFile(), QDir(help).filePath("caja.html"));
    // Unknown topics open the cashier's page; a missing page gives nothing.
    EXPECT_EQ(at(4242).fileName(), QStringLiteral("caja.html"));
    QFile::remove(QDir(help).filePath("cliente.html"));
    EXPECT_TRUE(HelpTopics::Address(help, HelpTopics::kStation).isEmpty());
}

TEST(HelpTopicsTest, TheAskingControlOrItsParentsOrItsMenuEntryGiveTheTopic) {
    QObject window;
    QObject page(&window);
    QObject field(&page);
    EXPECT_EQ(HelpTopics::ContextOf(&field), 0);
    window.setProperty(HelpTopics::kProperty, HelpTopics::kCashier);
    EXPECT_EQ(HelpTopics::ContextOf(&field), HelpTopics::kCashier);
    page.setProperty(HelpTopics::kProperty, HelpTopics::kPreferences);
    EXPECT_EQ(HelpTopics::ContextOf(&field), HelpTopics::kPreferences);
    EXPECT_EQ(HelpTopics::ContextOf(nullptr), 0);

    // An open menu: its highlighted entry's topic first, else the menu's.
    QObject menu(&window);
    QObject entry(&menu);
    menu.setProperty("activeAction", QVariant::fromValue<QObject*>(&entry));
    EXPECT_EQ(HelpTopics::ContextOf(&menu), HelpTopics::kCashier);
    entry.setProperty(HelpTopics::kProperty, HelpTopics::kReports);
    EXPECT_EQ(HelpTopics::ContextOf(&menu), HelpTopics::kReports);
    menu.setProperty("activeAction", QVariant::fromValue<QObject*>(nullptr));
    menu.setProperty(HelpTopics::kProperty, HelpTopics::kSystem);
    EXPECT_EQ(HelpTopics::ContextOf(&menu), HelpTopics::kSystem);
}

} // namespace
