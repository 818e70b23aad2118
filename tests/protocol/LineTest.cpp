#include "protocol/Line.h"

#include "protocol/Codes.h"

#include <gtest/gtest.h>

namespace tarvina::protocol {
namespace {

TEST(LineFormat, CodesAreTwoUpperCaseDigits) {
    EXPECT_EQ(FormatToClient(tc::TimeRequestMode, "2,15,30,60"), "0A2,15,30,60");
    EXPECT_EQ(FormatToClient(tc::Lock), "08");
    EXPECT_EQ(FormatToServer(ts::MacReport, "00-1A-2B-3C-4D-5E"), "R4800-1A-2B-3C-4D-5E");
    EXPECT_EQ(Terminate(FormatToClient(tc::AddTime, "30")), "0630\r\n");
    // Whatever the writer formats, its own reader recovers.
    for (const CodeInfo& info : AllCodes()) {
        if (info.direction == Direction::ToServer)
            EXPECT_EQ(ParseAtServer(FormatToServer(info.code, "x")).code, info.code) << info.name;
        else
            EXPECT_EQ(ParseAtClient(FormatToClient(info.code, "x")).code, info.code) << info.name;
    }
}

TEST(ParseAtServer, CodeNeedsCapitalRAndTwoHexDigits) {
    const ServerSideLine ok = ParseAtServer("R02 2,Ana,0.0104166666666667");
    EXPECT_EQ(ok.code, ts::StatusReport);
    EXPECT_EQ(ok.payload, " 2,Ana,0.0104166666666667");
    EXPECT_EQ(ok.head3, "R02");

    EXPECT_EQ(ParseAtServer("R0a").code, 0x0A);
    EXPECT_EQ(ParseAtServer("RfF").code, 0xFF);
    EXPECT_EQ(ParseAtServer("R0a").payload, "");

    EXPECT_EQ(ParseAtServer("r02").code, -1);
    EXPECT_EQ(ParseAtServer("R0Z").code, -1);
    EXPECT_EQ(ParseAtServer("R-1").code, -1);
    EXPECT_EQ(ParseAtServer(" R02").code, -1);
    EXPECT_EQ(ParseAtServer("02").code, -1);
    // One or two characters never make a code.
    EXPECT_EQ(ParseAtServer("R").code, -1);
    EXPECT_EQ(ParseAtServer("R1").code, -1);
    EXPECT_EQ(ParseAtServer("R1").head3, "R1");
    EXPECT_EQ(ParseAtServer("").code, -1);
    EXPECT_EQ(ParseAtServer("").head3, "");
}

TEST(ParseAtServer, UnknownCommandText) {
    EXPECT_EQ(UnknownCommandText(ParseAtServer("R0Zabc")), "R0Z- Comando no reconocido (FFFFFFFF)");
    EXPECT_EQ(UnknownCommandText(ParseAtServer("r02")), "r02- Comando no reconocido (FFFFFFFF)");
    EXPECT_EQ(UnknownCommandText(ParseAtServer("R45000000FFtarea")),
              "R45- Comando no reconocido (00000045)");
    EXPECT_EQ(UnknownCommandText(ParseAtServer("R")), "R- Comando no reconocido (FFFFFFFF)");
}

TEST(ParseAtClient, FirstTwoCharactersWithDefaultZero) {
    const ClientSideLine grant = ParseAtClient("042880,Ana,");
    EXPECT_EQ(grant.code, tc::GrantAccess);
    EXPECT_EQ(grant.payload, "2880,Ana,");
    EXPECT_EQ(ParseAtClient("0a2,15").code, 0x0A);
    EXPECT_EQ(ParseAtClient("0A").payload, "");
    // Not hexadecimal: code 0, the payload still starts at the third character.
    const ClientSideLine bad = ParseAtClient("G1xyz");
    EXPECT_EQ(bad.code, 0);
    EXPECT_EQ(bad.payload, "xyz");
    EXPECT_EQ(ParseAtClient("R02").code, 0);
    EXPECT_EQ(ParseAtClient("-1").code, 0);
    EXPECT_EQ(ParseAtClient("").code, 0);
    // Unlike the server, a single hexadecimal character is a code here.
    EXPECT_EQ(ParseAtClient("8").code, 8);
    EXPECT_EQ(ParseAtClient("8").payload, "");
}

TEST(LimitPayload, KeepsAtMost255ByDefault) {
    const QByteArray text(300, 'a');
    EXPECT_EQ(LimitPayload(text).size(), 255);
    EXPECT_EQ(LimitPayload("abc"), "abc");
    EXPECT_EQ(LimitPayload(text, 1024).size(), 300);
}

} // namespace
} // namespace tarvina::protocol
