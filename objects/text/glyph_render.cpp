#include "objects/text/glyph_render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "gfx/kernels/frontend_kernels.h"
#include "gfx/transform.h"
#include "objects/text/text_blits.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/screen.h"
#include "scene/layers/layer_transform.h"

namespace {

using qv::Saturate32;

struct Offset {
    int64_t x, y;
};

// Shadow offsets per direction in shadow sizes, north clockwise; other directions are 3.
constexpr Offset kShadowSteps[8] = {{0, -1}, {1, -1}, {1, 0},  {1, 1},
                                    {0, 1},  {-1, 1}, {-1, 0}, {-1, -1}};
constexpr int32_t kSouthEast = 3;

Offset ShadowOffset(const qvTextStyle& style) {
    const int32_t d = style.shadowDirection;
    const Offset step = kShadowSteps[d >= 0 && d < 8 ? d : kSouthEast];
    return {step.x * style.shadowSize, step.y * style.shadowSize};
}

int32_t EdgeSize(const qvTextStyle& style) {
    return std::clamp(style.edgeSize, 0, kMaxStyleSize);
}

uint8_t Opacity(uint32_t colour) {
    return uint8_t(255 - (colour >> 24));
}

bool HasStyle(const qvTextStyle& style, uint32_t flag) {
    return (style.styleFlags & flag) != 0;
}

// The offsets of an edge square at (x, y) that would start left of or above the destination
// are skipped, each with a debug message; the first kept column and row.
struct SquareStart {
    int32_t column, row;
};
SquareStart SkipOutside(int64_t x, int64_t y, int32_t size) {
    const int64_t n = 2 * int64_t(size) + 1;
    const int64_t column = std::clamp<int64_t>(-x, 0, n), row = std::clamp<int64_t>(-y, 0, n);
    for (int64_t skipped = column * n + row * n - column * row; skipped > 0; --skipped)
        qv::WriteDebugPlain("ERROR! EDGEDRAW CALLED WITH NEGATIVE X/Y!\n");
    return {int32_t(column), int32_t(row)};
}

// The block's bounds over all runs.
struct Block {
    int64_t left = 0, top = 0, right = std::numeric_limits<int64_t>::min();
    int64_t bottomExtension = 0, lastY = 0;
};

Block MeasureBlock(const qvTextRun* runs) {
    Block b;
    for (const qvTextRun* run = runs; run != nullptr; run = run->next) {
        const qvStyledExtent& e = run->extent;
        b.left = std::min(b.left, int64_t(run->x) + std::min(e.minX, 0) + e.minXExtension);
        b.top = std::min<int64_t>(b.top, e.minYExtension);
        b.bottomExtension = std::max<int64_t>(b.bottomExtension, e.maxYExtension);
        b.right = std::max(b.right, int64_t(run->x) + e.inkWidth + e.maxXExtension);
        b.lastY = run->y;
    }
    return b;
}

// A single line is drawn from its own start; the start x is reported instead.
int32_t ShiftSingleLine(qvTextRun* runs, int32_t startX) {
    for (const qvTextRun* run = runs; run != nullptr; run = run->next) {
        if (run->y != 0) return 0;
    }
    for (qvTextRun* run = runs; run != nullptr; run = run->next)
        run->x = Saturate32(int64_t(run->x) - startX);
    return startX;
}

enum class Path { Mono, Smooth, Colour };

// Draws the runs of one block into its destination; owns every buffer until Release.
class GlyphRenderer {
public:
    GlyphRenderer(const qvTextParams& record, qvFont* font, Path path, int32_t width,
                  int32_t height, const Block& block)
        : font_(font),
          utf8_(record.encoding == 1 ? 1 : 0),
          path_(path),
          width_(width),
          height_(height),
          // A font scaled without bound has a height near the int32 limit.
          lineHeight_(Saturate32(int64_t(std::max(font->height, 0)) + 1)),
          left_(block.left),
          top_(block.top) {
        nativeBold_ = FontStyleSupported(font, QV_STYLE_BOLD) != 0;
        nativeItalic_ = FontStyleSupported(font, QV_STYLE_ITALIC) != 0;
        nativeUnderline_ = FontStyleSupported(font, QV_STYLE_UNDERLINED) != 0;
    }

