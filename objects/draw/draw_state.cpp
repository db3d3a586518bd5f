#include "objects/draw/draw_state.h"

#include <algorithm>
#include <cmath>

#include "engine/error_codes.h"
#include "objects/draw/shape_geometry.h"
#include "runtime/errors.h"

namespace qv::draw {
namespace {

qvDrawState drawState = [] {
    qvDrawState state{};
    ResetDrawState(&state);
    return state;
}();

// Where a value of the vertex table goes when it is a number: false for nil (a missing
// value), ERR_NUMTABLEARG for any other type.
int ReadVertexValue(qvVmState* L, int table, int index, double* out, bool* present) {
    VmRawGetI(L, table, index);
    const int type = VmType(L, -1);
    *present = type != VM_TNIL;
    if (type == VM_TNUMBER) *out = VmToNumber(L, -1);
    VmSetTop(L, -2);
    return *present && type != VM_TNUMBER ? ErrorWithText(ERR_NUMTABLEARG, "polygon") : 0;
}

// Reads the points; with count 0 up to the first missing x, refusing a 1000th point.
int ReadVertices(qvVmState* L, int table, int32_t count, qvOutlinePoint* points, int32_t* read) {
    const bool openEnded = count == 0;
    const int32_t limit = openEnded ? kMaxPolygonPoints + 1 : count;
    int32_t n = 0;
    for (; n < limit; ++n) {
        double x = 0, y = 0;
        bool hasX = false, hasY = false;
        if (const int code = ReadVertexValue(L, table, 2 * n, &x, &hasX)) return code;
        if (!hasX && openEnded) break;
        if (n == kMaxPolygonPoints) return ERR_INTERNAL;
        if (const int code = ReadVertexValue(L, table, 2 * n + 1, &y, &hasY)) return code;
        if (!hasX || !hasY) return ErrorWithText(ERR_NUMTABLEARG, "polygon");
        points[n] = {x, y};
    }
    *read = n;
    return 0;
}

}  // namespace
}  // namespace qv::draw

using namespace qv::draw;

void ResetDrawState(qvDrawState* state) {
    *state = qvDrawState{};
    state->fillStyle = FILLNONE;
    state->formStyle = NORMAL;
    state->gradient.style = qv::gfx::LINEAR;
    state->gradient.startColour = 0x0000FF;
    state->gradient.endColour = 0x000000;
    state->borderSize = 2;
    state->borderColour = 0x0093DD;
    state->shadowSize = 4;
    state->shadowDirection = qv::draw::kDefaultShadowDirection;
    state->shadowColour = 0;
    state->lineWidth = 1;
}

qvDrawState* GetDrawState() {
    return &drawState;
}

void ClampStyleParams(qvDrawState* state) {
    state->lineWidth = std::max(state->lineWidth, 1);
    state->shadowSize = std::clamp(state->shadowSize, kMinEffectSize, kMaxEffectSize);
    state->borderSize = std::clamp(state->borderSize, kMinEffectSize, kMaxEffectSize);
    if (state->shadowDirection > 7) state->shadowDirection = qv::draw::kDefaultShadowDirection;
    if (uint32_t(state->fillStyle) > FILLTEXTURE) state->fillStyle = FILLNONE;
}

int ReadPolygonTable(qvVmState* L, int idx, int32_t count, qvPolygonTable* out) {
    if (VmType(L, idx) != VM_TTABLE) {
        SetErrorNumber(uint32_t(idx));
        return ERR_TABEXPECTED;
    }
    if (count < 0 || count > kMaxPolygonPoints) return ERR_WRONGUSAGE;
    PolygonPoints points = AllocPolygonPoints(kMaxPolygonPoints + 1);
    if (points == nullptr) return ERR_MEM;
    const int table = idx < 0 && idx > VM_REGISTRYINDEX ? VmGetTop(L) + idx + 1 : idx;
    int32_t n = 0;
    if (const int code = ReadVertices(L, table, count, points.get(), &n)) return code;
    if (n < 2) return ERR_WRONGUSAGE;
    if (!(points[n - 1] == points[0])) points[n++] = points[0];
    // The box is that of the rounded coordinates; the points keep their fractions.
    int32_t minX = RoundSaturate(points[0].x), minY = RoundSaturate(points[0].y);
    int64_t maxX = minX, maxY = minY;
    for (int32_t i = 1; i < n; ++i) {
        const int32_t x = RoundSaturate(points[i].x), y = RoundSaturate(points[i].y);
        minX = std::min(minX, x), maxX = std::max<int64_t>(maxX, x);
        minY = std::min(minY, y), maxY = std::max<int64_t>(maxY, y);
    }
    for (int32_t i = 0; i < n; ++i) points[i] = {points[i].x - minX, points[i].y - minY};
    out->points = std::move(points);
    out->count = n;
    out->width = int32_t(std::min<int64_t>(maxX - minX + 1, INT32_MAX));
    out->height = int32_t(std::min<int64_t>(maxY - minY + 1, INT32_MAX));
    out->minX = minX, out->minY = minY;
    return 0;
}
