#include "gfx/library/async_draw.h"

#include <algorithm>

#include "gfx/graphics_state.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_list.h"
#include "gfx/library/object_types.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"

namespace qv::gfx {
namespace {

qvObjectHeader** List() {
    return &Graphics().asyncDraws;
}

template <typename Visit>
void ForEach(Visit visit) {
    for (qvObjectHeader* h = *List(); h != nullptr; h = h->next) {
        if (visit(reinterpret_cast<qvAsyncDraw*>(h))) return;
    }
}

intptr_t Send(qvAsyncDraw* a, int32_t message, void* argument) {
    return a->handler != nullptr ? a->handler(message, argument, a->userData) : 0;
}

// Unlinks a record (when the list still holds it), tells its producer with the flag and
// frees it.
void Release(qvVmState* L, qvAsyncDraw* a, int32_t afterFinish) {
    if (!UnlinkObject(List(), &a->header)) return;
    if (a->free != nullptr) a->free(a->userData, afterFinish);
    FreeRefList(L, a->header.data);
    FreeMemBlock(a);
}

// Drawing goes to the display itself or to a background picture.
int CheckOutput(const DisplayView& view) {
    switch (view.outputType) {
        case kTargetBrush:
        case kTargetAnim:
        case kTargetLayer:
            if (view.doubleBuffered) return ERR_ENDDOUBLEBUFFER;
            return view.outputType == kTargetAnim ? ERR_SELECTANIM : ERR_SELECTBRUSH;
        case kTargetMask:
            return ERR_SELECTMASK;
        case kTargetAlphaChannel:
            return ERR_SELECTALPHACHANNEL;
        default:
            return 0;
    }
}

// The refresh of what the object drew into the background picture.
void RefreshDrawnObject(qvVmState* L, qvDisplay* display, qvAsyncDraw* a) {
    void* drawn = nullptr;
    Send(a, kAsyncDrawnObject, &drawn);
    if (drawn != nullptr) Neighbour().AddLayerBoundsToRectList(L, display, drawn);
}

// One step of the producer; a background picture is told when drawing into it begins and
// ends, also when the step fails, so that the producer never stays inside it.
int NextFrame(qvVmState* L, qvDisplay* display, qvAsyncDraw* a, bool onPicture) {
    int32_t begin = 1, end = 0;
    if (onPicture) Send(a, kAsyncBackgroundDrawing, &begin);
    const int code = a->step(a->userData, &a->finished);
    if (onPicture) Send(a, kAsyncBackgroundDrawing, &end);
    if (code != 0) return code;
    if (onPicture) RefreshDrawnObject(L, display, a);
    VmPushNumber(L, 0);
    return 1;
}

int Finished(qvVmState* L, qvAsyncDraw* a) {
    if (a->finish != nullptr) a->finish(a->userData, 1);
    Release(L, a, 1);
    VmPushNumber(L, 1);
    return 1;
}

int JumpToFrame(qvVmState* L, qvDisplay* display, qvAsyncDraw* a, int32_t frame, int32_t count,
                bool onPicture) {
    if (const auto code = static_cast<int>(Send(a, kAsyncJumpToFrame, &frame))) return code;
    if (onPicture) {
        RefreshDrawnObject(L, display, a);
    } else {
        Send(a, kAsyncShowFrame, nullptr);
    }
    a->finished = frame == count ? 1 : 0;
    VmPushNumber(L, a->finished);
    return 1;
}

}  // namespace

int FindAsyncDraw(qvObjectId id, qvAsyncDraw** out) {
    *out = FindObject<qvAsyncDraw>(*List(), id, [](const qvAsyncDraw&) { return false; });
    return *out != nullptr ? 0 : ObjectNotFound(id, ERR_FINDASYNCDRAW);
}

}  // namespace qv::gfx

using namespace qv::gfx;