    int Allocate(bool transparency, int32_t largestEdge);
    void DrawRun(const qvTextRun& run);
    void Release(qvGlyphResult* result) {
        WaitBlitter();
        result->bitmap = dest_.release();
        result->mask = destMask_.release();
        result->alpha = destAlpha_.release();
    }

private:
    qvTextCanvas Canvas() const {
        return {dest_.get(), destMask_.get(), destAlpha_.get(), width_, height_};
    }
    void RenderLine(const qvTextRun& run, int32_t inset);
    void Embolden();
    void Slant();
    void Underline(int32_t inset, int32_t advance, uint32_t colour);
    void DrawColourLine(Offset at, uint32_t colour);
    void DrawLine(Offset at, uint32_t colour);
    void DrawEdge(Offset at, int32_t size, uint32_t colour);

    qvFont* font_;
    int utf8_;
    Path path_;
    int32_t width_, height_, lineHeight_;
    int32_t runWidth_ = 0;  // the columns of the line the current run inks
    int64_t left_, top_;
    bool nativeBold_ = false, nativeItalic_ = false, nativeUnderline_ = false;
    qv::OwnedBitMap dest_;
    qv::OwnedPlane destMask_, destAlpha_;
    qv::OwnedBitMap lineBitmap_;  // colour fonts: the line's pixels beside its mask
    qv::OwnedPlane line_;         // 1-bit (mono, colour) or 8-bit coverage (smooth)
    qv::OwnedPlane edgeLine_;     // mono: the line's edge square
    EdgeAccumulator accumulator_;
};

int GlyphRenderer::Allocate(bool transparency, int32_t largestEdge) {
    dest_.reset(AllocDisplayBitMap(width_, height_));
    if (dest_ == nullptr) return ERR_MEM;
    if (path_ == Path::Smooth || transparency) {
        destAlpha_.reset(AllocAlphaBitMap(width_, height_, 1));
        if (destAlpha_ == nullptr) return ERR_MEM;
    } else {
        destMask_.reset(AllocMaskBitMap(dest_.get(), width_, height_, 1));
        if (destMask_ == nullptr) return ERR_MEM;
    }
    if (path_ == Path::Colour) {
        lineBitmap_.reset(AllocDisplayBitMap(width_, lineHeight_));
        if (lineBitmap_ == nullptr) return ERR_MEM;
    }
    line_.reset(path_ == Path::Smooth ? AllocAlphaBitMap(width_, lineHeight_, 1)
                                      : AllocMaskBitMap(lineBitmap_.get(), width_, lineHeight_, 1));
    if (line_ == nullptr) return ERR_MEM;
    if (largestEdge < 0 || path_ == Path::Colour) return 0;
    if (path_ == Path::Smooth) return accumulator_.Allocate(width_, lineHeight_, largestEdge);
    edgeLine_.reset(AllocMaskBitMap(nullptr, Saturate32(int64_t(width_) + 2 * largestEdge),
                                    Saturate32(int64_t(lineHeight_) + 2 * largestEdge), 1));
    return edgeLine_ != nullptr ? 0 : ERR_MEM;
}

void GlyphRenderer::RenderLine(const qvTextRun& run, int32_t inset) {
    std::memset(line_->plane, 0, size_t(line_->bytesPerRow) * size_t(line_->height));
    uint32_t flags = run.style.styleFlags;
    flags = path_ == Path::Smooth ? flags | QV_STYLE_ANTIALIAS : flags & ~QV_STYLE_ANTIALIAS;
    RenderFontText(font_, {lineBitmap_.get(), line_.get()}, inset, 0, run.text, run.length, flags,
                   utf8_, {0, 0, width_, lineHeight_}, kFontPenPlane);
}

void GlyphRenderer::Embolden() {
    for (int32_t r = 0; r < line_->height; ++r)
        ShiftMaskRow(line_->plane + ptrdiff_t(r) * line_->bytesPerRow, line_->bytesPerRow, 1, true);
}

// Row r moves right by baseline / 2 minus the number of k in 0..r for which baseline - 1 - k
// is odd: a shear that passes through zero near the baseline.
void GlyphRenderer::Slant() {
    const int32_t baseline = font_->baseline;
    qv::ScopedBitMapLock lock(lineBitmap_.get());
    int32_t odd = 0;
    for (int32_t r = 0; r < line_->height; ++r) {
        if (((baseline - 1 - r) & 1) != 0) ++odd;
        const int32_t shift = baseline / 2 - odd;
        ShiftMaskRow(line_->plane + ptrdiff_t(r) * line_->bytesPerRow, line_->bytesPerRow, shift,
                     false);
        if (!lock || shift == 0 || std::abs(shift) >= lock->width) continue;
        const int32_t bytes = lock->bytesPerPixel;
        uint8_t* row = lock->base + ptrdiff_t(r) * lock->rowLength * bytes;
        const size_t kept = size_t(lock->width - std::abs(shift)) * bytes;
        if (shift > 0) {
            std::memmove(row + ptrdiff_t(shift) * bytes, row, kept);
        } else {
            std::memmove(row, row - ptrdiff_t(shift) * bytes, kept);
        }
    }
}

// Thickness (height - baseline) / 3, at least 1, from baseline + thickness down (the baseline
// itself when the font has nothing below it).
void GlyphRenderer::Underline(int32_t inset, int32_t advance, uint32_t colour) {
    const int32_t below = font_->height - font_->baseline;
    const int32_t thickness = std::max(below / 3, 1);
    const int32_t top = font_->baseline + (below == 0 ? 0 : thickness);
    if (path_ == Path::Smooth) {
        FillPlane8Rect(line_.get(), inset, top, advance, thickness, 255);
        return;
    }
    FillMaskRect(line_.get(), inset, top, advance, thickness, 5);
    if (path_ == Path::Colour) RectFill(lineBitmap_.get(), inset, top, advance, thickness, colour);
}

void GlyphRenderer::DrawColourLine(Offset at, uint32_t colour) {
    const int32_t x = Saturate32(at.x), y = Saturate32(at.y);
    BltMask(lineBitmap_.get(), 0, 0, dest_.get(), x, y, runWidth_, lineHeight_, line_.get());
    if (destAlpha_ != nullptr) {
        ExpandMaskToPlane8Rect(line_.get(), 0, 0, destAlpha_.get(), x, y, runWidth_, lineHeight_,
                               Opacity(colour));
    } else {
        CombineMaskRect(line_.get(), 0, 0, destMask_.get(), x, y, runWidth_, lineHeight_, 0);
    }
}

void GlyphRenderer::DrawLine(Offset at, uint32_t colour) {
    const int32_t x = Saturate32(at.x), y = Saturate32(at.y);
    if (path_ == Path::Mono) {
        DrawTextMask(line_.get(), runWidth_, lineHeight_, Canvas(), x, y, colour);
        return;
    }
    BltAlphaChannelClipped(line_.get(), 0, 0, dest_.get(), x, y, runWidth_, lineHeight_, width_,
                           lineHeight_, width_, height_, colour & 0xFFFFFF, QV_COVERAGE_SECOND,
                           destAlpha_.get(), Opacity(colour), nullptr, 0, nullptr);
}

// The line drawn at every offset of the (2 size + 1) square whose top-left is at.
void GlyphRenderer::DrawEdge(Offset at, int32_t size, uint32_t colour) {
    const SquareStart start = SkipOutside(at.x, at.y, size);
    const int32_t x = Saturate32(at.x), y = Saturate32(at.y);
    // The run inks only its own columns of the line, so its edge lies within them too.
    if (path_ == Path::Smooth) {
        DrawEdgeAA(&accumulator_, line_.get(), runWidth_, lineHeight_, size, start.column,
                   start.row);
        StoreCoverage(accumulator_, Canvas(), x, y, colour);
        return;
    }
    DilateMask(line_.get(), runWidth_, lineHeight_, size, start.column, start.row, edgeLine_.get());
    DrawTextMask(edgeLine_.get(), runWidth_ + 2 * size, lineHeight_ + 2 * size, Canvas(), x, y,
                 colour);
}

void GlyphRenderer::DrawRun(const qvTextRun& run) {
    const qvStyledExtent& e = run.extent;
    const int32_t inset = -std::min(e.minX, 0);
    const Offset at{int64_t(run.x) - inset - left_, int64_t(run.y) - top_};
    // Ink, synthetic styles and underline stay within the run's ink width from its pen.
    runWidth_ = int32_t(std::clamp<int64_t>(int64_t(inset) + e.inkWidth, 0, width_));
    const qvTextStyle& style = run.style;
    RenderLine(run, inset);
    if (path_ == Path::Mono && HasStyle(style, QV_STYLE_BOLD) && !nativeBold_) Embolden();
    if (path_ != Path::Smooth && HasStyle(style, QV_STYLE_ITALIC) && !nativeItalic_) Slant();
    if (HasStyle(style, QV_STYLE_UNDERLINED) && !nativeUnderline_)
        Underline(inset, e.advance, style.colour & 0xFFFFFF);
    if (path_ == Path::Colour) {
        DrawColourLine(at, style.colour);
        return;
    }
    const bool edge = HasStyle(style, QV_STYLE_EDGE);
    const int32_t size = EdgeSize(style);
    if (HasStyle(style, QV_STYLE_SHADOW)) {
        const Offset shadow = ShadowOffset(style);
        if (edge) {
            DrawEdge({at.x + shadow.x - size, at.y + shadow.y - size}, size, style.shadowColour);
        } else {
            DrawLine({at.x + shadow.x, at.y + shadow.y}, style.shadowColour);
        }
    }
    if (edge) DrawEdge({at.x - size, at.y - size}, size, style.edgeColour);
    DrawLine(at, style.colour);
}

// A run list without runs: a cleared bitmap one pixel wide and one line high.
int EmptyBlock(int32_t lineHeight, bool measureOnly, qvGlyphResult* result) {
    result->width = 1;
    result->height = std::max(lineHeight, 1);
    if (measureOnly) return 0;
    qv::OwnedBitMap bitmap(AllocDisplayBitMap(result->width, result->height));
    qv::OwnedPlane mask(AllocMaskBitMap(bitmap.get(), result->width, result->height, 1));
    if (bitmap == nullptr || mask == nullptr) return ERR_MEM;
    result->bitmap = bitmap.release();
    result->mask = mask.release();
    return 0;
}

}  // namespace

