// The event dispatcher through its commands, on a virtual clock:
// EV1 PostEvent plus CheckEvent running a key handler, beside a std::deque of the same queue
// records and a direct VmPCall of the same handler with a table of the same shape;
// EV2 1000 intervals of 1 ms served through CheckEvent, beside a std::priority_queue timer
// calling the same handler with the same table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <deque>
#include <queue>
#include <vector>

#include "engine/vm.h"
#include "platform/linux/time.h"
#include "runtime/event_queue.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/events/event_displays.h"
#include "scene/events/event_library.h"

namespace {

int64_t now = 1000000000;
int64_t Now() {
    return now;
}
int64_t Wall() {
    return now;
}
void SleepUntil(int64_t deadline) {
    now = deadline > now ? deadline : now;
}
const qv::SystemClock kClock{Now, Wall, SleepUntil};

int Handler(qvVmState*) {
    return 0;
}

// One open display with its slots, for the key handler.
struct BenchDisplay {
    qvDisplayPrefix prefix{};
    qvEventHandler handlers[qv::gfx::kDisplayEventCount];
};

class OneDisplay final : public qv::events::EventDisplays {
public:
    explicit OneDisplay(BenchDisplay* d) : d_(d) {}
    qvDisplay* CurrentDisplay() override { return qv::DisplayOfPrefix(&d_->prefix); }
    qvDisplay* FirstDisplay() override { return CurrentDisplay(); }
    qvDisplay* NextDisplay(const qvDisplay*) override { return nullptr; }
    bool IsOpen(const qvDisplay*) override { return true; }
    qvEventHandler* EventHandlers(qvDisplay*) override { return d_->handlers; }
    void SetCloseReporting(qvDisplay*, bool) override {}
    bool MouseMoved(const qvDisplay*, qvTimeVal*) override { return false; }
    void ClearMouseMoved(qvDisplay*) override {}
    qvPlatformDisplay* Window(qvDisplay*) override { return nullptr; }
    qv::events::DisplayFacts Facts(const qvDisplay*) override { return {}; }
    qv::events::DisplayPoint ToDisplay(const qvDisplay*, int32_t x, int32_t y) override {
        return {x, y};
    }

private:
    BenchDisplay* d_;
};

// An engine with the run-time's host and the "event" library on the virtual clock.
class Events {
public:
    Events() : displays_(&display_) {
        qv::ResetRuntimeState();
        InitSupport();
        qv::SetSystemClock(&kClock);
        L = VmOpen();
        qv::InstallRuntimeHost(L);
        VmCPCall(
            L, [](qvVmState* S) { return RegisterEventLibrary(S); }, nullptr);
        VmSetTop(L, 0);
        for (qvEventHandler& slot : display_.handlers) slot = {-1, -1};
        qv::events::SetEventDisplays(&displays_);
        VmPushCClosure(L, Handler, 0);
        handler = MakeRef(L, VM_REGISTRYINDEX);
    }
    ~Events() {
        VmCPCall(
            L,
            [](qvVmState* S) {
                FreeEventObjects(S);
                return 0;
            },
            nullptr);
        qv::events::SetEventDisplays(nullptr);
        VmClose(L);
        qv::SetSystemClock(nullptr);
        qv::ResetRuntimeState();
    }

    // Calls the global command with its arguments pushed by push; its status.
    template <typename Push>
    int Call(const char* command, Push push) {
        VmSetTop(L, 0);
        VmPushString(L, command);
        VmGetTable(L, VM_GLOBALSINDEX);
        push();
        const int status = VmPCall(L, VmGetTop(L) - 1, 1, 0);
        VmSetTop(L, 0);
        return status;
    }
    // CheckEvent as a script's loop calls it: the function found once.
    int Check() {
        if (checkEvent_ == -1) {
            VmPushString(L, "checkevent");
            VmGetTable(L, VM_GLOBALSINDEX);
            checkEvent_ = MakeRef(L, VM_REGISTRYINDEX);
        }
        VmRawGetI(L, VM_REGISTRYINDEX, checkEvent_);
        const int status = VmPCall(L, 0, 1, 0);
        VmSetTop(L, 0);
        return status;
    }
    void InstallKeyHandler() {
        Call("installeventhandler", [this] {
            VmNewTable(L);
            VmPushString(L, "onkeydown");
            VmRawGetI(L, VM_REGISTRYINDEX, handler);
            VmRawSet(L, -3);
        });
    }
    qvDisplay* Display() { return qv::DisplayOfPrefix(&display_.prefix); }

