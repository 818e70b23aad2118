#include "client/control/DesktopCleaner.h"

#include <algorithm>
#include <cstring>

namespace tarvina::client {

using platform::EntryType;
using platform::Folder;
using platform::FolderEntry;
using platform::FolderError;

namespace {

// The run stops here; the text is the first failure.
struct Stop {
    std::string message;
};

std::string Join(const std::string& rel, const std::string& name) {
    return rel.empty() ? name : rel + "/" + name;
}

[[noreturn]] void Failed(const FolderError& e, const std::string& rel) {
    throw Stop{"no se pudo " + std::string(e.what()) + " «" + PrintablePath(rel) +
               "»: " + platform::FolderErrorText(e.err())};
}

// Runs f, turning a failure of the system into the run's first error.
template <typename F> auto Guard(const std::string& rel, F&& f) {
    try {
        return f();
    } catch (const FolderError& e) {
        Failed(e, rel);
    }
}

constexpr std::size_t kBlock = 256 * 1024;
constexpr unsigned kOwnerAll = 0700;

} // namespace

std::string PrintablePath(const std::string& rel) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(rel.size());
    for (const char c : rel) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out.empty() ? std::string(".") : out;
}

DesktopCleaner::DesktopCleaner(platform::FolderOpener& fs, std::vector<std::string> keep)
    : fs_(fs), keep_(keep.begin(), keep.end()), bufA_(kBlock), bufB_(kBlock) {}

DesktopCleaner::Result DesktopCleaner::clean(const std::string& home, const std::string& model) {
    return run(model, home, true);
}

DesktopCleaner::Result DesktopCleaner::saveModel(const std::string& home,
                                                 const std::string& model) {
    return run(home, model, false);
}

bool DesktopCleaner::leadsToKept(const std::string& rel) const {
    const std::string prefix = rel + "/";
    const auto it = keep_.lower_bound(prefix);
    return it != keep_.end() && it->compare(0, prefix.size(), prefix) == 0;
}

DesktopCleaner::Result DesktopCleaner::run(const std::string& source, const std::string& target,
                                           bool homeIsTarget) {
    result_ = Result{};
    homeIsTarget_ = homeIsTarget;
    try {
        std::unique_ptr<Folder> src;
        try {
            src = fs_.openRoot(source);
        } catch (const FolderError& e) {
            throw Stop{std::string(homeIsTarget ? "no se pudo abrir la carpeta modelo «"
                                                : "no se pudo abrir la carpeta personal «") +
                       PrintablePath(source) + "»: " + platform::FolderErrorText(e.err())};
        }
        std::unique_ptr<Folder> dst;
        try {
            dst = fs_.openRoot(target);
        } catch (const FolderError& e) {
            throw Stop{std::string(homeIsTarget ? "no se pudo abrir la carpeta personal «"
                                                : "no se pudo abrir la carpeta modelo «") +
                       PrintablePath(target) + "»: " + platform::FolderErrorText(e.err())};
        }
        srcDevice_ = src->device();
        dstDevice_ = dst->device();
        syncFolder(src.get(), *dst, std::string(), 0);
        // A power cut after this finds every change on the disk.
        Guard(std::string(), [&] { dst->syncAll(); });
    } catch (const Stop& s) {
        result_.ok = false;
        result_.error = s.message;
    }
    return result_;
}

