#include "TestTables.h"
#include "xbase/Error.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvina::xbase::test {
namespace {

// Each child appends codes, edits and deletes some of its own, and seeks the
// other's, all through shared handles at the same time.
int Child(const std::string& path, char prefix, int count) {
    try {
        TableEngine t;
        t.Open(path, false);
        t.SetOrder("PIN");
        for (int i = 0; i < count; ++i) {
            t.Append();
            t.SetString("PIN", std::string(1, prefix) + std::to_string(10000 + i));
            t.SetInteger("SALDO", i);
            t.SetString("HORA", "10:00:00");
            t.Post();
            if (i % 10 == 3) {
                if (!t.Seek(std::string(1, prefix) + std::to_string(10000 + i - 3)))
                    return 3;
                t.Delete();
            }
            t.Seek(std::string(1, prefix == 'A' ? 'B' : 'A'));
        }
        t.Commit();
        t.Close();
        return 0;
    } catch (const XBaseError&) {
        return 2;
    }
}

TEST(ProcessTest, TwoProcessesWritingOneSharedTableLeaveItWhole) {
    TempFolder dir;
    const std::string path = dir.file("CajaPIN.dbf");
    {
        TableEngine t;
        CreateCodeTable(t, path);
        t.Open(path, true);
        IndexCodeTable(t);
    }
    const int count = 400;
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = fork();
        ASSERT_GE(kids[k], 0);
        if (kids[k] == 0)
            _exit(Child(path, k ? 'B' : 'A', count));
    }
    for (pid_t kid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(kid, &status, 0), kid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    TableEngine t;
    t.Open(path, false);
    EXPECT_EQ(t.RecordCount(), 2u * count);
    EXPECT_TRUE(t.Notices().empty());
    EXPECT_TRUE(t.Verify().empty());
    std::set<std::string> pins;
    for (t.First(); !t.Eof(); t.Next())
        pins.insert(t.GetString("PIN"));
    EXPECT_EQ(pins.size(), 2u * count);
    EXPECT_EQ(t.TagKeys("PIN").size(), 2u * (count - count / 10));
}

} // namespace
} // namespace tarvina::xbase::test
