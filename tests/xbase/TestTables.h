#pragma once

#include "xbase/TableEngine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace tarvina::xbase::test {

// The code table of the café: the layout every engine test leans on.
inline void CreateCodeTable(TableEngine& t, const std::string& path) {
    t.CreateNew(path, kTableTypeFoxPro, 8);
    t.CreateField("PIN", "C", 6, 0);
    t.CreateField("SALDO", "N", 9, 0);
    t.CreateField("CFECHA", "D", 8, 0);
    t.CreateField("CHORA", "C", 8, 0);
    t.CreateField("FECHA", "D", 8, 0);
    t.CreateField("HORA", "C", 8, 0);
    t.CreateField("MAC", "C", 17, 0);
    t.CreateField("EQUIPO", "C", 64, 0);
    t.CreateExec();
}

inline void IndexCodeTable(TableEngine& t) {
    t.IndexTag("", "PIN", "PIN", 0, false, ".not. deleted()");
    t.IndexTag("", "MAC", "MAC", 0, false, ".not. deleted() .and. .not. EMPTY(MAC)");
    t.IndexTag("", "FECHOR", "DTOS(FECHA)+ HORA", 0, false, ".not. deleted()");
}

// An empty code table with its three tags, closed.
inline void CreateIndexedCodeTable(const std::string& path) {
    TableEngine t;
    CreateCodeTable(t, path);
    t.Open(path, true);
    IndexCodeTable(t);
}

inline void AddCode(TableEngine& t, const std::string& pin, int saldo, Date fecha,
                    const std::string& hora, const std::string& mac = std::string()) {
    t.Append();
    t.SetString("PIN", pin);
    t.SetInteger("SALDO", saldo);
    t.SetDate("FECHA", fecha);
    t.SetString("HORA", hora);
    if (!mac.empty())
        t.SetString("MAC", mac);
    t.Post();
    t.Commit();
}

// A private folder on the real disk, removed at the end of the test.
class TempFolder {
public:
    TempFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "xbase-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            std::abort();
        path_ = tmpl;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace tarvina::xbase::test
