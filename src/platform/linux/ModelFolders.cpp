#include "platform/linux/ModelFolders.h"

#include "platform/linux/PkexecModelSave.h"

#include <sys/fsuid.h>

namespace tarvina::platform {

namespace {

// The calling thread checks file access as uid/gid while this lives; root's
// file capabilities come back when it ends (the kernel drops and restores
// them with the file-system user id).
class AsUser {
public:
    AsUser(uid_t uid, gid_t gid) {
        ::setfsgid(gid);
        ::setfsuid(uid);
    }
    ~AsUser() {
        ::setfsuid(0);
        ::setfsgid(0);
    }
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;
};

class UserFolder final : public Folder {
public:
    UserFolder(std::unique_ptr<Folder> inner, uid_t uid, gid_t gid)
        : inner_(std::move(inner)), uid_(uid), gid_(gid) {}

    std::uint64_t device() const override { return inner_->device(); }
    std::vector<std::string> list() override {
        AsUser as(uid_, gid_);
        return inner_->list();
    }
    std::optional<FolderEntry> stat(const std::string& name) override {
        AsUser as(uid_, gid_);
        return inner_->stat(name);
    }
    std::unique_ptr<Folder> open(const std::string& name) override {
        AsUser as(uid_, gid_);
        return std::make_unique<UserFolder>(inner_->open(name), uid_, gid_);
    }
    std::unique_ptr<FileReader> read(const std::string& name) override {
        AsUser as(uid_, gid_);
        return inner_->read(name);
    }
    std::unique_ptr<FileWriter> create(const std::string& name) override {
        AsUser as(uid_, gid_);
        return inner_->create(name);
    }
    void rename(const std::string& from, const std::string& to) override {
        AsUser as(uid_, gid_);
        inner_->rename(from, to);
    }
    void remove(const std::string& name, bool folder) override {
        AsUser as(uid_, gid_);
        inner_->remove(name, folder);
    }
    void makeFolder(const std::string& name, unsigned mode) override {
        AsUser as(uid_, gid_);
        inner_->makeFolder(name, mode);
    }
    std::string readLink(const std::string& name) override {
        AsUser as(uid_, gid_);
        return inner_->readLink(name);
    }
    void makeLink(const std::string& name, const std::string& target) override {
        AsUser as(uid_, gid_);
        inner_->makeLink(name, target);
    }
    void setMode(const std::string& name, unsigned mode) override {
        AsUser as(uid_, gid_);
        inner_->setMode(name, mode);
    }
    void syncAll() override {
        AsUser as(uid_, gid_);
        inner_->syncAll();
    }

private:
    std::unique_ptr<Folder> inner_;
    uid_t uid_;
    gid_t gid_;
};

class ModelWriter final : public FileWriter {
public:
    explicit ModelWriter(std::unique_ptr<FileWriter> inner) : inner_(std::move(inner)) {}
    void write(const unsigned char* buf, std::size_t n) override { inner_->write(buf, n); }
    void finish(unsigned mode) override { inner_->finish(ModelEntryMode(mode, false)); }

private:
    std::unique_ptr<FileWriter> inner_;
};

class ModelFolder final : public Folder {
public:
    explicit ModelFolder(std::unique_ptr<Folder> inner) : inner_(std::move(inner)) {}

    std::uint64_t device() const override { return inner_->device(); }
    std::vector<std::string> list() override { return inner_->list(); }
    std::optional<FolderEntry> stat(const std::string& name) override { return inner_->stat(name); }
    std::unique_ptr<Folder> open(const std::string& name) override {
        return std::make_unique<ModelFolder>(inner_->open(name));
    }
    std::unique_ptr<FileReader> read(const std::string& name) override {
        return inner_->read(name);
    }
    std::unique_ptr<FileWriter> create(const std::string& name) override {
        return std::make_unique<ModelWriter>(inner_->create(name));
    }
    void rename(const std::string& from, const std::string& to) override {
        inner_->rename(from, to);
    }
    void remove(const std::string& name, bool folder) override { inner_->remove(name, folder); }
    void makeFolder(const std::string& name, unsigned mode) override {
        inner_->makeFolder(name, ModelEntryMode(mode, true));
    }
    std::string readLink(const std::string& name) override { return inner_->readLink(name); }
    void makeLink(const std::string& name, const std::string& target) override {
        inner_->makeLink(name, target);
    }
    void setMode(const std::string& name, unsigned mode) override {
        const auto e = inner_->stat(name);
        inner_->setMode(name, ModelEntryMode(mode, e && e->type == EntryType::Folder));
    }
    void syncAll() override { inner_->syncAll(); }

private:
    std::unique_ptr<Folder> inner_;
};

} // namespace

ModelSaveFolders::ModelSaveFolders(FolderOpener& inner, std::string home, std::string model,
                                   uid_t uid, gid_t gid)
    : inner_(inner), home_(std::move(home)), model_(std::move(model)), uid_(uid), gid_(gid) {}

std::unique_ptr<Folder> ModelSaveFolders::openRoot(const std::string& path) {
    if (path == home_) {
        AsUser as(uid_, gid_);
        return std::make_unique<UserFolder>(inner_.openRoot(path), uid_, gid_);
    }
    if (path == model_)
        return std::make_unique<ModelFolder>(inner_.openRoot(path));
    return inner_.openRoot(path);
}

} // namespace tarvina::platform