void AlignTextLines(qvTextRun* runs, int32_t alignment) {
    if (alignment != qv::gfx::CENTER && alignment != qv::gfx::RIGHT) return;
    auto end = [](const qvTextRun* run) { return int64_t(run->x) + run->extent.maxX + 1; };
    int64_t widest = std::numeric_limits<int64_t>::min();
    for (const qvTextRun* run = runs; run != nullptr; run = run->next)
        widest = std::max(widest, end(run));
    for (qvTextRun* first = runs; first != nullptr;) {
        qvTextRun* last = first;
        while (last->next != nullptr && last->next->y == first->y) last = last->next;
        const int64_t room = widest - end(last);
        const int64_t shift = alignment == qv::gfx::CENTER ? room / 2 : room;
        qvTextRun* next = last->next;
        for (qvTextRun* run = first; run != next; run = run->next)
            run->x = Saturate32(run->x + shift);
        first = next;
    }
}

int RenderGlyphs(const qvTextParams* record, int32_t startX, int32_t wrapWidth, bool antiAlias,
                 int32_t alignment, bool measureOnly, qvTextRun* runs, qvGlyphResult* result) {
    *result = {};
    qvFont* font = record->style.font != nullptr ? record->style.font : DefaultFont();
    if (font == nullptr) return ERR_MEM;
    if (runs == nullptr) return EmptyBlock(font->height, measureOnly, result);
    result->xOffset = ShiftSingleLine(runs, startX);
    const Block block = MeasureBlock(runs);
    int64_t width = block.right - block.left;
    if (wrapWidth > 0) width = std::min(width, int64_t(wrapWidth) - block.left);
    const int64_t height =
        int64_t(font->height) + 1 - block.top + block.bottomExtension + block.lastY;
    result->left = Saturate32(block.left);
    result->top = Saturate32(block.top);
    result->width = Saturate32(std::max<int64_t>(width, 1));
    result->height = Saturate32(std::max<int64_t>(height, 1));
    AlignTextLines(runs, alignment);
    if (measureOnly) return 0;

    bool transparency = false;
    int32_t largestEdge = -1;
    for (const qvTextRun* run = runs; run != nullptr; run = run->next) {
        const qvTextStyle& s = run->style;
        transparency = transparency || Opacity(s.colour) != 255 ||
                       (HasStyle(s, QV_STYLE_SHADOW) && Opacity(s.shadowColour) != 255) ||
                       (HasStyle(s, QV_STYLE_EDGE) && Opacity(s.edgeColour) != 255);
        if (HasStyle(s, QV_STYLE_EDGE)) largestEdge = std::max(largestEdge, EdgeSize(s));
    }
    const Path path = font->engine == QV_FONTENGINE_COLOUR ? Path::Colour
                      : antiAlias && font->antiAlias != 0  ? Path::Smooth
                                                           : Path::Mono;
    GlyphRenderer renderer(*record, font, path, result->width, result->height, block);
    if (int error = renderer.Allocate(transparency, largestEdge)) {
        *result = {};
        return error;
    }
    for (const qvTextRun* run = runs; run != nullptr; run = run->next) renderer.DrawRun(*run);
    renderer.Release(result);
    return 0;
}

