// The "layers" library's handlers that live outside layers_library.cpp, and the object
// layers its commands make. Private to the library.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

struct qvLayer;

namespace qv::scene {

// Collision tests (collision.cpp).
int Collision(qvVmState* L);
// Move queues (move_queues.cpp) and their run (move_queue_run.cpp).
int AddMove(qvVmState* L);
int ClearMove(qvVmState* L);
int DoMove(qvVmState* L);
int NextFrame(qvVmState* L);
// The short restyling commands (layer_commands.cpp).
int SetLayerFilter(qvVmState* L);
int SetLayerAnchor(qvVmState* L);
int TransformLayer(qvVmState* L);
int RotateLayer(qvVmState* L);
int ScaleLayer(qvVmState* L);
int SetLayerTint(qvVmState* L);  // also SetLayerLight
int SetLayerTransparency(qvVmState* L);

// Puts the stack top back where it was at construction, on every path out.
class RestoreStackTop {
public:
    explicit RestoreStackTop(qvVmState* L) : L_(L), top_(VmGetTop(L)) {}
    ~RestoreStackTop() { VmSetTop(L_, top_); }
    RestoreStackTop(const RestoreStackTop&) = delete;
    RestoreStackTop& operator=(const RestoreStackTop&) = delete;

private:
    qvVmState* L_;
    int top_;
};

// A layer of the object (BRUSH, ANIM or TEXTOBJECT) at the insert position, (x, y) resolved
// against its size; hidden when asked. 0, ERR_WRONGUSAGE for another type, or the lookup's
// or AddLayer's error.
int InsertObjectLayer(qvVmState* L, uint32_t type, qvObjectId id, int32_t x, int32_t y,
                      int32_t position, int hidden);

// InsertLayer's record step, the guard passed: the object's layer at the insert position (0 or
// past the top: on top), not refreshed, in *layer. 0, ERR_INVINSERT for a negative position,
// or InsertObjectLayer's error.
int InsertLayerRecord(qvVmState* L, uint32_t type, qvObjectId id, int32_t x, int32_t y,
                      int32_t position, int hidden, qvLayer** layer);

// A layer of frame (from 0) of the anim with the id; AddLayer's result.
int AddAnimLayer(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int32_t width, int32_t height,
                 int32_t frame, int32_t frameCount, int32_t insertPos, int flags);

}  // namespace qv::scene