void DesktopCleaner::syncFolder(Folder* src, Folder& dst, const std::string& rel, int depth) {
    if (depth >= kMaxDepth)
        throw Stop{"carpetas anidadas a más de " + std::to_string(kMaxDepth) + " niveles en «" +
                   PrintablePath(rel) + "»"};
    std::vector<std::string> names;
    if (src)
        names = Guard(rel, [&] { return src->list(); });
    std::vector<std::string> present = Guard(rel, [&] { return dst.list(); });
    std::sort(names.begin(), names.end());
    std::sort(present.begin(), present.end());
    // Extra entries first: a name that changes type is free before it is
    // made again, and the disk gets room before the copies need it.
    for (const std::string& name : present) {
        const std::string path = Join(rel, name);
        if (std::binary_search(names.begin(), names.end(), name))
            continue;
        const auto d = Guard(path, [&] { return dst.stat(name); });
        if (d)
            syncEntry(nullptr, nullptr, dst, &*d, name, path, depth);
    }
    for (const std::string& name : names) {
        const std::string path = Join(rel, name);
        const auto s = Guard(path, [&] { return src->stat(name); });
        const auto d = Guard(path, [&] { return dst.stat(name); });
        syncEntry(src, s ? &*s : nullptr, dst, d ? &*d : nullptr, name, path, depth);
    }
}

void DesktopCleaner::syncEntry(Folder* src, const FolderEntry* s, Folder& dst, const FolderEntry* d,
                               const std::string& name, const std::string& rel, int depth) {
    // The station's own files: never touched in the home, never copied out.
    if (kept(rel)) {
        if (homeIsTarget_ || !d)
            return;
        s = nullptr;
    }
    // What the source holds that cannot be copied counts as absent there.
    if (s && s->type == EntryType::Folder && s->device != srcDevice_) {
        result_.mountPoints.push_back(rel);
        s = nullptr;
    }
    if (s && s->type == EntryType::Special) {
        if (homeIsTarget_)
            throw Stop{"el modelo tiene un archivo especial en «" + PrintablePath(rel) + "»"};
        s = nullptr;
    }
    if (d && d->type == EntryType::Folder && d->device != dstDevice_) {
        result_.mountPoints.push_back(rel);
        return;
    }
    const bool leads = homeIsTarget_ && leadsToKept(rel);
    if (!s) {
        if (!d)
            return;
        if (leads && d->type == EntryType::Folder) {
            // The way to the station's files stays; what else it holds goes.
            auto sub = openOpened(dst, name, *d, rel);
            syncFolder(nullptr, *sub, rel, depth + 1);
            return;
        }
        // A link in its place would lead every later customer elsewhere.
        removeTree(dst, name, *d, rel, depth);
        return;
    }
    switch (s->type) {
    case EntryType::File:
        if (d && d->type == EntryType::File && d->size == s->size &&
            sameContent(*src, dst, name, rel)) {
            if (d->mode != s->mode) {
                Guard(rel, [&] { dst.setMode(name, s->mode); });
                ++result_.restored;
            }
            return;
        }
        if (d && d->type == EntryType::Folder) {
            if (leads)
                return; // never remove the way to the station's files
            removeTree(dst, name, *d, rel, depth);
        }
        copyFile(*src, dst, name, s->mode, rel);
        return;
    case EntryType::Link: {
        const std::string target = Guard(rel, [&] { return src->readLink(name); });
        if (d && d->type == EntryType::Link &&
            Guard(rel, [&] { return dst.readLink(name); }) == target)
            return;
        if (d) {
            if (d->type == EntryType::Folder && leads)
                return;
            removeTree(dst, name, *d, rel, depth);
        }
        Guard(rel, [&] { dst.makeLink(name, target); });
        ++result_.restored;
        return;
    }
    case EntryType::Folder: {
        if (d && d->type != EntryType::Folder) {
            removeTree(dst, name, *d, rel, depth);
            d = nullptr;
        }
        unsigned current = kOwnerAll;
        std::unique_ptr<Folder> sub;
        if (d) {
            current = d->mode;
            sub = openOpened(dst, name, *d, rel);
            if ((current & kOwnerAll) != kOwnerAll)
                current |= kOwnerAll;
        } else {
            Guard(rel, [&] { dst.makeFolder(name, kOwnerAll); });
            ++result_.restored;
            sub = Guard(rel, [&] { return dst.open(name); });
        }
        auto from = Guard(rel, [&] { return src->open(name); });
        syncFolder(from.get(), *sub, rel, depth + 1);
        if (current != s->mode)
            Guard(rel, [&] { dst.setMode(name, s->mode); });
        return;
    }
    case EntryType::Special:
        return;
    }
}