void FreeGlyphResult(qvGlyphResult* result) {
    FreeDisplayBitMap(result->bitmap);
    FreePlaneBitMap(result->mask);
    FreePlaneBitMap(result->alpha);
    *result = {};
}

int TransformTextBitmaps(qvTextPicture* picture, const qvDrawTransform& transform,
                         const qvTextParams& record, bool* made) {
    *made = false;
    const double* m = transform.matrix;
    const qvFont* font = record.style.font != nullptr ? record.style.font : DefaultFont();
    const bool scaleOnly = m[1] == 0 && m[2] == 0 && m[0] > 0 && m[3] > 0;
    const bool identity = scaleOnly && m[0] == 1 && m[3] == 1;
    if (identity || (scaleOnly && font != nullptr && font->scalable != 0)) {
        // Untransformed, or rendered at the scaled size already: placed as it is.
        PlaceAtPivot(qv::kInitialDrawTransform.matrix, picture->width, picture->height,
                     transform.anchorx, transform.anchory, &picture->x, &picture->y);
        return 0;
    }
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = nullptr;
    int32_t width = 0, height = 0;
    if (int error = TransformBitmap(picture->bitmap, picture->mask, picture->alpha, 0, 0,
                                    picture->width, picture->height, m, transform.smoothscale,
                                    &bitmap, &mask, &alpha, &width, &height))
        return error;
    PlaceAtPivot(m, picture->width, picture->height, transform.anchorx, transform.anchory,
                 &picture->x, &picture->y);
    *picture = {bitmap, mask, alpha, picture->x, picture->y, width, height};
    *made = true;
    return 0;
}

