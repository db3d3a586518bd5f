#include "objects/text/render_text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "gfx/safe_blt.h"
#include "objects/fonts/font.h"
#include "objects/scene_seam.h"
#include "objects/text/glyph_render.h"
#include "objects/text/layout.h"
#include "objects/text/text_display.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer_transform.h"

namespace {

using qv::Saturate32;
using qv::gfx::CENTER;

constexpr int32_t kSouthEast = 3;

bool IsIdentity(const double m[4]) {
    return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1;
}

qvFont* FontOf(const qvTextParams& params) {
    return params.style.font != nullptr ? params.style.font : DefaultFont();
}

// Where drawing goes now: the current display, how the blits see it, and whether it keeps
// layers.
struct Output {
    qvDisplay* display;
    qv::gfx::DisplayView view;
    bool layers;
};

Output CurrentOutput() {
    qv::gfx::GraphicsState& graphics = qv::gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    Output out{display, {}, false};
    if (display != nullptr) {
        out.view = graphics.View(display);
        out.layers = out.view.layersEnabled;
    }
    return out;
}

// A coordinate in one of the bands that position an object by its width.
bool IsHorizontalConstant(int32_t x) {
    for (const int32_t c : {qv::gfx::CENTER, qv::gfx::LEFT, qv::gfx::RIGHT}) {
        if (std::abs(int64_t(x) - c) <= qv::gfx::kPositionBand) return true;
    }
    return false;
}

// ---- The direct path ----------------------------------------------------------------------

struct TextShape {
    int32_t lines = 1;
    bool tabs = false;
    bool singleLine = true;  // no byte after a line feed
};

TextShape ShapeOf(const char* text) {
    TextShape shape;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\t') shape.tabs = true;
        if (*p != '\n') continue;
        ++shape.lines;
        if (p[1] != '\0') shape.singleLine = false;
    }
    return shape;
}

// The ink bounds (left <= 0 <= right) and the pen advance of length bytes.
struct LineExtent {
    int32_t left, right, advance;
};
LineExtent MeasureLine(qvFont* font, const char* bytes, int32_t length, uint32_t style, int utf8) {
    qvTextExtent e{};
    FontTextExtent(font, bytes, length, style, utf8, &e);
    return {std::min(e.minX, 0), std::max(e.width, e.maxX + 1), e.width};
}

bool DirectPathApplies(const qvTextRender& record, uint32_t kind, const Output& out,
                       const qvDrawTransform& transform, const TextShape& shape, qvFont* font) {
    const bool print = kind == qv::gfx::kTypePrint;
    if (kind != qv::gfx::kTypeTextOut && !print) return false;
    if (out.display == nullptr || out.layers || out.view.outputType != qv::gfx::kTargetDisplay)
        return false;
    // Sprites stay above the text: SafeBlt draws it under them.
    if (!out.view.plainPicture) return false;
    if (!print && IsHorizontalConstant(record.x)) return false;
    const uint32_t flags = record.style.styleFlags;
    if ((flags & ~uint32_t(QV_STYLE_NORMAL | QV_STYLE_ANTIALIAS)) != 0 || flags == 0) return false;
    if (qv::gfx::Graphics().Host().CurrentOutputPicture().clipRegion != nullptr) return false;
    if ((record.style.colour >> 24) != 0) return false;
    const char* text = record.text != nullptr ? record.text : "";
    if (TextMayHoldTags(text) || shape.tabs || !IsIdentity(transform.matrix)) return false;
    // An anchor places the text by its size, which the laid-out road knows.
    if (transform.anchorx != 0 || transform.anchory != 0) return false;
    if (record.wordBreaks != nullptr || record.alignment != qv::gfx::LEFT) return false;
    const int64_t wrap =
        print ? int64_t(record.rightMargin) + 1 - record.leftMargin : record.rightMargin;
    if (wrap <= 0 || (!print && record.rightMargin == 0)) return true;
    if (!shape.singleLine) return false;
    const int32_t x = print ? record.cursorX : record.x;
    const auto length = int32_t(std::min<size_t>(std::strlen(text), INT32_MAX));
    const LineExtent e = MeasureLine(font, text, length, flags, record.encoding == 1);
    return int64_t(x) + e.right < wrap;
}

