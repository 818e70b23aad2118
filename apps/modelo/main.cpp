// tarvina-modelo: saves the station user's home as the desktop model in a
// folder only root may write. Run by puesto through pkexec (polkit asks for
// an administrator's password); pkexec's PKEXEC_UID names the user, and the
// model is then always the package's folder, whatever the caller asks, so
// that no account can have root rewrite another folder to look like its
// home. Run as root directly (an administrator, the tests), --user, --home
// and --model choose.
#include "client/control/DesktopCleaner.h"
#include "client/control/DesktopCleaning.h"
#include "platform/linux/ModelFolders.h"
#include "platform/linux/PosixFolder.h"

#include <QFile>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvina;

namespace {

constexpr const char* kModel = "/etc/tarvina/escritorio";

gid_t g_group = 0;
int g_chownError = 0;

int Fail(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
}

const char* Option(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    }
    return nullptr;
}

// Every entry of the model: root's, in the user's group, so that the station
// reads it and no customer writes it.
int Own(const char* path, const struct stat*, int, struct FTW*) {
    if (::lchown(path, 0, g_group) != 0) {
        g_chownError = errno;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("Uso: pkexec tarvina-modelo\n"
                    "     tarvina-modelo --user USUARIO [--home CARPETA] [--model CARPETA]\n"
                    "Guarda la carpeta personal del usuario como modelo del escritorio.\n");
        return 0;
    }
    if (::geteuid() != 0)
        return Fail("tarvina-modelo debe ejecutarse como administrador (con pkexec)");

    const struct passwd* pw = nullptr;
    std::string home, model = kModel;
    if (const char* caller = std::getenv("PKEXEC_UID")) {
        char* end = nullptr;
        const unsigned long uid = std::strtoul(caller, &end, 10);
        if (!*caller || *end)
            return Fail("PKEXEC_UID no es un número de usuario");
        pw = ::getpwuid(uid_t(uid));
        if (const char* asked = Option(argc, argv, "--model"); asked && model != asked)
            return Fail(std::string("el modelo sólo se guarda en ") + kModel);
    } else {
        const char* user = Option(argc, argv, "--user");
        if (!user)
            return Fail("falta --user USUARIO");
        pw = ::getpwnam(user);
        if (const char* m = Option(argc, argv, "--model"))
            model = m;
    }
    if (!pw)
        return Fail("el usuario no existe");
    if (pw->pw_uid == 0)
        return Fail("la carpeta personal de root no sirve de modelo");
    home = pw->pw_dir;
    if (const char* h = Option(argc, argv, "--home"); h && !std::getenv("PKEXEC_UID"))
        home = h;
    const uid_t uid = pw->pw_uid;
    g_group = pw->pw_gid;

    struct stat st {};
    if (::lstat(model.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Fail("la carpeta modelo " + model + " no existe");
    if (st.st_uid != 0)
        return Fail("la carpeta modelo " + model + " debe pertenecer a root");
    const QString refusal = client::DesktopCleaning::RefuseModel(QFile::decodeName(home.c_str()),
                                                                 QFile::decodeName(model.c_str()));
    if (!refusal.isEmpty())
        return Fail(refusal.toStdString());

    platform::PosixFolderOpener posix;
    platform::ModelSaveFolders folders(posix, home, model, uid, g_group);
    client::DesktopCleaner cleaner(
        folders, client::DesktopCleaning::KeepList(QFile::decodeName(home.c_str()), {}));
    const client::DesktopCleaner::Result r = cleaner.saveModel(home, model);
    if (!r.ok)
        return Fail(r.error);
    if (::nftw(model.c_str(), Own, 32, FTW_PHYS | FTW_MOUNT) != 0)
        return Fail("no se pudo dar el modelo al grupo del usuario: " +
                    std::string(std::strerror(g_chownError)));
    std::printf(
        "removidos %llu restaurados %llu bytes %llu\n", static_cast<unsigned long long>(r.removed),
        static_cast<unsigned long long>(r.restored), static_cast<unsigned long long>(r.bytes));
    return 0;
}
