#pragma once

#include <QString>
#include <QTemporaryDir>

namespace tarvina::test {

// A private folder for one test; removed when the object goes away.
class TempDir {
public:
    TempDir();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    bool isValid() const { return dir_.isValid(); }

private:
    QTemporaryDir dir_;
};

// Sets TARVINA_HOME and TARVINA_REGISTRY to fresh folders for the lifetime of
// the object and restores the previous values afterwards.
class ScopedTarvinaEnv {
public:
    ScopedTarvinaEnv();
    ~ScopedTarvinaEnv();
    ScopedTarvinaEnv(const ScopedTarvinaEnv&) = delete;
    ScopedTarvinaEnv& operator=(const ScopedTarvinaEnv&) = delete;
    QString home() const { return home_.path(); }
    QString registry() const { return registry_.path(); }

private:
    TempDir home_;
    TempDir registry_;
    QByteArray oldHome_, oldRegistry_;
    bool hadHome_, hadRegistry_;
};

// Prepares the process for tests: offscreen Qt, a private XDG_RUNTIME_DIR.
void PrepareTestProcess();

} // namespace tarvina::test