// Grows the union of drawn rectangles.
struct Union {
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    void Add(int64_t x, int64_t y, int64_t width, int64_t height) {
        left = std::min(left, x), top = std::min(top, y);
        right = std::max(right, x + width), bottom = std::max(bottom, y + height);
    }
};

// Draws the text's lines at (x, y) in the font into the display bitmap (and the composition
// bitmap while it autoscales), then copies what changed to the window. For PRINT the
// display's cursor follows.
int DrawDirect(const qvTextRender& record, uint32_t kind, const Output& out, qvFont* font,
               const TextShape& shape) {
    const bool print = kind == qv::gfx::kTypePrint;
    qvTextCursor* cursor = print ? qv::text::TextDisplay().CurrentTextCursor() : nullptr;
    const int32_t lineHeight = font->height;
    int64_t x = print ? record.cursorX : record.x;
    int64_t y = print ? record.cursorY
                      : ResolvePosY(record.y, Saturate32(int64_t(shape.lines) * lineHeight), 0, 0);
    qvDisplayBitMap* display = out.view.backBuffers[0];
    qvDisplayBitMap* composition = out.view.AutoscaleActive() ? out.view.backBuffers[1] : nullptr;
    const int32_t width = out.view.pictureWidth, height = out.view.pictureHeight;
    const uint32_t style = record.style.styleFlags;
    const int utf8 = record.encoding == 1 ? 1 : 0;
    const uint32_t colour = record.style.colour & 0xFFFFFF;
    Union drawn;
    const char* p = record.text != nullptr ? record.text : "";
    for (;;) {
        const char* end = std::strchr(p, '\n');
        const size_t total = end != nullptr ? size_t(end - p) : std::strlen(p);
        // Carriage returns are not drawn.
        std::string_view line(p, total);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) {
            const auto length = int32_t(std::min<size_t>(line.size(), INT32_MAX));
            const int32_t px = Saturate32(x), py = Saturate32(y);
            for (qvDisplayBitMap* into : {display, composition}) {
                if (into == nullptr) continue;
                RenderFontText(font, {into, nullptr}, px, py, line.data(), length, style, utf8,
                               {0, 0, width, height}, colour);
            }
            const LineExtent e = MeasureLine(font, line.data(), length, style, utf8);
            drawn.Add(x + e.left, y, e.right - e.left, int64_t(lineHeight) + 1);
            x += e.advance;
        }
        if (end == nullptr) break;
        x = print ? record.leftMargin : record.x;
        y += lineHeight;
        p = end + 1;
    }
    if (cursor != nullptr) {
        cursor->x = Saturate32(x);
        cursor->y = Saturate32(y);
    }
    if (drawn.right <= drawn.left || out.view.window == nullptr) return 0;
    if (composition != nullptr) {
        BltToDisplay(composition, 0, 0, out.display, 0, 0, width, height, QV_REFRESH_AUTOSCALE);
        return 0;
    }
    int32_t ux = Saturate32(drawn.left), uy = Saturate32(drawn.top);
    int32_t uw = Saturate32(drawn.right - drawn.left), uh = Saturate32(drawn.bottom - drawn.top);
    ClipRectToSize(width, height, &ux, &uy, &uw, &uh);
    if (uw > 0 && uh > 0) BltToDisplay(display, ux, uy, out.display, ux, uy, uw, uh, 0);
    return 0;
}

// ---- The general path ---------------------------------------------------------------------

// The font set to a scale for one rendering, back to 1.0 x 1.0 afterwards.
class FontScale {
public:
    FontScale(qvFont* font, double x, double y) : font_(font) {
        if (x != 1 || y != 1) SetFontSize(font_, x, y), scaled_ = true;
    }
    ~FontScale() {
        if (scaled_) SetFontSize(font_, 1.0, 1.0);
    }
    FontScale(const FontScale&) = delete;
    FontScale& operator=(const FontScale&) = delete;

private:
    qvFont* font_;
    bool scaled_ = false;
};

// How an outline font renders under a transform: at the scaled size, with only the residual
// matrix (a mirror, a rotation) left for the bitmap.
struct FontScaling {
    bool active = false;
    double x = 1, y = 1;
    double residual[4] = {1, 0, 0, 1};
};

