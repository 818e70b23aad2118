#include "platform/gui/QtWindowSystem.h"

#include "platform/gui/ToolkitWindowSystem.h"

#include <QDialog>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

using tarvina::platform::QtWindowSystem;
using tarvina::platform::WindowId;

namespace {

WindowId IdOf(QWidget& w) {
    return static_cast<WindowId>(w.winId());
}

} // namespace

// The lock's enforcement treats every window in these lists as someone's:
// hidden and untitled windows must stay out where the lists say so.
TEST(QtWindowSystem, ListsOnlyTheProgramsVisibleWindowsAndTitledOnesApart) {
    QWidget titled;
    titled.setWindowTitle(QStringLiteral("Tarvina"));
    QWidget untitled;
    QWidget hidden;
    hidden.setWindowTitle(QStringLiteral("Oculta"));
    titled.show();
    untitled.show();
    const WindowId hiddenId = IdOf(hidden);

    QtWindowSystem ws;
    const auto stacking = ws.stackingOrder();
    ASSERT_TRUE(stacking.has_value());
    EXPECT_TRUE(stacking->contains(IdOf(titled)));
    EXPECT_TRUE(stacking->contains(IdOf(untitled)));
    EXPECT_FALSE(stacking->contains(hiddenId));

    const QList<WindowId> titledOnes = ws.visibleTitledWindows();
    EXPECT_TRUE(titledOnes.contains(IdOf(titled)));
    EXPECT_FALSE(titledOnes.contains(IdOf(untitled)));
    EXPECT_FALSE(titledOnes.contains(hiddenId));

    EXPECT_EQ(ws.windowTitle(IdOf(titled)), QStringLiteral("Tarvina"));
    EXPECT_EQ(ws.windowClass(IdOf(titled), 100), QStringLiteral("QWidget"));
    EXPECT_EQ(ws.windowClass(IdOf(titled), 3), QStringLiteral("QWi"));
    EXPECT_FALSE(ws.isTaskBar(IdOf(titled)));
}

TEST(QtWindowSystem, TheActiveWindowIsTheForegroundAndCanBeMadeSo) {
    QWidget first, second;
    first.setWindowTitle(QStringLiteral("uno"));
    second.setWindowTitle(QStringLiteral("dos"));
    first.show();
    second.show();

    QtWindowSystem ws;
    ASSERT_TRUE(ws.setForeground(IdOf(first)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ws.foregroundWindow() == IdOf(first); }, 30000));
    ASSERT_TRUE(ws.setForeground(IdOf(second)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ws.foregroundWindow() == IdOf(second); }, 30000));
}

// A window can go between the listing and the action on it.
TEST(QtWindowSystem, AWindowThatIsGoneIsNothingAndActingOnItIsHarmless) {
    QtWindowSystem ws;
    auto gone = std::make_unique<QDialog>();
    gone->setWindowTitle(QStringLiteral("Aviso"));
    gone->show();
    const WindowId id = IdOf(*gone);
    gone.reset();

    EXPECT_FALSE(ws.setForeground(id));
    ws.raise(id);
    ws.setTopMost(id);
    EXPECT_TRUE(ws.windowTitle(id).isEmpty());
    EXPECT_TRUE(ws.windowClass(id, 100).isEmpty());
    EXPECT_FALSE(ws.stackingOrder()->contains(id));
    EXPECT_FALSE(ws.setForeground(0));
    EXPECT_TRUE(ws.windowTitle(0).isEmpty());
}

TEST(ToolkitWindowSystem, WithoutAnXDisplayTheProgramSeesOnlyItsOwnWindows) {
    // The tests run offscreen.
    const auto ws = tarvina::platform::MakeToolkitWindowSystem();
    ASSERT_NE(ws, nullptr);
    EXPECT_NE(dynamic_cast<QtWindowSystem*>(ws.get()), nullptr);
}

TEST(ToolkitWindowSystem, ScreenNumberOfADisplayName) {
    using tarvina::platform::ScreenOfDisplay;
    EXPECT_EQ(ScreenOfDisplay(":0"), 0);
    EXPECT_EQ(ScreenOfDisplay(":0.1"), 1);
    EXPECT_EQ(ScreenOfDisplay("localhost:10.2"), 2);
    // Dots of a host name are not a screen.
    EXPECT_EQ(ScreenOfDisplay("caja.local:3"), 0);
    EXPECT_EQ(ScreenOfDisplay(":0.x"), 0);
    EXPECT_EQ(ScreenOfDisplay(":0.-1"), 0);
    EXPECT_EQ(ScreenOfDisplay(""), 0);
}
