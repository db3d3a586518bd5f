// The draw state: the one global record of fill style, form style, border, shadow and line
// width that every shape copies when it is drawn, its clamps, and the vertex-table reader
// shared by the polygon command and the layer style engine.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/gradient.h"
#include "objects/draw/outline.h"
#include "runtime/objects.h"

namespace qv::draw {

// Fill styles.
enum : int32_t { FILLNONE = 0, FILLCOLOR = 1, FILLGRADIENT = 2, FILLTEXTURE = 3 };

// Form style flags, shared with the text library.
enum : uint32_t { NORMAL = 1, ANTIALIAS = 16, SHADOW = 32, EDGE = 64 };

// Border and shadow sizes, and the shadow direction a bad one falls back to
// (SHDWSOUTHEAST).
inline constexpr int32_t kMinEffectSize = 1;
inline constexpr int32_t kMaxEffectSize = 64;
inline constexpr uint32_t kDefaultShadowDirection = 3;

}  // namespace qv::draw

struct qvDrawState {
    int32_t fillStyle;
    uint32_t formStyle;
    qvGradient gradient;       // of FILLGRADIENT
    qvObjectId textureBrush;   // of FILLTEXTURE, looked up only when a shape is filled
    int32_t borderSize;        // EDGE
    uint32_t borderColour;     // 0xAARRGGBB, the top byte a transparency
    int32_t shadowSize;        // SHADOW: the distance
    uint32_t shadowDirection;  // SHDWNORTH 0 clockwise to SHDWNORTHWEST 7
    uint32_t shadowColour;
    int32_t lineWidth;  // of outline shapes
    int32_t textureX, textureY;
};

// The defaults of registration: no fill, NORMAL, a blue-to-black linear gradient, border 2
// in 0x0093DD, shadow 4 to the south-east in black, line width 1.
void ResetDrawState(qvDrawState* state);

// The global draw state.
qvDrawState* GetDrawState();

// In place: line width at least 1, border and shadow sizes 1 to 64, a shadow direction
// above 7 becomes 3, a fill style outside 0-3 becomes FILLNONE.
void ClampStyleParams(qvDrawState* state);

// A vertex table read into doubles relative to its box.
struct qvPolygonTable {
    qv::draw::PolygonPoints points;
    int32_t count;          // the closing point included
    int32_t width, height;  // of the box of the rounded coordinates
    int32_t minX, minY;     // the rounded minimum, taken from every point
};

// Reads the flat table t[0] = x1, t[1] = y1, ... at argument idx: count points, or with count
// 0 up to the first missing x. The first point is appended when the last differs from it.
// 0, or ERR_TABEXPECTED (not a table), ERR_WRONGUSAGE (fewer than 2 points), ERR_INTERNAL (an
// open-ended table of more than 999 points), ERR_NUMTABLEARG "polygon" (a vertex that is no
// number) or ERR_MEM.
int ReadPolygonTable(qvVmState* L, int idx, int32_t count, qvPolygonTable* out);
