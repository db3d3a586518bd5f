#include "objects/draw/draw_library.h"

#include <iterator>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "gfx/clip.h"
#include "objects/draw/draw_commands.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/lines.h"
#include "objects/draw/shape_redraw.h"
#include "objects/draw_tags.h"
#include "runtime/arguments.h"
#include "runtime/exports.h"
#include "runtime/option_tables.h"
#include "scene/gradient_options.h"
#include "scene/layers/transform_matrix.h"

namespace qv::draw {
namespace {

qvShapeWork shapeWork;

int32_t IntArg(qvVmState* L, int idx) {
    return Trunc32(GetArgNumber(L, idx));
}

// Line(x1, y1, x2, y2 [, colour] [, tags or thickness] [, rotation]): a rotation counts only
// as the last argument after a thickness (a tag table brings its own).
int Line(qvVmState* L) {
    CheckArgCount(L, 4, 7);
    const int count = VmGetTop(L);
    qvLineDesc line{IntArg(L, 1),
                    IntArg(L, 2),
                    IntArg(L, 3),
                    IntArg(L, 4),
                    GetOptArgUInt32(L, 5, 0),
                    1,
                    GetDrawState(),
                    nullptr,
                    nullptr,
                    nullptr,
                    0,
                    nullptr};
    const LineBox box = LineBoxOf(line.x1, line.y1, line.x2, line.y2);
    const int32_t width = Saturate32(box.width), height = Saturate32(box.height);
    qvDrawTransform transform;
    qvDrawStyle style;
    if (count >= 6 && VmType(L, 6) == VM_TTABLE) {
        if (const int code = ParseDrawTags(L, 6, width, height, width, height, 0, &transform,
                                           &style, QV_DRAWTAGS_RESET | QV_DRAWTAGS_NOSIZE)) {
            return code;
        }
        GetTableFieldInt(L, 6, "thickness", &line.thickness, nullptr);
    } else {
        ResetDrawTags(&transform, &style, width, height, 0, 0);
        if (count >= 6 && VmType(L, 6) == VM_TNUMBER) {
            line.thickness = IntArg(L, 6);
            if (count == 7) {
                transform.rotate = IntArg(L, 7) % 360;
                transform.hasTransform = transform.rotate != 0 ? 1 : 0;
                MakeTransformMatrix(transform.matrix, 0, 0, 0, 0, transform.rotate, 1, 1);
            }
        }
    }
    line.transform = &transform;
    line.style = &style;
    return DrawLineEx(L, line, 0);
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

// The state changes only once every argument is read: a gradient whose options fail
// leaves the previous fill in place.
int SetFillStyle(qvVmState* L) {
    CheckArgCount(L, 1, 6);
    qvDrawState state = *GetDrawState();
    const int32_t style = IntArg(L, 1);
    state.fillStyle = style;
    int code = 0;
    switch (style) {
        case FILLNONE:
            state.lineWidth = Trunc32(GetOptArgNumber(L, 2, 1));
            break;
        case FILLCOLOR:
            break;
        case FILLGRADIENT:
            state.gradient = qvGradient{};
            state.gradient.style = IntArg(L, 2);
            state.gradient.startColour = GetArgUInt32(L, 3);
            state.gradient.endColour = GetArgUInt32(L, 4);
            // The angle (argument 5) and the table of colour stops (6), as the picture
            // commands read them.
            if (const int failed = ParseGradientOptions(L, &state.gradient, 5)) return failed;
            break;
        case FILLTEXTURE:
            state.textureBrush = GetObjectIdArg(L, 2);
            state.textureX = Trunc32(GetOptArgNumber(L, 3, 0));
            state.textureY = Trunc32(GetOptArgNumber(L, 4, 0));
            break;
        default:
            state.fillStyle = FILLNONE;
            code = ERR_WRONGUSAGE;
            break;
    }
    ClampStyleParams(&state);
    *GetDrawState() = state;
    return code;
}

constexpr qvCommandEntry kDrawCommands[] = {
    {"Box", Box},
    {"Plot", Plot},
    {"Ellipse", Ellipse},
    {"Line", Line},
    {"Circle", Circle},
    {"Polygon", Polygon},
    {"SetFillStyle", SetFillStyle},
    {"ReadPixel", ReadPixel},
    {"Cls", Cls},
    {"Arc", Arc},
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
    InstallShapeLayerRenderers();
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kDrawCommands, 0);
    VmSetTop(L, -2);
    RegisterConstants(L, kDrawConstants, 0);
    return RegisterCommandTable(kDrawCommands, "draw");
}

void FreeDrawBuffers(qvVmState*) {
    FreeShapeWork(&qv::draw::shapeWork);
}
