// Drawing into a brush's pixels, mask or alpha channel, and double buffering.
#include "gfx/library/object_types.h"
#include "objects/brush_library/commands.h"
#include "objects/output.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/display.h"
#include "scene/double_buffer.h"

namespace qv::brushes {
namespace {

// SelectMask and SelectAlphaChannel: id [, type [, frame]]; an anim needs its frame.
int SelectPlane(qvVmState* L, int32_t outputMode) {
    CheckArgCount(L, 1, 3);
    const qvObjectId id = GetObjectIdArg(L, 1);
    int typeNil = 0, frameNil = 0;
    int32_t type = GetOptIntArg(L, 2, &typeNil);
    if (typeNil != 0) type = gfx::kTypeBrush;
    const int32_t frame = GetOptIntArg(L, 3, &frameNil);
    if (type == gfx::kTypeAnim && frameNil != 0) return ERR_MISSINGPARAMTR;
    return objects::SelectOutputObject(L, uint32_t(type), id, outputMode, frame, 0, 0);
}

}  // namespace

int SelectBrush(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    const qvObjectId id = GetObjectIdArg(L, 1);
    const int32_t mode = GetOptIntArg(L, 2, nullptr);
    const int32_t combo = GetOptIntArg(L, 3, nullptr);
    return objects::SelectOutputObject(L, gfx::kTypeBrush, id, gfx::kTypeBrush, 0, mode, combo);
}

int SelectMask(qvVmState* L) {
    return SelectPlane(L, gfx::kTypeMask);
}

int SelectAlphaChannel(qvVmState* L) {
    return SelectPlane(L, gfx::kTypeAlphaChannel);
}

int BeginDoubleBuffer(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    return scene::BeginDoubleBuffer(L, GetOptIntArg(L, 1, nullptr));
}

int EndDoubleBuffer(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    return scene::EndDoubleBufferEx(scene::Displays().current);
}

int Flip(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    int wasNil = 0;
    const int32_t sync = GetOptIntArg(L, 1, &wasNil);
    return scene::Flip(L, wasNil != 0 ? 1 : sync);
}

}  // namespace qv::brushes
