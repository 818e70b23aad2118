#pragma once

#include <string>

namespace tarvina::xbase::test {

// A private folder on the real disk, removed with everything in it when the
// object goes away. Standard library only, for the engine's tests and
// benchmarks that do without Qt.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace tarvina::xbase::test
