#include "xbase/File.h"

#include "TestTables.h"
#include "xbase/Error.h"
#include "xbase/MemoryFileSystem.h"

#include <gtest/gtest.h>

namespace tarvina::xbase::test {
namespace {

TEST(MemoryFileSystemTest, FilesFoldersAndOwnedLocks) {
    MemoryFileSystem fs;
    EXPECT_THROW(fs.Open("/d/a.dbf", true), XBaseError);
    auto a = fs.Create("/d/a.dbf");
    a->WriteAt(4, "xy", 2);
    EXPECT_EQ(a->Size(), 6u);
    char buf[8] = {};
    EXPECT_EQ(a->ReadAt(3, buf, 8), 3u); // short only at the end
    EXPECT_EQ(std::string(buf, 3), std::string("\0xy", 3));
    EXPECT_TRUE(fs.IsFolder("/d"));
    EXPECT_EQ(ResolvePath(fs, "/D/A.DBF"), "/d/a.dbf");
    EXPECT_EQ(ResolvePath(fs, "/d/new.dbf"), "/d/new.dbf");

    auto b = fs.Open("/d/a.dbf", true);
    EXPECT_TRUE(a->Lock(10, LockMode::Shared, false));
    EXPECT_TRUE(b->Lock(10, LockMode::Shared, false));
    EXPECT_FALSE(b->Lock(11, LockMode::Exclusive, false) && a->Lock(11, LockMode::Shared, false));
    b->Unlock(10);
    b->Unlock(11);
    EXPECT_TRUE(a->Lock(10, LockMode::Exclusive, false)); // upgrade once alone
    EXPECT_FALSE(b->Lock(10, LockMode::Shared, false));
    a.reset(); // closing releases its locks
    EXPECT_TRUE(b->Lock(10, LockMode::Exclusive, false));
}

TEST(FaultyFileSystemTest, FailShortAndCrash) {
    MemoryFileSystem mem;
    FaultyFileSystem fs(mem);
    auto f = fs.Create("/f");
    fs.FailWrite(1);
    EXPECT_THROW(f->WriteAt(0, "abcd", 4), XBaseError);
    EXPECT_EQ(mem.Contents("/f").size(), 0u);
    fs.Reset();
    fs.ShortWrite(1);
    EXPECT_THROW(f->WriteAt(0, "abcd", 4), XBaseError);
    EXPECT_EQ(mem.Contents("/f").size(), 2u);
    fs.Reset();
    fs.CrashAfterBytes(5);
    f->WriteAt(0, "abcd", 4);
    EXPECT_THROW(f->WriteAt(4, "efgh", 4), XBaseError);
    EXPECT_TRUE(fs.Crashed());
    EXPECT_THROW(f->WriteAt(0, "z", 1), XBaseError); // dead processes write nothing
    EXPECT_THROW(f->Sync(), XBaseError);
    auto bytes = mem.Contents("/f");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcde");
}

TEST(PosixFileSystemTest, LocksBelongToOpenFilesNotProcesses) {
    TempFolder dir;
    IFileSystem& fs = RealFileSystem();
    auto a = fs.Create(dir.file("t.dbf"));
    a->WriteAt(0, "hello", 5);
    a->Sync();
    auto b = fs.Open(dir.file("t.dbf"), true);
    EXPECT_TRUE(a->Lock(100, LockMode::Exclusive, false));
    EXPECT_FALSE(b->Lock(100, LockMode::Shared, false));
    a->Unlock(100);
    EXPECT_TRUE(b->Lock(100, LockMode::Shared, false));
    EXPECT_TRUE(a->Lock(100, LockMode::Shared, false));
    char buf[5];
    EXPECT_EQ(b->ReadAt(0, buf, 5), 5u);
    EXPECT_EQ(ResolvePath(fs, dir.file("T.DBF")), dir.file("t.dbf"));
    EXPECT_THROW(fs.Open(dir.file("none.dbf"), true), XBaseError);
    fs.Rename(dir.file("t.dbf"), dir.file("u.dbf"));
    EXPECT_FALSE(fs.Exists(dir.file("t.dbf")));
    EXPECT_TRUE(fs.Exists(dir.file("u.dbf")));
}

} // namespace
} // namespace tarvina::xbase::test
