#include "protocol/DateTimeText.h"
#include "server/ComputersFixture.h"
#include "server/dialogs/DialogForms.h"
#include "server/session/ComputerCommands.h"
#include "server/session/ViewRules.h"

#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;

namespace {

using A = ComputerAction;

ActionInput Selected(int state, const QString& version = QStringLiteral("V 3.0 (B 0.0)"),
                     quint32 number = 3u << 24, int selected = 1, int rows = 1) {
    ActionInput in;
    in.hasRecord = true;
    in.record.state = state;
    in.record.versionText = version;
    in.record.versionNumber = number;
    in.selectedCount = selected;
    in.rowCount = rows;
    return in;
}

TEST(UpdateActionsTest, StateDecidesTimeActions) {
    const ActionStates none = UpdateActions(ActionInput{});
    EXPECT_FALSE(none[A::Grant] || none[A::UsageHistory] || none[A::Refresh] ||
                 none[A::SendMessage] || none.cdRom);

    const ActionStates locked = UpdateActions(Selected(1));
    EXPECT_TRUE(locked[A::Grant]);
    EXPECT_FALSE(locked[A::Withdraw] || locked[A::MoreTime] || locked[A::Lock] || locked[A::Move]);
    EXPECT_TRUE(locked[A::Refresh] && locked[A::Restart] && locked[A::Tasks] &&
                locked[A::CleanTasks]);
    EXPECT_FALSE(locked[A::SendMessage]) << "one row, not in use";

    const ActionStates waiting = UpdateActions(Selected(4));
    EXPECT_TRUE(waiting[A::Grant] && waiting[A::Withdraw]);
    EXPECT_FALSE(waiting[A::Lock]);

    const ActionStates inUse = UpdateActions(Selected(2));
    EXPECT_TRUE(inUse[A::MoreTime] && inUse[A::Lock] && inUse[A::Move] && inUse[A::Capture] &&
                inUse[A::SendMessage]);
    EXPECT_FALSE(inUse[A::Grant] || inUse[A::Withdraw]);

    const ActionStates down =
        UpdateActions(Selected(0, QStringLiteral("V 3.0 (B 0.0)"), 3u << 24, 1, 2));
    EXPECT_FALSE(down[A::Refresh] || down[A::Restart] || down[A::Tasks] ||
                 down[A::ServicePassword] || down[A::RemoteConfig] || down[A::ClientLog] ||
                 down.cdRom);
    EXPECT_TRUE(down[A::UsageHistory]);
    EXPECT_TRUE(down[A::SendMessage]) << "the list holds more than one row";

    const ActionStates service = UpdateActions(Selected(3));
    EXPECT_FALSE(service[A::Grant] || service[A::Lock]);
    EXPECT_TRUE(service[A::Refresh]);
}

TEST(UpdateActionsTest, VersionsAndSelectionSizeGateRemoteActions) {
    const quint32 v2630 = (2u << 24) | (6u << 16) | (3u << 8);
    const ActionStates oldest = UpdateActions(Selected(1, QStringLiteral("V 2.6 (B 3.0)"), v2630));
    EXPECT_TRUE(oldest[A::ServicePassword]);
    EXPECT_FALSE(oldest[A::RemoteConfig] || oldest[A::Volume] || oldest[A::Run] ||
                 oldest[A::ClientLog]);

    const quint32 v2760 = (2u << 24) | (7u << 16) | (6u << 8);
    const ActionStates atLog = UpdateActions(Selected(1, QStringLiteral("V 2.7 (B 6.0)"), v2760));
    EXPECT_TRUE(atLog[A::RemoteConfig] && atLog[A::Volume] && atLog[A::Run]);
    EXPECT_FALSE(atLog[A::ClientLog]) << "2.7.6.0 itself is not above 2.7.6.0";
    EXPECT_TRUE(
        UpdateActions(Selected(1, QStringLiteral("V 2.7 (B 6.1)"), v2760 + 1))[A::ClientLog]);

    const ActionStates two =
        UpdateActions(Selected(2, QStringLiteral("V 3.0 (B 0.0)"), 3u << 24, 2, 2));
    EXPECT_FALSE(two[A::RemoteConfig] || two[A::Volume] || two[A::Run] || two[A::ClientLog]);
    EXPECT_TRUE(two[A::ServicePassword] && two[A::Lock]);

    // Texts that are no version: nothing that depends on the version, even
    // when the text sorts above the oldest version.
    for (const char* bad : {"Z", "", "V 9", "V 3.0 (B 0.0)\n", "W 3.0 (B 0.0)", "V 3.0 (B x.0)"}) {
        const ActionStates s = UpdateActions(Selected(1, QString::fromLatin1(bad), 0xFFFFFFFFu));
        EXPECT_FALSE(s[A::ServicePassword] || s[A::RemoteConfig] || s[A::Volume] || s[A::Run] ||
                     s[A::ClientLog])
            << bad;
        EXPECT_TRUE(s[A::Grant]);
    }
}

TEST(ViewRulesTest, TipColoursAndOrder) {
    TCompItem r;
    r.name = QStringLiteral("PC1");
    r.address = QStringLiteral("10.0.0.5");
    r.mac = QStringLiteral("00-11-22-33-44-55");
    r.state = 2;
    r.user = QStringLiteral("Ana");
    r.pin = QStringLiteral("0A1B2C");
    r.versionText = QStringLiteral("V 3.0 (B 0.0)");
    const double now = 45000.5;
    r.end = now + 90.0 / 86400; // 1 min 30 s left
    const QString fsi(QChar(0x2068)), pdi(QChar(0x2069));
    auto iso = [&](const char* s) { return fsi + QString::fromUtf8(s) + pdi; };
    EXPECT_EQ(ComputerTip(r, now),
              QStringList({iso("PC1"), "IP: " + iso("10.0.0.5"), "MAC: " + iso("00-11-22-33-44-55"),
                           "Uso", "Usuario: " + iso("Ana"), "Resta: 00:01:30",
                           "PIN: " + iso("0A1B2C"), "Versión: " + iso("V 3.0 (B 0.0)")})
                  .join("\r\n"));
    r.state = 1;
    EXPECT_EQ(ComputerTip(r, now).split("\r\n").size(), 5);
    EXPECT_TRUE(ComputerTip(r, now).split("\r\n")[3] == "Bloq.");

    // A hostile name stays on its line.
    r.name = QString(250, QChar(u'x')) + QStringLiteral("\r\n\t\x7f") + QString(QChar(0x05D0));
    const QStringList lines = ComputerTip(r, now).split("\r\n");
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0].size(), 257);
    EXPECT_TRUE(lines[0].contains(QChar(0x05D0)));
    EXPECT_EQ(OneLine(QStringLiteral("a\nb\x01")), QStringLiteral("a\uFFFDb\uFFFD"));

    const RowColours c; // the defaults
    EXPECT_EQ(RowBackground(c, 0), 0xFF0000);
    EXPECT_EQ(RowBackground(c, 1), 0x808080);
    EXPECT_EQ(RowBackground(c, 2), 0x00FF00);
    EXPECT_EQ(RowBackground(c, 4), 0xFFFF00);
    EXPECT_EQ(RowBackground(c, 3), -1);
    EXPECT_EQ(RowBackground(c, 7), -1);
    EXPECT_EQ(RowBackground(c, 128 + 2), 0x00FF00) << "the top bit is not part of the state";
    EXPECT_EQ(WindowsColourToRgb(0x00112233), 0x332211);
    EXPECT_EQ(WindowsColourToRgb(static_cast<qint32>(0x80000005u)), -1);
    EXPECT_EQ(RowForeground(true), 0x0000FFu);
    EXPECT_EQ(RowForeground(false), 0u);

    EXPECT_LT(CompareCellTexts("23:59:59", "N/A"), 0);
    EXPECT_LT(CompareCellTexts("00:00:01", "<N/A>"), 0);
    EXPECT_EQ(CompareCellTexts("pc-Ana", "PC-ANA"), 0);
    EXPECT_LT(CompareCellTexts("pc1", "PC2"), 0);
}

