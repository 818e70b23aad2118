#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>

namespace tarvina::xbase::test {

TempFolder::TempFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "xbase-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        std::abort();
    path_ = tmpl;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace tarvina::xbase::test
