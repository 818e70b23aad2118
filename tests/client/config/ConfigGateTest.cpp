#include "client/config/ConfigGate.h"

#include "client/ClientFakes.h"
#include "client/config/ConfigModel.h"
#include "platform/fake/FakeAutostart.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::config;
using tarvina::client::test::Station;

namespace {

class RecordingDialog final : public ConfigDialogView {
public:
    int shown = 0;
    bool lockVisibleWhileShown = true;
    std::function<void()> whileShown;
    const ClientDisplay* display = nullptr;
    void exec() override {
        ++shown;
        lockVisibleWhileShown = display && display->lockVisible;
        if (whileShown)
            whileShown();
    }
};

TEST(ConfigGate, AWrongPasswordIsRefusedEveryTimeAndTheRightOneOpensTheDialog) {
    Station st;
    st.start();
    RecordingDialog dialog;
    dialog.display = &st.core->display();
    for (int i = 0; i < 3; ++i) {
        st.password.answers << QStringLiteral("gorrion");
        EXPECT_EQ(st.core->configGate().MnuConfigClick(dialog), ConfigGate::Result::Refused);
    }
    EXPECT_EQ(dialog.shown, 0);
    EXPECT_EQ(st.notice.notices, QStringList(3, QStringLiteral("Clave incorrecta.")));
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Clave incorrecta."));
    EXPECT_EQ(st.password.nextCaption, QStringLiteral("Clave incorrecta."));

    st.password.answers << std::nullopt; // cancelled
    EXPECT_EQ(st.core->configGate().MnuConfigClick(dialog), ConfigGate::Result::Cancelled);
    EXPECT_EQ(dialog.shown, 0);

    st.password.answers << QStringLiteral("mirlo");
    EXPECT_EQ(st.core->configGate().MnuConfigClick(dialog), ConfigGate::Result::Shown);
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_FALSE(dialog.lockVisibleWhileShown) << "the lock goes out of the dialog's way";
    EXPECT_TRUE(st.core->display().lockVisible) << "and comes back: the station is locked";
    EXPECT_FALSE(st.core->display().lockMayClose);
}

TEST(ConfigGate, AStationInUseGetsNoLockAfterTheDialog) {
    Station st;
    st.start();
    st.welcome.answers << tarvina::client::test::ScriptedWelcome::Answer{};
    st.core->session().StartGrant({"30", "Ana", {}});
    ASSERT_EQ(st.core->session().state(), ClientState::InUse);
    RecordingDialog dialog;
    st.password.answers << QStringLiteral("mirlo");
    EXPECT_EQ(st.core->configGate().MnuConfigClick(dialog), ConfigGate::Result::Shown);
    EXPECT_FALSE(st.core->display().lockVisible);
}

TEST(ConfigGate, SavedIntervalsDriveTheLinkNowAndTheNextStart) {
    Station st;
    st.start();
    platform::FakeAutostart autostart;
    ConfigModel model(st.registry, autostart);
    ConfigValues v = model.load(st.core->settings());
    v.intConn = 2000;
    v.intDisconn = 2500;
    v.transparency = 90;
    const SaveOutcome out = model.save(v, st.core->settings(), st.core->configTarget(),
                                       st.home.path(), st.home.file("puesto"));
    ASSERT_EQ(out.kind, SaveOutcome::Kind::Saved);
    EXPECT_EQ(st.core->settings().intConn, 2000);
    EXPECT_EQ(st.core->link().timChkConInterval(), 2500) << "not connected: the retry interval";
    EXPECT_EQ(st.core->display().lockOpacity, 26);

    // The next start of the station reads what the dialog stored.
    Station next;
    next.registry.writeInteger(platform::Root::LocalMachine, "\\Software\\Velt\\Tarvina", "x", 0);
    for (const QString& name :
         st.registry.valueNames(platform::Root::LocalMachine, "\\Software\\Velt\\Tarvina"))
        if (auto i = st.registry.readInteger(platform::Root::LocalMachine,
                                             "\\Software\\Velt\\Tarvina", name))
            next.registry.writeInteger(platform::Root::LocalMachine, "\\Software\\Velt\\Tarvina",
                                       name, *i);
    next.start();
    EXPECT_EQ(next.core->settings().intConn, 2000);
}

TEST(CompanionService, AMachineWithoutTheServiceIsLeftInPeace) {
    Station st;
    st.service.installed = false;
    st.start();
    st.tick(185);
    EXPECT_TRUE(st.service.calls.isEmpty());
    EXPECT_FALSE(QFile::exists(st.home.file("CliExcept.log")));
    // Closing with the password pauses nothing either.
    st.password.answers << QStringLiteral("mirlo");
    EXPECT_TRUE(st.core->CloseQuery());
    EXPECT_TRUE(st.service.calls.isEmpty());
}

TEST(CompanionService, AServiceThatKeepsFailingIsLoggedOnce) {
    Station st;
    st.service.running = false;
    st.service.controlsFail = true;
    st.start();
    st.tick(200);
    EXPECT_GE(st.service.calls.count(QStringLiteral("resume ServiceZU")), 3);
    QFile log(st.home.file("CliExcept.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count("SetService (Resume) denied"), 1);
}

} // namespace

TEST(ConfigGate, ANewHostIsStoredAndConnectedToOnlyFromTheNextStart) {
    Station st;
    st.start();
    ClientSettings next = st.core->settings();
    const QString before = next.host;
    next.host = QStringLiteral("caja2");
    st.core->configTarget().applySettings(next, true);
    EXPECT_EQ(st.core->settings().host, QStringLiteral("caja2")); // written at the close
    EXPECT_EQ(st.core->link().hostInForce(), before);
    next.intConn = 7000; // a later save without a host change keeps it so
    st.core->configTarget().applySettings(next, false);
    EXPECT_EQ(st.core->link().hostInForce(), before);
}
