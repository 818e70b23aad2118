// "Tareas" at the station: the service password in front of the station's
// own task window, the lock out of its way, and "Finaliza tarea".
#include "client/control/TaskGate.h"

#include "client/ClientFakes.h"
#include "platform/fake/FakeProcesses.h"

#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using tarvina::client::test::Station;

namespace {

// The window as the attendant uses it: what it listed, what it finished.
class ScriptedTaskWindow final : public TaskWindowView {
public:
    QStringList captions;
    QStringList listed;
    QList<int> finishRows;
    bool lockVisibleWhileShown = true;
    const ClientDisplay* display = nullptr;
    int shown = 0;
    QStringList left; // the lines after the finishes

    void setPasswordCaption(const QString& caption) override { captions << caption; }
    void exec(TaskPicker& picker) override {
        ++shown;
        lockVisibleWhileShown = display && display->lockVisible;
        listed = picker.titles();
        for (int row : finishRows)
            picker.finish(row);
        left = picker.titles();
    }
};

struct Gate {
    Station st;
    platform::FakeProcesses processes;
    std::unique_ptr<TaskList> tasks;
    std::unique_ptr<TaskGate> gate;
    ScriptedTaskWindow window;

    Gate() {
        st.start();
        tasks = std::make_unique<TaskList>(st.windows, st.registry, processes,
                                           [](platform::WindowId w) { return w > 100 && w < 120; });
        gate = std::make_unique<TaskGate>(TaskGate::Parts{st.password, st.notice, st.core->view(),
                                                          st.core->lock(), st.core->session(),
                                                          st.core->settings(),
                                                          [this] { return st.core->closing(); }},
                                          *tasks);
        window.display = &st.core->display();
    }
    void open(platform::WindowId w, const QString& title) {
        st.windows.windows[w] = {QStringLiteral("x"), title, true, false, 0};
    }
};

} // namespace

TEST(TaskGate, AWrongPasswordIsToldThreeWaysAndTheListStaysShut) {
    Gate g;
    g.open(1, QStringLiteral("Juego"));
    g.st.password.answers << QStringLiteral("gorrion");
    EXPECT_EQ(g.gate->MnuTareasClick(g.window), TaskGate::Result::Refused);
    EXPECT_EQ(g.window.shown, 0);
    // The box's caption, the status bar and the notice window.
    EXPECT_EQ(g.window.captions, QStringList{QStringLiteral("Clave incorrecta.")});
    EXPECT_EQ(g.st.core->display().statusText, QStringLiteral("Clave incorrecta."));
    EXPECT_EQ(g.st.notice.notices, QStringList{QStringLiteral("Clave incorrecta.")});
    EXPECT_TRUE(g.st.core->display().lockVisible);

    g.st.password.answers << std::nullopt; // cancelled: nothing more said
    EXPECT_EQ(g.gate->MnuTareasClick(g.window), TaskGate::Result::Cancelled);
    EXPECT_EQ(g.st.notice.notices.size(), 1);
    EXPECT_EQ(g.window.shown, 0);
    EXPECT_TRUE(g.st.windows.closeCalls.isEmpty());
}

TEST(TaskGate, TheRightPasswordListsTheTasksWithoutTheLockAndFinishesTheChosenOne) {
    Gate g;
    g.open(1, QStringLiteral("Juego"));
    g.open(2, QStringLiteral("MSN Messenger"));
    g.open(3, QStringLiteral("Carta, borrador"));
    g.open(102, QStringLiteral("Tarvina")); // the station's own lock
    g.st.password.answers << QStringLiteral("mirlo");
    // Finish the messenger's line, then a line that is no longer there.
    g.window.finishRows = {-1, 99};
    EXPECT_EQ(g.gate->MnuTareasClick(g.window), TaskGate::Result::Shown);
    ASSERT_EQ(g.window.shown, 1);
    EXPECT_FALSE(g.window.lockVisibleWhileShown) << "the lock goes out of the window's way";
    EXPECT_TRUE(g.st.core->display().lockVisible) << "and comes back: the station is locked";
    EXPECT_FALSE(g.st.core->display().lockMayClose);
    QStringList sorted = g.window.listed;
    sorted.sort();
    EXPECT_EQ(sorted, (QStringList{QStringLiteral("Carta, borrador"), QStringLiteral("Juego"),
                                   QStringLiteral("MSN Messenger")}));
    EXPECT_EQ(g.window.left, g.window.listed) << "rows outside the list finish nothing";
    EXPECT_TRUE(g.st.windows.closeCalls.isEmpty());
    // A right password gives the box its usual caption back.
    EXPECT_EQ(g.window.captions, QStringList{QString()});

    g.st.password.answers << QStringLiteral("mirlo");
    const int msn = g.window.listed.indexOf(QStringLiteral("MSN Messenger"));
    const int carta = g.window.listed.indexOf(QStringLiteral("Carta, borrador"));
    ASSERT_GE(msn, 0);
    ASSERT_GE(carta, 0);
    // The second finish counts rows of the list as it is after the first.
    g.window.finishRows = {msn, carta > msn ? carta - 1 : carta};
    EXPECT_EQ(g.gate->MnuTareasClick(g.window), TaskGate::Result::Shown);
    EXPECT_EQ(g.window.left, QStringList{QStringLiteral("Juego")});
    EXPECT_EQ(g.st.windows.quitCalls, QList<platform::WindowId>{2});
    EXPECT_EQ(g.st.windows.closeCalls, QList<platform::WindowId>{3});
}

TEST(TaskGate, AStationInUseGetsNoLockWhenTheWindowCloses) {
    Gate g;
    g.st.welcome.answers << tarvina::client::test::ScriptedWelcome::Answer{};
    g.st.core->session().StartGrant({"30", "Ana", {}});
    ASSERT_EQ(g.st.core->session().state(), ClientState::InUse);
    g.st.password.answers << QStringLiteral("mirlo");
    EXPECT_EQ(g.gate->MnuTareasClick(g.window), TaskGate::Result::Shown);
    EXPECT_FALSE(g.st.core->display().lockVisible);
}
