// Asynchronous drawing objects: a transition, an object movement or an animation that the
// script draws one frame per call of AsyncDrawFrame. The producer creates the object with
// AddAsyncDraw and drives it through its callbacks and its message handler.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

struct qvDisplay;

// Kinds of producer.
enum : int32_t { ADF_FX = 0, ADF_MOVEOBJECT = 1, ADF_ANIM = 2 };

// Messages of the handler. 0 and 1 come from the layers (a layer is being replaced, a
// layer's geometry or buffers changed); 2-8 from this list. The argument points at: the
// frame to jump to (4, int32_t), where the drawn object is stored (6, void*), where the
// query's answer is stored (7, void*), the begin (1) or end (0) flag (8, int32_t). Handlers
// answer messages they do not know with 0.
enum : int32_t {
    kAsyncLayerReplaced = 0,
    kAsyncLayerChanged = 1,
    kAsyncFrameCount = 2,
    kAsyncCurrentFrame = 3,
    kAsyncJumpToFrame = 4,
    kAsyncShowFrame = 5,
    kAsyncDrawnObject = 6,
    kAsyncQuery = 7,
    kAsyncBackgroundDrawing = 8,
};

using qvAsyncStepFn = int (*)(void* userData, int32_t* finished);  // 0 or an error code
using qvAsyncFinishFn = void (*)(void* userData, int32_t finished);
using qvAsyncFreeFn = void (*)(void* userData, int32_t afterFinish);
using qvAsyncHandlerFn = intptr_t (*)(int32_t message, void* argument, void* userData);

struct qvAsyncDraw {
    qvObjectHeader header;  // type ASYNCDRAW 37
    qvDisplay* display;     // current when the object was made
    int32_t kind;           // ADF_*
    int32_t finished;       // set by the step callback
    qvAsyncStepFn step;
    intptr_t value;  // the producer's own
    qvAsyncFinishFn finish;
    qvAsyncFreeFn free;
    qvAsyncHandlerFn handler;
    void* userData;
};

// Appends a new object for the current display; *object (when given) receives it. 0 or
// ERR_MEM.
int AddAsyncDraw(int32_t kind, qvAsyncStepFn step, intptr_t value, qvAsyncFinishFn finish,
                 qvAsyncFreeFn free, qvAsyncHandlerFn handler, void* userData,
                 qvAsyncDraw** object);
// 1 when some object belongs to the display.
int DisplayHasAsyncDraws(const qvDisplay* display);
// The first non-zero answer to the query among the ADF_FX objects, else none.
void* QueryAsyncDraws();
// Sends the message to every object's handler; always 0.
int BroadcastAsyncDraws(int32_t message, void* argument);
// 1 when some handler names object as what it draws.
int IsObjectUsedByAsyncDraw(const void* object);
// Calls every free callback with 0, releases the object data and frees every record.
void FreeAsyncDraws(qvVmState* L);

int AsyncDrawFrame(qvVmState* L);
int CancelAsyncDraw(qvVmState* L);
int FinishAsyncDraw(qvVmState* L);

namespace qv::gfx {

// The object with the id; 0, or ERR_FINDASYNCDRAW (ERR_FINDARRAY for a handle).
int FindAsyncDraw(qvObjectId id, qvAsyncDraw** out);

}  // namespace qv::gfx
