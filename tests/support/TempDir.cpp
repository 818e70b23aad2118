#include "support/TempDir.h"

#include <QDir>
#include <cstdlib>

namespace tarvina::test {

TempDir::TempDir() : dir_(QDir::tempPath() + "/tarvina-test-XXXXXX") {}

ScopedTarvinaEnv::ScopedTarvinaEnv()
    : oldHome_(qgetenv("TARVINA_HOME")), oldRegistry_(qgetenv("TARVINA_REGISTRY")),
      hadHome_(qEnvironmentVariableIsSet("TARVINA_HOME")),
      hadRegistry_(qEnvironmentVariableIsSet("TARVINA_REGISTRY")) {
    qputenv("TARVINA_HOME", home_.path().toLocal8Bit());
    qputenv("TARVINA_REGISTRY", registry_.path().toLocal8Bit());
}

ScopedTarvinaEnv::~ScopedTarvinaEnv() {
    if (hadHome_)
        qputenv("TARVINA_HOME", oldHome_);
    else
        qunsetenv("TARVINA_HOME");
    if (hadRegistry_)
        qputenv("TARVINA_REGISTRY", oldRegistry_);
    else
        qunsetenv("TARVINA_REGISTRY");
}

void PrepareTestProcess() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A private runtime folder keeps local sockets and lock files of parallel
    // test programs apart, and silences Qt's warning about a missing one.
    static QTemporaryDir runtime(QDir::tempPath() + "/tarvina-runtime-XXXXXX");
    if (runtime.isValid()) {
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }
}

} // namespace tarvina::test