TEST(ViewRulesTest, DockSideFollowsTheDiagonals) {
    // A wide area, 400 x 200: the diagonals meet at (200, 100).
    EXPECT_EQ(DockSideFor(200, 10, 400, 200), 1);
    EXPECT_EQ(DockSideFor(200, 190, 400, 200), 2);
    EXPECT_EQ(DockSideFor(20, 100, 400, 200), 3);
    EXPECT_EQ(DockSideFor(380, 100, 400, 200), 4);
    // Near a corner the diagonal decides: (60, 20) is above the main one.
    EXPECT_EQ(DockSideFor(60, 20, 400, 200), 1);
    EXPECT_EQ(DockSideFor(20, 60, 400, 200), 3);
    EXPECT_EQ(DockSideFor(390, 190, 400, 200), 4) << "just above the main diagonal";
    EXPECT_EQ(DockSideFor(380, 199, 400, 200), 2);
    // At the left or right edge in the upper half: the top.
    EXPECT_EQ(DockSideFor(2, 60, 400, 200), 1);
    EXPECT_EQ(DockSideFor(398, 90, 400, 200), 1);
    EXPECT_EQ(DockSideFor(2, 150, 400, 200), 3);
    EXPECT_EQ(DockSideFor(10, 10, 0, 0), 1) << "an empty area";
}

