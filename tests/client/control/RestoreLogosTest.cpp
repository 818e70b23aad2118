// The start and shut-down pictures put back at the close from their copies.
#include "client/control/RestoreLogos.h"

#include "platform/fake/FakeDesktop.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using tarvina::client::RestoreLogos;
using tarvina::client::SameFileBytes;
using tarvina::platform::Desktop;
using tarvina::platform::FakeDesktop;

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Pictures {
    tarvina::test::TempDir work, system;
    FakeDesktop desktop;
    QStringList told;
    Pictures() {
        desktop.logoFiles = {{Desktop::Logo::Role::Start, system.file("greeter.png")},
                             {Desktop::Logo::Role::ShutDown, system.file("splash.png")},
                             {Desktop::Logo::Role::Exit, system.file("exit.png")}};
    }
    int restore() {
        return RestoreLogos(desktop, work.path(), [&](const QString& t) { told << t; });
    }
};

TEST(RestoreLogos, ChangedOrMissingPicturesComeBackAndTheCashierIsTold) {
    Pictures p;
    // 30000 bytes: a change in the second block of 20480 counts too.
    QByteArray start(30000, 'a');
    Write(p.work.file("Logos/logo.sys"), start);
    Write(p.work.file("Logos/logos.sys"), "apagado");
    Write(p.work.file("Logos/logow.sys"), "salida");
    QByteArray changed = start;
    changed[25000] = 'b';
    Write(p.system.file("greeter.png"), changed);
    Write(p.system.file("splash.png"), "apagado");
    // exit.png is gone.
    EXPECT_EQ(p.restore(), 2);
    EXPECT_EQ(p.told,
              (QStringList{"El logotipo de windows está siendo restituído",
                           "El logotipo de salida de windows (logow) está siendo restituído"}));
    EXPECT_EQ(Read(p.system.file("greeter.png")), start);
    EXPECT_EQ(Read(p.system.file("exit.png")), "salida");
    EXPECT_EQ(Read(p.system.file("splash.png")), "apagado");
    EXPECT_FALSE(QFile::exists(p.system.file("greeter.png.part")));

    // Nothing differs now: nothing is said.
    p.told.clear();
    EXPECT_EQ(p.restore(), 0);
    EXPECT_TRUE(p.told.isEmpty());

    // Another size, same beginning.
    Write(p.system.file("splash.png"), "apagado y mas");
    EXPECT_EQ(p.restore(), 1);
    EXPECT_EQ(p.told,
              QStringList{"El logotipo de apagado de windows (logos) está siendo restituído"});
}

TEST(RestoreLogos, AFailureIsToldOnceAndNoBackupChangesNothing) {
    Pictures p;
    EXPECT_EQ(p.restore(), 0); // no "Logos" folder
    EXPECT_TRUE(p.told.isEmpty());

    Write(p.work.file("Logos/logo.sys"), "inicio");
    Write(p.work.file("Logos/logos.sys"), "apagado");
    // Both live places cannot take a file (a folder stands where the
    // picture goes).
    QDir().mkpath(p.system.file("greeter.png/x"));
    QDir().mkpath(p.system.file("splash.png/x"));
    EXPECT_EQ(p.restore(), 0);
    ASSERT_EQ(p.told.size(), 3);
    EXPECT_EQ(p.told.last(), "Falló restitución de logotipos.");
    EXPECT_EQ(p.told.count("Falló restitución de logotipos."), 1);
}

TEST(RestoreLogos, SameBytesNeedsBothFilesReadable) {
    tarvina::test::TempDir d;
    Write(d.file("a"), "x");
    Write(d.file("b"), "x");
    EXPECT_TRUE(SameFileBytes(d.file("a"), d.file("b")));
    EXPECT_FALSE(SameFileBytes(d.file("a"), d.file("missing")));
    Write(d.file("e1"), "");
    Write(d.file("e2"), "");
    EXPECT_TRUE(SameFileBytes(d.file("e1"), d.file("e2")));
}

} // namespace
