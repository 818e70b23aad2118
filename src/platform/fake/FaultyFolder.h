#pragma once

#include "platform/FolderTree.h"

#include <cerrno>
#include <memory>
#include <stdexcept>

namespace tarvina::platform {

// The process ends where it stands (a power cut or a kill): thrown by
// FaultyFolder, never caught by the code under test.
struct ProcessGone : std::exception {
    const char* what() const noexcept override { return "proceso terminado"; }
};

// Wraps real folders and counts every change made through them (a file
// created, a block written, a file finished, a rename, a removal, a folder or
// link made, a mode set, a sync), from 1. At the change chosen the process
// dies before making it (ProcessGone), or the change fails with an error
// number as the system would report it.
class FaultPlan {
public:
    void dieAt(int n) { dieAt_ = n; }
    void failAt(int n, int err) {
        failAt_ = n;
        err_ = err;
    }
    int changes() const { return changes_; }
    void change(const char* what) {
        ++changes_;
        if (changes_ == dieAt_)
            throw ProcessGone();
        if (changes_ == failAt_)
            throw FolderError(what, err_);
    }

private:
    int changes_ = 0;
    int dieAt_ = 0;
    int failAt_ = 0;
    int err_ = EIO;
};

class FaultyFolder final : public Folder {
public:
    FaultyFolder(std::unique_ptr<Folder> inner, FaultPlan& plan)
        : inner_(std::move(inner)), plan_(plan) {}

    std::uint64_t device() const override { return inner_->device(); }
    std::vector<std::string> list() override { return inner_->list(); }
    std::optional<FolderEntry> stat(const std::string& name) override { return inner_->stat(name); }
    std::unique_ptr<Folder> open(const std::string& name) override {
        return std::make_unique<FaultyFolder>(inner_->open(name), plan_);
    }
    std::unique_ptr<FileReader> read(const std::string& name) override {
        return inner_->read(name);
    }
    std::unique_ptr<FileWriter> create(const std::string& name) override {
        plan_.change("crear");
        return std::make_unique<Writer>(inner_->create(name), plan_);
    }
    void rename(const std::string& from, const std::string& to) override {
        plan_.change("reemplazar");
        inner_->rename(from, to);
    }
    void remove(const std::string& name, bool folder) override {
        plan_.change("borrar");
        inner_->remove(name, folder);
    }
    void makeFolder(const std::string& name, unsigned mode) override {
        plan_.change("crear la carpeta");
        inner_->makeFolder(name, mode);
    }
    std::string readLink(const std::string& name) override { return inner_->readLink(name); }
    void makeLink(const std::string& name, const std::string& target) override {
        plan_.change("crear el enlace");
        inner_->makeLink(name, target);
    }
    void setMode(const std::string& name, unsigned mode) override {
        plan_.change("cambiar los permisos");
        inner_->setMode(name, mode);
    }
    void syncAll() override {
        plan_.change("guardar en el disco");
        inner_->syncAll();
    }

private:
    class Writer final : public FileWriter {
    public:
        Writer(std::unique_ptr<FileWriter> inner, FaultPlan& plan)
            : inner_(std::move(inner)), plan_(plan) {}
        void write(const unsigned char* buf, std::size_t n) override {
            plan_.change("escribir");
            inner_->write(buf, n);
        }
        void finish(unsigned mode) override {
            plan_.change("cambiar los permisos");
            inner_->finish(mode);
        }

    private:
        std::unique_ptr<FileWriter> inner_;
        FaultPlan& plan_;
    };

    std::unique_ptr<Folder> inner_;
    FaultPlan& plan_;
};

class FaultyFolderOpener final : public FolderOpener {
public:
    FaultyFolderOpener(FolderOpener& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}
    std::unique_ptr<Folder> openRoot(const std::string& path) override {
        return std::make_unique<FaultyFolder>(inner_.openRoot(path), plan_);
    }

private:
    FolderOpener& inner_;
    FaultPlan& plan_;
};

} // namespace tarvina::platform
