#include "protocol/StationLines.h"

#include "protocol/Codes.h"
#include "protocol/Line.h"

#include <gtest/gtest.h>

namespace tarvina::protocol::station {
namespace {

TEST(StationLines, EachLineHasItsCodeAndLayout) {
    Status s;
    s.state = 2;
    s.user = "Ana";
    s.daysLeft = 0.5;
    s.start = 45355.25;
    s.tag = "-1";
    s.computer = "PC1";
    s.version = "V 3.0 (B 0.0)";
    EXPECT_EQ(StatusReport(s), "R022,Ana,0.5,45355.25,-1,PC1,V 3.0 (B 0.0)");
    EXPECT_EQ(StatusReport({}), "R020,,0,0,,,");
    EXPECT_EQ(Identify("PC1"), "R01PC1");
    EXPECT_EQ(SessionStarted("Ana"), "R04Ana");
    EXPECT_EQ(TimeRequest("15"), "R0515");
    EXPECT_EQ(TimeAdded("Ana"), "R06Ana");
    EXPECT_EQ(ClientMessage("hola"), "R13hola");
    EXPECT_EQ(FreeMessageHead(), "R14");
    EXPECT_EQ(CdList("DE"), "R33DE");
    EXPECT_EQ(VolumeReport(0x8000, 0x00FF), "R36800000FF");
    EXPECT_EQ(VolumeFailed(), "R36failed");
    EXPECT_EQ(PinEntered("C0FFEE"), "R38C0FFEE");
    EXPECT_EQ(CurrentPin(""), "R41");
    EXPECT_EQ(TransparencyReport(255), "R43FF");
    EXPECT_EQ(TransparencyReport(5), "R4305");
    EXPECT_EQ(TransparencyReport(300), "R43FF");
    EXPECT_EQ(TaskListTagged(0x1A, {"Terminal", "Juego"}).left(11), "R450000001A");
    EXPECT_EQ(MacReport("00-0C"), "R4800-0C");
    EXPECT_EQ(PinAssigned("123456"), "R49123456");
    EXPECT_EQ(LogReportHead(), "R51");
}

// Every line the station writes starts with a station-to-server code of the
// table, so the server's reader knows it.
TEST(StationLines, EveryLineUsesACodeOfTheTable) {
    for (const QByteArray& line :
         {Identify(""), StatusReport({}), SessionStarted(""), TimeRequest(""), TimeAdded(""),
          ClientMessage(""), FreeMessageHead(), CdList(""), VolumeReport(0, 0), VolumeFailed(),
          PinEntered(""), CurrentPin(""), TransparencyReport(0), TaskListTagged(0, {}),
          MacReport(""), PinAssigned(""), LogReportHead()}) {
        const ServerSideLine parsed = ParseAtServer(line);
        EXPECT_NE(FindCode(parsed.code, Direction::ToServer), nullptr) << line.toStdString();
    }
}

} // namespace
} // namespace tarvina::protocol::station