FontScaling ScalingFor(const qvDrawTransform& t) {
    const double* m = t.matrix;
    if (IsIdentity(m)) return {};
    const bool diagonal = m[1] == 0 && m[2] == 0;
    // A free matrix ("transform") that turns or shears is left to the bitmap transformation.
    if (!diagonal && (t.transformInput[0] != 0 || t.transformInput[3] != 0)) return {};
    // The matrix is a rotation (or mirror) times a scale when its columns are orthogonal;
    // their lengths are the scale. A negative factor would make advances and sizes negative,
    // so the font takes the lengths and the residual matrix keeps the signs.
    const double sx = std::hypot(m[0], m[1]), sy = std::hypot(m[2], m[3]);
    if (!(sx > 0) || !(sy > 0) || !std::isfinite(sx) || !std::isfinite(sy)) return {};
    if (std::fabs(m[0] * m[2] + m[1] * m[3]) > 1e-9 * sx * sy) return {};
    return {true, sx, sy, {m[0] / sx, m[1] / sx, m[2] / sy, m[3] / sy}};
}

int32_t ScaleBy(int32_t value, double factor) {
    return qv::gfx::TruncSaturate(std::round(value * factor));
}

// Margins, wrap width, tabs, cursor (with QV_RENDERTEXT_SCALECURSOR), shadow and edge follow
// the font's horizontal scale.
void ScaleParams(qvTextParams* p, double factor, bool cursor) {
    p->leftMargin = ScaleBy(p->leftMargin, factor);
    p->rightMargin = ScaleBy(p->rightMargin, factor);
    for (int32_t i = 0; i < std::clamp(p->tabCount, 0, kTextTabStops); ++i)
        p->tabs[i] = ScaleBy(p->tabs[i], factor);
    if (cursor) {
        p->cursorX = ScaleBy(p->cursorX, factor);
        p->cursorY = ScaleBy(p->cursorY, factor);
    }
    qvTextStyle& s = p->style;
    s.shadowSize = std::clamp(ScaleBy(s.shadowSize, factor), kMinStyleSize, kMaxStyleSize);
    s.edgeSize = std::clamp(ScaleBy(s.edgeSize, factor), kMinStyleSize, kMaxStyleSize);
    if (uint32_t(s.shadowDirection) > 7) s.shadowDirection = kSouthEast;
}

// The whole text's edge, shadow and transparency go to the layer's style, which draws them.
// The colour's transparency byte replaces the tags' transparency only when it is set.
void MoveEffectsToStyle(qvTextStyle* text, qvDrawStyle* style) {
    if ((text->styleFlags & QV_STYLE_EDGE) != 0) {
        style->border.on = 1;
        style->border.colour = text->edgeColour;
        style->border.size = text->edgeSize;
        text->styleFlags &= ~uint32_t(QV_STYLE_EDGE);
    }
    if ((text->styleFlags & QV_STYLE_SHADOW) != 0) {
        style->shadow.on = 1;
        style->shadow.colour = text->shadowColour;
        style->shadow.size = text->shadowSize;
        style->shadow.direction = text->shadowDirection;
        text->styleFlags &= ~uint32_t(QV_STYLE_SHADOW);
    }
    if (const uint32_t transparency = text->colour >> 24; transparency != 0)
        style->transparency = int32_t(transparency);
    text->colour &= 0xFFFFFF;
}

// The pictures of one rendering, freed unless handed on.
struct Pictures {
    qvGlyphResult glyphs{};
    ~Pictures() { FreeGlyphResult(&glyphs); }
    Pictures() = default;
    Pictures(const Pictures&) = delete;
    Pictures& operator=(const Pictures&) = delete;
};

class GeneralPath {
public:
    GeneralPath(qvVmState* L, qvLayer* layer, qvTextRender* record, uint32_t kind, bool tagsOff,
                const qvDrawTransform& transform, qvDrawStyle* style, int flags, const Output& out,
                qvLayerArea* previous)
        : L_(L),
          layer_(layer),
          record_(record),
          kind_(kind),
          tagsOff_(tagsOff),
          transform_(transform),
          style_(style),
          flags_(flags),
          out_(out),
          previous_(previous) {}

    int Run(qvRenderedText* result);

private:
    bool Has(int flag) const { return (flags_ & flag) != 0; }
    bool Print() const { return kind_ == qv::gfx::kTypePrint; }
    bool AsLayer() const {
        return kind_ != qv::gfx::kTypeTextObject && out_.layers && !Has(QV_RENDERTEXT_ONLY);
    }
    int Place(const qvTextParams& params, const qv::text::TextLayout& layout, qvTextPicture* at);
    int Deliver(qvTextPicture* picture, qvRenderedText* result);
    int Blit(const qvTextPicture& picture);
    int AddTextLayer(qvTextPicture* picture);
    void KeepRecordedTables(qvTextRender* item);

