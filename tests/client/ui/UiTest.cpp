// The station's windows offscreen: they follow the logic and refuse what the
// logic refuses.
#include "client/ClientFakes.h"
#include "client/ui/StationUi.h"

#include <QApplication>
#include <QFile>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::test;

namespace {

struct UiStation {
    Station st;
    ui::StationUi ui{false};
    UiStation() {
        const StationPlatform p{
            st.clock,  st.registry,   st.windows,     st.audio,  st.service, st.shell,
            st.drives, st.timeSetter, st.nullControl, ui,        ui,         ui,
            ui,        st.power,      st.desktop,     st.network};
        st.core = std::make_unique<StationCore>(st.env(), p);
        ui.attach(st.core.get());
        st.core->Create();
        st.core->setAutoConnect(false);
        st.core->Show();
    }
};

} // namespace

TEST(StationUi, LockScreenFollowsTheLogicAndRefusesToCloseWhileLocked) {
    UiStation u;
    ASSERT_TRUE(u.ui.lock()->isVisible());
    EXPECT_FALSE(u.ui.lock()->close());
    EXPECT_TRUE(u.ui.lock()->isVisible());
    // Accept the welcome dialog as the customer would.
    QTimer::singleShot(0, [&] { u.ui.welcome()->accept(); });
    u.st.core->session().StartGrant({"30", "Ana", {}});
    EXPECT_EQ(u.st.core->session().state(), ClientState::InUse);
    EXPECT_FALSE(u.ui.lock()->isVisible());
    u.st.tick(60 * 30);
    EXPECT_TRUE(u.ui.lock()->isVisible());
    EXPECT_FALSE(u.ui.clock()->close()); // the clock never closes
}

TEST(StationUi, PinBoxFiltersKeysAndTheNoticeShowsText) {
    UiStation u;
    u.st.core->dispatcher().Dispatch("401");
    Station::drain();
    ASSERT_TRUE(u.ui.main()->EdPin->isEnabled());
    QTest::keyClicks(u.ui.main()->EdPin, "a1g");
    EXPECT_EQ(u.ui.main()->EdPin->text(), QStringLiteral("A1"));
    u.ui.main()->BtnTryPin->click();
    EXPECT_TRUE(u.ui.main()->EdPin->text().isEmpty());
    EXPECT_FALSE(u.ui.main()->EdPin->isEnabled());

    u.st.core->dispatcher().Dispatch("14  Bienvenidos");
    Station::drain();
    EXPECT_TRUE(u.ui.notice()->isVisible());
    EXPECT_EQ(u.ui.notice()->windowTitle(), QStringLiteral("Mensaje"));
}

TEST(StationUi, WelcomeDialogIsClosedByAWithdraw) {
    UiStation u;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(u.ui.isShowing());
        u.st.core->session().EndPasswordRequest();
    });
    u.st.core->session().StartGrant({"30", "Ana", {}});
    EXPECT_EQ(u.st.core->session().state(), ClientState::Locked);
    EXPECT_FALSE(u.ui.isShowing());
}
