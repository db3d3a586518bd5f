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

void SetNumber(qvVmState* L, const char* key, double value) {
    VmPushString(L, key);
    VmPushNumber(L, value);
    VmSetTable(L, -3);
}

void SetString(qvVmState* L, const char* key, const char* value) {
    VmPushString(L, key);
    VmPushString(L, value != nullptr ? value : "");
    VmSetTable(L, -3);
}

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
        SetString(L, "name", qvLayerFilterNames[slot]);
        SetNumber(L, "priority", f.priority);
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
    SetNumber(L, "x", source->x);
    SetNumber(L, "y", source->y);
    SetNumber(L, "width", t.width);
    SetNumber(L, "height", t.height);
    SetNumber(L, "rotate", t.rotate);
    SetNumber(L, "scalex", t.scalex);
    SetNumber(L, "scaley", t.scaley);
    SetNumber(L, "anchorx", layer->anchorX);
    SetNumber(L, "anchory", layer->anchorY);
    SetNumber(L, "smoothscale", t.smoothscale);
    constexpr double kIdentity[4] = {1, 0, 0, 1};
    SetNumbers(L, "transform", t.hasTransform != 0 ? t.transformInput : kIdentity, 4);
    SetNumber(L, "transparency", layer->transparency);
    const qvLayerFilter& tint = layer->filters[kFilterTint];
    SetNumber(L, "tint", tint.ints[1]);
    SetNumber(L, "tintcolor", uint32_t(tint.ints[0]));
    SetNumber(L, "hidden", layer->hidden);
    VmPushString(L, "clipregion");
    if (const qvClipRegion* clip = source->clipRegion) {
        PushObjectId(L, {clip->header.id, clip->header.handle});
    } else {
        VmPushNumber(L, -1);
    }
    VmSetTable(L, -3);
    const qvShadowBlock& shadow = layer->shadow;
    SetNumber(L, "shadow", shadow.on);
    if (shadow.on != 0) {
        SetNumber(L, "shadowcolor", shadow.colour);
        SetNumber(L, "shadowdir", shadow.direction);
        SetNumber(L, "shadowsize", shadow.size);
        SetNumber(L, "shadowradius", shadow.radius);
        SetNumber(L, "shadowsigma", shadow.sigma);
    }
    const qvBorderBlock& border = layer->border;
    SetNumber(L, "border", border.on);
    SetNumber(L, "bordercolor", border.colour);
    SetNumber(L, "bordersize", border.size);
    SetNumber(L, "outlinethickness", border.size);
    SetNumber(L, "edgecolor", border.colour);
    SetNumber(L, "edgesize", border.size);
    SetFilters(L, layer);
    SetString(L, "group", layer->group);
    SetString(L, "name", layer->name);
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
    SetNumber(L, "formstyle", block->formStyle);
    SetNumber(L, "fillstyle", block->fillStyle);
    SetNumber(L, "gradientstyle", block->gradient.style);
    SetNumber(L, "gradientangle", block->gradient.angle);
    SetNumber(L, "gradientstartcolor", block->gradient.startColour);
    SetNumber(L, "gradientendcolor", block->gradient.endColour);
    VmPushString(L, "texturebrush");
    PushObjectId(L, block->textureBrush);
    VmSetTable(L, -3);
    SetNumber(L, "texturex", block->textureX);
    SetNumber(L, "texturey", block->textureY);
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
