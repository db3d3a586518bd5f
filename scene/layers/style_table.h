// The style table of a layer as GetLayerStyle returns it, and the form-style keys of shape
// and path layers that the style engine reads and GetLayerStyle writes. The keys that belong
// to an object type come from the type's style row (style_rows.h).
#pragma once

#include <cstdint>

#include "engine/vm.h"

struct qvDrawState;
struct qvLayer;
struct qvShadowBlock;
struct qvBorderBlock;

namespace qv::scene {

// Pushes one table: the type's keys, then the keys every layer has.
void PushLayerStyle(qvVmState* L, const qvLayer* layer);

// What reading form-style keys asks of the caller.
struct FormStyleChanges {
    bool refresh = false;  // the shadow or border was switched
    bool rebuild = false;  // a form, fill, gradient or texture key was read
};

// Reads the form, fill, gradient and texture keys of option table t into the block; the
// "formstyle" and "formstyleclear" bits 32 and 64 switch the layer's shadow and border. 0 or
// the readers' error (BuildGradientStops' for fill style 2).
int ParseLayerFormStyle(qvVmState* L, int t, qvDrawState* block, qvShadowBlock* shadow,
                        qvBorderBlock* border, FormStyleChanges* changes);
// Sets the form-style keys of the block into the table at the top of the stack.
void PushFormStyle(qvVmState* L, const qvDrawState* block);

}  // namespace qv::scene

// The command: the style table of a layer.
int GetLayerStyle(qvVmState* L);