    qvVmState* L_;
    qvLayer* layer_;
    qvTextRender* record_;
    uint32_t kind_;
    bool tagsOff_;
    qvDrawTransform transform_;
    qvDrawStyle* style_;
    int flags_;
    Output out_;
    qvLayerArea* previous_;
    FontScaling scaling_;
    Pictures pictures_;
    // The layout of this drawing and the parameters that hold the tables it recorded.
    qv::text::TextLayout* layout_ = nullptr;
    qvTextParams* laidOut_ = nullptr;
};

int GeneralPath::Run(qvRenderedText* result) {
    if (AsLayer() && !Has(QV_RENDERTEXT_LAYERTRANSFORM))
        MoveEffectsToStyle(&record_->style, style_);
    if (Has(QV_RENDERTEXT_LAYERTRANSFORM) && layer_ != nullptr) {
        MultiplyTextMatrix(layer_->transform.matrix, transform_.matrix, transform_.matrix);
        transform_.anchorx = layer_->transform.anchorx;
        transform_.anchory = layer_->transform.anchory;
    }
    qvFont* font = FontOf(*record_);
    qvTextParams params = *record_;
    if (font->scalable != 0 && !AsLayer()) scaling_ = ScalingFor(transform_);
    if (scaling_.active) ScaleParams(&params, scaling_.x, Has(QV_RENDERTEXT_SCALECURSOR));
    FontScale scale(font, scaling_.x, scaling_.y);

    const bool replay = record_->wordBreaks != nullptr;
    qv::text::LayoutOptions options;
    options.alignment = params.alignment;
    options.tagsOff = tagsOff_;
    if (Print()) {
        options.wrapWidth = Saturate32(int64_t(params.rightMargin) + 1 - params.leftMargin);
        options.startX = Saturate32(int64_t(params.cursorX) - params.leftMargin);
        options.tabsAsSpaces = false;
    } else {
        options.wrapWidth = params.rightMargin;
    }
    qv::text::TextLayout layout;
    if (int error = layout.Run(L_, &params, options)) return error;
    layout_ = &layout, laidOut_ = &params;
    if (Has(QV_RENDERTEXT_ONLY)) {
        // A redraw keeps the breaks it recorded, so that the next one repeats them.
        layout.KeepTables();
        record_->wordBreaks = params.wordBreaks, record_->wordBreakCount = params.wordBreakCount;
        record_->tabResults = params.tabResults, record_->tabResultCount = params.tabResultCount;
    }
    const bool measureOnly = AsLayer() && !IsIdentity(transform_.matrix);
    const bool antiAlias = (params.style.styleFlags & QV_STYLE_ANTIALIAS) != 0;
    if (int error = RenderGlyphs(&params, options.startX, replay ? 0 : options.wrapWidth, antiAlias,
                                 params.alignment, measureOnly, layout.runs(), &pictures_.glyphs))
        return error;
    qvTextPicture picture{};
    if (int error = Place(params, layout, &picture)) return error;
    return Deliver(&picture, result);
}

// Steps of placing: a new Print starts at the cursor and moves it; position constants are
// resolved against the unscaled size; the block's offsets are added.
int GeneralPath::Place(const qvTextParams& params, const qv::text::TextLayout& layout,
                       qvTextPicture* at) {
    const qvGlyphResult& g = pictures_.glyphs;
    int32_t x = record_->x, y = record_->y;
    if (Print()) {
        if (record_->x == CENTER) {
            x = Saturate32(int64_t(params.leftMargin) + g.xOffset);
            y = params.cursorY;
            record_->x = x, record_->y = y;
        }
        // The record keeps the cursor it started at, so that a redraw lays the text out alike.
        const int32_t cursorX = Saturate32(int64_t(layout.endX()) + params.leftMargin);
        const int32_t cursorY = Saturate32(int64_t(params.cursorY) + layout.endY());
        if (!Has(QV_RENDERTEXT_ONLY) && !Has(QV_RENDERTEXT_LAYERTRANSFORM)) {
            qvTextCursor* cursor = qv::text::TextDisplay().CurrentTextCursor();
            if (cursor != nullptr) cursor->x = cursorX, cursor->y = cursorY;
        }
    }
    const double sx = scaling_.active ? scaling_.x : 1, sy = scaling_.active ? scaling_.y : 1;
    x = ResolvePosX(x, qv::gfx::TruncSaturate(g.width / sx), 0, transform_.anchorx);
    y = ResolvePosY(y, qv::gfx::TruncSaturate(g.height / sy), 0, transform_.anchory);
    *at = {
        g.bitmap, g.mask,  g.alpha, Saturate32(int64_t(x) + g.left), Saturate32(int64_t(y) + g.top),
        g.width,  g.height};
    return 0;
}

