#include "gfx/library/neighbours.h"

#include <cmath>

#include "gfx/geometry.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"

namespace qv::gfx {
namespace {

Neighbours* installed = nullptr;

// Rounded to the nearest integer, held within 32 bits (NaN: the lowest).
int32_t RoundSaturate(double value) {
    if (!(value >= double(INT32_MIN))) return INT32_MIN;
    if (value >= double(INT32_MAX)) return INT32_MAX;
    return int32_t(std::lrint(value));
}

}  // namespace

int32_t Neighbours::FindLayerArg(qvVmState* L, int idx) {
    if (VmType(L, idx) == VM_TSTRING) {
        SetErrorString(VmToString(L, idx));
        RaiseError(L, ERR_FINDLAYER);
    }
    if (!VmIsNumber(L, idx)) {
        SetErrorNumber(static_cast<uint32_t>(idx));
        RaiseError(L, ERR_STRORNUM);
    }
    return GetOptIntArg(L, idx, nullptr);
}

int Neighbours::RenderBGPicBitmap(qvVmState*, qvDisplayBitMap**, int32_t*, int32_t*) {
    SetErrorNumber(0);
    return ERR_FINDBGPIC;
}

int Neighbours::GetBrush(qvVmState*, qvObjectId id, PictureView*) {
    return ObjectNotFound(id, ERR_FINDBRUSH);
}

int Neighbours::GetSprite(qvVmState*, qvObjectId id, int32_t*, PictureView*) {
    return ObjectNotFound(id, ERR_FINDSPRITE);
}

void Neighbours::TransformPoints(const double matrix[4], int32_t width, int32_t height,
                                 std::span<qvVertex> points, double anchorX, double anchorY) {
    const double cx = TruncSaturate(width * anchorX), cy = TruncSaturate(height * anchorY);
    for (qvVertex& p : points) {
        const double dx = p.x - cx, dy = p.y - cy;
        p = {RoundSaturate(RoundSaturate(matrix[0] * dx + matrix[2] * dy) + cx),
             RoundSaturate(RoundSaturate(matrix[1] * dx + matrix[3] * dy) + cy)};
    }
}

Neighbours& Neighbour() {
    static Neighbours defaults;
    return installed != nullptr ? *installed : defaults;
}

void SetNeighbours(Neighbours* neighbours) {
    installed = neighbours;
}

}  // namespace qv::gfx
