#include "xbase/File.h"

#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"
#include "support/TempFolder.h"
#include "xbase/Error.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

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

namespace {
std::string Text(const std::vector<unsigned char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
} // namespace

TEST(FaultyFileSystemTest, PowerCutKeepsOnlyWhatReachedTheDevice) {
    MemoryFileSystem mem;
    mem.MakeFolders("/d");
    mem.SetContents("/d/old", {'o', 'l', 'd'});
    mem.SetContents("/d/gone", {'g'});
    FaultyFileSystem fs(mem);
    fs.TrackPowerCut();
    // Bytes of a file that was there: the synced ones stay, later ones go.
    auto old = fs.Open("/d/old", true);
    old->WriteAt(0, "OLD", 3);
    old->Sync();
    old->WriteAt(3, "+more", 5);
    // A new file whose folder was synced keeps its synced bytes only.
    auto kept = fs.Create("/d/kept");
    kept->WriteAt(0, "kept", 4);
    kept->Sync();
    fs.SyncFolder("/d");
    kept->WriteAt(4, "!", 1);
    // A new file synced, but its folder not: the name is lost with it.
    auto lost = fs.Create("/d/lost");
    lost->WriteAt(0, "x", 1);
    lost->Sync();
    // A removal not followed by a folder sync is undone.
    fs.Remove("/d/gone");
    // A rename is on the device at once, the bytes synced before it too
    // (in a folder of its own: syncing /d would keep every change above).
    auto moved = fs.Create("/e/tmp");
    moved->WriteAt(0, "moved", 5);
    moved->Sync();
    fs.Rename("/e/tmp", "/e/final");
    EXPECT_FALSE(fs.Crashed());
    fs.PowerCut();
    EXPECT_TRUE(fs.Crashed());
    EXPECT_THROW(old->WriteAt(0, "z", 1), XBaseError);
    EXPECT_EQ(Text(mem.Contents("/d/old")), "OLD");
    EXPECT_FALSE(mem.Exists("/d/lost"));
    EXPECT_EQ(Text(mem.Contents("/d/kept")), "kept");
    EXPECT_EQ(Text(mem.Contents("/d/gone")), "g");
    EXPECT_FALSE(mem.Exists("/e/tmp"));
    EXPECT_EQ(Text(mem.Contents("/e/final")), "moved");
    EXPECT_EQ(mem.List("/d"), (std::vector<std::string>{"gone", "kept", "old"}));
}

TEST(FaultyFileSystemTest, CrashAtChangeStopsTheProcessThere) {
    MemoryFileSystem mem;
    FaultyFileSystem fs(mem);
    fs.CrashAtChange(3); // create, write, then the second write
    auto f = fs.Create("/f");
    f->WriteAt(0, "abcd", 4);
    EXPECT_THROW(f->WriteAt(4, "efgh", 4), XBaseError);
    EXPECT_TRUE(fs.Crashed());
    EXPECT_EQ(Text(mem.Contents("/f")), "abcdef"); // half of the last write
    EXPECT_THROW(fs.Rename("/f", "/g"), XBaseError);
    EXPECT_TRUE(mem.Exists("/f"));
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
    fs.MakeFolders(dir.file("a/b/c"));
    EXPECT_TRUE(fs.IsFolder(dir.file("a/b/c")));
    fs.SyncFolder(dir.file("a/b"));
    EXPECT_THROW(fs.SyncFolder(dir.file("none")), XBaseError);
}

} // namespace
} // namespace tarvina::xbase::test
