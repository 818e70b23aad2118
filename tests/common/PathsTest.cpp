#include "common/Paths.h"

#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace tarvina::common;

namespace {
void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}
} // namespace

TEST(Paths, FindsFilesWithoutRegardToCase) {
    tarvina::test::TempDir dir;
    Touch(dir.file("cajapin.DBF"));
    EXPECT_EQ(FindFileCaseInsensitive(dir.path(), "CajaPIN.dbf"), dir.file("cajapin.DBF"));
    // Absent: the given spelling.
    EXPECT_EQ(FindFileCaseInsensitive(dir.path(), "CajaPIN.cdx"), dir.file("CajaPIN.cdx"));
    // The exact spelling wins over another case variant.
    Touch(dir.file("CajaPIN.dbf"));
    EXPECT_EQ(FindFileCaseInsensitive(dir.path(), "CajaPIN.dbf"), dir.file("CajaPIN.dbf"));
    EXPECT_EQ(FindFileCaseInsensitive(dir.path(), "CAJAPIN.DBF"), dir.file("CajaPIN.dbf"));
}

TEST(Paths, NamesNeverLeaveTheirFolder) {
    tarvina::test::TempDir dir;
    for (const char* bad : {"", ".", "..", "../x", "a/b", "..\\x", "/etc/passwd", "a\\b"})
        EXPECT_TRUE(FindFileCaseInsensitive(dir.path(), bad).isEmpty()) << bad;
    EXPECT_TRUE(FindFileCaseInsensitive(dir.path(), QString("a") + QChar(0) + "b").isEmpty());

    ASSERT_TRUE(QDir(dir.path()).mkdir("data"));
    Touch(dir.file("data/CAJAPIN.DBF"));
    EXPECT_EQ(ResolveInFolder(dir.path(), "Data\\CajaPIN.dbf"), dir.file("data/CAJAPIN.DBF"));
    EXPECT_EQ(ResolveInFolder(dir.path(), "Data/Nuevo.dbf"), dir.file("data/Nuevo.dbf"));
    EXPECT_EQ(ResolveInFolder(dir.path(), "Report/x.htm"), dir.file("Report/x.htm"));
    for (const char* bad :
         {"", "..\\x", "data/../../x", "/etc/passwd", "\\x", "data//x", "C:\\x", "data/./x"})
        EXPECT_EQ(ResolveInFolder(dir.path(), bad), std::nullopt) << bad;
}

TEST(Paths, ProgramFolderHonoursTarvinaHome) {
    const QByteArray old = qgetenv("TARVINA_HOME");
    tarvina::test::TempDir home;
    qputenv("TARVINA_HOME", home.path().toLocal8Bit());
    EXPECT_EQ(ProgramFolder("puesto"), QDir(home.path()).absolutePath());
    qunsetenv("TARVINA_HOME");
    // The test program's own folder is writable, so it is the program folder.
    const QString exeDir = QFileInfo(QFile::symLinkTarget("/proc/self/exe")).absolutePath();
    EXPECT_EQ(ProgramFolder("puesto"), exeDir);
    if (!old.isEmpty())
        qputenv("TARVINA_HOME", old);
}

TEST(Paths, SystemProgramFoldersAreNeverProgramFolders) {
    // Root may write /usr/bin; an installed program still keeps its data in
    // the per-user folders.
    for (const char* system : {"/usr/bin", "/usr/libexec/tarvina", "/bin", "/usr"})
        EXPECT_FALSE(IsPortableFolder(QString::fromLatin1(system))) << system;
    tarvina::test::TempDir dir;
    EXPECT_TRUE(IsPortableFolder(dir.path()));
    EXPECT_FALSE(IsPortableFolder(dir.file("missing")));
    EXPECT_FALSE(IsPortableFolder(QString()));
}
