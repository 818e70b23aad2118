// What a station may send the cashier, as one connection's whole stream:
// its lines, and after some of them a block (a message, the screen), counted
// lines (the client log) or the configuration report with its banner list.
// The cashier's own session loop reads it on a stream in memory, and what it
// hands the user interface is applied as the windows would: the task list
// is filled, the screen picture checked and placed, the remote configuration
// read from the record. Whatever the bytes, nothing crashes or hangs, the
// client log stays within its bound and every text within its own.

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeNetwork.h"
#include "server/computers/ComputerRegistry.h"
#include "server/computers/ServerContext.h"
#include "server/net/ComputersLock.h"
#include "server/net/StationConnection.h"
#include "server/remote/Capture.h"
#include "server/remote/ClientLog.h"
#include "server/remote/RemoteConfigForm.h"
#include "server/remote/TaskWindowForm.h"
#include "server/session/StationSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace tarvina;
using namespace tarvina::server;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// The stream's two ends, the cashier's accepted through the fake listener.
struct Link {
    platform::FakeNetwork network;
    std::unique_ptr<platform::Listener> listener = network.makeListener();
    std::unique_ptr<platform::Stream> accepted;
    std::unique_ptr<platform::Stream> station;

    Link() {
        Check(listener->listen(
            0, 1, [this](std::unique_ptr<platform::Stream> s) { accepted = std::move(s); }));
        QString error;
        station = network.connect(
            QStringLiteral("caja"), listener->port(), 1000, &error, [] { return false; },
            QString());
        Check(station != nullptr);
        for (int i = 0; i < 100 && !accepted; ++i)
            QCoreApplication::processEvents();
        Check(accepted != nullptr);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QTemporaryDir work;
    platform::FakeClock clock;
    ComputerRegistry registry;
    HandOff handoff;
    common::LastCommand lastCommand;
    ServerContext ctx(clock, registry, handoff, lastCommand, work.path());

    Link link;
    // The station says everything and goes; the cashier reads to the end.
    Check(!link.station->writeAll(reinterpret_cast<const char*>(data), static_cast<qint64>(size),
                                  1000));
    link.station->shutdown();

    // The user interface's side of the hand-off, as its thread takes events.
    std::atomic<bool> done{false};
    std::vector<UiEvent> shown;
    std::thread ui([&] {
        while (!done.load()) {
            for (UiEvent& e : handoff.take()) {
                if (e.kind == UiEvent::Kind::TaskList || e.kind == UiEvent::Kind::RemoteConfig ||
                    e.kind == UiEvent::Kind::Screenshot)
                    shown.push_back(std::move(e));
            }
            std::this_thread::yield();
        }
    });
    {
        StationSession session(ctx, std::make_shared<StationConnection>(std::move(link.accepted)));
        session.run();
    }
    done = true;
    ui.join();
    for (UiEvent& e : handoff.take())
        shown.push_back(std::move(e));

    TaskWindowForm tasks;
    RemoteConfigForm config(clock);
    CaptureForm capture;
    for (const UiEvent& e : shown) {
        ComputersGuard guard(registry.lock());
        switch (e.kind) {
        case UiEvent::Kind::TaskList:
            tasks.fill(e.record, e.record->name, e.data);
            Check(tasks.tasks().size() <= TaskWindowForm::kMaxTasks);
            if (!tasks.tasks().isEmpty()) {
                tasks.select(0);
                tasks.finish();
            }
            break;
        case UiEvent::Kind::RemoteConfig: {
            const RemoteConfig c = RemoteConfig::FromRecord(*e.record);
            Check(c.style >= 0 && c.style <= 2);
            config.show(e.record, e.record->name, c);
            Check(config.rows().size() <= kMaxBanners);
            config.header();
            config.drivesButton();
            break;
        }
        case UiEvent::Kind::Screenshot:
            capture.request(e.record->name);
            Check(capture.received(e.data));
            Check(capture.picture().has_value());
            for (auto fit :
                 {CaptureForm::Fit::Natural, CaptureForm::Fit::Fill, CaptureForm::Fit::Scale})
                CaptureForm::Placement(fit,
                                       QSize(capture.picture()->width, capture.picture()->height),
                                       QSize(800, 600));
            break;
        default:
            break;
        }
    }
    // Client logs land in the working folder, each within its bound.
    for (const QFileInfo& f : QDir(work.path()).entryInfoList(QDir::Files))
        Check(f.size() <= ClientLogWriter::kCapBytes + 4096);
    return 0;
}
