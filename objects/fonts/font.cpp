#include "objects/fonts/font.h"

#include <algorithm>
#include <cmath>

#include "gfx/clip.h"
#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font_scan.h"
#include "objects/fonts/freetype_library.h"
#include "objects/fonts/platform_fonts.h"
#include "objects/fonts/truetype.h"
#include "platform/linux/memory.h"

namespace {

qvFont* defaultFont = nullptr;
bool measureTextsWhole = false;

bool OwnBitmapFont(const qvFont* font) {
    return (font->engine == QV_FONTENGINE_BITMAP || font->engine == QV_FONTENGINE_COLOUR) &&
           font->platformRendered == 0;
}

bool PlatformDrawn(const qvFont* font) {
    return font->engine == QV_FONTENGINE_PLATFORM ||
           ((font->engine == QV_FONTENGINE_BITMAP || font->engine == QV_FONTENGINE_COLOUR) &&
            font->platformRendered != 0);
}

int32_t CeilScaled(int32_t value, double scale) {
    return qv::Saturate32(int64_t(std::clamp(std::ceil(value * scale), -4e9, 4e9)));
}

}  // namespace

qvFont* NewFontRecord() {
    auto* font = static_cast<qvFont*>(AllocMemBlock(sizeof(qvFont), 1));
    if (font != nullptr) font->scaleX = font->scaleY = 1.0;
    return font;
}

void FreeFontRecord(qvFont* font) {
    FreeMemBlock(font);
}

int FontTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                   qvTextExtent* extent) {
    if (font == nullptr) return 0;
    if (OwnBitmapFont(font)) return BitmapFontTextExtent(font, text, length, style, utf8, extent);
    if (PlatformDrawn(font)) return MeasureOutlineText(font, text, length, style, utf8, extent);
    if (font->engine == QV_FONTENGINE_TRUETYPE)
        return TrueTypeTextExtent(font, text, length, style, utf8, extent);
    return 0;
}

int ExtendFontTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                         qvMeasuredPrefix* prefix, qvTextExtent* extent) {
    if (font == nullptr || text == nullptr || length < 0 || measureTextsWhole) {
        prefix->font = nullptr;
        return FontTextExtent(font, text, length, style, utf8, extent);
    }
    const bool goesOn = prefix->font == font && prefix->text == text && prefix->bytes <= length &&
                        prefix->scaleX == font->scaleX && prefix->scaleY == font->scaleY &&
                        prefix->style == style && prefix->utf8 == utf8;
    if (!goesOn) {
        qv::fonts::GlyphMemo* memo = prefix->memo;
        *prefix = {};
        prefix->memo = memo;
        prefix->text = text;
        prefix->font = font;
        prefix->scaleX = font->scaleX;
        prefix->scaleY = font->scaleY;
        prefix->style = style;
        prefix->utf8 = utf8;
    }
    if (OwnBitmapFont(font)) return ExtendBitmapFontTextExtent(font, text, length, prefix, extent);
    if (font->engine == QV_FONTENGINE_PLATFORM)
        return ExtendOutlineTextExtent(font, text, length, style, utf8, prefix, extent);
    if (font->engine == QV_FONTENGINE_TRUETYPE)
        return ExtendTrueTypeTextExtent(font, text, length, style, utf8, prefix, extent);
    prefix->font = nullptr;
    return FontTextExtent(font, text, length, style, utf8, extent);
}

int RenderFontText(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y, const char* text,
                   int32_t length, uint32_t style, int utf8, const qvTextClip& clip, int64_t pen) {
    if (font == nullptr) font = defaultFont;
    if (font == nullptr) return 0;
    if (OwnBitmapFont(font))
        return RenderBitmapFontText(font, target, x, y, text, length, style, utf8, clip, pen);
    if (PlatformDrawn(font))
        return RenderFontTextPlatform(font, target, x, y, text, length, style, utf8, clip, pen);
    if (font->engine == QV_FONTENGINE_TRUETYPE)
        return RenderTrueTypeText(font, target, x, y, text, length, style, utf8, clip, pen);
    return 0;
}

int32_t GetKerningPairByFont(qvFont* font, const char* pair, int32_t length, int utf8) {
    if (font == nullptr) return 0;
    if (PlatformDrawn(font)) return GetOutlineKerning(font, pair, length, utf8);
    if (font->engine == QV_FONTENGINE_TRUETYPE) return TrueTypeKerning(font, pair, length, utf8);
    return 0;
}

void SetFontSize(qvFont* font, double scaleX, double scaleY) {
    if (font == nullptr || font->scalable == 0) return;
    // A scale that is no positive finite number would give no size at all.
    if (!(std::isfinite(scaleX) && std::isfinite(scaleY) && scaleX > 0 && scaleY > 0)) return;
    if (scaleX == font->scaleX && scaleY == font->scaleY) return;
    font->scaleX = scaleX;
    font->scaleY = scaleY;
    font->height = CeilScaled(font->nominalHeight, scaleY);
    font->baseline = CeilScaled(font->nominalBaseline, scaleY);
    if (font->engine == QV_FONTENGINE_PLATFORM) SetOutlineFontSize(font, scaleX, scaleY);
    if (font->engine == QV_FONTENGINE_TRUETYPE) ResizeTrueTypeFont(font);
}

int FontStyleSupported(qvFont* font, uint32_t style) {
    if (font == nullptr || font->engine != QV_FONTENGINE_PLATFORM) return 0;
    return OutlineStyleSupported(font, style);
}

void FreeFontGlyphCache(qvFont* font) {
    if (font != nullptr && font->engine == QV_FONTENGINE_TRUETYPE) FreeTrueTypeGlyphCache(font);
}

void CloseFontObject(qvFont* font) {
    if (font == nullptr || font == defaultFont) return;
    if (OwnBitmapFont(font)) {
        FreeBitmapFont(font);
    } else if (PlatformDrawn(font)) {
        CloseFontRecord(font);
    } else if (font->engine == QV_FONTENGINE_TRUETYPE) {
        CloseTrueTypeFont(font);
    }
    FreeFontRecord(font);
}

int OpenDefaultFont(qvFont** font) {
    if (defaultFont == nullptr) {
        if (int error = OpenTopazFont(&defaultFont)) return error;
    }
    *font = defaultFont;
    if (int error = OpenDiskfontLibrary()) return error;
    return OpenFreeType();
}

qvFont* DefaultFont() {
    return defaultFont;
}

void CloseAllFonts() {
    FreeTopazFont(defaultFont);
    defaultFont = nullptr;
    CloseDiskfontLibrary();
    CloseFreeType();
    FreeTrueTypeFontList();
}

namespace qv::fonts {

qvGlyphBox* GlyphMemo::Boxes(const qvFont* font, int variant) {
    if (font != font_ || font->scaleX != scaleX_ || font->scaleY != scaleY_) {
        Forget();
        font_ = font;
        scaleX_ = font->scaleX;
        scaleY_ = font->scaleY;
    }
    qvGlyphBox*& boxes = boxes_[variant];
    if (boxes == nullptr)
        boxes = static_cast<qvGlyphBox*>(AllocMemBlock(256 * sizeof(qvGlyphBox), 1));
    return boxes;
}

void GlyphMemo::Forget() {
    for (qvGlyphBox*& boxes : boxes_) {
        FreeMemBlock(boxes);
        boxes = nullptr;
    }
}

}  // namespace qv::fonts

namespace qv::fonts::testing {

void MeasureTextsWhole(bool whole) {
    measureTextsWhole = whole;
}

}  // namespace qv::fonts::testing
