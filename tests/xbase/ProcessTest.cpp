#include "support/CodeTables.h"
#include "support/TempFolder.h"
#include "xbase/Error.h"
#include "xbase/PosixFileSystem.h"

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
        TableEngine t(RealFileSystem());
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
    CreateIndexedCodeTable(path);
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
    TableEngine t(RealFileSystem());
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

TEST(ProcessTest, LookupsOnRealFilesSeeOtherHandlesAndProcessesAtOnce) {
    // Shared lookups check the index's change counter through a mapping of
    // its header: a write by another handle or process must still be seen by
    // the very next seek, and never half.
    TempFolder dir;
    const std::string path = dir.file("CajaPIN.dbf");
    CreateIndexedCodeTable(path);
    TableEngine reader(RealFileSystem()), writer(RealFileSystem());
    reader.Open(path, false);
    writer.Open(path, false);
    reader.SetOrder("PIN");
    writer.SetOrder("PIN");
    EXPECT_FALSE(reader.Seek("C0FFEE")); // cached now
    AddCode(writer, "C0FFEE", 90, {2024, 6, 1}, "12:00:00");
    ASSERT_TRUE(reader.Seek("C0FFEE"));
    EXPECT_EQ(reader.GetInteger("SALDO"), 90);
    writer.Delete();
    writer.Commit();
    EXPECT_FALSE(reader.Seek("C0FFEE"));

    const int count = 300;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t kid = fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
        close(ready[0]);
        try {
            TableEngine t(RealFileSystem());
            t.Open(path, false);
            t.SetOrder("PIN");
            for (int i = 0; i < count; ++i) {
                AddCode(t, "D" + std::to_string(10000 + i), i, {2024, 6, 2}, "12:00:00");
                const char one = 1;
                if (write(ready[1], &one, 1) != 1)
                    _exit(3);
            }
            _exit(0);
        } catch (const XBaseError&) {
            _exit(2);
        }
    }
    close(ready[1]);
    // After each of the child's commits, this process's handle finds that
    // code at once, the tag still in order.
    for (int i = 0; i < count; ++i) {
        char one = 0;
        ASSERT_EQ(read(ready[0], &one, 1), 1) << i;
        const std::string code = "D" + std::to_string(10000 + i);
        ASSERT_TRUE(reader.Seek(code)) << code;
        EXPECT_EQ(reader.GetInteger("SALDO"), i);
    }
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(waitpid(kid, &status, 0), kid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(reader.Verify().empty());
    EXPECT_EQ(reader.TagKeys("PIN").size(), std::size_t(count));
}

} // namespace
} // namespace tarvina::xbase::test
