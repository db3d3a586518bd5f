#include "objects/text/text_extent.h"

#include <algorithm>

#include "gfx/clip.h"

namespace {

// The shadow's sides by direction: min x, max x, min y, max y.
struct ShadowSides {
    bool minX, maxX, minY, maxY;
};
constexpr ShadowSides kShadowSides[8] = {
    {false, false, true, false},  // north
    {false, true, true, false},   // north-east
    {false, true, false, false},  // east
    {false, true, false, true},   // south-east
    {false, false, false, true},  // south
    {true, false, false, true},   // south-west
    {true, false, false, false},  // west
    {true, false, true, false},   // north-west
};
constexpr int32_t kSouthEast = 3;

}  // namespace

namespace {

// The font's extent in the style: synthetic bold and italic widen the ink bounds, the edge
// and the shadow add their extensions.
void StyleExtent(const qvTextExtent& measured, const qvTextStyle& style, qvStyledExtent* extent) {
    qvFont* font = style.font;
    const uint32_t flags = style.styleFlags;
    // In 64 bits: the bounds of a huge text are saturated already.
    int64_t minX = measured.minX, maxX = measured.maxX;
    if ((flags & QV_STYLE_BOLD) != 0 && FontStyleSupported(font, QV_STYLE_BOLD) == 0 &&
        (flags & QV_STYLE_ANTIALIAS) == 0)
        maxX += 1;
    if ((flags & QV_STYLE_ITALIC) != 0 && FontStyleSupported(font, QV_STYLE_ITALIC) == 0) {
        maxX += font->baseline / 2;
        minX -= (int64_t(font->height) - font->baseline) / 2;
    }
    extent->advance = measured.width;
    extent->height = font->height;
    extent->minX = qv::Saturate32(minX);
    extent->minY = measured.minY;
    extent->maxX = qv::Saturate32(maxX);
    extent->maxY = measured.maxY;
    extent->inkWidth = qv::Saturate32(std::max<int64_t>(measured.width, maxX + 1));
    int64_t extension[4] = {};  // min x, max x, min y, max y
    if ((flags & QV_STYLE_EDGE) != 0) {
        extension[0] = extension[2] = -int64_t(style.edgeSize);
        extension[1] = extension[3] = style.edgeSize;
    }
    if ((flags & QV_STYLE_SHADOW) != 0) {
        const int32_t direction = style.shadowDirection;
        const ShadowSides sides =
            kShadowSides[direction >= 0 && direction < 8 ? direction : kSouthEast];
        const int64_t size = style.shadowSize;
        if (sides.minX) extension[0] -= size;
        if (sides.maxX) extension[1] += size;
        if (sides.minY) extension[2] -= size;
        if (sides.maxY) extension[3] += size;
    }
    extent->minXExtension = qv::Saturate32(extension[0]);
    extent->maxXExtension = qv::Saturate32(extension[1]);
    extent->minYExtension = qv::Saturate32(extension[2]);
    extent->maxYExtension = qv::Saturate32(extension[3]);
}

}  // namespace

int TextExtentRaw(const char* bytes, int32_t length, int encoding, qvStyledExtent* extent,
                  const qvTextStyle& style) {
    *extent = {};
    if (style.font == nullptr) return 0;
    qvTextExtent measured{};
    if (int error = FontTextExtent(style.font, bytes, length, style.styleFlags,
                                   encoding == 1 ? 1 : 0, &measured))
        return error;
    StyleExtent(measured, style, extent);
    return 0;
}

int ExtendTextExtentRaw(const char* bytes, int32_t length, int encoding, qvStyledExtent* extent,
                        const qvTextStyle& style, qvMeasuredPrefix* prefix) {
    *extent = {};
    if (style.font == nullptr) return 0;
    qvTextExtent measured{};
    if (int error = ExtendFontTextExtent(style.font, bytes, length, style.styleFlags,
                                         encoding == 1 ? 1 : 0, prefix, &measured))
        return error;
    StyleExtent(measured, style, extent);
    return 0;
}
