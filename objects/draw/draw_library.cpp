#include "objects/draw/draw_library.h"

#include <iterator>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "objects/draw/draw_state.h"
#include "runtime/arguments.h"
#include "runtime/exports.h"

namespace qv::draw {
namespace {

qvShapeWork shapeWork;

int32_t IntArg(qvVmState* L, int idx) {
    return Trunc32(GetArgNumber(L, idx));
}

// Every later shape draws with width pixels for its outline.
int SetLineWidth(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const double width = GetArgNumber(L, 1);
    if (!(width >= 1)) return ERR_WRONGUSAGE;
    GetDrawState()->lineWidth = Trunc32(width);
    return 0;
}

// NORMAL turns every effect off but keeps their settings for the next time; SHADOW and EDGE
// take their colour, size (and the shadow's direction) from the further arguments; any other
// flag stands alone.
int SetFormStyle(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    const int count = VmGetTop(L);
    const uint32_t style = GetArgUInt32(L, 1);
    qvDrawState* state = GetDrawState();
    if (style & NORMAL) {
        state->formStyle = NORMAL;
        return 0;
    }
    if (style & SHADOW) {
        if (count >= 2) state->shadowColour = GetArgUInt32(L, 2);
        if (count >= 3) state->shadowSize = IntArg(L, 3);
        if (count >= 4) state->shadowDirection = GetArgUInt32(L, 4);
    } else if (style & EDGE) {
        if (count >= 2) state->borderColour = GetArgUInt32(L, 2);
        if (count >= 3) state->borderSize = IntArg(L, 3);
    } else if (count > 1) {
        return ERR_TOOMANYARGS;
    }
    state->formStyle |= style;
    // NORMAL stands only for "no effect".
    if (state->formStyle != NORMAL) state->formStyle &= ~NORMAL;
    ClampStyleParams(state);
    return 0;
}

int SetFillStyle(qvVmState* L) {
    CheckArgCount(L, 1, 6);
    qvDrawState* state = GetDrawState();
    const int32_t style = IntArg(L, 1);
    state->fillStyle = style;
    int code = 0;
    switch (style) {
        case FILLNONE:
            state->lineWidth = Trunc32(GetOptArgNumber(L, 2, 1));
            break;
        case FILLCOLOR:
            break;
        case FILLGRADIENT:
            state->gradient.style = IntArg(L, 2);
            state->gradient.startColour = GetArgUInt32(L, 3);
            state->gradient.endColour = GetArgUInt32(L, 4);
            break;
        case FILLTEXTURE:
            state->textureBrush = GetObjectIdArg(L, 2);
            state->textureX = Trunc32(GetOptArgNumber(L, 3, 0));
            state->textureY = Trunc32(GetOptArgNumber(L, 4, 0));
            break;
        default:
            state->fillStyle = FILLNONE;
            code = ERR_WRONGUSAGE;
            break;
    }
    ClampStyleParams(state);
    return code;
}

// The library's command list; Box, Plot, Ellipse, Line, Circle, Polygon, ReadPixel, Cls and
// Arc join it in the order Box, Plot, Ellipse, Line, Circle, Polygon, SetFillStyle, ReadPixel,
// Cls, Arc, SetFormStyle, SetLineWidth.
constexpr qvCommandEntry kDrawCommands[] = {
    {"SetFillStyle", SetFillStyle},
    {"SetFormStyle", SetFormStyle},
    {"SetLineWidth", SetLineWidth},
    {nullptr, nullptr},
};

constexpr qvConstant kDrawConstants[] = {
    {"BLACK", nullptr, 0x000000},
    {"MAROON", nullptr, 0x800000},
    {"GREEN", nullptr, 0x008000},
    {"OLIVE", nullptr, 0x808000},
    {"NAVY", nullptr, 0x000080},
    {"PURPLE", nullptr, 0x800080},
    {"TEAL", nullptr, 0x008080},
    {"GRAY", nullptr, 0x808080},
    {"SILVER", nullptr, 0xC0C0C0},
    {"RED", nullptr, 0xFF0000},
    {"LIME", nullptr, 0x00FF00},
    {"YELLOW", nullptr, 0xFFFF00},
    {"BLUE", nullptr, 0x0000FF},
    {"FUCHSIA", nullptr, 0xFF00FF},
    {"AQUA", nullptr, 0x00FFFF},
    {"WHITE", nullptr, 0xFFFFFF},
    {"FILLNONE", nullptr, FILLNONE},
    {"FILLCOLOR", nullptr, FILLCOLOR},
    {"FILLGRADIENT", nullptr, FILLGRADIENT},
    {"FILLTEXTURE", nullptr, FILLTEXTURE},
    {"BOX", nullptr, BOX},
    {"LINE", nullptr, LINE},
    {"CIRCLE", nullptr, CIRCLE},
    {"PLOT", nullptr, PLOT},
    {"ELLIPSE", nullptr, ELLIPSE},
    {"POLYGON", nullptr, POLYGON},
    {"ARC", nullptr, ARC},
    {nullptr, nullptr, 0},
};

}  // namespace

const qvShapeWork& DrawShapeWork() {
    return shapeWork;
}

std::span<const qvCommandEntry> DrawCommands() {
    return {kDrawCommands, std::size(kDrawCommands) - 1};
}

std::span<const qvConstant> DrawConstants() {
    return {kDrawConstants, std::size(kDrawConstants) - 1};
}

}  // namespace qv::draw

int RegisterDrawLibrary(qvVmState* L) {
    using namespace qv::draw;
    ResetDrawState(GetDrawState());
    if (const int code = AllocShapeWork(&shapeWork)) return code;
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kDrawCommands, 0);
    VmSetTop(L, -2);
    RegisterConstants(L, kDrawConstants, 0);
    return RegisterCommandTable(kDrawCommands, "draw");
}

void FreeDrawBuffers(qvVmState*) {
    FreeShapeWork(&qv::draw::shapeWork);
}
