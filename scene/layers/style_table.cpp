#include "scene/layers/style_table.h"

#include "engine/error_codes.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "objects/draw/draw_state.h"
#include "runtime/arguments.h"
#include "runtime/option_tables.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/gradient_options.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/style_rows.h"

namespace qv::scene {
namespace {

// A table of the numbers from index 0 under key.
template <typename Number>
void SetNumbers(qvVmState* L, const char* key, const Number* values, int count) {
    VmPushString(L, key);
    VmNewTable(L);
    for (int i = 0; i < count; ++i) {
        VmPushNumber(L, double(values[i]));
        VmRawSetI(L, -2, i);
    }
    VmSetTable(L, -3);
}

// One entry per enabled slot, in slot order: {name, priority, args}, the arguments in the
// order of the filter's argument kinds.
void SetFilters(qvVmState* L, const qvLayer* layer) {
    VmPushString(L, "filters");
    VmNewTable(L);
    int entry = 0;
    for (int slot = 0; slot < kLayerFilterCount; ++slot) {
        const qvLayerFilter& f = layer->filters[slot];
        if (f.enabled == 0) continue;
        VmNewTable(L);
        SetTableFieldString(L, "name", qvLayerFilterNames[slot]);
        SetTableFieldNumber(L, "priority", f.priority);
        double args[6] = {};
        int count = 0, ints = 0, reals = 0;
        for (FilterArgumentKind kind : kLayerFilterArguments[slot].kinds) {
            if (kind == kNoArgument) break;
            args[count++] = kind == kRealArgument ? double(f.reals[reals++]) : f.ints[ints++];
        }
        SetNumbers(L, "args", args, count);
        VmRawSetI(L, -2, entry++);
    }
    VmSetTable(L, -3);
}

void SetCommonKeys(qvVmState* L, const qvLayer* layer) {
    const qvLayerItem* source = layer->sourceItem;
    const qvDrawTransform& t = layer->transform;
    SetTableFieldNumber(L, "x", source->x);
    SetTableFieldNumber(L, "y", source->y);
    SetTableFieldNumber(L, "width", t.width);
    SetTableFieldNumber(L, "height", t.height);
    SetTableFieldNumber(L, "rotate", t.rotate);
    SetTableFieldNumber(L, "scalex", t.scalex);
    SetTableFieldNumber(L, "scaley", t.scaley);
    SetTableFieldNumber(L, "anchorx", layer->anchorX);
    SetTableFieldNumber(L, "anchory", layer->anchorY);
    SetTableFieldNumber(L, "smoothscale", t.smoothscale);
    constexpr double kIdentity[4] = {1, 0, 0, 1};
    SetNumbers(L, "transform", t.hasTransform != 0 ? t.transformInput : kIdentity, 4);
    SetTableFieldNumber(L, "transparency", layer->transparency);
    const qvLayerFilter& tint = layer->filters[kFilterTint];
    SetTableFieldNumber(L, "tint", tint.ints[1]);
    SetTableFieldNumber(L, "tintcolor", uint32_t(tint.ints[0]));
    SetTableFieldNumber(L, "hidden", layer->hidden);
    VmPushString(L, "clipregion");
    if (const qvClipRegion* clip = source->clipRegion) {
        PushObjectId(L, {clip->header.id, clip->header.handle});
    } else {
        VmPushNumber(L, -1);
    }
    VmSetTable(L, -3);
    const qvShadowBlock& shadow = layer->shadow;
    SetTableFieldNumber(L, "shadow", shadow.on);
    if (shadow.on != 0) {
        SetTableFieldNumber(L, "shadowcolor", shadow.colour);
        SetTableFieldNumber(L, "shadowdir", shadow.direction);
        SetTableFieldNumber(L, "shadowsize", shadow.size);
        SetTableFieldNumber(L, "shadowradius", shadow.radius);
        SetTableFieldNumber(L, "shadowsigma", shadow.sigma);
    }
    const qvBorderBlock& border = layer->border;
    SetTableFieldNumber(L, "border", border.on);
    SetTableFieldNumber(L, "bordercolor", border.colour);
    SetTableFieldNumber(L, "bordersize", border.size);
    SetTableFieldNumber(L, "outlinethickness", border.size);
    SetTableFieldNumber(L, "edgecolor", border.colour);
    SetTableFieldNumber(L, "edgesize", border.size);
    SetFilters(L, layer);
    SetTableFieldString(L, "group", layer->group);
    SetTableFieldString(L, "name", layer->name != nullptr ? layer->name : "");
}

// The picture GetLayerStyle reads: the shown one while a brush, mask or alpha channel is the
// output (with the layers flag saved at its selection), else the output picture.
int StylePicture(qvBGPic** picture) {
    gfx::BlitHost& host = gfx::Graphics().Host();
    qvDisplay* display = host.CurrentDisplay();
    if (display == nullptr) return ERR_NOLAYERS;
    const gfx::DisplayView view = host.ViewDisplay(display);
    const int32_t target = view.outputType;
    if (target == gfx::kTypeBrush || target == gfx::kTypeMask || target == gfx::kTypeAlphaChannel) {
        *picture = LayerDisplays().ShownPicture(display);
        return display->savedRenderState.layersEnabled != 0 ? 0 : ERR_NOLAYERS;
    }
    *picture = LayerDisplays().OutputPicture();
    return view.layersEnabled ? 0 : ERR_NOLAYERS;
}

}  // namespace

void PushLayerStyle(qvVmState* L, const qvLayer* layer) {
    VmNewTable(L);
    if (const LayerStyleRow* row = FindLayerStyleRow(layer->type); row && row->push) {
        row->push(L, layer);
    }
    SetCommonKeys(L, layer);
}

int ParseLayerFormStyle(qvVmState* L, int t, qvDrawState* block, qvShadowBlock* shadow,
                        qvBorderBlock* border, FormStyleChanges* changes) {
    constexpr uint32_t kSwitches = draw::SHADOW | draw::EDGE;
    const auto present = [changes](int read) {
        changes->rebuild = changes->rebuild || read != 0;
        return read != 0;
    };
    uint32_t bits = 0;
    if (present(GetTableFieldBool(L, t, "formstyle", &bits, nullptr))) {
        if ((bits & draw::NORMAL) != 0) {
            block->formStyle = draw::NORMAL;
        } else {
            if ((bits & draw::SHADOW) != 0) shadow->on = 1, changes->refresh = true;
            if ((bits & draw::EDGE) != 0) border->on = 1, changes->refresh = true;
            block->formStyle |= bits & ~kSwitches;
        }
    }
    if (present(GetTableFieldBool(L, t, "formstyleclear", &bits, nullptr))) {
        if ((bits & draw::SHADOW) != 0) shadow->on = 0, changes->refresh = true;
        if ((bits & draw::EDGE) != 0) border->on = 0, changes->refresh = true;
        block->formStyle &= ~(bits & ~kSwitches);
    }
    qvGradient& gradient = block->gradient;
    present(GetTableFieldInt(L, t, "fillstyle", &block->fillStyle, nullptr));
    present(GetTableFieldInt(L, t, "gradientstyle", &gradient.style, nullptr));
    present(GetTableFieldInt(L, t, "gradientangle", &gradient.angle, nullptr));
    // A new end colour drops the colour stops.
    if (present(GetTableFieldBool(L, t, "gradientstartcolor", &gradient.startColour, nullptr))) {
        gradient.stopCount = 0;
    }
    if (present(GetTableFieldBool(L, t, "gradientendcolor", &gradient.endColour, nullptr))) {
        gradient.stopCount = 0;
    }
    if (block->fillStyle == draw::FILLGRADIENT) {
        if (int code = BuildGradientStops(L, t, &gradient, kGradientTagKeys)) return code;
    }
    present(GetTableFieldId(L, t, "texturebrush", &block->textureBrush, nullptr));
    present(GetTableFieldInt(L, t, "texturex", &block->textureX, nullptr));
    present(GetTableFieldInt(L, t, "texturey", &block->textureY, nullptr));
    return 0;
}

void PushFormStyle(qvVmState* L, const qvDrawState* block) {
    SetTableFieldNumber(L, "formstyle", block->formStyle);
    SetTableFieldNumber(L, "fillstyle", block->fillStyle);
    SetTableFieldNumber(L, "gradientstyle", block->gradient.style);
    SetTableFieldNumber(L, "gradientangle", block->gradient.angle);
    SetTableFieldNumber(L, "gradientstartcolor", block->gradient.startColour);
    SetTableFieldNumber(L, "gradientendcolor", block->gradient.endColour);
    VmPushString(L, "texturebrush");
    PushObjectId(L, block->textureBrush);
    VmSetTable(L, -3);
    SetTableFieldNumber(L, "texturex", block->textureX);
    SetTableFieldNumber(L, "texturey", block->textureY);
}

}  // namespace qv::scene

using namespace qv::scene;

int GetLayerStyle(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBGPic* picture = nullptr;
    const int guard = StylePicture(&picture);
    const int32_t position = FindLayerArg(L, 1, picture);
    if (guard != 0) return guard;
    const qvLayer* layer = GetLayerByIndex(picture, position);
    if (layer == nullptr) return ERR_LAYERRANGE;
    PushLayerStyle(L, layer);
    return 1;
}