    // The handler called with a table shaped like the message table CheckEvent makes, and the
    // result table CheckEvent returns.
    void CallDirectly(const char* action, const char* key, int32_t id) {
        VmRawGetI(L, VM_REGISTRYINDEX, handler);
        VmNewTable(L);
        SetTableFieldString(L, "action", action);
        if (key != nullptr) SetTableFieldString(L, "key", key);
        SetTableFieldInt(L, "id", id);
        VmPushValue(L, -1);
        VmInsert(L, -3);
        VmPCall(L, 1, -1, 0);
        SetTableFieldInt(L, "nresults", 0);
        SetTableFieldInt(L, "triggered", 1);
        VmSetTop(L, 0);
    }

    qvVmState* L = nullptr;
    int32_t handler = -1;

private:
    int32_t checkEvent_ = -1;
    BenchDisplay display_;
    OneDisplay displays_;
};

void EV1_Ours(benchmark::State& state) {
    Events events;
    events.InstallKeyHandler();
    for (auto _ : state) {
        PostEvent(events.Display(), QV_EVENT_KEY, 1, 0, 'a', nullptr);
        if (events.Check() != 0) state.SkipWithError("CheckEvent failed");
    }
}
BENCHMARK(EV1_Ours)->Name("EV1:dispatch_key/ours");

void EV1_Peer(benchmark::State& state) {
    Events events;
    std::deque<qvEvent> queue;
    for (auto _ : state) {
        qvEvent e{QV_EVENT_KEY, {1, 0, 'a'}, {}, events.Display(), nullptr};
        qv::MonotonicTime(&e.stamp);
        queue.push_back(e);
        const qvEvent taken = queue.front();
        queue.pop_front();
        const char key[2] = {char(taken.data[2]), '\0'};
        events.CallDirectly("OnKeyDown", key, 1);
    }
}
BENCHMARK(EV1_Peer)->Name("EV1:dispatch_key/peer");

constexpr int kIntervals = 1000;

void EV2_Ours(benchmark::State& state) {
    Events events;
    for (int i = 1; i <= kIntervals; ++i) {
        events.Call("setinterval", [&] {
            VmPushNumber(events.L, i);
            VmRawGetI(events.L, VM_REGISTRYINDEX, events.handler);
            VmPushNumber(events.L, 1);
        });
    }
    for (auto _ : state) {
        now += 1000;
        for (int i = 0; i <= kIntervals; ++i) events.Check();
    }
    state.SetItemsProcessed(state.iterations() * kIntervals);
}
BENCHMARK(EV2_Ours)->Name("EV2:interval_fire/ours");

void EV2_Peer(benchmark::State& state) {
    Events events;
    struct Due {
        int64_t at;
        int32_t id;
        bool operator>(const Due& other) const {
            return at != other.at ? at > other.at : id > other.id;
        }
    };
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> timers;
    for (int i = 1; i <= kIntervals; ++i) timers.push({now + 1000, i});
    for (auto _ : state) {
        now += 1000;
        while (timers.top().at <= now) {
            Due due = timers.top();
            timers.pop();
            events.CallDirectly("Interval", nullptr, due.id);
            due.at += 1000;
            timers.push(due);
        }
    }
    state.SetItemsProcessed(state.iterations() * kIntervals);
}
BENCHMARK(EV2_Peer)->Name("EV2:interval_fire/peer");

}  // namespace
