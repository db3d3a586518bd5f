// What the graphics library reads of the subsystems built after it: displays, background
// pictures and layers, brushes, sprites and drawing. The display subsystem and the object
// subsystem install their implementation; until they do, the defaults answer "none" or
// "not found" (tests install fakes).
#pragma once

#include <cstdint>
#include <iterator>
#include <span>

#include "engine/vm.h"
#include "gfx/geometry.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"

struct qvClipRegion;
struct qvDisplay;
struct qvImageHandle;
struct qvPointer;

// One event-handler slot: registry references of the function and of its user data; -1 for
// none.
struct qvEventHandler {
    int32_t function;
    int32_t userData;
};

namespace qv::gfx {

// The slots of a display, in the order of its handler array, and the global slots.
inline constexpr const char* kDisplayEventNames[] = {
    "onkeydown",    "onkeyup",           "onmousemove",      "closewindow",     "movewindow",
    "sizewindow",   "activewindow",      "inactivewindow",   "hidewindow",      "showwindow",
    "onmousedown",  "onmouseup",         "onrightmousedown", "onrightmouseup",  "onwheeldown",
    "onwheelup",    "modeswitch",        "ondropfile",       "clipboardchange", "onmidmousedown",
    "onmidmouseup", "orientationchange", "showkeyboard",     "hidekeyboard"};
inline constexpr const char* kGlobalEventNames[] = {
    "onsampleloop", "onsampleend",   "onmusicend",     "onarexx",
    "onconnect",    "ondisconnect",  "onreceivedata",  "onreceiveudpdata",
    "onvideoend",   "onusermessage", "fillmusicbuffer"};
inline constexpr int kDisplayEventCount = std::size(kDisplayEventNames);
inline constexpr int kGlobalEventCount = std::size(kGlobalEventNames);

// A brush's or a sprite frame's planes; mask and alpha may be none.
struct PictureView {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t width, height;
};

class Neighbours {
public:
    virtual ~Neighbours() = default;

    // --- The display subsystem ---
    // The pointer record a display shows (none: the system pointer) and its hidden flag.
    virtual qvPointer* DisplayPointer(const qvDisplay*) { return nullptr; }
    virtual void SetDisplayPointer(qvDisplay*, qvPointer*) {}
    virtual void SetPointerHidden(qvDisplay*, bool) {}
    // Whether any display shows the pointer record.
    virtual bool PointerShown(const qvPointer*) { return false; }
    // The display's kDisplayEventCount handler slots and the kGlobalEventCount global ones;
    // none while they do not exist.
    virtual const qvEventHandler* DisplayEventHandlers(const qvDisplay*) { return nullptr; }
    virtual const qvEventHandler* GlobalEventHandlers() { return nullptr; }
    // Adds the bounds of an object a layer shows to the display's rectangles to refresh.
    virtual void AddLayerBoundsToRectList(qvVmState*, qvDisplay*, void* /*object*/) {}
    // The current output picture's active clip region and the horizontal span of drawing
    // that the display's output record keeps.
    virtual void SetActiveClipRegion(const qvClipRegion*) {}
    virtual void SetOutputSpan(int32_t /*left*/, int32_t /*right*/) {}
    // Every picture whose active clip region is the freed region draws unclipped again.
    virtual void ClearPictureClipRegionRefs(const qvClipRegion*) {}
    // Layers: whether one uses the object, forgetting a freed clip region, private copies
    // before an object changes (0 or an error code).
    virtual bool ObjectInUseByLayers(uint32_t /*type*/, const void*) { return false; }
    virtual void ClearLayerClipRegionRefs(const qvClipRegion*) {}
    virtual void ClearSpriteClipRegionRefs(qvVmState*, const qvClipRegion*) {}
    virtual int DetachObjectFromLayers(qvVmState*, qvObjectId, void*) { return 0; }
    // The layer argument idx of the current output picture as an index; raises
    // ERR_STRORNUM or ERR_FINDLAYER. The default finds no layer name.
    virtual int32_t FindLayerArg(qvVmState* L, int idx);
    virtual int32_t CountLayers() { return 0; }
    // A new bitmap of the current background picture as shown, with its size; 0 or an error
    // code.
    virtual int RenderBGPicBitmap(qvVmState*, qvDisplayBitMap** bitmap, int32_t* width,
                                  int32_t* height);
    // Counts for DumpObjectCounts: layers and sprites of the current output picture, and the
    // layers of every picture.
    virtual int CountLayersOnScreen() { return 0; }
    virtual int CountAllLayers() { return 0; }
    virtual int CountSpritesOnScreen() { return 0; }

    // --- Sound, animation and video ---
    // Whether a video dump records (the recorder's pointer flags then stand in for the
    // window's).
    virtual bool VideoDumpRecording() { return false; }

    // --- Brushes, sprites and drawing ---
    // 0 and the brush's planes, or its lookup error (ERR_FINDBRUSH, ERR_FINDARRAY).
    virtual int GetBrush(qvVmState*, qvObjectId id, PictureView* out);
    // The image handle that a vector brush GetBrush found is rendered from (none for a bitmap
    // brush), and whether the brush was scaled or transformed since.
    virtual qvImageHandle* BrushVectorSource(qvObjectId, bool* /*transformed*/) { return nullptr; }
    // 0 and the sprite's frame count and size, or its lookup error.
    virtual int GetSprite(qvVmState*, qvObjectId id, int32_t* frames, PictureView* out);
    // The planes of frame (from 0) of a sprite that GetSprite found.
    virtual void GetSpriteFrame(qvObjectId, int32_t /*frame*/, PictureView*) {}
    // The sizes of the two draw-tag records and their initial values.
    virtual size_t DrawStyleSize() { return 0; }
    virtual size_t DrawTransformSize() { return 0; }
    virtual void InitDrawTags(void* /*style*/, void* /*transform*/) {}
    // Parses the draw-tag table at idx into the records; 0 or an error code.
    virtual int ParseDrawTags(qvVmState*, int /*idx*/, void* /*style*/, void* /*transform*/,
                              int /*flags*/) {
        return 0;
    }
    // Scales and rotates a 1-bit mask of width x height about the anchor: 0 with a new mask
    // and its bounds, else an error code.
    virtual int TransformBrushBitmaps(qvVmState*, const qvPlaneBitMap* /*mask*/, int32_t, int32_t,
                                      const double /*matrix*/[4], double, double,
                                      qvPlaneBitMap** /*outMask*/, int32_t* /*outX*/,
                                      int32_t* /*outY*/, int32_t* /*outWidth*/,
                                      int32_t* /*outHeight*/) {
        return ERR_MEM;
    }
    // Maps points of a width x height box by the matrix {a, b, c, d} about the centre
    // (width x anchorX, height x anchorY): (lrint(a dx + c dy) + cx, lrint(b dx + d dy) + cy).
    virtual void TransformPoints(const double matrix[4], int32_t width, int32_t height,
                                 std::span<qvVertex> points, double anchorX, double anchorY);
};

// The installed neighbours, or the defaults.
Neighbours& Neighbour();
// nullptr restores the defaults.
void SetNeighbours(Neighbours* neighbours);

}  // namespace qv::gfx
