// The "layers" command library: switching layers on and off, making, naming, finding,
// reordering, showing, hiding, moving and removing layers and groups, their shadow and
// border, collision tests, move queues, Undo and the debug listing. Every command works on
// the current output picture.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

struct qvBGPic;
struct qvDisplay;
struct qvLayer;

// Registers the commands under "layers", the move-queue list and the layer lists' work
// buffers; 0 or ERR_MEM.
int RegisterLayersLibrary(qvVmState* L);

// Exit: the move queues and the layer lists' work buffers.
void FreeLayersLibrary(qvVmState* L);

// Whether the current display may switch its layers on: 0, or 1329, 1229, 1163 or 1224.
int CanSwitchLayers(qvVmState* L);

// Removes the n-th layer from the top that shows the object of type with that creation id
// (the text input's undo); its bounds go to the out values, refreshed unless noRefresh. 0 when one
// was removed, 1 when none matched, ERR_REMADLAYER when an asynchronous drawing object owns it.
int UndoLayerByObject(qvVmState* L, uint32_t type, qvObjectId id, int32_t n, int32_t* x, int32_t* y,
                      int32_t* width, int32_t* height, int noRefresh = 0);

namespace qv::scene {

// The layer guard by the current display's output target: 0, or ERR_SELECTANIM,
// ERR_SELECTBRUSH, ERR_SELECTMASK, ERR_SELECTALPHACHANNEL or ERR_NOLAYERS. *picture (when
// given) receives the output picture.
int CheckLayerGuard(qvBGPic** picture);
// The guard and the layer at position in *layer: ERR_LAYERRANGE when there is none.
int GuardedLayer(int32_t position, qvBGPic** picture, qvLayer** layer);

// A move queue: up to kMoveEntries entries in parallel arrays.
inline constexpr int kMoveEntries = 512;
inline constexpr int32_t kNoMoveRect = 10000;

struct qvMoveList {
    qvObjectHeader header;  // type MOVELIST
    int32_t kind[kMoveEntries];
    qvObjectId object[kMoveEntries];  // the object's id pair, or {layer position, none}
    int32_t x[kMoveEntries], y[kMoveEntries];
    int32_t done[kMoveEntries];
    int32_t extra[kMoveEntries];  // frame, visibility or insert position
    int32_t x1[kMoveEntries], y1[kMoveEntries], x2[kMoveEntries], y2[kMoveEntries];
    // Whether the entry holds a rectangle: x1 is kNoMoveRect until one is recorded, but a
    // real rectangle may start there too.
    uint8_t hasRect[kMoveEntries];
    int32_t count;
};

// The head of the move-queue list (registered with the object registry).
qvObjectHeader** MoveLists();
// Frees every queue.
void FreeMoveLists();
// The queue with the id pair, or none.
qvMoveList* FindMoveList(qvObjectId id);
// The queue with the id pair in *out: 0, or ERR_FINDMOVE (the number as the error's
// argument) for a number and ERR_FINDARRAY for a handle that names no queue.
int FindMoveListArg(qvObjectId id, qvMoveList** out);

// The layer step of DoMove for entry i: the layer at the entry's position moves to its x, y
// (position constants against its size with its anchor) without refresh; with
// applyVisibility an extra word of 0 or 1 becomes the hidden flag; the entry records the
// rectangle to refresh and is marked done. 0 or ERR_LAYERRANGE.
int DoMoveLayerStep(qvVmState* L, qvMoveList* list, int i, bool applyVisibility);
// Whether the area lies at least partly on the picture (any coordinates, no overflow).
bool PartlyOnPicture(const qvBGPic* picture, int32_t x, int32_t y, int32_t width, int32_t height);
// The same step for a layer the caller found.
void DoMoveLayerStep(qvVmState* L, qvMoveList* list, int i, qvLayer* layer, bool applyVisibility);

// Shows frame of the anim layer (0 the next one, wrapping; -1 the last; 1..count that one)
// and moves it to (x, y) (KEEPPOSITION keeps a coordinate) through the style engine, which
// rebuilds the layer: a caller must look the layer up again afterwards. The layer is named
// to the engine by its position in the output picture, so that layers sharing a name stay
// apart. A non-zero deferred leaves the redraw to the caller. 0 or the engine's error.
int SetLayerFrameAndPos(qvVmState* L, const qvLayer* layer, int32_t x, int32_t y, int32_t frame,
                        int deferred);

}  // namespace qv::scene
