// The short restyling commands: each turns its arguments into a one-layer style table and runs
// the style engine on it, so that every limit, default and error is the engine's.
#include "engine/error_codes.h"
#include "runtime/arguments.h"
#include "runtime/option_tables.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/style_engine.h"

namespace qv::scene {
namespace {

// Copies argument arg into the table on top of the stack under key.
void CopyArg(qvVmState* L, const char* key, int arg) {
    VmPushString(L, key);
    VmPushValue(L, arg);
    VmSetTable(L, -3);
}

// Runs the engine on the layer argument (slot 1, as it came) and the table that fill sets up
// on top of the stack; what was pushed goes on every path.
template <typename Fill>
int RestyleLayer(qvVmState* L, Fill fill) {
    const RestoreStackTop restore(L);
    VmPushValue(L, 1);
    VmNewTable(L);
    fill();
    return SetLayerProperties(L, 2, 0, VmGetTop(L) - 1);
}

// The smoothscale key from argument arg when the script gave it (argCount arguments).
void CopyOptionalSmooth(qvVmState* L, int argCount, int arg) {
    if (argCount >= arg) CopyArg(L, "smoothscale", arg);
}

}  // namespace

int SetLayerFilter(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int type = VmType(L, 2);
    if (type != VM_TTABLE && type != VM_TNIL && !(type == VM_TNUMBER && VmToNumber(L, 2) == 0)) {
        return ERR_WRONGUSAGE;
    }
    return RestyleLayer(L, [&] {
        if (type == VM_TTABLE) {
            CopyArg(L, "filters", 2);
        } else {
            SetTableFieldInt(L, "clearfilters", 1);
        }
    });
}

int SetLayerAnchor(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    return RestyleLayer(L, [&] {
        CopyArg(L, "anchorx", 2);
        CopyArg(L, "anchory", 3);
    });
}

int TransformLayer(qvVmState* L) {
    CheckArgCount(L, 5, 6);
    const int argCount = VmGetTop(L);
    return RestyleLayer(L, [&] {
        VmPushString(L, "transform");
        VmNewTable(L);
        for (int i = 0; i < 4; ++i) {
            VmPushValue(L, 2 + i);
            VmRawSetI(L, -2, i);
        }
        VmSetTable(L, -3);
        CopyOptionalSmooth(L, argCount, 6);
    });
}

int RotateLayer(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const int argCount = VmGetTop(L);
    return RestyleLayer(L, [&] {
        CopyArg(L, "rotate", 2);
        CopyOptionalSmooth(L, argCount, 3);
    });
}

int ScaleLayer(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const int argCount = VmGetTop(L);
    return RestyleLayer(L, [&] {
        CopyArg(L, "width", 2);
        CopyArg(L, "height", 3);
        CopyOptionalSmooth(L, argCount, 4);
    });
}

int SetLayerTint(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    return RestyleLayer(L, [&] {
        CopyArg(L, "tintcolor", 2);
        CopyArg(L, "tint", 3);
    });
}

int SetLayerTransparency(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    return RestyleLayer(L, [&] { CopyArg(L, "transparency", 2); });
}

}  // namespace qv::scene