TEST(DialogFormsTest, GrantAndMoreTime) {
    GrantForm g;
    g.user = QStringLiteral("x");
    g.show(QStringLiteral("PC1"));
    EXPECT_EQ(g.user, QStringLiteral("<Gen>"));
    EXPECT_EQ(g.label(), QStringLiteral("PC1 "));
    EXPECT_EQ(GrantForm::TimeItems().last(), QStringLiteral("<sin límite>"));
    for (const char* ok : {"30", " 5 ", "  <sin límite> ", "2880"}) {
        g.minutes = QString::fromUtf8(ok);
        EXPECT_FALSE(g.acceptError()) << ok;
    }
    for (const char* bad : {"0", "-5", "abc", "", "1.5"}) {
        g.minutes = QString::fromUtf8(bad);
        EXPECT_EQ(g.acceptError(), QStringLiteral("Faltan campos por seleccionar")) << bad;
    }
    g.minutes = QStringLiteral("30");
    g.user.clear();
    EXPECT_EQ(g.acceptError(), QStringLiteral("Faltan campos por seleccionar"));

    MoreTimeForm m;
    m.minutes.clear();
    m.notify = false;
    EXPECT_FALSE(m.okEnabled());
    m.show();
    EXPECT_EQ(m.minutes, QStringLiteral("30"));
    EXPECT_TRUE(m.notify && m.okEnabled() && !m.silent());
    m.minutes = QStringLiteral(" ");
    EXPECT_TRUE(m.okEnabled()) << "any text enables OK; the station decides";
}

TEST(DialogFormsTest, MoveShutdownPasswordRunVolume) {
    TCompItem a, b;
    MoveTargetForm move;
    move.show({{&a, "A"}, {&b, "B"}});
    EXPECT_FALSE(move.okEnabled());
    EXPECT_EQ(move.chosen(), nullptr);
    move.click(1);
    EXPECT_TRUE(move.okEnabled());
    EXPECT_EQ(move.chosen(), &b);
    move.click(7);
    EXPECT_FALSE(move.okEnabled());
    move.show({{&a, "A"}}, 0);
    EXPECT_EQ(move.chosen(), &a);

    EXPECT_EQ(ShutdownForm::ModeItems().size(), 5);
    const QString letters = QStringLiteral("CRLFS");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ShutdownForm::LetterOf(i), letters[i]);
    EXPECT_EQ(ShutdownForm().letter(), QChar(u'C'));

    ServicePasswordForm p;
    p.password = p.again = QStringLiteral("old");
    p.show();
    EXPECT_TRUE(p.password.isEmpty() && p.again.isEmpty());
    EXPECT_TRUE(p.acceptError().has_value()) << "blank";
    p.password = QStringLiteral("abc");
    p.again = QStringLiteral("abd");
    EXPECT_EQ(p.acceptError(), QStringLiteral("Las contraseñas difieren o están en blanco. "
                                              "Inténtelo de nuevo por favor."));
    p.password = p.again = QStringLiteral("   ");
    EXPECT_FALSE(p.acceptError()) << "blanks are a password";

    RunForm run;
    EXPECT_EQ(run.caption(), QStringLiteral("Ejecutar"));
    run.openFor(&a, QStringLiteral("PC1"));
    EXPECT_EQ(run.caption(), QStringLiteral("Ejecutar en PC1"));
    run.sent(QStringLiteral("notepad"));
    run.sent(QStringLiteral("notepad"));
    EXPECT_EQ(run.history(), QStringList({"notepad", "notepad"}));
    EXPECT_EQ(run.target(), &a);

    VolumeForm v;
    v.show(&a, QStringLiteral("PC1"), 40, 150);
    EXPECT_EQ(v.right(), 100);
    v.moveLeft(70);
    EXPECT_EQ(v.right(), 70);
    v.sync = false;
    v.moveRight(100);
    EXPECT_EQ(v.left(), 70);
    EXPECT_EQ(v.rightValue(), 0xFFFF);
    EXPECT_EQ(v.leftValue(), 70 * 655);
}

class CommandsTest : public test::ComputersFixture {};

