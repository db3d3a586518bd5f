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

// Runs the engine on the layer argument (as it came) and the table that fill sets up from the
// other arguments. The table stands in for them during the call, so that the engine's messages
// name the command's own arguments 1 and 2; they are back in place afterwards.
template <typename Fill>
int RestyleLayer(qvVmState* L, Fill fill) {
    const int argCount = VmGetTop(L);
    VmNewTable(L);
    fill();
    VmInsert(L, 2);
    const int code = SetLayerProperties(L, 2, 0, 1);
    VmSetTop(L, argCount + 1);
    VmRemove(L, 2);
    return code;
}

// A percentage argument is read once where the script gave it, so that a refusal names that
// argument rather than the style table the engine reads it from.
void CheckPercentArg(qvVmState* L, int arg, double base, int allowOver100) {
    GetNumberOrPercentArg(L, arg, base, allowOver100, nullptr);
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
    CheckPercentArg(L, 2, 0, 1);
    CheckPercentArg(L, 3, 0, 1);
    return RestyleLayer(L, [&] {
        CopyArg(L, "width", 2);
        CopyArg(L, "height", 3);
        CopyOptionalSmooth(L, argCount, 4);
    });
}

int SetLayerTint(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    CheckPercentArg(L, 3, 255, 0);
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
