// The dispatcher alone: each line becomes one decoded call, bounded, and
// nothing else (no threads, no sockets).
#include "client/commands/Dispatcher.h"

#include "client/commands/StationCommands.h"
#include "client/station/StationContext.h"
#include "common/Password.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/StationLines.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;

namespace {

// Writes every call as one text, arguments after a colon.
class Recorder final : public StationCommands {
public:
    QStringList calls;
    Grant grant;

    void add(const QString& s) { calls << s; }
    void Hello() override { add("Hello"); }
    void StatusQuery() override { add("StatusQuery"); }
    void ScheduleShutdown(int s, QChar l) override {
        add(QStringLiteral("ScheduleShutdown:%1,%2").arg(s).arg(l));
    }
    void GrantAccess(const Grant& g) override {
        grant = g;
        add("GrantAccess");
    }
    void AddTime(const QByteArray& m, bool silent) override {
        add("AddTime:" + QString::fromLatin1(m) + (silent ? ",silent" : ""));
    }
    void SyncTime(double d) override { add(QStringLiteral("SyncTime:%1").arg(d)); }
    void Lock() override { add("Lock"); }
    void TimeRequestMode(const QString& m, const QString& l) override {
        add("TimeRequestMode:" + m + "|" + l);
    }
    void MachineCommand(int c, const QByteArray& p) override {
        add(QStringLiteral("MachineCommand:%1,").arg(c, 2, 16, QLatin1Char('0')) +
            QString::fromLatin1(p));
    }
    void MachineFile(int c, const QByteArray& p) override {
        add(QStringLiteral("MachineFile:%1,").arg(c, 2, 16, QLatin1Char('0')) +
            QString::fromLatin1(p));
    }
    void MachinePosted(int c) override {
        add(QStringLiteral("MachinePosted:%1").arg(c, 2, 16, QLatin1Char('0')));
    }
    void SetAccountTag(const QString& t) override { add("SetAccountTag:" + t); }
    void WithdrawAccess() override { add("WithdrawAccess"); }
    void Notice(const QString& t) override { add("Notice:" + t); }
    void ClockHint(const QString& h) override { add("ClockHint:" + h); }
    void SetServicePassword(const QByteArray& p) override {
        add("SetServicePassword:" + QString::fromLatin1(p));
    }
    void CdListQuery() override { add("CdListQuery"); }
    void CdTray(QChar l, bool open) override {
        add(QStringLiteral("CdTray:%1,%2").arg(l).arg(open));
    }
    void SetVolume(quint16 l, quint16 r) override {
        add(QStringLiteral("SetVolume:%1,%2").arg(l).arg(r));
    }
    void VolumeQuery() override { add("VolumeQuery"); }
    void OpenRemote(const QString& a) override { add("OpenRemote:" + a); }
    void PinVerdict(const QByteArray& p) override { add("PinVerdict:" + QString::fromLatin1(p)); }
    void ServiceMode(int m) override { add(QStringLiteral("ServiceMode:%1").arg(m)); }
    void PinQuery() override { add("PinQuery"); }
    void SetTransparency(int a) override { add(QStringLiteral("SetTransparency:%1").arg(a)); }
    void TransparencyQuery() override { add("TransparencyQuery"); }
    void SoftReinit() override { add("SoftReinit"); }
    void BlockMessageMode(bool on) override { add(QStringLiteral("BlockMessageMode:%1").arg(on)); }
    void MacQuery() override { add("MacQuery"); }
    void AssignPin(const QByteArray& p) override { add("AssignPin:" + QString::fromLatin1(p)); }
    void LogQuery() override { add("LogQuery"); }
    void MemberId(qint64 id) override { add(QStringLiteral("MemberId:%1").arg(id)); }
    void ShowAdPage() override { add("ShowAdPage"); }
    void PriceList() override { add("PriceList"); }
    void AccountState(qint64 minutes, const QString& amount) override {
        add(QStringLiteral("AccountState:%1,%2").arg(minutes).arg(amount));
    }
    void Unknown() override { add("Unknown"); }
    void Refused(const QString& step, const QString& why) override {
        add("Refused:" + step + "|" + why);
    }
};

struct Fixture {
    Recorder rec;
    Dispatcher dispatcher{rec};
    QStringList run(const QByteArray& line) {
        rec.calls.clear();
        dispatcher.Dispatch(line);
        return rec.calls;
    }
};

} // namespace

TEST(Dispatcher, EveryCodeOfTheTableReachesItsHandler) {
    Fixture f;
    for (const protocol::CodeInfo& info : protocol::AllCodes()) {
        if (info.direction != protocol::Direction::ToClient)
            continue;
        const QStringList calls =
            f.run(QByteArray::number(info.code, 16).rightJustified(2, '0').toUpper() + "D1");
        if (info.code == protocol::tc::DatabaseHost) {
            EXPECT_TRUE(calls.isEmpty()) << info.name;
            continue;
        }
        ASSERT_EQ(calls.size(), 1) << info.name;
        EXPECT_NE(calls[0], "Unknown") << info.name;
    }
}

