// Pointer images (object type 36) and the mouse-pointer commands. A pointer that the script
// frees while a display shows it leaves the list at once but lives on until no display shows
// it, so that no window keeps a freed image.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

struct qvPlatformPointer;

enum : int32_t { STDPTR_SYSTEM = 0, STDPTR_BUSY = 1, STDPTR_CUSTOM = 2 };

struct qvPointer {
    qvObjectHeader header;  // type POINTER 36
    qvPlatformPointer* object;
    int32_t kind;  // STDPTR_*
    int32_t width, height;
    int32_t hotX, hotY;
};

namespace qv::gfx {

// The pointer with the id; 0, or ERR_FINDPOINTER (ERR_FINDARRAY for a handle).
int FindPointer(qvObjectId id, qvPointer** out);
// Frees the pointers the script freed that no display shows any more (after a display
// changed its pointer or closed).
void ReleaseUnshownPointers();
// Shutdown: every pointer, listed or kept.
void FreeAllPointers();

}  // namespace qv::gfx

int MovePointer(qvVmState* L);
int HidePointer(qvVmState* L);
int ShowPointer(qvVmState* L);
int SetPointer(qvVmState* L);
int CreatePointer(qvVmState* L);
int FreePointer(qvVmState* L);
