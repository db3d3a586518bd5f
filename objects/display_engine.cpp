#include "objects/display_engine.h"

#include <algorithm>
#include <cmath>

#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "gfx/safe_blt.h"
#include "gfx/transform.h"
#include "objects/brush.h"
#include "objects/object_neighbours.h"
#include "objects/scene_seam.h"
#include "runtime/errors.h"
#include "scene/bgpic.h"
#include "scene/display_engine.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/filter_pass.h"
#include "scene/layers/layer_transform.h"

namespace qv {
namespace {

using gfx::kTypeAnim;
using gfx::kTypeBGPicPart;
using gfx::kTypeBrush;
using gfx::kTypeBrushPart;

// The number that names the picture the current display shows.
constexpr uint32_t kShownPicture = 0xFFFFFFFF;

bool IsIdentity(const double m[4]) {
    return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1;
}

bool IsPureScale(const double m[4]) {
    return m[1] == 0 && m[2] == 0 && m[0] >= 0 && m[3] >= 0;
}

// The picture one call shows: the object's own planes, or private copies that the call owns.
struct Source {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = nullptr;
    int32_t width = 0, height = 0;  // the usable size of the planes
    gfx::NewPicture owned;
    // Of a brush.
    int32_t type = kBitmapBrush;
    bool hardware = false;
    const qvImageHandle* vectorSource = nullptr;
    // Of a picture part.
    qvBGPic* picture = nullptr;