TEST_F(CommandsTest, GrantMoreTimeLockAndRefreshReachEveryRowInTurn) {
    TCompItem* a = station("A", 1, "AA-00-00-00-00-01");
    TCompItem* b = station("B", 4, "AA-00-00-00-00-02");
    ComputerCommands cmd(core.context());
    const QByteArray sync = "07" + protocol::FormatDateTimeNumber(clock.now().days()) + "\r\n";

    QList<TCompItem*> asked;
    cmd.grant(
        {a, b},
        [&](TCompItem* r) -> std::optional<GrantAnswer> {
            asked << r;
            if (r == b)
                return std::nullopt; // cancelled for the second row
            return GrantAnswer{"30", "Ana"};
        },
        [](const QString&) { ADD_FAILURE() << "refused"; });
    EXPECT_EQ(asked, (QList<TCompItem*>{a, b}));
    EXPECT_EQ(read(a), sync + "0430,Ana,\r\n0A1,15,30,60\r\n");
    EXPECT_EQ(read(b), "");

    QString refusal;
    cmd.grant(
        {a},
        [](TCompItem*) {
            return GrantAnswer{"0", "Ana"};
        },
        [&](const QString& t) { refusal = t; });
    EXPECT_EQ(refusal, QStringLiteral("La asignación de tiempo es incorrecta. Intentelo de nuevo"));
    EXPECT_EQ(read(a), "");

    set(a, [](TCompItem& r) {
        r.state = 2;
        r.lockRequested = true;
    });
    set(b, [](TCompItem& r) { r.state = 2; });
    int shown = 0;
    cmd.moreTime({a, b}, [&](TCompItem* r) -> std::optional<MoreTimeAnswer> {
        ++shown;
        return MoreTimeAnswer{"15", r == b};
    });
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(read(a), "5015\r\n");
    EXPECT_EQ(read(b), "0615\r\n");
    {
        ComputersGuard g(core.registry().lock());
        EXPECT_FALSE(a->lockRequested);
    }

    cmd.lock({a});
    EXPECT_EQ(read(a), "08\r\n" + sync);
    cmd.refresh({b});
    EXPECT_EQ(read(b), "02\r\n400\r\n41\r\n" + sync + "44\r\n");
}

TEST_F(CommandsTest, FirstRowActionsNoticeMoveAndShutdown) {
    TCompItem* a = station("A", 2, "AA-00-00-00-00-01");
    TCompItem* b = station("B", 1, "AA-00-00-00-00-02");
    TCompItem* c = station("C", 1, "AA-00-00-00-00-03");
    TCompItem* off = offline("D");
    ComputerCommands cmd(core.context());

    // Only the rows in use get a notice, even an empty one.
    EXPECT_EQ(cmd.notice({a, b, off}, QStringLiteral("Cerramos en 10 minutos")), 1);
    EXPECT_EQ(read(a), "14Cerramos en 10 minutos\r\n");
    EXPECT_EQ(read(b), "");
    EXPECT_EQ(cmd.notice({b}, QString()), 0);
    EXPECT_EQ(cmd.notice({a}, QString()), 1);
    EXPECT_EQ(read(a), "14\r\n");

    cmd.withdraw({b, c});
    EXPECT_EQ(read(b), "13\r\n");
    EXPECT_EQ(read(c), "");

    const QList<MoveTarget> targets = cmd.moveTargets();
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[0].name, QStringLiteral("B"));
    EXPECT_EQ(targets[1].record, c);
    set(a, [&](TCompItem& r) {
        r.user = QStringLiteral("Ana");
        r.end = clock.now().days() + 20.5 / 1440;
    });
    cmd.move({a, b}, c);
    EXPECT_EQ(read(a), "08\r\n");
    EXPECT_EQ(read(c), "49\r\n0420,Ana,\r\n0A1,15,30,60\r\n");
    cmd.move({c}, c); // never onto itself
    EXPECT_EQ(read(c), "");

    cmd.shutdown({a, off, b}, 45, QChar(u'R'));
    EXPECT_EQ(read(a), "0345, R\r\n");
    EXPECT_EQ(read(b), "0345, R\r\n");

    cmd.servicePassword({b, a}, QStringLiteral("   "));
    EXPECT_EQ(read(b).left(2), "20");
    EXPECT_EQ(read(a), "");
}

