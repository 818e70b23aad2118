#pragma once

#include <array>
#include <functional>

namespace tarvina::server {

// The UI thread's idle pass: what runs each time the event loop has applied
// what the connections posted. Each step is registered by the part of the
// program that owns it; the pass runs them in the order of Step, whoever
// registered them and whenever. While the program is closing, the steps
// after Tally do not run.
class IdlePass {
public:
    enum class Step {
        CloseRequest,       // a close asked for from elsewhere (the core)
        Listener,           // the listener comes back (the core)
        TypedCodes,         // codes typed at stations (the code desk)
        UncleanCloseNotice, // once; the listener waits for it (the core)
        StateChanges,       // the usage journal (the code desk)
        Tally,              // the exception log's event tally (the core)
        FirstRun,           // the operating mode page (the core's views)
        TaskList,           // the remote windows (the core's views)
        RemoteConfig,
        Volume,
        CodeAssignment,    // one moved session's code per pass (the code desk)
        PeriodicCodeCheck, // every 75 s in prepaid mode (the code desk)
        Minimize,          // the main window (the core's views)
    };
    static constexpr int kSteps = int(Step::Minimize) + 1;

    explicit IdlePass(std::function<bool()> closing) : closing_(std::move(closing)) {}

    // A step replaces the one registered before at its place.
    void add(Step step, std::function<void()> run) { owner_[size_t(step)] = std::move(run); }
    void remove(Step step) { owner_[size_t(step)] = nullptr; }
    bool has(Step step) const { return bool(owner_[size_t(step)]); }
    // What runs at a step nobody registered (entries waiting there are let
    // go, as they would be by an owner with nothing to do).
    void setFallback(Step step, std::function<void()> run) {
        fallback_[size_t(step)] = std::move(run);
    }

    void run() {
        for (int i = 0; i < kSteps; ++i) {
            if (i > int(Step::Tally) && closing_ && closing_())
                return;
            // A copy: a step may register or remove steps, its own too.
            if (const auto f = owner_[size_t(i)] ? owner_[size_t(i)] : fallback_[size_t(i)])
                f();
        }
    }

private:
    std::function<bool()> closing_;
    std::array<std::function<void()>, kSteps> owner_;
    std::array<std::function<void()>, kSteps> fallback_;
};

} // namespace tarvina::server