    bool Private() const { return owned.bitmap != nullptr; }
    void Adopt(gfx::NewPicture planes, int32_t w, int32_t h) {
        owned = std::move(planes);
        bitmap = owned.bitmap.get(), mask = owned.mask.get(), alpha = owned.alpha.get();
        width = w, height = h;
    }
};

// One call's working set.
struct Work {
    qvDisplayBrushArgs args;
    Source source;
    qvDrawTransform transform;
    qvDrawStyle style;
    bool layersOn = false;
    qvDisplayBitMap* output = nullptr;        // a redirected output's bitmap; none: the display
    int32_t plainWidth = 0, plainHeight = 0;  // the part's size before the transformation
};

bool SamePair(qvObjectId a, qvObjectId b) {
    return a.number == b.number && a.handle == b.handle;
}

// Drawing into the object that is about to be shown goes back to the display first.
int EndRedirectionInto(qvVmState* L, uint32_t type, qvObjectId id) {
    uint32_t outputType = 0;
    qvObjectId output{};
    if (!objects::Scene().RedirectedOutput(&outputType, &output)) return 0;
    if (outputType != type || !SamePair(output, id)) return 0;
    return objects::Scene().EndRedirection(L);
}

int FindBrushSource(qvVmState* L, Work* w) {
    const qvDisplayBrushArgs& a = w->args;
    if (const int code = EndRedirectionInto(L, kTypeBrush, a.id)) return code;
    int flags = 0;
    if ((a.flags & QV_SHOW_REINSERT) != 0) flags |= QV_BRUSH_ORPHANS;
    if (objects::Scene().HardwareDoubleBuffering()) flags |= QV_BRUSH_HARDWARE;
    qvBrush* brush = nullptr;
    if (const int code = GetBrush(L, a.id, &brush, flags)) return code;
    if (brush->type == kVectorBrush) {
        if (a.kind == kTypeBrushPart) return ERR_BRUSHTYPE;
        if (w->layersOn && brush->transformedVector != 0) return ERR_TFVBRUSH;
        w->source.vectorSource = brush->imageSource;
    }
    Source& s = w->source;
    s.bitmap = brush->bitmap, s.mask = brush->mask, s.alpha = brush->alpha;
    s.width = brush->width, s.height = brush->height;
    s.type = brush->type;
    s.hardware = brush->hardware != 0;
    if (a.kind == kTypeBrush) w->args.width = brush->width, w->args.height = brush->height;
    return 0;
}

int FindPictureSource(qvVmState* L, Work* w) {
    qvObjectId id = w->args.id;
    if (id.handle == nullptr && id.number == kShownPicture) {
        const qvBGPic* shown = scene::Host().CurrentDisplayPicture();
        if (shown == nullptr) return ObjectNotFound(id, ERR_FINDBGPIC);
        id = {shown->header.id, shown->header.handle};
    }
    const int flags = (w->args.flags & QV_SHOW_REINSERT) != 0 ? QV_BGPIC_ORPHANS : 0;
    qvBGPic* picture = nullptr;
    if (const int code = GetBGPic(L, id, &picture, flags)) return code;
    // Drawing reads a picture at its logical size, which its scaled set has.
    Source& s = w->source;
    s.picture = picture;
    s.bitmap = picture->scaled.bitmap, s.mask = picture->scaled.mask;
    s.alpha = picture->scaled.alpha;
    s.width = picture->width, s.height = picture->height;
    return 0;
}

int FindSource(qvVmState* L, Work* w) {
    switch (w->args.kind) {
        case kTypeBrush:
        case kTypeBrushPart:
            return FindBrushSource(L, w);
        case kTypeBGPicPart:
            return FindPictureSource(L, w);
        case kTypeAnim:
            // No animation is kept in memory yet: every one is missing.
            if (const int code = EndRedirectionInto(L, kTypeAnim, w->args.id)) return code;
            return ObjectNotFound(w->args.id, ERR_FINDANIM);
        default:
            return ERR_WRONGUSAGE;
    }
}

int ReadTags(qvVmState* L, Work* w) {
    const qvDisplayBrushArgs& a = w->args;
    if (a.style != nullptr) {
        w->style = *a.style;
    } else {
        ResetStyleBlock(&w->style);
    }
    if (a.transform != nullptr) {
        w->transform = *a.transform;
        if ((a.flags & QV_SHOW_REINSERT) != 0) {
            objects::Scene().ApplyLayerTransform(&w->transform, a.width, a.height);
        }
        return 0;
    }
    if (a.tagArgIndex == 0) {
        ResetDrawTags(&w->transform, &w->style, a.width, a.height, 0, 0);
        return 0;
    }
    // Picture parts ignore a last argument that is no table.
    const int flags =
        a.kind == kTypeBGPicPart ? QV_DRAWTAGS_RESET : QV_DRAWTAGS_RESET | QV_DRAWTAGS_NEEDTABLE;
    return ParseDrawTags(L, a.tagArgIndex, a.width, a.height, a.width, a.height, 0, &w->transform,
                         a.style != nullptr ? nullptr : &w->style, flags);
}

// Resolves the position constants and cuts the part to the object.
int PlacePart(Work* w) {
    qvDisplayBrushArgs& a = w->args;
    const Source& s = w->source;
    a.x = ResolvePosX(a.x, a.width, 0, w->transform.anchorx);
    a.y = ResolvePosY(a.y, a.height, 0, w->transform.anchory);
    a.srcX = ResolvePosX(a.srcX, a.width, s.width, 0);
    a.srcY = ResolvePosY(a.srcY, a.height, s.height, 0);
    // A picture part at -1 goes where it lies in the picture.
    if (a.kind == kTypeBGPicPart) {
        if (a.x == -1) a.x = a.srcX;
        if (a.y == -1) a.y = a.srcY;
    }
    if (a.srcX < 0 || a.srcY < 0) return ERR_NEGCOORDS;
    if (a.srcX >= s.width || a.srcY >= s.height) return ERR_COORDSRANGE;
    a.width = std::min(a.width, s.width - a.srcX);
    a.height = std::min(a.height, s.height - a.srcY);
    return 0;
}

// Makes the part a private copy (at 0, 0) unless it is one already.
int MakePrivate(Work* w) {
    Source& s = w->source;
    if (s.Private()) return 0;
    qvDisplayBrushArgs& a = w->args;
    gfx::NewPicture copy;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (const int code = CopyBitmapArea(s.bitmap, s.mask, s.alpha, a.srcX, a.srcY, a.width,
                                        a.height, 0, &bitmap, &mask, &alpha)) {
        return code;
    }
    copy.bitmap.reset(bitmap), copy.mask.reset(mask), copy.alpha.reset(alpha);
    s.Adopt(std::move(copy), a.width, a.height);
    a.srcX = a.srcY = 0;
    return 0;
}

// A picture part shown as it is on screen, layers included, or returned to the transitions.
// Sets *done when the call ends here.
int TakePictureSnapshot(qvVmState* L, Work* w, bool* done) {
    qvDisplayBrushArgs& a = w->args;
    Source& s = w->source;
    if (a.wholePicture != 0) {
        qvDisplayBitMap* rendered = nullptr;
        bool owned = false;
        if (const int code = scene::RenderBGPicBitmap(L, s.picture, a.srcX, a.srcY, a.width,
                                                      a.height, &rendered, &owned)) {
            return code;
        }
        const int32_t width = owned ? s.picture->width : rendered->width;
        const int32_t height = owned ? s.picture->height : rendered->height;
        if (owned) {
            gfx::NewPicture planes;
            planes.bitmap.reset(rendered);
            s.Adopt(std::move(planes), width, height);
        } else {
            s.bitmap = rendered, s.mask = nullptr, s.alpha = nullptr;
            s.width = width, s.height = height;
        }
        return 0;
    }
    if (a.outBitmap == nullptr) return 0;
    *done = !w->layersOn;
    if (w->layersOn) return 0;
    if (a.srcX == 0 && a.srcY == 0 && a.width == s.width && a.height == s.height) {
        *a.outBitmap = s.bitmap;
        return 0;
    }
    qvDisplayBitMap* copy = nullptr;
    if (const int code = CopyBitmapArea(s.bitmap, nullptr, nullptr, a.srcX, a.srcY, a.width,
                                        a.height, 0, &copy, nullptr, nullptr)) {
        return code;
    }
    *a.outBitmap = copy;
    if (a.outOwned != nullptr) *a.outOwned = 1;
    return 0;
}

// With layers off: the transform, the filters and the transparency of the tags, each on a
// private copy.
int ApplyTags(qvVmState* L, Work* w) {
    qvDisplayBrushArgs& a = w->args;
    Source& s = w->source;
    if (!IsIdentity(w->transform.matrix)) {
        const int mode = s.type == kVectorBrush ? QV_TRANSFORM_VECTOR : QV_TRANSFORM_BITMAPS;
        const qvTransformSource from{s.vectorSource,
                                     {s.bitmap, s.mask, s.alpha, s.width, s.height},
                                     a.srcX,
                                     a.srcY,
                                     a.x,
                                     a.y,
                                     a.width,
                                     a.height};
        qvTransformedPicture done;
        if (const int code =
                TransformBrushBitmaps(L, mode, from, w->transform.anchorx, w->transform.anchory,
                                      w->transform.matrix, w->transform.smoothscale, &done)) {
            return code;
        }
        s.Adopt(std::move(done.planes), done.width, done.height);
        a.srcX = a.srcY = 0;
        a.width = done.width, a.height = done.height;
    }
    if (AnyFilterEnabled(w->style.filters)) {
        if (s.hardware) return ERR_HWBRUSHFUNC;
        if (const int code = MakePrivate(w)) return code;
        if (const int code =
                ApplyLayerFilters(w->style.filters, s.bitmap, s.mask, s.alpha, s.width, s.height)) {
            return code;
        }
    }
    if (w->style.transparency != 0) {
        if (s.hardware) return ERR_HWBRUSHFUNC;
        if (const int code = MakePrivate(w)) return code;
        qvPlaneBitMap* mask = s.owned.mask.release();
        qvPlaneBitMap* alpha = s.owned.alpha.release();
        const int code = ApplyTransparency(w->style.transparency, &mask, &alpha, s.width, s.height);
        s.owned.mask.reset(mask), s.owned.alpha.reset(alpha);
        s.mask = mask, s.alpha = alpha;
        if (code != 0) return code;
    }
    return 0;
}

// With layers on: the layer list gets the object (and a snapshot of a picture part). Returns
// whether the object is also drawn directly.
int AddLayer(qvVmState* L, Work* w, bool* drawToo) {
    const qvDisplayBrushArgs& a = w->args;
    Source& s = w->source;
    objects::ObjectLayer layer{a.target, a.kind,  a.id,    a.frame,  a.srcX,        a.srcY,
                               a.x,      a.y,     a.width, a.height, &w->transform, &w->style,
                               nullptr,  nullptr, nullptr, -1,       a.flags | 2};
    if ((a.flags & QV_SHOW_REINSERT) != 0) layer.insertPosition = a.insertPosition;
    if (a.kind == kTypeBGPicPart && a.wholePicture != 0) {
        if (s.Private()) {
            layer.bitmap = s.owned.bitmap.release();
        } else if (const int code = CopyBitmapArea(s.bitmap, nullptr, nullptr, 0, 0, s.width,
                                                   s.height, 0, &layer.bitmap, nullptr, nullptr)) {
            return code;
        }
        // The snapshot goes to the layer; the blit below reads the picture as shown.
        s.bitmap = layer.bitmap;
        s.owned.bitmap.release();
    }
    if (const int code = objects::Scene().AddObjectLayer(L, layer)) return code;
    *drawToo = IsIdentity(w->transform.matrix) && (a.flags & QV_SHOW_LAYERONLY) == 0 &&
               w->style.anyStyle == 0;
    return 0;
}

// With layers on, whether the part drawn straight to the window is what composing its
// rectangle shows: opaque, unclipped, unscaled, and the top layer alone showing it there.
bool ComposesToItself(qvVmState* L, const Work& w, const qvDisplayBrushArgs& a,
                      const gfx::DisplayView& view, const gfx::OutputPicture& output) {
    const Source& s = w.source;
    return s.mask == nullptr && s.alpha == nullptr && output.clipRegion == nullptr &&
           view.targetMask == nullptr && view.targetAlpha == nullptr && !view.doubleBuffered &&
           !view.AutoscaleActive() &&
           objects::Scene().TopLayerShowsAlone(L, s.bitmap, a.srcX, a.srcY, a.x, a.y, a.width,
                                               a.height);
}

// Draws the part straight into the current output.
void Draw(qvVmState* L, const Work& w) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr) return;
    const gfx::DisplayView view = graphics.View(display);
    qvDisplayBrushArgs a = w.args;
    // The anchor point, taken on the size before the transformation, lands on (x, y) where the
    // transformation carries it, as the layer of the same call is placed.
    // (Saturating: a part placed near -2^31 stays at the limit rather than wrap.)
    double pivotX = 0, pivotY = 0;
    TransformedPivot(w.transform.matrix, w.plainWidth, w.plainHeight,
                     w.plainWidth * w.transform.anchorx, w.plainHeight * w.transform.anchory,
                     &pivotX, &pivotY);
    a.x = Saturate32(int64_t{a.x} - gfx::TruncSaturate(pivotX));
    a.y = Saturate32(int64_t{a.y} - gfx::TruncSaturate(pivotY));
    if (view.outputType == gfx::kTargetBGPic) {
        // Drawn into the shown picture: its new layer is painted when the selection ends.
        RefreshRect(L, a.x, a.y, a.width, a.height);
        return;
    }
    objects::DisplayScaling scaling;
    if (view.outputType == gfx::kTargetDisplay && objects::Scene().LayerScaling(&scaling)) {
        // The compositor shows what a scaled display's layers hold.
        if (scaling.scaleX != 1 || scaling.scaleY != 1) return;
    } else if (view.doubleBuffered) {
        objects::Scene().AddDirtyRect(L, a.x, a.y, a.width, a.height);
    }
    const gfx::OutputPicture output = graphics.Host().CurrentOutputPicture();
    const Source& s = w.source;
    // The display keeps what is drawn in its bitmap, from which the window is refreshed; with
    // layers on the rectangle is composed again from the layers, the new one among them,
    // unless that shows the part as it is.
    const bool recompose = !w.layersOn || !ComposesToItself(L, w, a, view, output);
    const uint32_t flags = w.output != nullptr ? 0u
                           : recompose         ? uint32_t(QV_BLIT_BACKBUFFER | QV_BLIT_RECOMPOSE)
                                               : uint32_t(QV_BLIT_BACKBUFFER);
    SafeBlt(L, s.bitmap, a.srcX, a.srcY, w.output, a.x, a.y, a.width, a.height, s.width, s.height,
            output.width, output.height, flags, s.mask, s.alpha, output.clipRegion);
}

}  // namespace
}  // namespace qv

