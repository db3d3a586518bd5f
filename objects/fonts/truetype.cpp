#include "objects/fonts/truetype.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include FT_SYNTHESIS_H

#include "gfx/blit_frontends.h"
#include "gfx/kernels/frontend_kernels.h"
#include "objects/fonts/font_lookup.h"
#include "objects/fonts/font_names.h"
#include "objects/fonts/font_scan.h"
#include "objects/fonts/freetype_library.h"
#include "objects/fonts/glyph_blit.h"
#include "objects/fonts/utf8.h"
#include "platform/linux/blocks.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "runtime/files.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/strings.h"

namespace {

using qv::BlitRect;

constexpr FT_Int32 kLoadFlags = FT_LOAD_NO_AUTOHINT;
constexpr uint32_t kBlank = 32;

// The platform's outline fonts (engine 3) are TrueType records too.
qvTrueTypeFont* TrueTypeOf(const qvFont* font) {
    if (font == nullptr) return nullptr;
    if (font->engine != QV_FONTENGINE_TRUETYPE && font->engine != QV_FONTENGINE_PLATFORM)
        return nullptr;
    return static_cast<qvTrueTypeFont*>(font->engineData);
}

// --- Opening ---

struct BuiltInFace {
    const char* name;
    std::span<const unsigned char> (*data)();
};
constexpr BuiltInFace kBuiltInFaces[] = {
    {"Bitstream Vera Sans", qv::BuiltInFontSans},
    {"Bitstream Vera Serif", qv::BuiltInFontSerif},
    {"Bitstream Vera Sans Mono", qv::BuiltInFontMono},
};

// Opens face 0 of the font at base in the file, through ReadFontStream; length 0 means up to
// the file's end.
bool OpenStreamFace(qvTrueTypeFont& record, const char* path, int64_t base, int64_t length) {
    record.file = FileOpen(path, QV_FILE_READ);
    if (record.file == nullptr) return false;
    if (length <= 0) {
        if (FileSeek(record.file, 0, QV_SEEK_END) == -1) return false;
        length = FileSeek(record.file, 0, QV_SEEK_BEGINNING) - base;
        if (length <= 0) return false;
    }
    record.base = base;
    record.length = length;
    record.stream.size = static_cast<unsigned long>(length);
    record.stream.descriptor.pointer = &record;
    record.stream.read = ReadFontStream;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &record.stream;
    return FT_Open_Face(qv::FreeTypeLibrary(), &args, 0, &record.face) == 0;
}

bool OpenFace(qvTrueTypeFont& record, const char* name) {
    if (std::strncmp(name, ":::chunk", 8) == 0) return OpenStreamFace(record, name, 0, 0);
    for (const BuiltInFace& face : kBuiltInFaces) {
        if (StrICmp(name, face.name) != 0) continue;
        std::span<const unsigned char> data = face.data();
        return FT_New_Memory_Face(qv::FreeTypeLibrary(), data.data(), FT_Long(data.size()), 0,
                                  &record.face) == 0;
    }
    if (qv::fonts::EndsWithNoCase(name, ".ttf") || qv::fonts::EndsWithNoCase(name, ".otf"))
        return OpenStreamFace(record, name, 0, 0);
    int64_t base = 0, length = 0;
    int temporary = 0;
    std::string path = FindTrueTypeFont(name, -1, -1, 0, &base, &length, &temporary);
    if (path.empty()) return false;
    if (temporary != 0) {
        qv::CopyText(record.temporaryName, sizeof record.temporaryName, path.c_str());
        record.temporary = 1;
    }
    return OpenStreamFace(record, path.c_str(), base, base != 0 ? length : 0);
}

// The pixel size whose printable glyphs (codes 33-255 at 100 points) span the size asked for,
// less one pixel, at least 1; 0 when no glyph renders.
FT_UInt CalibratedPixelSize(FT_Face face, int32_t size) {
    if (FT_Set_Char_Size(face, 0, 100 * 64, 72, 72) != 0) return 0;
    {
        // The face's first hinted load makes FreeType's interpreter context (see the guard).
        qv::FreeTypeAllocationGuard guard;
        if (FT_Load_Glyph(face, 0, kLoadFlags) == FT_Err_Out_Of_Memory || guard.Refused()) return 0;
    }
    int64_t ascent = 0, descent = 0;
    for (FT_ULong code = 33; code <= 255; ++code) {
        if (FT_Load_Char(face, code, kLoadFlags | FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot slot = face->glyph;
        ascent = std::max<int64_t>(ascent, slot->bitmap_top);
        descent = std::max<int64_t>(descent, int64_t(slot->bitmap.rows) - slot->bitmap_top);
    }
    if (ascent + descent <= 0) return 0;
    int64_t pixels = std::max<int64_t>(int64_t(size) * 100 / (ascent + descent) - 1, 1);
    return pixels <= 0xFFFF ? FT_UInt(pixels) : 0;
}

// The baseline from the glyphs "A", 0xC0, 0xC4 and "q" that the face has.
int32_t MeasureBaseline(FT_Face face, int32_t height) {
    int64_t ascent = 0, descent = 0;
    bool measured = false;
    for (FT_ULong code : {FT_ULong('A'), FT_ULong(0xC0), FT_ULong(0xC4), FT_ULong('q')}) {
        FT_UInt index = FT_Get_Char_Index(face, code);
        if (index == 0 || FT_Load_Glyph(face, index, kLoadFlags | FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot slot = face->glyph;
        measured = true;
        ascent = std::max<int64_t>(ascent, slot->bitmap_top);
        descent = std::max<int64_t>(descent, int64_t(slot->bitmap.rows) - slot->bitmap_top);
    }
    // In 64 bits: a font scaled up without bound has a height near the int32 limit.
    return measured ? int32_t((ascent + height + 1 - descent) / 2)
                    : int32_t(int64_t(height) * 3 / 4);
}

void NameFont(qvFont* font, FT_Face face, const char* asked) {
    if (face->family_name == nullptr) {
        qv::CopyText(font->name, sizeof font->name, asked);
        return;
    }
    std::snprintf(font->name, sizeof font->name, "%s", face->family_name);
    if (face->style_name != nullptr && face->style_name[0] != 0 &&
        !qv::fonts::IsRegularLikeStyle(face->style_name)) {
        size_t used = std::strlen(font->name);
        std::snprintf(font->name + used, sizeof font->name - used, " %s", face->style_name);
    }
}

void FillCharIndex(qvTrueTypeFont& record) {
    for (FT_ULong code = 0; code < kGlyphCacheSize; ++code)
        record.charIndex[code] = FT_Get_Char_Index(record.face, code);
}

FT_UInt CharIndex(const qvTrueTypeFont& record, uint32_t code) {
    return code < kGlyphCacheSize ? record.charIndex[code] : FT_Get_Char_Index(record.face, code);
}

void ReleaseKerningRows(qvTrueTypeFont& record) {
    for (int16_t*& row : record.kerningRows) {
        FreeMemBlock(row);
        row = nullptr;
    }
}

void ReleaseEntries(qvGlyphCacheEntry* cache) {
    for (int i = 0; i < kGlyphCacheSize; ++i) {
        if (cache[i].glyph != nullptr) FT_Done_Glyph(cache[i].glyph);
        cache[i] = {};
    }
}

void ReleaseCaches(qvTrueTypeFont& record) {
    ReleaseEntries(record.antiAliasedCache);
    ReleaseEntries(record.monoCache);
    for (auto& modes : record.syntheticCaches) {
        for (qvGlyphCacheEntry*& cache : modes) {
            if (cache == nullptr) continue;
            ReleaseEntries(cache);
            FreeMemBlock(cache);
            cache = nullptr;
        }
    }
}

// --- Glyphs ---

struct Glyph {
    int32_t left;
    int32_t top;
    FT_Pos advance;  // untransformed, 26.6
    const FT_Bitmap* bitmap;
    int64_t step;  // the pen step without kerning at scale 1, or kNoStep
};

constexpr int64_t kNoStep = INT64_MIN;

// The pen's step in pixels at scale 1: the advance (26.6 pixels at the face's pixels per em)
// and the kerning (font units) as fractions of the em, scaled to the pixel size and truncated
// once. Truncating the em fractions first lost almost a pixel on every step that does not
// divide exactly, so that words ran together at small sizes.
int64_t StepPixels(const qvTrueTypeFont& record, FT_Pos advance, int64_t kerning) {
    const FT_Face face = record.face;
    const __int128 ppem = std::max<int64_t>(face->size->metrics.x_ppem, 1);
    const __int128 unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 1;
    if (face->units_per_EM == 0) kerning = 0;
    const __int128 em = __int128(advance) * unitsPerEm + 64 * kerning * ppem;
    return int64_t(em * record.pixelSize / (64 * ppem * unitsPerEm));
}

bool Synthetic(uint32_t style) {
    return (style & (QV_FONTSTYLE_BOLD | QV_FONTSTYLE_ITALIC)) != 0;
}

// The font's cache of a style and mode; none without the cache option or, for a synthetic
// style, when memory is short for it.
qvGlyphCacheEntry* StyleCache(qvTrueTypeFont& record, uint32_t style, bool antiAliased) {
    if (record.cacheEnabled == 0) return nullptr;
    if (!Synthetic(style)) return antiAliased ? record.antiAliasedCache : record.monoCache;
    const int variant = ((style & QV_FONTSTYLE_BOLD) != 0 ? 1 : 0) +
                        ((style & QV_FONTSTYLE_ITALIC) != 0 ? 2 : 0) - 1;
    qvGlyphCacheEntry*& cache = record.syntheticCaches[variant][antiAliased ? 0 : 1];
    if (cache == nullptr) {
        cache = static_cast<qvGlyphCacheEntry*>(
            AllocMemBlock(kGlyphCacheSize * sizeof(qvGlyphCacheEntry), 1));
    }
    return cache;
}

// The font's cache entry of a character in a style, or none when the cache does not hold it.
qvGlyphCacheEntry* CacheEntry(qvTrueTypeFont& record, uint32_t code, uint32_t style,
                              bool antiAliased) {
    if (code >= kGlyphCacheSize) return nullptr;
    qvGlyphCacheEntry* cache = StyleCache(record, style, antiAliased);
    return cache != nullptr ? &cache[code] : nullptr;
}

// Whether the loaded outline stays inside what FreeType's rasterisers take: sides below 32767
// pixels, with room for the rounding out to whole pixels. A font scaled far enough makes
// glyphs beyond it, which FreeType refuses, or (the one-bit rasteriser at the limit itself)
// never finishes.
bool Drawable(const FT_GlyphSlot slot) {
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return true;
    FT_BBox box;
    FT_Outline_Get_CBox(&slot->outline, &box);
    constexpr int64_t kLimit = int64_t{0x7FFF - 2} << 6;  // 26.6 pixels
    return int64_t(box.xMax) - box.xMin < kLimit && int64_t(box.yMax) - box.yMin < kLimit;
}

// The glyph of a character, from the entry when it holds one, else loaded and rendered into
// the face's slot (valid until the next load) and copied into the entry (the font's cache
// entry, or one of a text's own glyphs, or none). False when it cannot be loaded or rendered.
bool GetGlyph(qvTrueTypeFont& record, FT_UInt index, uint32_t style, bool antiAliased,
              qvGlyphCacheEntry* entry, Glyph* out) {
    if (entry != nullptr && entry->glyph != nullptr) {
        auto* cached = reinterpret_cast<FT_BitmapGlyph>(entry->glyph);
        *out = {cached->left, cached->top, entry->advance, &cached->bitmap, entry->step};
        return true;
    }
    const FT_GlyphSlot slot = record.face->glyph;
    if (FT_Load_Glyph(record.face, index, kLoadFlags) != 0) return false;
    if ((style & QV_FONTSTYLE_BOLD) != 0) FT_GlyphSlot_Embolden(slot);
    if ((style & QV_FONTSTYLE_ITALIC) != 0) FT_GlyphSlot_Oblique(slot);
    if (!Drawable(slot)) return false;
    if (FT_Render_Glyph(slot, antiAliased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0)
        return false;
    const FT_Pos advance = slot->metrics.horiAdvance;
    FT_Glyph copy = nullptr;
    if (entry != nullptr && FT_Get_Glyph(slot, &copy) == 0) {
        if (copy->format == FT_GLYPH_FORMAT_BITMAP) {
            *entry = {copy, advance, StepPixels(record, advance, 0)};
        } else {
            FT_Done_Glyph(copy);
        }
    }
    *out = {slot->bitmap_left, slot->bitmap_top, advance, &slot->bitmap, kNoStep};
    return true;
}

bool AntiAliased(const qvFont* font, uint32_t style) {
    return font->antiAlias != 0 && (style & QV_FONTSTYLE_ANTIALIAS) != 0;
}

int64_t UnscaledKerning(FT_Face face, FT_UInt left, FT_UInt right) {
    FT_Vector kerning{};
    if (!FT_HAS_KERNING(face) || FT_Get_Kerning(face, left, right, FT_KERNING_UNSCALED, &kerning))
        return 0;
    return kerning.x;
}

// The unscaled kerning of two characters, through the rows of codes below 256.
int64_t PairKerning(qvTrueTypeFont& record, uint32_t left, FT_UInt leftIndex, uint32_t right,
                    FT_UInt rightIndex) {
    if (!FT_HAS_KERNING(record.face)) return 0;
    if (left >= kGlyphCacheSize || right >= kGlyphCacheSize)
        return UnscaledKerning(record.face, leftIndex, rightIndex);
    int16_t*& row = record.kerningRows[left];
    if (row == nullptr) {
        row = static_cast<int16_t*>(AllocMemBlock(kGlyphCacheSize * sizeof(int16_t), 0));
        if (row == nullptr) return UnscaledKerning(record.face, leftIndex, rightIndex);
        std::fill_n(row, kGlyphCacheSize, kKerningUnknown);
    }
    if (row[right] != kKerningUnknown) return row[right];
    const int64_t kerning = UnscaledKerning(record.face, leftIndex, rightIndex);
    if (kerning > INT16_MIN && kerning <= INT16_MAX) row[right] = int16_t(kerning);
    return kerning;
}

// The pen's step: the design's formula over the untransformed advance, then scaled
// horizontally, so that the horizontal scale applies once. step is the cached step without
// kerning, or kNoStep.
int64_t PenStep(const qvFont& font, const qvTrueTypeFont& record, FT_Pos advance, int64_t step,
                int64_t kerning) {
    const int64_t pixels =
        kerning == 0 && step != kNoStep ? step : StepPixels(record, advance, kerning);
    return font.scaleX == 1.0 ? pixels : int64_t(double(pixels) * font.scaleX);
}

// Walks the characters on from where the walk stands: the glyph that waits gets its step with
// the kerning to the first of them; then for each glyph that get(code, index, &glyph) finds,
// calls fn with the glyph, its code and the pen before it, and the glyph waits for the next
// character.
template <typename G, typename Get, typename Fn>
void WalkText(qvFont* font, qvTrueTypeFont& record, const qv::TextCodes& codes, qvTextWalk& walk,
              Get&& get, Fn&& fn) {
    for (int32_t i = 0; i < codes.size(); ++i) {
        const uint32_t code = codes[i];
        const FT_UInt index = CharIndex(record, code);
        if (walk.waiting) {
            const int64_t kerning = PairKerning(record, walk.code, walk.index, code, index);
            walk.pen += PenStep(*font, record, FT_Pos(walk.advance), walk.step, kerning);
            walk.waiting = false;
        }
        G glyph;
        if (!get(code, index, &glyph)) continue;
        fn(glyph, code, walk.pen);
        walk = {walk.pen, true, code, index, glyph.advance, glyph.step};
    }
}

// The pen after the walk: the glyph that waits steps without kerning.
int64_t PenAfter(const qvFont& font, const qvTrueTypeFont& record, const qvTextWalk& walk) {
    return walk.waiting ? walk.pen + PenStep(font, record, FT_Pos(walk.advance), walk.step, 0)
                        : walk.pen;
}

bool HasInk(const FT_Bitmap& bitmap) {
    return bitmap.buffer != nullptr && bitmap.width > 0 && bitmap.rows > 0 && bitmap.pitch > 0;
}

// The box of a glyph for measuring: from the memo when it holds the glyph, else loaded (and
// then kept in the memo). boxes are the memo's boxes of the style, or none.
bool MeasureGlyph(qvTrueTypeFont& record, uint32_t code, FT_UInt index, uint32_t style,
                  bool antiAliased, qvGlyphBox* boxes, qvGlyphBox* out) {
    qvGlyphBox* kept = boxes != nullptr && code < kGlyphCacheSize ? &boxes[code] : nullptr;
    if (kept != nullptr && kept->state != kGlyphBoxUnknown) {
        *out = *kept;
        return kept->state == kGlyphBoxLoaded;
    }
    Glyph glyph;
    const bool loaded = GetGlyph(record, index, style, antiAliased,
                                 CacheEntry(record, code, style, antiAliased), &glyph);
    if (loaded) {
        const FT_Bitmap& bitmap = *glyph.bitmap;
        *out = {glyph.left,     glyph.top,     bitmap.width, bitmap.rows,
                HasInk(bitmap), glyph.advance, glyph.step,   kGlyphBoxLoaded};
    }
    if (kept != nullptr) {
        if (loaded) {
            *kept = *out;
        } else {
            kept->state = kGlyphBoxMissing;
        }
    }
    return loaded;
}

// The memo's boxes for glyphs of the style that the font's cache does not hold; none when
// the cache holds them or there is no memo.
qvGlyphBox* MemoBoxes(const qvFont* font, qvTrueTypeFont& record, uint32_t style, bool antiAliased,
                      qv::fonts::GlyphMemo* memo) {
    const bool bold = (style & QV_FONTSTYLE_BOLD) != 0;
    const bool italic = (style & QV_FONTSTYLE_ITALIC) != 0;
    if (memo == nullptr || StyleCache(record, style, antiAliased) != nullptr) return nullptr;
    return memo->Boxes(font, (bold ? 1 : 0) | (italic ? 2 : 0) | (antiAliased ? 4 : 0));
}

// A measure from the first byte: ink bounds start at 10000 (none found) and 0.
void StartMeasure(qvMeasuredPrefix* measured) {
    measured->bytes = 0;
    measured->walk = {};
    measured->minX = measured->minY = 10000;
    measured->maxX = measured->maxY = 0;
}

// Walks the codes on from the measure's walk; blanks and glyphs without ink do not widen
// the bounds.
void MeasureCodes(qvFont* font, qvTrueTypeFont& record, const qv::TextCodes& codes, uint32_t style,
                  qvMeasuredPrefix& measured) {
    const bool antiAliased = AntiAliased(font, style);
    qvGlyphBox* boxes = MemoBoxes(font, record, style, antiAliased, measured.memo);
    WalkText<qvGlyphBox>(
        font, record, codes, measured.walk,
        [&](uint32_t code, FT_UInt index, qvGlyphBox* box) {
            return MeasureGlyph(record, code, index, style, antiAliased, boxes, box);
        },
        [&](const qvGlyphBox& box, uint32_t code, int64_t pen) {
            if (code == kBlank || !box.inked) return;
            const int64_t x = pen + box.left, y = -int64_t(box.top);
            measured.minX = std::min(measured.minX, x);
            measured.minY = std::min(measured.minY, y);
            measured.maxX = std::max<int64_t>(measured.maxX, x + box.width - 1);
            measured.maxY = std::max<int64_t>(measured.maxY, y + box.rows - 1);
        });
}

qvTextExtent MeasuredExtent(const qvFont& font, const qvTrueTypeFont& record,
                            const qvMeasuredPrefix& measured) {
    int64_t minX = measured.minX, minY = measured.minY;
    if (minX == 10000 && minY == 10000) minX = minY = 0;
    return {qv::Saturate32(PenAfter(font, record, measured.walk)),
            font.height,
            qv::Saturate32(minX),
            qv::Saturate32(minY),
            qv::Saturate32(measured.maxX),
            qv::Saturate32(measured.maxY)};
}

// The glyphs of one text that the font's cache does not hold (a font without a cache, or
// memory short for a style's cache), rendered once for the text instead of at each of their
// characters, and released when it is drawn. Without memory for them each is rendered every
// time.
class TextGlyphs {
public:
    TextGlyphs(qvTrueTypeFont& record, uint32_t style, bool antiAliased)
        : entries_(StyleCache(record, style, antiAliased) == nullptr
                       ? static_cast<qvGlyphCacheEntry*>(
                             AllocMemBlock(kGlyphCacheSize * sizeof(qvGlyphCacheEntry), 1))
                       : nullptr) {}
    ~TextGlyphs() {
        if (entries_ == nullptr) return;
        for (int i = 0; i < kGlyphCacheSize; ++i) {
            if (entries_[i].glyph != nullptr) FT_Done_Glyph(entries_[i].glyph);
        }
        FreeMemBlock(entries_);
    }
    TextGlyphs(const TextGlyphs&) = delete;
    TextGlyphs& operator=(const TextGlyphs&) = delete;

    qvGlyphCacheEntry* Entry(uint32_t code) {
        return entries_ != nullptr && code < kGlyphCacheSize ? &entries_[code] : nullptr;
    }

private:
    qvGlyphCacheEntry* entries_;
};

void DrawGlyph(qvTrueTypeFont& record, const Glyph& glyph, int64_t x, int64_t y,
               const qvTextTarget& target, const qvTextClip& clip, int64_t pen) {
    const FT_Bitmap& bitmap = *glyph.bitmap;
    const bool grey = bitmap.pixel_mode == FT_PIXEL_MODE_GRAY;
    if (!HasInk(bitmap) || (!grey && bitmap.pixel_mode != FT_PIXEL_MODE_MONO)) return;
    BlitRect r{0, 0, x, y, bitmap.width, bitmap.rows};
    if (!qv::fonts::CutToArea(r, clip.x, clip.y, clip.width, clip.height)) return;
    qvPlaneBitMap& view = grey ? record.greyView : record.monoView;
    view = {int32_t(bitmap.width), int32_t(bitmap.rows), bitmap.pitch,
            uint8_t(grey ? 8 : 1), kPlaneWrapped,        bitmap.buffer};
    const auto sx = int32_t(r.sx), sy = int32_t(r.sy);
    if (pen == kFontPenPlane) {
        if (!qv::fonts::CutToPlane(r, target.plane) || target.plane->depth != view.depth) return;
        if (grey) {
            CopyPlane8Rect(&view, int32_t(r.sx), int32_t(r.sy), target.plane, int32_t(r.dx),
                           int32_t(r.dy), int32_t(r.width), int32_t(r.height), 1, 0);
        } else {
            CombineMaskRect(&view, int32_t(r.sx), int32_t(r.sy), target.plane, int32_t(r.dx),
                            int32_t(r.dy), int32_t(r.width), int32_t(r.height), 0);
        }
    } else if (grey) {
        BltAlphaChannel(&view, sx, sy, target.bitmap, int32_t(r.dx), int32_t(r.dy),
                        int32_t(r.width), int32_t(r.height), uint32_t(pen), QV_COVERAGE_BLEND,
                        nullptr, 0, nullptr, 0, nullptr);
    } else {
        BltTemplate(&view, sx, sy, target.bitmap, int32_t(r.dx), int32_t(r.dy), int32_t(r.width),
                    int32_t(r.height), uint32_t(pen));
    }
}

}  // namespace

int OpenTrueTypeFont(const char* name, int32_t size, int cache, qvFont* font) {
    if (name == nullptr || font == nullptr || size < 1 || qv::FreeTypeLibrary() == nullptr)
        return 0;
    auto* record = static_cast<qvTrueTypeFont*>(AllocMemBlock(sizeof(qvTrueTypeFont), 1));
    if (record == nullptr) return 0;
    record->horizontalResolution = record->verticalResolution = 72;
    record->cacheEnabled = cache != 0 ? 1 : 0;
    font->engine = QV_FONTENGINE_TRUETYPE;
    font->engineData = record;
    FT_UInt pixelSize = 0;
    const bool opened = qv::CatchAllocFailure(false, [&] { return OpenFace(*record, name); });
    if (!opened || (pixelSize = CalibratedPixelSize(record->face, size)) == 0 ||
        FT_Set_Pixel_Sizes(record->face, 0, pixelSize) != 0) {
        CloseTrueTypeFont(font);
        font->engine = 0;
        return 0;
    }
    record->pixelSize = int32_t(pixelSize);
    FillCharIndex(*record);
    font->scalable = 1;
    font->antiAlias = 1;
    font->size = size;
    font->height = font->nominalHeight = size;
    font->baseline = font->nominalBaseline = MeasureBaseline(record->face, size);
    NameFont(font, record->face, name);
    return 1;
}

void CloseTrueTypeFont(qvFont* font) {
    qvTrueTypeFont* record = TrueTypeOf(font);
    if (record == nullptr) return;
    ReleaseCaches(*record);
    ReleaseKerningRows(*record);
    if (record->face != nullptr) FT_Done_Face(record->face);
    if (record->file != nullptr) FileClose(record->file);
    if (record->temporary != 0) DeleteFilePath(record->temporaryName);
    FreeMemBlock(record);
    font->engineData = nullptr;
}

unsigned long ReadFontStream(FT_Stream stream, unsigned long offset, unsigned char* buffer,
                             unsigned long count) {
    auto* record = static_cast<qvTrueTypeFont*>(stream->descriptor.pointer);
    FileSeek(record->file, record->base + int64_t(offset), QV_SEEK_BEGINNING);
    if (buffer == nullptr || count == 0) return 0;
    int64_t read = FileReadBuffered(record->file, buffer, int64_t(count));
    return read > 0 ? static_cast<unsigned long>(read) : 0;
}

FT_Face GetFontFace(qvFont* font) {
    qvTrueTypeFont* record = TrueTypeOf(font);
    return record != nullptr ? record->face : nullptr;
}

int TrueTypeTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                       qvTextExtent* extent) {
    qvTrueTypeFont* record = TrueTypeOf(font);
    if (record == nullptr || extent == nullptr) return 0;
    qvMeasuredPrefix measured{};
    StartMeasure(&measured);
    MeasureCodes(font, *record, qv::TextCodes(text, length, utf8), style, measured);
    *extent = MeasuredExtent(*font, *record, measured);
    return 0;
}

int ExtendTrueTypeTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style,
                             int utf8, qvMeasuredPrefix* prefix, qvTextExtent* extent) {
    qvTrueTypeFont* record = TrueTypeOf(font);
    if (record == nullptr || extent == nullptr) return 0;
    if (prefix->bytes > 0) {
        const qv::TextCodes tail(text + prefix->bytes, length - prefix->bytes, utf8);
        // Text that does not decode as UTF-8 is taken byte by byte as a whole, and a sequence
        // cut at the seam may decode with the bytes after it: only text decoded on both sides
        // goes on.
        if (utf8 == 0 || (prefix->decoded && tail.decoded())) {
            MeasureCodes(font, *record, tail, style, *prefix);
            prefix->bytes = length;
            *extent = MeasuredExtent(*font, *record, *prefix);
            return 0;
        }
    }
    StartMeasure(prefix);
    const qv::TextCodes whole(text, length, utf8);
    prefix->decoded = whole.decoded();
    MeasureCodes(font, *record, whole, style, *prefix);
    prefix->bytes = length;
    *extent = MeasuredExtent(*font, *record, *prefix);
    return 0;
}

int RenderTrueTypeText(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                       const char* text, int32_t length, uint32_t style, int utf8,
                       const qvTextClip& clip, int64_t pen) {
    qvTrueTypeFont* record = TrueTypeOf(font);
    if (record == nullptr) return 0;
    const int64_t top = int64_t(y) + font->baseline;
    qvTextWalk walk{};
    walk.pen = x;
    const bool antiAliased = AntiAliased(font, style);
    TextGlyphs rendered(*record, style, antiAliased);
    WalkText<Glyph>(
        font, *record, qv::TextCodes(text, length, utf8), walk,
        [&](uint32_t code, FT_UInt index, Glyph* glyph) {
            qvGlyphCacheEntry* entry = CacheEntry(*record, code, style, antiAliased);
            return GetGlyph(*record, index, style, antiAliased,
                            entry != nullptr ? entry : rendered.Entry(code), glyph);
        },
        [&](const Glyph& glyph, uint32_t, int64_t penX) {
            DrawGlyph(*record, glyph, penX + glyph.left, top - glyph.top, target, clip, pen);
        });
    return 0;
}

int32_t TrueTypeKerning(qvFont* font, const char* pair, int32_t length, int utf8) {
    qvTrueTypeFont* record = TrueTypeOf(font);
    if (record == nullptr || !FT_HAS_KERNING(record->face)) return 0;
    qv::TextCodes codes(pair, length, utf8);
    if (codes.size() != 2) return 0;
    const FT_Face face = record->face;
    const int64_t unscaled =
        UnscaledKerning(face, FT_Get_Char_Index(face, codes[0]), FT_Get_Char_Index(face, codes[1]));
    if (face->units_per_EM == 0) return 0;
    return int32_t(unscaled * (int64_t(record->pixelSize) * record->horizontalResolution / 72) /
                   face->units_per_EM);
}

void ResizeTrueTypeFont(qvFont* font) {
    qvTrueTypeFont* record = TrueTypeOf(font);
    if (record == nullptr) return;
    ReleaseCaches(*record);
    auto fixed = [](double scale) {
        return FT_Fixed(std::clamp(scale * 65536.0, -2147483647.0, 2147483647.0));
    };
    FT_Matrix matrix{fixed(font->scaleX), 0, 0, fixed(font->scaleY)};
    FT_Set_Transform(record->face, &matrix, nullptr);
    font->baseline = MeasureBaseline(record->face, font->height);
}

void FreeTrueTypeGlyphCache(qvFont* font) {
    if (qvTrueTypeFont* record = TrueTypeOf(font)) ReleaseCaches(*record);
}
