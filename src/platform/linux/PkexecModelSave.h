#pragma once

#include "platform/ModelSave.h"

namespace tarvina::platform {

// The package's tarvina-modelo through pkexec: polkit asks for an
// administrator's password (the action org.tarvina.puesto.guardar-modelo).
// The helper prints "removidos N restaurados N bytes N" when it is done, or
// the reason on its error output.
class PkexecModelSave final : public ElevatedModelSave {
public:
    // helper: the program's full path; pkexec: where pkexec is.
    explicit PkexecModelSave(std::string helper, std::string pkexec = "/usr/bin/pkexec");
    bool available() const override;
    ModelSaveReport save(const std::string& model) override;

    // The helper's output read back (exit code as a shell reports it).
    static ModelSaveReport Interpret(int exitCode, const std::string& out, const std::string& err);

private:
    std::string helper_, pkexec_;
};

// The ownership and modes a saved model gets: owned by root, group of the
// station's user, readable by that group and written by root only (a
// group or others' write bit is taken away).
unsigned ModelEntryMode(unsigned mode, bool folder);

} // namespace tarvina::platform
