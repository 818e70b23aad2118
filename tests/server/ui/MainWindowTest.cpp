// The main window's frame: the side bar shows exactly one page per item, a
// frame put in a slot replaces its placeholder, the "PIN" gate keeps the
// current page when it fails, the menus are there for the other windows.
#include "server/ui/MainWindow.h"

#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/shell/ServerCore.h"
#include "support/TempDir.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QMenu>
#include <QPointer>
#include <QStackedWidget>
#include <QToolBox>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using PageId = MainWindow::PageId;
using MenuId = MainWindow::MenuId;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    test::TempDir dir;
    platform::FakeClock clock;
    platform::MemoryRegistry registry;
    platform::TcpNetwork network;
    ServerCore core{clock, registry, network, dir.path(), dir.path()};
    MainWindow window{core};

    QWidget* shown() const { return window.findChild<QStackedWidget*>()->currentWidget(); }
};

const PageId kAll[] = {PageId::Computers,  PageId::Pin,         PageId::Console,
                       PageId::PinHistory, PageId::Preferences, PageId::Information};

TEST_F(MainWindowTest, SideBarHasThreeFoldersAndEachItemShowsItsOwnPage) {
    QToolBox* bar = window.sideBar();
    ASSERT_EQ(bar->count(), 3);
    EXPECT_EQ(bar->itemText(0), QStringLiteral("Operaciones"));
    EXPECT_EQ(bar->itemText(1), QStringLiteral("Consultas"));
    EXPECT_EQ(bar->itemText(2), QStringLiteral("Miscelaneos"));
    EXPECT_EQ(window.currentPage(), PageId::Computers);

    QSet<QWidget*> seen;
    for (PageId id : kAll) {
        window.sideBarItem(id)->click();
        EXPECT_EQ(window.currentPage(), id);
        EXPECT_EQ(shown(), window.page(id));
        EXPECT_TRUE(window.sideBarItem(id)->isChecked());
        for (PageId other : kAll) {
            if (other != id) {
                EXPECT_FALSE(window.sideBarItem(other)->isChecked());
            }
        }
        seen.insert(shown());
    }
    EXPECT_EQ(seen.size(), 6);
    // The folder follows the item chosen from elsewhere (a menu).
    window.showPage(PageId::Information);
    EXPECT_EQ(bar->currentIndex(), 2);
    window.showPage(PageId::Console);
    EXPECT_EQ(bar->currentIndex(), 1);
    EXPECT_EQ(window.sideBarItem(PageId::PinHistory)->text(), QStringLiteral("Uso de Pines"));
    // Keyboard and accessibility clients toggle an item without clicking it.
    window.sideBarItem(PageId::Preferences)->toggle();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.currentPage(), PageId::Preferences);
    EXPECT_EQ(shown(), window.page(PageId::Preferences));
}

TEST_F(MainWindowTest, FramePutInASlotReplacesThePlaceholderEvenWhileShown) {
    QPointer<QWidget> placeholder = window.page(PageId::Computers);
    auto* frame = new QWidget;
    window.setPage(PageId::Computers, frame);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(placeholder.isNull());
    EXPECT_EQ(window.page(PageId::Computers), frame);
    EXPECT_EQ(shown(), frame); // it was the page on screen

    QList<PageId> refreshed;
    QObject::connect(&window, &MainWindow::pageShown, [&](PageId id) { refreshed << id; });
    window.sideBarItem(PageId::Computers)->click();
    window.sideBarItem(PageId::Computers)->click();
    EXPECT_EQ(refreshed, QList<PageId>({PageId::Computers, PageId::Computers}));

    // The console keeps its own page.
    QWidget* console = window.page(PageId::Console);
    window.setPage(PageId::Console, new QWidget(&window));
    EXPECT_EQ(window.page(PageId::Console), console);
}

TEST_F(MainWindowTest, PinGateRefusedKeepsTheCurrentPageAndIsNotAskedTwice) {
    int asked = 0;
    bool answer = false;
    window.setPinGate([&] {
        ++asked;
        return answer;
    });
    window.showPage(PageId::PinHistory);
    window.sideBarItem(PageId::Pin)->click();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(window.currentPage(), PageId::PinHistory);
    EXPECT_TRUE(window.sideBarItem(PageId::PinHistory)->isChecked());
    EXPECT_FALSE(window.sideBarItem(PageId::Pin)->isChecked());
    EXPECT_EQ(shown(), window.page(PageId::PinHistory));

    answer = true;
    EXPECT_TRUE(window.showPage(PageId::Pin));
    EXPECT_EQ(shown(), window.page(PageId::Pin));
    // Already on the page: a refresh, no second question.
    window.sideBarItem(PageId::Pin)->click();
    EXPECT_EQ(asked, 2);
}

TEST_F(MainWindowTest, MenusExistAndThePinMenuFollowsTheServiceMode) {
    for (MenuId id :
         {MenuId::Session, MenuId::Machines, MenuId::Pin, MenuId::Reports, MenuId::Help})
        ASSERT_NE(window.menu(id), nullptr);
    EXPECT_EQ(window.menu(MenuId::Machines)->title(), QStringLiteral("Máquinas"));
    EXPECT_FALSE(window.menu(MenuId::Pin)->menuAction()->isVisible());
    core.SetServiceMode(1);
    EXPECT_TRUE(window.menu(MenuId::Pin)->menuAction()->isVisible());
    core.SetServiceMode(0);
    EXPECT_FALSE(window.menu(MenuId::Pin)->menuAction()->isVisible());
}

} // namespace
