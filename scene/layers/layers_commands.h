// The "layers" library's handlers that live outside layers_library.cpp, and the object
// layers its commands make. Private to the library.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

namespace qv::scene {

// Collision tests (collision.cpp).
int Collision(qvVmState* L);
// Move queues (move_queues.cpp).
int AddMove(qvVmState* L);
int ClearMove(qvVmState* L);

// A layer of the object (BRUSH, ANIM or TEXTOBJECT) at the insert position, (x, y) resolved
// against its size; hidden when asked. 0, ERR_WRONGUSAGE for another type, or the lookup's
// or AddLayer's error.
int InsertObjectLayer(qvVmState* L, uint32_t type, qvObjectId id, int32_t x, int32_t y,
                      int32_t position, int hidden);

// A layer of frame (from 0) of the anim with the id; AddLayer's result.
int AddAnimLayer(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int32_t width, int32_t height,
                 int32_t frame, int32_t frameCount, int32_t insertPos, int flags);

}  // namespace qv::scene