int AddAsyncDraw(int32_t kind, qvAsyncStepFn step, intptr_t value, qvAsyncFinishFn finish,
                 qvAsyncFreeFn free, qvAsyncHandlerFn handler, void* userData,
                 qvAsyncDraw** object) {
    auto* a = static_cast<qvAsyncDraw*>(AllocMemBlock(sizeof(qvAsyncDraw), 1));
    if (a == nullptr) return ERR_MEM;
    a->header = {kTypeAsyncDraw, 0, a, nullptr, nullptr};
    a->display = Graphics().Host().CurrentDisplay();
    a->kind = kind;
    a->step = step;
    a->value = value;
    a->finish = finish;
    a->free = free;
    a->handler = handler;
    a->userData = userData;
    AppendObject(List(), &a->header);
    if (object != nullptr) *object = a;
    return 0;
}

int DisplayHasAsyncDraws(const qvDisplay* display) {
    int found = 0;
    ForEach([&](qvAsyncDraw* a) { return (found = a->display == display); });
    return found;
}

void* QueryAsyncDraws() {
    void* answer = nullptr;
    ForEach([&](qvAsyncDraw* a) {
        if (a->kind == ADF_FX) Send(a, kAsyncQuery, &answer);
        return answer != nullptr;
    });
    return answer;
}

int BroadcastAsyncDraws(int32_t message, void* argument) {
    ForEach([&](qvAsyncDraw* a) {
        Send(a, message, argument);
        return false;
    });
    return 0;
}

int IsObjectUsedByAsyncDraw(const void* object) {
    int used = 0;
    ForEach([&](qvAsyncDraw* a) {
        void* drawn = nullptr;
        Send(a, kAsyncDrawnObject, &drawn);
        return (used = drawn == object);
    });
    return used;
}

void FreeAsyncDraws(qvVmState* L) {
    while (*List() != nullptr) {
        auto* a = reinterpret_cast<qvAsyncDraw*>(*List());
        *List() = a->header.next;
        if (a->free != nullptr) a->free(a->userData, 0);
        FreeRefList(L, a->header.data);
        FreeMemBlock(a);
    }
}

int AsyncDrawFrame(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qvDisplay* display = Graphics().Host().CurrentDisplay();
    const DisplayView view = Graphics().View(display);
    if (const int code = CheckOutput(view)) return code;
    qvAsyncDraw* a = nullptr;
    if (const int code = FindAsyncDraw(GetObjectIdArg(L, 1), &a)) return code;
    if (a->display != display) return ERR_ADFWRONGDISP;
    const bool onPicture = view.outputType == kTargetBGPic;
    if (VmGetTop(L) < 2) return a->finished ? Finished(L, a) : NextFrame(L, display, a, onPicture);

    if (!view.layersEnabled) return ERR_NOLAYERS;
    const int32_t frame = std::max(GetOptIntArg(L, 2, nullptr), 0);
    const auto count = static_cast<int32_t>(Send(a, kAsyncFrameCount, nullptr));
    const auto current = static_cast<int32_t>(Send(a, kAsyncCurrentFrame, nullptr));
    if (frame > count && !a->finished) return ERR_ANIMFRAME;
    if (a->finished && (frame == 0 || count < frame)) return Finished(L, a);
    if (frame == 0 || frame == current + 1) return NextFrame(L, display, a, onPicture);
    if (frame == current) {
        VmPushNumber(L, 0);
        return 1;
    }
    return JumpToFrame(L, display, a, frame, count, onPicture);
}

int CancelAsyncDraw(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvAsyncDraw* a = nullptr;
    if (const int code = FindAsyncDraw(GetObjectIdArg(L, 1), &a)) return code;
    Release(L, a, 0);
    return 0;
}

int FinishAsyncDraw(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvAsyncDraw* a = nullptr;
    if (const int code = FindAsyncDraw(GetObjectIdArg(L, 1), &a)) return code;
    const int32_t finished = a->finished;
    if (a->finish != nullptr) a->finish(a->userData, finished);
    Release(L, a, finished);
    return 0;
}