int RenderTextBorder(const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha, int32_t width,
                     int32_t height, int32_t size, uint32_t colour, qvTextBorder* border) {
    *border = {};
    size = std::clamp(size, 0, kMaxStyleSize);
    width = std::max(width, 0);
    height = std::max(height, 0);
    const int32_t outWidth = width + 1 + 2 * size, outHeight = height + 1 + 2 * size;
    qv::OwnedBitMap bitmap(AllocDisplayBitMap(outWidth, outHeight));
    if (bitmap == nullptr) return ERR_MEM;
    qv::OwnedPlane outMask, outAlpha;
    if (qv::PlaneUsable(alpha)) {
        outAlpha.reset(AllocAlphaBitMap(outWidth, outHeight, 1));
        EdgeAccumulator accumulator;
        if (outAlpha == nullptr || accumulator.Allocate(width, height, size) != 0) return ERR_MEM;
        DrawEdgeAA(&accumulator, alpha, width, height, size, 0, 0);
        StoreCoverage(accumulator, {bitmap.get(), nullptr, outAlpha.get(), outWidth, outHeight}, 0,
                      0, colour);
    } else {
        outMask.reset(AllocMaskBitMap(bitmap.get(), outWidth, outHeight, 1));
        if (outMask == nullptr) return ERR_MEM;
        const qvTextCanvas canvas{bitmap.get(), outMask.get(), nullptr, outWidth, outHeight};
        if (qv::PlaneUsable(mask)) {
            qv::OwnedPlane square(AllocMaskBitMap(nullptr, width + 2 * size, height + 2 * size, 1));
            if (square == nullptr) return ERR_MEM;
            DilateMask(mask, width, height, size, 0, 0, square.get());
            DrawTextMask(square.get(), width + 2 * size, height + 2 * size, canvas, 0, 0, colour);
        } else {
            RectFill(bitmap.get(), 0, 0, width + 2 * size, height + 2 * size, colour & 0xFFFFFF);
            FillMaskRect(outMask.get(), 0, 0, width + 2 * size, height + 2 * size, 5);
        }
    }
    *border = {bitmap.release(), outMask.release(), outAlpha.release(), size, outWidth, outHeight};
    return 0;
}

void FreeTextBorder(qvTextBorder* border) {
    FreeDisplayBitMap(border->bitmap);
    FreePlaneBitMap(border->mask);
    FreePlaneBitMap(border->alpha);
    *border = {};
}