int GeneralPath::Deliver(qvTextPicture* picture, qvRenderedText* result) {
    qvGlyphResult& g = pictures_.glyphs;
    if (kind_ == qv::gfx::kTypeTextObject && !Has(QV_RENDERTEXT_ONLY)) {
        *result = {g.bitmap, g.mask, g.alpha, g.width, g.height, g.left, g.top};
        g = {};
        return 0;
    }
    if (AsLayer()) return AddTextLayer(picture);
    // The mirror or rotation an outline font leaves, else the whole transform.
    qvDrawTransform applied = transform_;
    if (scaling_.active && !(scaling_.residual[0] > 0 && scaling_.residual[3] > 0 &&
                             scaling_.residual[1] == 0 && scaling_.residual[2] == 0)) {
        std::memcpy(applied.matrix, scaling_.residual, sizeof(applied.matrix));
    }
    bool made = false;
    if (int error = TransformTextBitmaps(picture, applied, *record_, &made)) return error;
    if (made) {
        // The transformed planes replace the rendered ones.
        FreeGlyphResult(&g);
        g.bitmap = picture->bitmap, g.mask = picture->mask, g.alpha = picture->alpha;
        g.width = picture->width, g.height = picture->height;
    }
    if (!Has(QV_RENDERTEXT_ONLY)) return Blit(*picture);
    if (Has(QV_RENDERTEXT_KEEPGEOMETRY) || layer_ == nullptr) {
        *result = {g.bitmap,          g.mask,          g.alpha, picture->width, picture->height,
                   made ? 0 : g.left, made ? 0 : g.top};
        g = {};
        return 0;
    }
    // The picture is placed already; the layer code takes the anchor point of the item's size.
    const qvLayerItem* item = layer_->displayItem;
    const int32_t x =
        Saturate32(int64_t{picture->x} + qv::scene::AnchorShift(item->width, layer_->anchorX));
    const int32_t y =
        Saturate32(int64_t{picture->y} + qv::scene::AnchorShift(item->height, layer_->anchorY));
    qvLayerArea none{0, 0, -1, 0, 0};
    UpdateLayerGeometry(L_, layer_, previous_ != nullptr ? previous_ : &none, x, y, picture->width,
                        picture->height, g.bitmap, g.mask, g.alpha, 0);
    g = {};
    return 0;
}

int GeneralPath::Blit(const qvTextPicture& picture) {
    return BlitTextIntoOutput(L_, picture.bitmap, picture.mask, picture.alpha, picture.x, picture.y,
                              picture.width, picture.height);
}

// The layer keeps the line breaks and tab results that its first layout recorded, so that
// every redraw (at another scale, where the measures differ) repeats them. Tables the record
// held were replayed and came with its copy.
void GeneralPath::KeepRecordedTables(qvTextRender* item) {
    layout_->KeepTables();
    if (item->wordBreaks == nullptr) {
        item->wordBreaks = laidOut_->wordBreaks, item->wordBreakCount = laidOut_->wordBreakCount;
    }
    if (item->tabResults == nullptr) {
        item->tabResults = laidOut_->tabResults, item->tabResultCount = laidOut_->tabResultCount;
    }
}

