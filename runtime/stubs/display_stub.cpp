#include "runtime/stubs/display_stub.h"

#include <cstdint>
#include <cstring>

#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/exports.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_state.h"
#include "scene/bgpic.h"

namespace qv {
namespace {

constexpr int kMaxDisplays = 64;
constexpr int32_t kDefaultWidth = 640, kDefaultHeight = 480;
constexpr char kDefaultTitle[] = "Quorvella";

struct StandInDisplay {
    uint32_t id;
    char title[256];
    int32_t width;
    int32_t height;
};

struct DisplayList {
    StandInDisplay displays[kMaxDisplays];
    int count = 0;
    qvPlatformDisplay* screen = nullptr;
};

DisplayList list;

constexpr qvCommandEntry kDisplayCommands[] = {
    {"CreateDisplay", CreateDisplay},
    {nullptr, nullptr},
};

StandInDisplay* FindDisplay(uint32_t id) {
    for (int i = 0; i < list.count; ++i) {
        if (list.displays[i].id == id) return &list.displays[i];
    }
    return nullptr;
}

// A new id takes a new slot; an id in use is replaced, as creating any object does.
StandInDisplay* SlotFor(qvVmState* L, uint32_t id) {
    if (StandInDisplay* old = FindDisplay(id)) return old;
    if (list.count == kMaxDisplays) RaiseError(L, ERR_MEM);
    return &list.displays[list.count++];
}

const StandInDisplay* FirstDisplay() {
    const StandInDisplay* one = FindDisplay(1);
    return one != nullptr || list.count == 0 ? one : &list.displays[0];
}

}  // namespace

void PollEventsHook(qvVmState* L, qvDebugRecord* ar, int* status) {
    PollEvents(L, ar, status);
}

}  // namespace qv

int RegisterDisplayLibrary(qvVmState* L) {
    FreeAllDisplays(L);
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kDisplayCommands, 0);
    return RegisterCommandTable(qv::kDisplayCommands, "display");
}

int CreateDisplay(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qv::StandInDisplay display{static_cast<uint32_t>(GetOptIntArg(L, 1, nullptr)), "",
                               qv::kDefaultWidth, qv::kDefaultHeight};
    std::strcpy(display.title, qv::kDefaultTitle);
    if (VmGetTop(L) == 2) {
        CheckArgTable(L, 2);
        GetTableFieldString(L, 2, "title", display.title, sizeof display.title, nullptr);
        GetTableFieldInt(L, 2, "width", &display.width, nullptr);
        GetTableFieldInt(L, 2, "height", &display.height, nullptr);
    }
    if (display.width < 1 || display.height < 1) return ERR_WRONGUSAGE;
    *qv::SlotFor(L, display.id) = display;
    return 0;
}

int OpenFirstDisplay(qvVmState* L, qvScriptHeader*, qvStartupOptions*) {
    if (int code = RebuildBGPics(L)) return code;
    if (qv::Runtime().quiet == 0) qv::WriteConsole("And Action!\n");
    const qv::StandInDisplay* first = qv::FirstDisplay();
    int32_t width = first != nullptr ? first->width : qv::kDefaultWidth;
    int32_t height = first != nullptr ? first->height : qv::kDefaultHeight;
    qv::list.screen = qv::OpenHeadlessWindow(0, 0, width, height);
    return qv::list.screen != nullptr ? 0 : ERR_MEM;
}

int PollEvents(qvVmState*, qvDebugRecord*, int* status) {
    *status = 0;
    return qv::Runtime().abortFlag.load(std::memory_order_relaxed) != 0 ? 1 : 0;
}

void FreeAllDisplays(qvVmState*) {
    qv::CloseHeadlessWindow(qv::list.screen);
    qv::list.screen = nullptr;
    qv::list.count = 0;
}