std::unique_ptr<Folder> DesktopCleaner::openOpened(Folder& dst, const std::string& name,
                                                   const FolderEntry& d, const std::string& rel) {
    // A folder the customer closed to its owner is opened up to be handled.
    if ((d.mode & kOwnerAll) != kOwnerAll)
        Guard(rel, [&] { dst.setMode(name, d.mode | kOwnerAll); });
    auto sub = Guard(rel, [&] { return dst.open(name); });
    if (sub->device() != dstDevice_)
        throw Stop{"«" + PrintablePath(rel) + "» pasó a otro sistema de archivos"};
    return sub;
}

void DesktopCleaner::removeTree(Folder& dst, const std::string& name, const FolderEntry& d,
                                const std::string& rel, int depth) {
    if (d.type == EntryType::Folder) {
        if (depth >= kMaxDepth)
            throw Stop{"carpetas anidadas a más de " + std::to_string(kMaxDepth) + " niveles en «" +
                       PrintablePath(rel) + "»"};
        auto sub = openOpened(dst, name, d, rel);
        for (const std::string& child : Guard(rel, [&] { return sub->list(); })) {
            const std::string path = Join(rel, child);
            const auto c = Guard(path, [&] { return sub->stat(child); });
            if (!c)
                continue;
            if (c->type == EntryType::Folder && c->device != dstDevice_)
                throw Stop{"«" + PrintablePath(path) +
                           "» es un punto de montaje dentro de lo que se borra"};
            removeTree(*sub, child, *c, path, depth + 1);
        }
    }
    Guard(rel, [&] { dst.remove(name, d.type == EntryType::Folder); });
    ++result_.removed;
}

bool DesktopCleaner::sameContent(Folder& src, Folder& dst, const std::string& name,
                                 const std::string& rel) {
    auto a = Guard(rel, [&] { return src.read(name); });
    std::unique_ptr<platform::FileReader> b;
    try {
        b = dst.read(name);
    } catch (const FolderError&) {
        // A file the customer made unreadable differs: it is replaced.
        return false;
    }
    for (;;) {
        const std::size_t n = Guard(rel, [&] { return a->read(bufA_.data(), bufA_.size()); });
        std::size_t m = 0;
        while (m < n) {
            const std::size_t k = Guard(rel, [&] { return b->read(bufB_.data() + m, n - m); });
            if (k == 0)
                return false;
            m += k;
        }
        if (n == 0)
            return Guard(rel, [&] { return b->read(bufB_.data(), 1); }) == 0;
        if (std::memcmp(bufA_.data(), bufB_.data(), n) != 0)
            return false;
    }
}

void DesktopCleaner::copyFile(Folder& src, Folder& dst, const std::string& name, unsigned mode,
                              const std::string& rel) {
    const std::string temp = kTempName;
    // One left by a run that died midway.
    if (const auto t = Guard(rel, [&] { return dst.stat(temp); })) {
        if (t->type == EntryType::Folder)
            removeTree(dst, temp, *t, rel, 0);
        else
            Guard(rel, [&] { dst.remove(temp, false); });
    }
    auto in = Guard(rel, [&] { return src.read(name); });
    {
        auto out = Guard(rel, [&] { return dst.create(temp); });
        for (;;) {
            const std::size_t n = Guard(rel, [&] { return in->read(bufA_.data(), bufA_.size()); });
            if (n == 0)
                break;
            Guard(rel, [&] { out->write(bufA_.data(), n); });
            result_.bytes += n;
        }
        Guard(rel, [&] { out->finish(mode); });
    }
    // Over a file, link or special entry alike, in one step.
    Guard(rel, [&] { dst.rename(temp, name); });
    ++result_.restored;
}

} // namespace tarvina::client
