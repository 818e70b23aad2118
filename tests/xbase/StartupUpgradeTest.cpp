// The server's start-up check finds index files in the layout of the previous
// version, rewrites each once, says so on the console, and keeps every row.
#include "FoxCdxReader.h"
#include "common/LastCommand.h"
#include "server/pin/TableOps.h"
#include "support/TempFolder.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QString>
#include <QStringList>
#include <filesystem>
#include <gtest/gtest.h>

namespace tarvina::xbase::test {
namespace {

const std::string kOld = TARVINA_XBASE_PREVIOUS_LAYOUT;

std::vector<std::string> Rows(const std::string& path) {
    TableEngine t(RealFileSystem());
    t.Open(path, false);
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) {
        std::string row = t.Deleted() ? "*" : " ";
        for (const auto& f : t.Fields())
            row += "|" + t.GetString(f.name);
        out.push_back(row);
    }
    return out;
}

TEST(StartupUpgradeTest, OldIndexFilesAreRewrittenOnceWithAConsoleLine) {
    TempFolder program;
    std::filesystem::create_directories(program.file("data"));
    std::filesystem::create_directories(program.file("report"));
    for (const char* name : {"CajaPIN.dbf", "CajaPIN.cdx", "CajaHPIN.dbf", "CajaHPIN.cdx"})
        std::filesystem::copy_file(kOld + "/" + name, program.file(std::string("data/") + name));
    for (const char* name : {"08122026.dbf", "08122026.cdx"})
        std::filesystem::copy_file(kOld + "/" + name, program.file(std::string("report/") + name));
    const std::string codes = program.file("data/CajaPIN.dbf");
    const std::string journal = program.file("report/08122026.dbf");
    const auto codeRows = Rows(codes), journalRows = Rows(journal);

    QStringList console;
    server::TableOps::Hooks hooks;
    hooks.notice = [&](const QString& text) { console << text; };
    common::LastCommand lastCommand;
    server::TableOps ops(xbase::RealFileSystem(), QString::fromStdString(program.path()),
                         lastCommand, hooks);
    ops.TableHousekeeping();
    ops.ChkTables();
    ops.CreaDiario(QString::fromStdString(journal));
    ASSERT_EQ(console.size(), 3) << console.join("\n").toStdString();
    EXPECT_EQ(console[0], QStringLiteral("El índice CajaPIN.cdx se actualizó al formato de FoxPro "
                                         "(etiquetas reconstruidas, ningún registro cambió)."));
    EXPECT_TRUE(console[1].startsWith(QStringLiteral("El índice CajaHPIN.cdx se actualizó")));
    EXPECT_TRUE(console[2].startsWith(QStringLiteral("El índice 08122026.cdx se actualizó")));

    EXPECT_EQ(Rows(codes), codeRows);
    EXPECT_EQ(Rows(journal), journalRows);
    for (const std::string& dbf : {codes, journal, program.file("data/CajaHPIN.dbf")}) {
        TableEngine t(RealFileSystem());
        t.Open(dbf, false);
        EXPECT_TRUE(t.Verify().empty()) << dbf;
    }
    const FoxCdx cdx(program.file("data/CajaPIN.cdx"));
    for (const FoxTag& tag : cdx.tags) {
        EXPECT_EQ(tag.at504, tag.at510) << tag.name;
        for (const FoxLeaf& leaf : tag.leaves)
            EXPECT_GE(leaf.itemBytes, 3) << tag.name;
    }

    // The next start finds nothing to do.
    console.clear();
    ops.ChkTables();
    ops.CreaDiario(QString::fromStdString(journal));
    EXPECT_TRUE(console.isEmpty()) << console.join("\n").toStdString();
}

} // namespace
} // namespace tarvina::xbase::test