int GeneralPath::AddTextLayer(qvTextPicture* picture) {
    qvGlyphResult& g = pictures_.glyphs;
    // The layer keeps where the text stands, without the block's offsets.
    record_->x = Saturate32(int64_t(picture->x) - g.left);
    record_->y = Saturate32(int64_t(picture->y) - g.top);
    qvTextRender* item = NewTextRenderRecord(record_);
    if (item == nullptr) return ERR_MEM;
    KeepRecordedTables(item);
    item->width = g.width, item->height = g.height;
    item->tagsOff = tagsOff_;
    const bool plain = IsIdentity(transform_.matrix);
    if (int error =
            AddLayer(L_, kind_, nullptr, picture->x, picture->y, g.width, g.height, &transform_,
                     style_, g.bitmap, g.mask, g.alpha, item, 0, QV_ADDLAYER_DISPLAYITEM)) {
        g = {};
        return error;
    }
    qvTextPicture shown{g.bitmap, g.mask, g.alpha, picture->x, picture->y, g.width, g.height};
    g = {};  // the layer's now
    if (!plain || shown.bitmap == nullptr) return 0;
    // The untransformed layer stands with its anchor point on the position.
    PlaceAtPivot(qv::kInitialDrawTransform.matrix, shown.width, shown.height, transform_.anchorx,
                 transform_.anchory, &shown.x, &shown.y);
    // Into a selected picture the text waits for the end of the selection (the shown picture)
    // or for the picture to be shown.
    if (out_.view.outputType == qv::gfx::kTargetBGPic) {
        RefreshRect(L_, shown.x, shown.y, shown.width, shown.height);
        return 0;
    }
    // A layer-scaled display shows only what the compositor paints; elsewhere an untransformed
    // text is put on the output at once, recomposed from the layers.
    const qv::scene::DisplayScale scale = qv::scene::LayerDisplays().Scale(out_.display);
    if (scale.layerScaling && (scale.x != 1 || scale.y != 1)) return 0;
    return Blit(shown);
}

}  // namespace

int BlitTextIntoOutput(qvVmState* L, qvDisplayBitMap* bitmap, const qvPlaneBitMap* mask,
                       const qvPlaneBitMap* alpha, int32_t x, int32_t y, int32_t width,
                       int32_t height) {
    qv::gfx::GraphicsState& graphics = qv::gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    if (display == nullptr || bitmap == nullptr) return 0;
    // A redirected output lends its own bitmap, made current first (a shown brush is copied
    // for its layers, a missing mask or alpha channel made).
    qvDisplayBitMap* target = nullptr;
    if (int error = qv::objects::Scene().FetchOutputBitmaps(L, &target)) return error;
    const qv::gfx::OutputPicture output = graphics.Host().CurrentOutputPicture();
    if (graphics.View(display).doubleBuffered) AddDirtyRect(L, x, y, width, height);
    const uint32_t flags =
        target != nullptr ? 0u : uint32_t(QV_BLIT_BACKBUFFER | QV_BLIT_RECOMPOSE);
    SafeBlt(L, bitmap, 0, 0, target, x, y, width, height, width, height, output.width,
            output.height, flags, mask, mask != nullptr ? nullptr : alpha, output.clipRegion);
    return 0;
}

void MultiplyTextMatrix(const double a[4], const double b[4], double out[4]) {
    const double r[4] = {a[0] * b[0] + a[2] * b[1], a[1] * b[0] + a[3] * b[1],
                         a[0] * b[2] + a[2] * b[3], a[1] * b[2] + a[3] * b[3]};
    std::memcpy(out, r, sizeof(r));
}

void FreeRenderedText(qvRenderedText* text) {
    FreeDisplayBitMap(text->bitmap);
    FreePlaneBitMap(text->mask);
    FreePlaneBitMap(text->alpha);
    *text = {};
}

int RenderText(qvVmState* L, qvLayer* layer, qvTextRender* record, uint32_t kind, bool tagsOff,
               const qvDrawTransform* transform, qvDrawStyle* style, int flags,
               qvRenderedText* result, qvLayerArea* previous) {
    qvFont* font = FontOf(*record);
    if (font == nullptr) return ERR_MEM;
    if ((record->style.styleFlags & QV_STYLE_ANTIALIAS) != 0 && font->antiAlias == 0)
        return ERR_ANTIALIAS;
    const qvDrawTransform& t = transform != nullptr ? *transform : qv::kInitialDrawTransform;
    const Output out = CurrentOutput();
    const TextShape shape = ShapeOf(record->text != nullptr ? record->text : "");
    if ((flags & QV_RENDERTEXT_ONLY) == 0 && DirectPathApplies(*record, kind, out, t, shape, font))
        return DrawDirect(*record, kind, out, font, shape);
    qvDrawStyle fallback = qv::DefaultDrawStyle();
    return GeneralPath(L, layer, record, kind, tagsOff, t, style != nullptr ? style : &fallback,
                       flags, out, previous)
        .Run(result);
}
