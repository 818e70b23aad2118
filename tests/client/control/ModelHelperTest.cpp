// The privileged save of the desktop model, run as root the way pkexec runs
// it: it may read only what the station's user can read, and what it writes
// is root's, readable by the user's group and never set-user-ID.
#include "platform/linux/PkexecModelSave.h"

#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct HelperRun {
    int code = -1;
    std::string out, err;
};

HelperRun Helper(const QString& home, const QString& model) {
    QProcess p;
    p.start(QStringLiteral(TARVINA_TEST_BIN_DIR "/tarvina-modelo"),
            {QStringLiteral("--user"), QStringLiteral("nobody"), QStringLiteral("--home"), home,
             QStringLiteral("--model"), model});
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

void Write(const std::string& path, const char* text, mode_t mode) {
    std::ofstream(path) << text;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

TEST(ModelHelper, ReadsAsTheUserAndWritesAModelNoCustomerCanChange) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the helper runs as root; this machine's tests do not";
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const std::string base = scratch.path().toStdString();
    ::chmod(base.c_str(), 0755);
    const std::string home = base + "/home", model = base + "/model";
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(model.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((home + "/Escritorio").c_str(), 0700), 0);
    ASSERT_EQ(::chown((home + "/Escritorio").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    Write(home + "/Escritorio/nota.txt", "hola", 0600);
    ASSERT_EQ(::chown((home + "/Escritorio/nota.txt").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    Write(home + "/programa", "#!/bin/sh\n", 04755);
    ASSERT_EQ(::chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chown((home + "/programa").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod((home + "/programa").c_str(), 04755), 0); // chown drops the bit
    // A file the user cannot read (as a hard link to a system file would be):
    // root's rights must not copy it.
    Write(home + "/secreto", "clave", 0600);

    HelperRun r = Helper(QString::fromStdString(home), QString::fromStdString(model));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("secreto"), std::string::npos) << r.err;

    ASSERT_EQ(::unlink((home + "/secreto").c_str()), 0);
    r = Helper(QString::fromStdString(home), QString::fromStdString(model));
    ASSERT_EQ(r.code, 0) << r.err;
    const tarvina::platform::ModelSaveReport report =
        tarvina::platform::PkexecModelSave::Interpret(r.code, r.out, r.err);
    EXPECT_TRUE(report.ok);
    std::string copied;
    std::getline(std::ifstream(model + "/Escritorio/nota.txt"), copied);
    EXPECT_EQ(copied, "hola");
    EXPECT_NE(::access((model + "/secreto").c_str(), F_OK), 0);

    struct stat st {};
    ASSERT_EQ(::stat((model + "/programa").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, nobody->pw_gid);
    EXPECT_EQ(st.st_mode & 07777, 0755u); // no set-user-ID file of root's
    ASSERT_EQ(::stat((model + "/Escritorio/nota.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat((model + "/Escritorio").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_uid, 0u);
}

TEST(ModelHelper, PkexecOutcomesReadAsTheCashierWouldBeTold) {
    using tarvina::platform::PkexecModelSave;
    EXPECT_FALSE(PkexecModelSave::Interpret(126, "", "").ok);
    EXPECT_NE(PkexecModelSave::Interpret(126, "", "").error.find("rechazada"), std::string::npos);
    EXPECT_EQ(PkexecModelSave::Interpret(1, "", "x\nno existe el modelo\n").error,
              "no existe el modelo");
    EXPECT_FALSE(PkexecModelSave::Interpret(0, "basura", "").ok);
}

} // namespace