using namespace qv;

int DisplayBrushEx(qvVmState* L, const qvDisplayBrushArgs& args) {
    if (args.outOwned != nullptr) *args.outOwned = 0;
    if (args.outBitmap != nullptr) *args.outBitmap = nullptr;
    if ((args.flags & QV_SHOW_RERENDER) != 0) {
        return objects::Scene().RenderLayerAgain(L, args.layer, args.transform);
    }
    Work w{args, {}, {}, {}, false};
    qvDisplay* display = gfx::Graphics().Host().CurrentDisplay();
    w.layersOn = display != nullptr && gfx::Graphics().View(display).layersEnabled;
    if (const int code = FindSource(L, &w)) return code;
    if (w.args.width < 1 || w.args.height < 1) return ERR_BADDIMENSIONS;
    if (const int code = ReadTags(L, &w)) return code;
    if (const int code = PlacePart(&w)) return code;
    w.plainWidth = w.args.width, w.plainHeight = w.args.height;
    if (const int code = objects::Scene().FetchOutputBitmaps(L, &w.output)) return code;
    if (w.args.kind == kTypeBGPicPart) {
        bool done = false;
        if (const int code = TakePictureSnapshot(L, &w, &done)) return code;
        if (done) return 0;
    }
    bool draw = true;
    if (w.layersOn) {
        if (const int code = AddLayer(L, &w, &draw)) return code;
    } else if (const int code = ApplyTags(L, &w)) {
        return code;
    }
    if (draw && (w.args.flags & (QV_SHOW_NODIRECT | QV_SHOW_REINSERT)) == 0 &&
        w.args.outBitmap == nullptr) {
        Draw(L, w);
    }
    return 0;
}

