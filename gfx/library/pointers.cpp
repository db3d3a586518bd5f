#include "gfx/library/pointers.h"

#include <algorithm>
#include <memory>

#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_list.h"
#include "gfx/library/object_types.h"
#include "gfx/library/platform_pointer.h"
#include "gfx/save_picture.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"

namespace qv::gfx {
namespace {

// Freed by the script while shown; not in the object registry.
qvObjectHeader* kept = nullptr;

qvObjectHeader** List() {
    return &Graphics().pointers;
}

void Destroy(qvPointer* p) {
    FreePointerObject(p->object);
    FreeMemBlock(p);
}

struct PointerFree {
    void operator()(qvPointer* p) const { Destroy(p); }
};

void DestroyPointer(qvObjectHeader* header) {
    Destroy(reinterpret_cast<qvPointer*>(header));
}

// Takes a pointer out of the script's reach.
void Remove(qvPointer* p) {
    UnlinkObject(List(), &p->header);
    if (Neighbour().PointerShown(p)) {
        AppendObject(&kept, &p->header);
    } else {
        Destroy(p);
    }
}

// A hot spot below 0 is the centre; one beyond the image its last pixel.
int32_t HotSpot(int32_t value, int32_t size) {
    if (value < 0) return size / 2;
    return std::min(value, std::max(size - 1, 0));
}

// The pointer image of a brush or a sprite frame: its planes as ARGB, alpha from the mask.
int ImagePointer(qvVmState* L, const PictureView& picture, int hotIdx, qvPointer* p) {
    p->kind = STDPTR_CUSTOM;
    p->width = picture.width;
    p->height = picture.height;
    p->hotX = HotSpot(TruncSaturate(GetOptArgNumber(L, hotIdx, -1)), p->width);
    p->hotY = HotSpot(TruncSaturate(GetOptArgNumber(L, hotIdx + 1, -1)), p->height);
    qvARGB* image = BitmapToPixelArray(picture.bitmap, picture.width, picture.height, picture.mask,
                                       picture.alpha, 0, 1);
    if (image == nullptr) return ERR_MEM;
    return CreatePointerObject(image, p->width, p->height, p->hotX, p->hotY, &p->object);
}

int SpritePointer(qvVmState* L, qvPointer* p) {
    CheckArgCount(L, 3, 6);
    const qvObjectId sprite = GetObjectIdArg(L, 3);
    int32_t frames = 0;
    PictureView picture{};
    if (const int code = Neighbour().GetSprite(L, sprite, &frames, &picture)) return code;
    const auto frame = TruncSaturate(GetOptArgNumber(L, 4, 1));
    if (frame < 1 || frame > frames) return ERR_ANIMFRAME;
    Neighbour().GetSpriteFrame(sprite, frame - 1, &picture);
    return ImagePointer(L, picture, 5, p);
}

// Fills the pointer from the arguments after the id: a system pointer, a brush or a
// sprite frame.
int MakeImage(qvVmState* L, qvPointer* p) {
    const int32_t type = GetOptIntArg(L, 2, nullptr);
    if (type == kTypePointer) {
        CheckArgCount(L, 3, 3);
        const int32_t kind = GetOptIntArg(L, 3, nullptr);
        if (kind != STDPTR_SYSTEM && kind != STDPTR_BUSY) return ERR_WRONGUSAGE;
        p->kind = kind;
        p->width = static_cast<int32_t>(QueryBitMapAttr(nullptr, 12));
        p->height = static_cast<int32_t>(QueryBitMapAttr(nullptr, 13));
        return CreatePointerObject(nullptr, p->width, p->height, 0, 0, &p->object);
    }
    if (type == kTypeSprite) return SpritePointer(L, p);
    if (type != kTypeBrush) return ERR_WRONGUSAGE;
    CheckArgCount(L, 3, 5);
    PictureView brush{};
    if (const int code = Neighbour().GetBrush(L, GetObjectIdArg(L, 3), &brush)) return code;
    return ImagePointer(L, brush, 4, p);
}

// The current display and its window; none while no display is open.
qvPlatformDisplay* CurrentWindow() {
    return Graphics().View(Graphics().Host().CurrentDisplay()).window;
}

int ShowOrHide(qvVmState* L, bool hide) {
    CheckArgCount(L, 0, 1);
    if (Neighbour().VideoDumpRecording()) {
        VideoDumpState().pointerVisible = !hide;
        return 0;
    }
    Neighbour().SetPointerHidden(Graphics().Host().CurrentDisplay(), hide);
    if (qvPlatformDisplay* window = CurrentWindow()) {
        hide ? HideDisplayPointer(window) : ShowDisplayPointer(window);
    }
    return 0;
}

// The pointer of argument idx in *p: 0, or the lookup error, which commands return.
int PointerArg(qvVmState* L, int idx, qvPointer** p) {
    return FindPointer(GetObjectIdArg(L, idx), p);
}

}  // namespace

int FindPointer(qvObjectId id, qvPointer** out) {
    *out = FindObject<qvPointer>(*List(), id, [](const qvPointer&) { return false; });
    return *out != nullptr ? 0 : ObjectNotFound(id, ERR_FINDPOINTER);
}

void ReleaseUnshownPointers() {
    ReleaseFromList(
        &kept,
        [](qvObjectHeader* h) {
            return !Neighbour().PointerShown(reinterpret_cast<qvPointer*>(h));
        },
        DestroyPointer);
}

void FreeAllPointers() {
    DrainList(List(), DestroyPointer);
    DrainList(&kept, DestroyPointer);
}

}  // namespace qv::gfx

