#include "client/config/ConfigModel.h"
#include "client/config/ControlIni.h"
#include "client/config/LogoBackup.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/MemoryRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::config;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

class ControlPanelTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString ini = dir.filePath(QStringLiteral("Control.ini"));
    platform::MemoryRegistry registry;
    platform::FakeAutostart autostart;
    ConfigModel model{registry, autostart, [](const QString&) { return false; }};
    QList<platform::ControlApplet> applets{
        {QStringLiteral("display.desktop"), QStringLiteral("Pantalla")},
        {QStringLiteral("network.desktop"), QStringLiteral("Red")},
        {QStringLiteral("bare.desktop"), QString()},
    };

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        model.setControlPanel([this] { return applets; }, ini);
    }
};

TEST_F(ControlPanelTest, LinesShowNameAndDescriptionTickedUnlessTheIniSaysNo) {
    ASSERT_TRUE(WriteAll(ini, "[Otros]\r\nnetwork.desktop=no\r\n[Don't Load]\r\n"
                              "NETWORK.desktop=No\r\ndisplay.desktop=yes\r\n"));
    const QList<AppletLine> lines = model.loadApplets();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].caption, QStringLiteral("display.desktop [Pantalla]"));
    EXPECT_TRUE(lines[0].shown) << "only \"no\" hides";
    EXPECT_EQ(lines[1].file, QStringLiteral("network.desktop"));
    EXPECT_FALSE(lines[1].shown) << "names and the section compared without case";
    EXPECT_EQ(lines[2].caption, QStringLiteral("bare.desktop"));
    EXPECT_TRUE(lines[2].shown);
}

TEST_F(ControlPanelTest, SavingHidesAndShowsAndKeepsTheRestOfTheFile) {
    ASSERT_TRUE(WriteAll(ini, "; notas\r\n[don't load]\r\nnetwork.desktop=no\r\n"
                              "otro.cpl=no\r\n[Otros]\r\nclave=valor\r\n"));
    ClientSettings current = ClientSettings::Defaults();
    current.host = QStringLiteral("caja");
    ConfigValues v = model.load(current);
    v.applets = model.loadApplets();
    v.appletsLoaded = true;
    v.applets[0].shown = false; // display: hide
    v.applets[1].shown = true;  // network: show again
    struct NullTarget final : ConfigTarget {
        void applySettings(const ClientSettings&, bool) override {}
        bool backupLogos(bool) override { return false; }
        void setTaskBarHidden(bool) override {}
        void setHiddenDrives(quint32) override {}
        void showLockPicture(const QString&) override {}
        void applyWallpaper() override {}
        void reloadRotation() override {}
    } target;
    const SaveOutcome out = model.save(v, current, target, dir.path(), QStringLiteral("puesto"));
    ASSERT_EQ(out.kind, SaveOutcome::Kind::Saved);
    EXPECT_TRUE(out.notStored.isEmpty()) << out.notStored.join(u'\n').toStdString();
    EXPECT_EQ(ReadAll(ini), QByteArray("; notas\r\n[don't load]\r\notro.cpl=no\r\n"
                                       "display.desktop=no\r\n[Otros]\r\nclave=valor\r\n"));
    const QList<AppletLine> again = model.loadApplets();
    EXPECT_FALSE(again[0].shown);
    EXPECT_TRUE(again[1].shown);

    // Not shown this time: the file is left alone.
    const QDateTime before = QFileInfo(ini).lastModified();
    ConfigValues untouched = model.load(current);
    ASSERT_EQ(model.save(untouched, current, target, dir.path(), QStringLiteral("puesto")).kind,
              SaveOutcome::Kind::Saved);
    EXPECT_EQ(QFileInfo(ini).lastModified(), before);
}

TEST_F(ControlPanelTest, ControlIniIsMadeWhenMissingAndAnUnwritableOneIsReported) {
    ControlIni fresh(ini);
    EXPECT_TRUE(fresh.dontLoad().isEmpty());
    ASSERT_TRUE(fresh.apply({{QStringLiteral("a.desktop"), QString(), false},
                             {QStringLiteral("b.desktop"), QString(), true},
                             {QStringLiteral("bad=name"), QString(), false}}));
    EXPECT_EQ(ReadAll(ini), QByteArray("[don't load]\r\na.desktop=no\r\n"));
    // Nothing to change: the file is not rewritten.
    ASSERT_TRUE(fresh.apply({{QStringLiteral("A.DESKTOP"), QString(), false}}));
    EXPECT_EQ(ReadAll(ini), QByteArray("[don't load]\r\na.desktop=no\r\n"));

    // A folder where the file should be: reported in Spanish, nothing else.
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    ASSERT_TRUE(QDir().mkpath(blocked + QStringLiteral("/Control.ini")));
    QString error;
    EXPECT_FALSE(ControlIni(blocked + QStringLiteral("/Control.ini"))
                     .apply({{QStringLiteral("a.desktop"), QString(), false}}, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("No se puede"))) << error.toStdString();

    // A huge file is not read into memory.
    QFile big(ini);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(ControlIni::kMaxSize + 1, 'x'));
    big.close();
    EXPECT_TRUE(ControlIni(ini).dontLoad().isEmpty());
    EXPECT_FALSE(ControlIni(ini).apply({{QStringLiteral("a.desktop"), QString(), false}}));
}

TEST(LogoBackup, CopiesWhatExistsOnceUnlessForced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString start = dir.filePath(QStringLiteral("greeter.png"));
    ASSERT_TRUE(WriteAll(start, "inicio"));
    platform::FakeDesktop desktop;
    desktop.logoFiles = {{platform::Desktop::Logo::Role::Start, start},
                         {platform::Desktop::Logo::Role::ShutDown, dir.filePath("missing.png")}};
    LogoBackup backup(desktop, dir.path());
    ASSERT_TRUE(backup.backup(false));
    const QString copy = dir.filePath(QStringLiteral("Logos/logo.sys"));
    EXPECT_EQ(ReadAll(copy), QByteArray("inicio"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("Logos/logos.sys"))));

    // The folder exists: an unforced backup keeps the first copy.
    ASSERT_TRUE(WriteAll(start, "cambiado"));
    ASSERT_TRUE(backup.backup(false));
    EXPECT_EQ(ReadAll(copy), QByteArray("inicio"));
    ASSERT_TRUE(backup.backup(true));
    EXPECT_EQ(ReadAll(copy), QByteArray("cambiado"));

    // No folder can be made: protection stays off.
    ASSERT_TRUE(WriteAll(dir.filePath(QStringLiteral("file")), "x"));
    LogoBackup impossible(desktop, dir.filePath(QStringLiteral("file")));
    EXPECT_FALSE(impossible.backup(false));
}

} // namespace
