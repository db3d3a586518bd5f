// The event dispatcher through its commands, on a virtual clock:
// EV1 PostEvent plus CheckEvent running a key handler, beside a std::deque of the same queue
// records and a direct VmPCall of the same handler with a table of the same shape;
// EV2 1000 intervals of 1 ms served through CheckEvent, beside a std::priority_queue timer
// calling the same handler with the same table;
// EV3 a click on the bottom-most of 1000 rectangle buttons through PostEvent and CheckEvent,
// beside the deque, a linear scan of a std::vector of the same rectangles, newest first, and
// a direct VmPCall with a table of a button message's shape.
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
#include "scene/bgpic.h"
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

// One open display with its slots, for the key handler, and its picture, for buttons.
struct BenchDisplay {
    qvDisplayPrefix prefix{};
    qvEventHandler handlers[qv::gfx::kDisplayEventCount];
    qvBGPic picture{};
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
    qv::events::DisplayPoint ToDisplay(const qvDisplay*, int32_t x, int32_t y,
                                       qv::events::Rounding) override {
        return {x, y};
    }
    qvBGPic* Picture(qvDisplay*) override { return &d_->picture; }
    qvBGPic* ButtonPicture() override { return &d_->picture; }
    bool KeyDown(const qvDisplay*, uint32_t) override { return false; }
    bool ButtonDown(const qvDisplay*, qv::MouseButton) override { return false; }

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
        display_.picture.width = display_.picture.height = 1000;
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
    // A rectangle button whose "onmousedown" is the handler.
    void MakeButton(int32_t id, int32_t x, int32_t y, int32_t size) {
        Call("makebutton", [&] {
            for (double n : {double(id), 0.0, double(x), double(y), double(size), double(size)}) {
                VmPushNumber(L, n);
            }
            VmNewTable(L);
            VmPushString(L, "onmousedown");
            VmRawGetI(L, VM_REGISTRYINDEX, handler);
            VmRawSet(L, -3);
        });
    }

    // The handler called with a table shaped like the message table CheckEvent makes, and the
    // result table CheckEvent returns.
    // With a button, the fields of a button's message.
    struct ButtonFields {
        int32_t x, y, width, height;
    };
    void CallDirectly(const char* action, const char* key, int32_t id,
                      const ButtonFields* button = nullptr) {
        VmRawGetI(L, VM_REGISTRYINDEX, handler);
        VmNewTable(L);
        SetTableFieldString(L, "action", action);
        if (key != nullptr) SetTableFieldString(L, "key", key);
        SetTableFieldInt(L, "id", id);
        if (button != nullptr) {
            SetTableFieldInt(L, "x", button->x);
            SetTableFieldInt(L, "y", button->y);
            SetTableFieldInt(L, "width", button->width);
            SetTableFieldInt(L, "height", button->height);
            SetTableFieldInt(L, "mousedown", 1);
            SetTableFieldInt(L, "rightmousedown", 0);
            SetTableFieldInt(L, "midmousedown", 0);
            SetTableFieldInt(L, "display", 0);
        }
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

constexpr int kButtons = 1000;
constexpr int32_t kCell = 10, kButtonSize = 5, kColumns = 40;

// Button i (1 first, the bottom-most) in its cell of the grid.
int32_t ButtonX(int i) {
    return (i - 1) % kColumns * kCell;
}
int32_t ButtonY(int i) {
    return (i - 1) / kColumns * kCell;
}

void EV3_Ours(benchmark::State& state) {
    Events events;
    for (int i = 1; i <= kButtons; ++i) events.MakeButton(i, ButtonX(i), ButtonY(i), kButtonSize);
    for (auto _ : state) {
        PostEvent(events.Display(), QV_EVENT_LEFTMOUSE, 2, 2, 1, nullptr);
        if (events.Check() != 0) state.SkipWithError("CheckEvent failed");
    }
}
BENCHMARK(EV3_Ours)->Name("EV3:button_click/ours");

void EV3_Peer(benchmark::State& state) {
    Events events;
    struct Rect {
        int32_t id, x1, y1, x2, y2;
    };
    std::vector<Rect> rects;
    for (int i = 1; i <= kButtons; ++i) {
        rects.push_back({i, ButtonX(i), ButtonY(i), ButtonX(i) + kButtonSize - 1,
                         ButtonY(i) + kButtonSize - 1});
    }
    std::deque<qvEvent> queue;
    for (auto _ : state) {
        qvEvent e{QV_EVENT_LEFTMOUSE, {2, 2, 1}, {}, events.Display(), nullptr};
        qv::MonotonicTime(&e.stamp);
        queue.push_back(e);
        const qvEvent taken = queue.front();
        queue.pop_front();
        const auto x = int32_t(taken.data[0]), y = int32_t(taken.data[1]);
        for (auto r = rects.rbegin(); r != rects.rend(); ++r) {
            if (r->x1 > x || x > r->x2 || r->y1 > y || y > r->y2) continue;
            const Events::ButtonFields fields{r->x1, r->y1, kButtonSize, kButtonSize};
            events.CallDirectly("OnMouseDown", nullptr, r->id, &fields);
            break;
        }
    }
}
BENCHMARK(EV3_Peer)->Name("EV3:button_click/peer");

}  // namespace