using namespace qv::gfx;

int MovePointer(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    if (Neighbour().VideoDumpRecording()) return 0;
    const qvPointer* shown = Neighbour().DisplayPointer(Graphics().Host().CurrentDisplay());
    const auto width = shown != nullptr ? shown->width : int32_t(QueryBitMapAttr(nullptr, 12));
    const auto height = shown != nullptr ? shown->height : int32_t(QueryBitMapAttr(nullptr, 13));
    const int32_t x = ResolvePosX(GetOptIntArg(L, 1, nullptr), width, 0, 0);
    const int32_t y = ResolvePosY(GetOptIntArg(L, 2, nullptr), height, 0, 0);
    if (qvPlatformDisplay* window = CurrentWindow()) SetMousePosition(window, x, y);
    return 0;
}

int HidePointer(qvVmState* L) {
    return ShowOrHide(L, true);
}

int ShowPointer(qvVmState* L) {
    return ShowOrHide(L, false);
}

int SetPointer(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPointer* p;
    if (const int code = PointerArg(L, 1, &p)) return code;
    if (Neighbour().VideoDumpRecording()) {
        qv::VideoDumpState().pointerKind = p->kind;
        return 0;
    }
    Neighbour().SetDisplayPointer(Graphics().Host().CurrentDisplay(), p);
    if (qvPlatformDisplay* window = CurrentWindow()) SetDisplayPointer(window, p->object, p->kind);
    ReleaseUnshownPointers();
    return 0;
}

int CreatePointer(qvVmState* L) {
    CheckArgCount(L, 3, 0);
    int automatic = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, 1, &automatic));
    std::unique_ptr<qvPointer, PointerFree> owner(
        static_cast<qvPointer*>(AllocMemBlock(sizeof(qvPointer), 1)));
    if (owner == nullptr) return ERR_MEM;
    if (const int code = MakeImage(L, owner.get())) return code;
    qvPointer* old = nullptr;
    if (!automatic && FindPointer({number, nullptr}, &old) == 0) Remove(old);
    qvPointer* p = owner.release();
    p->header = qv::NewObjectHeader(kTypePointer, number, automatic, p);
    AppendObject(List(), &p->header);
    return qv::PushNewObjectHandle(L, p->header);
}

int FreePointer(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvPointer* p;
    if (const int code = PointerArg(L, 1, &p)) return code;
    Remove(p);
    return 0;
}
