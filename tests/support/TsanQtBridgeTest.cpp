// The test mains' description of Qt's queue hand-off to ThreadSanitizer must
// order what a thread wrote before it posted a call, and nothing after: a
// description that orders too much hides real races, one that orders too
// little fails every loopback test. Each case runs in a child copy of this
// program, whose exit status and error output carry the sanitizer's verdict.
#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr char kScenario[] = "TARVINA_TSAN_BRIDGE_SCENARIO";

// Written by a worker thread and read by a queued call on the main thread.
int shared = 0;

} // namespace

// Runs only as the child of the cases below.
TEST(TsanQtBridgeChild, Scenario) {
    const QByteArray scenario = qgetenv(kScenario);
    if (scenario.isEmpty())
        GTEST_SKIP() << "run by the TsanQtBridge cases";
    const bool writeAfterPost = scenario == "after";
    int seen = -1;
    std::thread worker([&] {
        shared = 1;
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                seen = shared;
                QCoreApplication::quit();
            },
            Qt::QueuedConnection);
        if (writeAfterPost)
            shared = 2;
    });
    QTimer::singleShot(30000, qApp, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    worker.join();
    EXPECT_GE(seen, 1);
}

#if defined(__SANITIZE_THREAD__)
namespace {

struct ChildRun {
    int exitCode = -1;
    QByteArray errors;
};

ChildRun RunChild(const char* scenario) {
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kScenario), QString::fromLatin1(scenario));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=TsanQtBridgeChild.Scenario")});
    EXPECT_TRUE(child.waitForFinished(60000)) << scenario;
    return {child.exitCode(), child.readAllStandardError()};
}

} // namespace

TEST(TsanQtBridge, WhatAThreadWroteBeforePostingIsOrderedBeforeTheCall) {
    const ChildRun run = RunChild("before");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(run.errors.contains("ThreadSanitizer: data race")) << run.errors.toStdString();
}

TEST(TsanQtBridge, AWriteAfterThePostIsStillARace) {
    const ChildRun run = RunChild("after");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.errors.contains("ThreadSanitizer: data race")) << run.errors.toStdString();
}
#endif
