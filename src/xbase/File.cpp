#include "xbase/File.h"

namespace tarvina::xbase {

std::string FolderOf(const std::string& path) {
    auto pos = path.find_last_of('/');
    if (pos == std::string::npos)
        return std::string();
    if (pos == 0)
        return "/";
    return path.substr(0, pos);
}

std::string FileNameOf(const std::string& path) {
    auto pos = path.find_last_of('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string WithExtension(const std::string& path, const std::string& ext) {
    std::string name = FileNameOf(path);
    auto dot = name.find_last_of('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    std::string folder = FolderOf(path);
    return JoinPath(folder, base + ext);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

std::string ResolvePath(IFileSystem& fs, const std::string& path) {
    if (path.empty() || fs.Exists(path))
        return path;
    std::string folder = FolderOf(path);
    std::string name = FileNameOf(path);
    if (name.empty())
        return path;
    std::string realFolder = folder;
    if (!folder.empty() && folder != "/" && !fs.Exists(folder))
        realFolder = ResolvePath(fs, folder);
    for (const std::string& entry : fs.List(realFolder)) {
        if (EqualsNoCase(entry, name))
            return JoinPath(realFolder, entry);
    }
    return folder == realFolder ? path : JoinPath(realFolder, name);
}

} // namespace tarvina::xbase
