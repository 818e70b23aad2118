#include "common/LastCommand.h"

#include <QSet>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using tarvina::common::LastCommand;

TEST(LastCommand, StartsAsIniciandoAndKeepsTheLastSet) {
    LastCommand lc;
    EXPECT_EQ(lc.get(), "iniciando");
    lc.set("GrantAccess");
    lc.set("Lock");
    EXPECT_EQ(lc.get(), "Lock");
}

TEST(LastCommand, ReadersNeverSeeATornText) {
    LastCommand lc;
    // Texts of different lengths so that a torn copy would not be one of them.
    const QStringList labels = {"KillTask", "ManifestSendConfigToMaster(2)", "Show",
                                QString(300, u'x'), "SoftReinit(3)"};
    const QSet<QString> allowed(labels.begin(), labels.end());
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 20000; ++i)
                lc.set(labels[(i + w) % labels.size()]);
        });
    }
    std::thread reader([&] {
        while (!stop) {
            const QString t = lc.get();
            if (t != "iniciando" && !allowed.contains(t))
                ++bad;
        }
    });
    for (auto& t : writers)
        t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_TRUE(allowed.contains(lc.get()));
}
