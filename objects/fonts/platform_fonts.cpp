#include "objects/fonts/platform_fonts.h"

#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font_lookup.h"
#include "objects/fonts/truetype.h"
#include "platform/linux/paths.h"

int OpenFontPlatform(const char* name, int32_t size, qvFont* font) {
    char path[kPathBufferSize];
    if (FindFontFile(name, path) != 0) return LoadBitmapFont(path, size, font, name);
    if (OpenTrueTypeFont(name, size, 0, font) == 0) return 0;
    font->engine = QV_FONTENGINE_PLATFORM;
    return 1;
}

int MeasureOutlineText(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                       qvTextExtent* extent) {
    return TrueTypeTextExtent(font, text, length, style, utf8, extent);
}

int ExtendOutlineTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style,
                            int utf8, qvMeasuredPrefix* prefix, qvTextExtent* extent) {
    return ExtendTrueTypeTextExtent(font, text, length, style, utf8, prefix, extent);
}

int RenderFontTextPlatform(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                           const char* text, int32_t length, uint32_t style, int utf8,
                           const qvTextClip& clip, int64_t pen) {
    return RenderTrueTypeText(font, target, x, y, text, length, style, utf8, clip, pen);
}

int32_t GetOutlineKerning(qvFont* font, const char* pair, int32_t length, int utf8) {
    return TrueTypeKerning(font, pair, length, utf8);
}

void SetOutlineFontSize(qvFont* font, double, double) {
    ResizeTrueTypeFont(font);
}

// The engine slants by itself. Its emboldening adds about a third of a pixel at text sizes,
// which only spreads the letters apart, so bold is left to the one-pixel smear, as for the
// built-in engine.
int OutlineStyleSupported(qvFont*, uint32_t style) {
    return style == QV_FONTSTYLE_ITALIC ? 1 : 0;
}

void CloseFontRecord(qvFont* font) {
    CloseTrueTypeFont(font);
}

int OpenDiskfontLibrary() {
    return 0;
}

void CloseDiskfontLibrary() {}
