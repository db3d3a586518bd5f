#include "tests/scene/support/event_fixture.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>

#include "media/sound_events.h"
#include "platform/linux/time.h"
#include "platform/linux/timers.h"
#include "platform/linux/user_port.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/wait.h"
#include "runtime/attributes.h"
#include "runtime/input_pump.h"
#include "runtime/runtime_state.h"
#include "scene/events/event_library.h"
#include "scene/events/event_slots.h"

namespace qv::testing {
namespace {

constexpr int64_t kStartMicros = 1000000000;
// A test whose waits end only at ticks would otherwise turn the clock for ever.
constexpr int64_t kHorizonMicros = kStartMicros + int64_t{3600} * 1000000;

struct Scripted {
    int64_t at;  // microseconds of the clock
    HostEvent event;
};

int64_t now = kStartMicros;
std::vector<Scripted> scripted;
EventClockFixture* running = nullptr;
std::map<uint32_t, int32_t> published;

int64_t Now() {
    return now;
}

int64_t Wall() {
    return now + 1700000000LL * 1000000;
}

// Scripted input reaches the headless back end once the clock has reached its time.
void ReleaseDueInput() {
    std::stable_sort(scripted.begin(), scripted.end(),
                     [](const Scripted& a, const Scripted& b) { return a.at < b.at; });
    while (!scripted.empty() && scripted.front().at <= now) {
        platform::testing::InjectHostEvent(scripted.front().event);
        scripted.erase(scripted.begin());
    }
}

void SleepUntil(int64_t deadline) {
    now = std::max(now, deadline);
    ReleaseDueInput();
    if (now > kHorizonMicros && running != nullptr && !running->horizonPassed) {
        running->horizonPassed = true;
        ADD_FAILURE() << "an hour of the virtual clock passed in waits";
    }
    if (now > kHorizonMicros) Runtime().abortFlag.store(1);
}

int64_t NextScriptedInput() {
    ReleaseDueInput();
    return scripted.empty() ? std::numeric_limits<int64_t>::max() : scripted.front().at;
}

void BlockedForever() {
    if (running != nullptr) running->OnBlockedForever();
}

const SystemClock kClock{Now, Wall, SleepUntil};

int RecordAttribute(qvVmState*, uint32_t tag, int32_t value) {
    using namespace events;
    if (tag != QV_ATTR_SAMPLELOOPEVENTS && tag != QV_ATTR_SAMPLEENDEVENTS &&
        tag != QV_ATTR_MUSICENDEVENTS && tag != QV_ATTR_VIDEOENDEVENTS) {
        return 0;
    }
    published[tag] = value;
    return 1;
}

std::string FieldText(qvVmState* L, const char* key) {
    VmPushString(L, key);
    VmRawGet(L, 1);
    std::string text = "-";
    switch (VmType(L, -1)) {
        case VM_TNUMBER: {
            char number[32];
            std::snprintf(number, sizeof number, "%g", VmToNumber(L, -1));
            text = number;
            break;
        }
        case VM_TSTRING:
            text.assign(VmToString(L, -1), VmStrLen(L, -1));
            break;
        case VM_TLIGHTUSERDATA:
            text = "auto";
            break;
        default:
            break;
    }
    VmSetTop(L, -2);
    return text;
}

}  // namespace

EventClockFixture::EventClockFixture(LibraryOpener opener) : LibFixture(opener) {
    now = kStartMicros;
    scripted.clear();
    published.clear();
    running = this;
    SetSystemClock(&kClock);
    static const platform::testing::VirtualWaitHooks hooks{NextScriptedInput, BlockedForever};
    platform::testing::SetVirtualWaitHooks(&hooks);
    platform::testing::ResetHeadless();
    media::testing::ResetSoundEvents();
    AddSetAttrHandler(RecordAttribute);
}

EventClockFixture::~EventClockFixture() {
    FreeEventObjects(L);
    CloseUserPort();
    media::testing::ResetSoundEvents();
    platform::testing::ResetHeadless();
    platform::testing::SetVirtualWaitHooks(nullptr);
    SetSystemClock(nullptr);
    running = nullptr;
}

int64_t EventClockFixture::NowMs() {
    return now / 1000;
}

void EventClockFixture::OnBlockedForever() {
    ++blockedWaits_;
    if (!expectBlocked_) ADD_FAILURE() << "a wait would block forever";
}

void EventClockFixture::Advance(int64_t milliseconds) {
    now += milliseconds * 1000;
    ReleaseDueInput();
}

void EventClockFixture::InputAt(int64_t atMs, HostEvent event, const qvPlatformDisplay* window) {
    event.window = window->number;
    scripted.push_back({atMs * 1000, event});
    ReleaseDueInput();
}

void EventClockFixture::Pump() {
    PumpEvents(L);
}

Arg EventClockFixture::Handler(NativeFunction then) {
    return Native([this, then](qvVmState* S) {
        trace.push_back(FieldText(S, "action") + " " + FieldText(S, "id") + " " +
                        FieldText(S, "userdata"));
        return then ? then(S) : 0;
    });
}

CallResult EventClockFixture::Install(std::vector<std::pair<std::string, Arg>> fields,
                                      std::optional<Arg> userData) {
    std::vector<std::pair<Arg, Arg>> entries;
    for (auto& [name, value] : fields) entries.emplace_back(Str(name), std::move(value));
    std::vector<Arg> args{Table(std::move(entries))};
    if (userData) args.push_back(*userData);
    return Call("InstallEventHandler", args);
}

std::string EventClockFixture::ActionOf(const CallResult& result) {
    if (result.results.empty()) return "";
    const Value* action = result.results[0].Field("action");
    return action != nullptr ? action->text : "";
}

int32_t EventClockFixture::PublishedAttribute(uint32_t tag) {
    auto at = published.find(tag);
    return at != published.end() ? at->second : -1;
}

int EventClockFixture::LiveRefs() {
    int live = 0;
    const int size = GetTableSize(L, VM_REGISTRYINDEX);
    for (int ref = 3; ref <= size; ++ref) {
        VmRawGetI(L, VM_REGISTRYINDEX, ref);
        if (VmType(L, -1) > VM_TNIL && VmType(L, -1) != VM_TNUMBER) ++live;
        VmSetTop(L, -2);
    }
    return live;
}

EventFixture::EventFixture() : EventFixture(OpenLibraries<RegisterEventLibrary>) {}

EventFixture::EventFixture(LibraryOpener opener) : EventClockFixture(opener) {
    display = displays.Add(1);
}

EventFixture::~EventFixture() {
    displays.FreeAll(L);
}

void EventFixture::InputAt(int64_t atMs, HostEvent event, FakeDisplay* target) {
    if (target == nullptr) target = displays.Current();
    EventClockFixture::InputAt(atMs, event, target->window);
}

}  // namespace qv::testing
