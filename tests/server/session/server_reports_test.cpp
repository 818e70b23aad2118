// The server's decoding of station reports: every code of the table reaches
// its own handler, lines outside the table reach the unknown path, and the
// payloads arrive decoded from Windows-1252 and bounded as the handlers rely
// on.
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "protocol/Line.h"
#include "server/session/ReportDispatcher.h"
#include "server/session/StationReports.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <optional>

namespace {

using namespace tarvina::server;
namespace p = tarvina::protocol;

// Keeps the name of every call in order, and the last report of each code.
class Recorder final : public StationReports {
public:
    QStringList calls;
    QStringList lines;
    QStringList unknown;

    void onLine(const QString& line) override { lines.append(line); }
    void onUnknown(const QString& text) override {
        calls.append(QStringLiteral("Unknown"));
        unknown.append(text);
    }
#define TARVINA_RECORD_REPORT(name, number, follows)                                               \
    void on##name(const report::name& r) override {                                                \
        calls.append(QStringLiteral(#name));                                                       \
        last##name = r;                                                                            \
    }                                                                                              \
    std::optional<report::name> last##name;
    TARVINA_TO_SERVER_CODES(TARVINA_RECORD_REPORT)
#undef TARVINA_RECORD_REPORT
};

Recorder Dispatched(const QByteArray& line) {
    Recorder r;
    ReportDispatcher(r).Dispatch(line);
    return r;
}

TEST(ServerReports, EveryCodeOfTheTableReachesItsOwnHandler) {
    int codes = 0;
    for (const p::CodeInfo& info : p::AllCodes()) {
        if (info.direction != p::Direction::ToServer)
            continue;
        ++codes;
        const QByteArray line = p::FormatToServer(info.code, "1");
        const Recorder r = Dispatched(line);
        SCOPED_TRACE(line.toStdString());
        EXPECT_EQ(r.lines, QStringList{QString::fromLatin1(line)});
        // TaskListTagged has a handler of its own that the console shows as
        // unknown; it must not fall to the path of codes outside the table.
        EXPECT_EQ(r.calls, QStringList{QString::fromLatin1(info.name)});
    }
    EXPECT_GT(codes, 0);
}

TEST(ServerReports, LinesOutsideTheTableAreUnknownAndNamedByTheirHead) {
    const struct {
        QByteArray line;
        QString text;
    } cases[] = {
        {"", QStringLiteral("- Comando no reconocido (FFFFFFFF)")},
        {"R", QStringLiteral("R- Comando no reconocido (FFFFFFFF)")},
        {"R0", QStringLiteral("R0- Comando no reconocido (FFFFFFFF)")},
        {"r01PC1", QStringLiteral("r01- Comando no reconocido (FFFFFFFF)")},
        {"R0GPC1", QStringLiteral("R0G- Comando no reconocido (FFFFFFFF)")},
        {"R03", QStringLiteral("R03- Comando no reconocido (00000003)")},
        {"RffX", QStringLiteral("Rff- Comando no reconocido (000000FF)")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const Recorder r = Dispatched(c.line);
        EXPECT_EQ(r.calls, QStringList{QStringLiteral("Unknown")});
        EXPECT_EQ(r.unknown, QStringList{c.text});
        EXPECT_EQ(r.lines, QStringList{QString::fromLatin1(c.line)});
    }
    const Recorder tagged = Dispatched("R450000ABCDBloc de notas");
    ASSERT_TRUE(tagged.lastTaskListTagged);
    EXPECT_EQ(tagged.lastTaskListTagged->unknownText,
              QStringLiteral("R45- Comando no reconocido (00000045)"));
}

TEST(ServerReports, TextsAreDecodedFromCp1252AndBoundedOnce) {
    // 0x80 is the euro sign; 0x81, undefined in the code page, survives as
    // the control character of the same number.
    const QByteArray long300(300, 'a');
    const Recorder id = Dispatched("R01\x80\x81" + long300);
    ASSERT_TRUE(id.lastIdentify);
    EXPECT_EQ(id.lastIdentify->name,
              QStringLiteral("\u20AC\u0081") + QString(253, QLatin1Char('a')));
    // The line as the console and the last command name it: 255 characters
    // of the whole line.
    EXPECT_EQ(id.lines.first(), QStringLiteral("R01\u20AC\u0081") + QString(250, QLatin1Char('a')));

    const Recorder screen = Dispatched("R12" + long300);
    ASSERT_TRUE(screen.lastScreen);
    EXPECT_EQ(screen.lastScreen->line, screen.lines.first());
    EXPECT_EQ(screen.lastScreen->line.size(), 255);

    EXPECT_EQ(Dispatched("R4112345678").lastCurrentPin->pin, QStringLiteral("123456"));
    EXPECT_EQ(Dispatched("R49\xD1"
                         "2345678")
                  .lastPinAssigned->code,
              QStringLiteral("\u00D123456"));
    EXPECT_EQ(Dispatched("R3812345678").lastPinEntered->pin, QStringLiteral("12345678"));
    EXPECT_EQ(Dispatched("R4800-11-22-33-44-55-66").lastMacReport->mac,
              QStringLiteral("00-11-22-33-44-55"));
    EXPECT_EQ(Dispatched("R13" + long300).lastClientMessage->text.size(), 255);
    EXPECT_EQ(Dispatched("R05\x80").lastTimeRequest->minutes, QStringLiteral("\u20AC"));
    // The task window splits the list itself: the whole payload, as bytes.
    const QByteArray captions = "Word,\x80" + QByteArray(1000, 'c');
    EXPECT_EQ(Dispatched("R09" + captions).lastTaskList->captions, captions);
}

TEST(ServerReports, StatusReportFieldsStartAtTheSixthCharacter) {
    const Recorder r = Dispatched("R022,Ana,0.0104166666666667,46000.5,-1,PC1,V 2.6 (B 3.0)");
    ASSERT_TRUE(r.lastStatusReport);
    const report::StatusReport& s = *r.lastStatusReport;
    EXPECT_EQ(s.state, StationState::InUse);
    EXPECT_EQ(s.user, QStringLiteral("Ana"));
    ASSERT_TRUE(s.timeLeft && s.start);
    EXPECT_NEAR(*s.timeLeft, 15.0 / 1440, 1e-12);
    EXPECT_DOUBLE_EQ(*s.start, 46000.5);
    EXPECT_EQ(s.name, QStringLiteral("PC1"));
    EXPECT_EQ(s.version, QStringLiteral("V 2.6 (B 3.0)"));
    EXPECT_EQ(s.versionNumber, static_cast<qint32>(p::MakeVersionNumber(2, 6, 3, 0)));

    // Any digit is kept as it came; anything else is state 0.
    EXPECT_EQ(StateByte(Dispatched("R029,x").lastStatusReport->state), 9);
    EXPECT_EQ(Dispatched("R02x,x").lastStatusReport->state, StationState::Disconnected);
    const report::StatusReport empty = *Dispatched("R02").lastStatusReport;
    EXPECT_EQ(empty.state, StationState::Disconnected);
    EXPECT_TRUE(empty.user.isEmpty());
    EXPECT_FALSE(empty.timeLeft);

    // The bound of 255 counts from the fields, not from the payload.
    const report::StatusReport longUser =
        *Dispatched("R021," + QByteArray(300, 'u') + ",0,0").lastStatusReport;
    EXPECT_EQ(longUser.user, QString(255, QLatin1Char('u')));
    EXPECT_FALSE(Dispatched("R021,Ana,nada,0").lastStatusReport->timeLeft);
}

TEST(ServerReports, VolumeAndTransparencyAreReadAsHexadecimal) {
    const report::VolumeReport both = *Dispatched("R3600FF8000").lastVolumeReport;
    EXPECT_FALSE(both.failed);
    EXPECT_EQ(both.left, 0xFFu);
    EXPECT_EQ(both.right, 0x8000u);
    EXPECT_TRUE(Dispatched("R36FaIlEd").lastVolumeReport->failed);
    // The side that is not four hexadecimal digits is quoted, the left first.
    EXPECT_EQ(Dispatched("R3600FFzz12").lastVolumeReport->invalid, QStringLiteral("zz12"));
    EXPECT_EQ(Dispatched("R36zz").lastVolumeReport->invalid, QStringLiteral("zz"));
    EXPECT_EQ(Dispatched("R3600FF12").lastVolumeReport->invalid, QStringLiteral("12"));

    EXPECT_EQ(Dispatched("R4380").lastTransparencyReport->alpha, 128);
    EXPECT_EQ(Dispatched("R438").lastTransparencyReport->alpha, 255);
    EXPECT_EQ(Dispatched("R43zz").lastTransparencyReport->alpha, 255);
}

} // namespace
