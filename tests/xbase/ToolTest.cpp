// xbase-tool as an operator runs it: a child process on real files.
#include "support/CodeTables.h"
#include "support/TempFolder.h"
#include "xbase/PosixFileSystem.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvina::xbase::test {
namespace {

std::string Tool() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, std::size_t(n)) : std::string();
    dir = dir.substr(0, dir.find_last_of('/'));
    return dir + "/xbase-tool";
}

std::pair<int, std::string> RunTool(const std::string& args) {
    std::string out;
    FILE* p = popen((Tool() + " " + args + " 2>&1").c_str(), "r");
    if (!p)
        return {-1, out};
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    const int st = pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

TEST(ToolTest, InfoKeysVerifyAndReindex) {
    TempFolder dir;
    const std::string path = dir.file("CajaPIN.dbf");
    {
        TableEngine t(RealFileSystem());
        OpenNewCodeTable(t, path);
        t.Append();
        t.SetString("PIN", "B00001");
        t.SetString("HORA", "10:00:00");
        t.SetDate("FECHA", Date{2024, 7, 1});
        t.Post();
        t.Append();
        t.SetString("PIN", "A0");
        t.SetString("MAC", "00-11-22-33-44-55");
        t.Post();
    }
    auto [status, out] = RunTool("info " + dir.file("cajapin.DBF"));
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("records: 2"), std::string::npos) << out;
    EXPECT_NE(out.find("FECHOR     key \"DTOS(FECHA)+ HORA\" for \".not. deleted()\" length 16"),
              std::string::npos)
        << out;

    std::tie(status, out) = RunTool("keys " + path + " PIN");
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "2\t413020202020\n1\t423030303031\n"); // "A0" with its blanks, then "B00001"

    std::tie(status, out) = RunTool("records " + path);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.substr(0, 9), "1\tB00001\t");

    std::tie(status, out) = RunTool("verify " + path);
    EXPECT_EQ(status, 0) << out;

    // A key byte changed behind the engine's back: verify must say so.
    {
        std::fstream f(dir.file("CajaPIN.cdx"), std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const auto at = bytes.find("B00001");
        ASSERT_NE(at, std::string::npos);
        f.seekp(std::streamoff(at));
        f.put('C');
    }
    std::tie(status, out) = RunTool("verify " + path);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("fault: tag PIN"), std::string::npos) << out;
    std::tie(status, out) = RunTool("reindex " + path);
    EXPECT_EQ(status, 0) << out;
    std::tie(status, out) = RunTool("verify " + path);
    EXPECT_EQ(status, 0) << out;

    std::tie(status, out) = RunTool("keys " + path + " NOTAG");
    EXPECT_EQ(status, 1);
    std::tie(status, out) = RunTool("info " + dir.file("missing.dbf"));
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("not found"), std::string::npos) << out;
}

TEST(ToolTest, VerifyCallsTheOldIndexLayoutFaultsAndReindexMendsThem) {
    TempFolder dir;
    for (const char* name : {"CajaPIN.dbf", "CajaPIN.cdx"})
        std::filesystem::copy_file(std::string(TARVINA_XBASE_PREVIOUS_LAYOUT) + "/" + name,
                                   dir.file(name));
    const std::string path = dir.file("CajaPIN.dbf");
    auto [status, out] = RunTool("verify " + path);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("fault: tag MAC: header offset 504 holds 43, FoxPro writes 4 (position of "
                       "the FOR expression)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("fault: tag PIN: leaf node "), std::string::npos) << out;
    EXPECT_EQ(out.find("keys, the records give"), std::string::npos) << "no entry is missing";
    std::tie(status, out) = RunTool("reindex " + path);
    EXPECT_EQ(status, 0) << out;
    std::tie(status, out) = RunTool("verify " + path);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("ok: 3 tag(s) agree with 40 record(s)"), std::string::npos) << out;
}

} // namespace
} // namespace tarvina::xbase::test