int DisplayBrushAsLayer(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int tagArgIndex) {
    qvDisplayBrushArgs args{};
    args.kind = gfx::kTypeBrush;
    args.id = id;
    args.x = x, args.y = y;
    args.tagArgIndex = tagArgIndex;
    return DisplayBrushEx(L, args);
}

int TransformBrushBitmaps(qvVmState* L, int mode, const qvTransformSource& source, double anchorX,
                          double anchorY, const double matrix[4], int smooth,
                          qvTransformedPicture* out) {
    const int32_t width = source.width, height = source.height;
    GetTransformedBounds(source.x, source.y, width, height, matrix, &out->x, &out->y, nullptr,
                         nullptr, anchorX, anchorY);
    if (const int code = TransformedSize(matrix, width, height, &out->width, &out->height)) {
        return code;
    }
    if (mode == QV_TRANSFORM_SIZE) return 0;
    const gfx::PictureView& p = source.picture;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    qvPlaneBitMap** wantMask = p.mask != nullptr ? &mask : nullptr;
    qvPlaneBitMap** wantAlpha = p.alpha != nullptr ? &alpha : nullptr;
    int code;
    if (IsIdentity(matrix)) {
        out->width = width, out->height = height;
        code = CopyBitmapArea(p.bitmap, p.mask, p.alpha, source.srcX, source.srcY, width, height, 0,
                              &bitmap, wantMask, wantAlpha);
    } else if (mode == QV_TRANSFORM_VECTOR) {
        // Rendered with the transformed box at the origin, where the bitmap transform puts it.
        double offsetX = 0, offsetY = 0;
        TransformBounds(matrix, p.width, p.height, nullptr, nullptr, &offsetX, &offsetY);
        code = TransformPluginImage(L, source.vectorSource, matrix, offsetX, offsetY, p.width,
                                    p.height, out->width, out->height, &bitmap, &mask, &alpha);
    } else if (IsPureScale(matrix)) {
        code = ScaleBitmap(p.bitmap, p.mask, p.alpha, source.srcX, source.srcY, nullptr, width,
                           height, out->width, out->height, smooth, &bitmap, wantMask, wantAlpha);
    } else {
        code = TransformBitmap(p.bitmap, p.mask, p.alpha, source.srcX, source.srcY, width, height,
                               matrix, smooth, &bitmap, &mask, &alpha, &out->width, &out->height);
    }
    out->planes.bitmap.reset(bitmap), out->planes.mask.reset(mask);
    out->planes.alpha.reset(alpha);
    return code;
}