TEST_F(CommandsTest, CdLogMessagesAndHistory) {
    TCompItem* a = station("PC/../1", 2, "AA-00-00-00-00-01");
    ComputerCommands cmd(core.context());
    const auto cd = ComputerCommands::CdEntries(QStringLiteral("ed\n1"));
    ASSERT_EQ(cd.size(), 4);
    EXPECT_EQ(cd[0].caption, QStringLiteral("Abre unidad E"));
    EXPECT_EQ(cd[1].caption, QStringLiteral("Cierra unidad E"));
    EXPECT_EQ(cd[2].letter, QChar(u'D'));
    EXPECT_TRUE(cd[2].open);
    EXPECT_TRUE(ComputerCommands::CdEntries(QString()).isEmpty());

    const QString path = cmd.requestClientLog({a});
    EXPECT_EQ(read(a), "51\r\n");
    EXPECT_TRUE(path.startsWith(dir.path() + "/")) << path.toStdString();
    EXPECT_FALSE(path.mid(dir.path().size() + 1).contains(QLatin1Char('/')));
    EXPECT_TRUE(path.endsWith(".log"));

    set(a, [](TCompItem& r) {
        r.messages << QStringLiteral("09/12/26 10:00 Solicita más tiempo (15 minutos)")
                   << QStringLiteral("hola");
        r.history << QStringLiteral("uso 1");
        r.attention = true;
    });
    const auto w = cmd.takeMessages(a);
    EXPECT_EQ(w.title, QStringLiteral("Mensajes desde PC/../1"));
    EXPECT_EQ(w.lines.size(), 2);
    {
        ComputersGuard g(core.registry().lock());
        EXPECT_FALSE(a->attention);
        EXPECT_EQ(a->messages.size(), 2) << "the messages stay";
    }
    EXPECT_EQ(cmd.history(a).title, QStringLiteral("Accesos hechos a PC/../1"));
    EXPECT_EQ(cmd.history(a).lines, QStringList{"uso 1"});
}

// Answers every question with a cancel and writes down what the actions
// asked for.
class CancellingPrompts final : public ActionPrompts {
public:
    std::optional<GrantAnswer> askGrant(const QString& name) override {
        asked << "grant " + name;
        return std::nullopt;
    }
    void grantRefused(const QString& text) override { asked << "refused " + text; }
    std::optional<MoreTimeAnswer> askMoreTime() override {
        asked << "more time";
        return std::nullopt;
    }
    TCompItem* askMoveTarget(const QList<MoveTarget>& targets) override {
        asked << QStringLiteral("move to one of %1").arg(targets.size());
        return nullptr;
    }
    std::optional<std::pair<int, QChar>> askShutdown() override {
        asked << "shutdown";
        return std::nullopt;
    }
    std::optional<QString> askNotice() override {
        asked << "notice";
        return std::nullopt;
    }
    std::optional<QString> askServicePassword() override {
        asked << "password";
        return std::nullopt;
    }
    void showText(const ComputerCommands::TextWindow& w) override { asked << "text " + w.title; }
    void openRun(TCompItem*, const QString& name) override { asked << "run " + name; }
    void openClientLog(const QString&) override { asked << "client log"; }
    void handOver(ComputerAction::Id id, const QList<TCompItem*>& rows) override {
        handedOver << id;
        handedRows = rows;
    }

    QStringList asked;
    QList<ComputerAction::Id> handedOver;
    QList<TCompItem*> handedRows;
};

TEST_F(CommandsTest, TableActionsAskFirstAndACancelSendsNothing) {
    TCompItem* a = station("A", 2, "AA-00-00-00-00-01");
    TCompItem* b = station("B", 1, "AA-00-00-00-00-02");
    ComputerCommands cmd(core.context());
    CancellingPrompts prompts;
    const QList<TCompItem*> rows{a, b};
    const auto run = [&](A::Id id) {
        ComputerActionOf(id).run({cmd, core.context(), prompts, rows});
    };

    for (A::Id id :
         {A::Grant, A::MoreTime, A::Move, A::Restart, A::SendMessage, A::ServicePassword}) {
        run(id);
        EXPECT_EQ(read(a), "") << QString::fromUtf16(ComputerActionOf(id).caption).toStdString();
        EXPECT_EQ(read(b), "") << QString::fromUtf16(ComputerActionOf(id).caption).toStdString();
    }
    EXPECT_EQ(prompts.asked, QStringList({"grant A", "grant B", "more time", "more time",
                                          "move to one of 1", "shutdown", "notice", "password"}))
        << "once per row for the time, once for the rest";

    // The windows of other parts get the whole selection.
    for (A::Id id : {A::Capture, A::Tasks, A::CleanTasks, A::RemoteConfig})
        run(id);
    EXPECT_EQ(prompts.handedOver,
              (QList<A::Id>{A::Capture, A::Tasks, A::CleanTasks, A::RemoteConfig}));
    EXPECT_EQ(prompts.handedRows, rows);

    // The first row's: the run window and the volume query.
    prompts.asked.clear();
    run(A::Run);
    run(A::Volume);
    EXPECT_EQ(prompts.asked, QStringList{"run A"});
    EXPECT_EQ(read(a), "36\r\n");
    EXPECT_EQ(read(b), "");
}

} // namespace