TEST(Dispatcher, LinesWithoutAKnownCodeAreUnknown) {
    Fixture f;
    for (const QByteArray& line :
         {QByteArray("0"), QByteArray("zz"), QByteArray("05"), QByteArray("FF"), QByteArray("00"),
          QByteArray("-1"), QByteArray("\x00\x01", 2)})
        EXPECT_EQ(f.run(line), QStringList{"Unknown"}) << line.toHex().toStdString();
}

TEST(Dispatcher, FieldsAreDecodedAndBounded) {
    Fixture f;
    const QByteArray pw = protocol::ToHexText(common::ScramblePassword("clave"));
    EXPECT_EQ(f.run("0430,Ana," + pw), QStringList{"GrantAccess"});
    EXPECT_EQ(f.rec.grant.minutes, "30");
    EXPECT_EQ(f.rec.grant.user, "Ana");
    EXPECT_EQ(f.rec.grant.password, common::ScramblePassword("clave"));
    // A password field that is not hexadecimal counts as none; huge fields
    // are cut to what the session file keeps.
    f.run("04" + QByteArray(100, '9') + "," + QByteArray(1000, 'u') + ",zz");
    EXPECT_EQ(f.rec.grant.minutes.size(), 32);
    EXPECT_EQ(f.rec.grant.user.size(), 255);
    EXPECT_TRUE(f.rec.grant.password.isEmpty());

    EXPECT_EQ(f.run("03 120 , C"), QStringList{"ScheduleShutdown:120,C"});
    EXPECT_EQ(f.run("03x"), QStringList{"ScheduleShutdown:0,N"});
    EXPECT_EQ(f.run("03999999999999"), QStringList{"ScheduleShutdown:31622400,N"});
    EXPECT_EQ(f.run("5015"), QStringList{"AddTime:15,silent"});
    EXPECT_EQ(f.run("0A2, 5,10"), QStringList{"TimeRequestMode:2|5,10"});
    EXPECT_EQ(f.run("11 abc , def"), QStringList{"SetAccountTag:abc"});
    EXPECT_EQ(f.run("14  hola  "), QStringList{"Notice:hola"});
    EXPECT_EQ(f.run("14" + QByteArray(5000, 'x'))[0].size(), 7 + 1024);
    EXPECT_EQ(f.run("3500FF8000"), QStringList{"SetVolume:255,32768"});
    EXPECT_TRUE(f.run("35zz")[0].startsWith("Refused:SetVolumen|NewMsg 'zz'"));
    EXPECT_EQ(f.run("34d1"), QStringList{"CdTray:D,1"});
    EXPECT_EQ(f.run("34E"), QStringList{"CdTray:E,0"});
    EXPECT_TRUE(f.run("341").isEmpty()); // not a drive letter
    EXPECT_TRUE(f.run("34").isEmpty());
    EXPECT_EQ(f.run("42zz"), QStringList{"SetTransparency:255"});
    EXPECT_EQ(f.run("4280"), QStringList{"SetTransparency:128"});
    EXPECT_EQ(f.run("4C"), QStringList{"Unknown"});
    EXPECT_EQ(f.run("491234567890"), QStringList{"AssignPin:123456"});
    EXPECT_EQ(f.run("53 42"), QStringList{"MemberId:42"});
    EXPECT_EQ(f.run("53x"), QStringList{"MemberId:0"});
}

TEST(Dispatcher, FileItemsReadABlockUnlessTheyClear) {
    Fixture f;
    EXPECT_EQ(f.run("22C:\\fondos\\zu.gif"), QStringList{"MachineFile:22,C:\\fondos\\zu.gif"});
    EXPECT_EQ(f.run("22  "), QStringList{"MachineCommand:22,  "});
    EXPECT_EQ(f.run("24"), QStringList{"MachineCommand:24,"});
    // A banner always carries its block.
    EXPECT_EQ(f.run("30"), QStringList{"MachineFile:30,"});
    EXPECT_EQ(f.run("09"), QStringList{"MachineCommand:09,"});
    EXPECT_EQ(f.run("12"), QStringList{"MachinePosted:12"});
}

TEST(Dispatcher, AccountStateCarriesAnAmountWithCommasAndRefusesOtherShapes) {
    Fixture f;
    EXPECT_EQ(f.run(protocol::station::AccountState(45, "Bs 1,20")),
              QStringList{"AccountState:45,Bs 1,20"});
    EXPECT_TRUE(f.run("56-3,00")[0].startsWith("Refused:AccountState|"));
    EXPECT_TRUE(f.run("5612," + QByteArray(400, 'A'))[0].startsWith("Refused:AccountState|"));
}
