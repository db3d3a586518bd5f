#include "objects/fonts/bitmap_font.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <string>

#include "engine/error_codes.h"
#include "gfx/masks.h"
#include "objects/fonts/font_names.h"
#include "objects/fonts/glyph_blit.h"
#include "platform/linux/blocks.h"
#include "platform/linux/byte_order.h"
#include "platform/linux/files.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/runtime_state.h"
#include "runtime/strings.h"

namespace {

using qv::BlitRect;

struct FreeBlock {
    void operator()(void* block) const { FreeMemBlock(block); }
};
template <typename T>
using Block = std::unique_ptr<T[], FreeBlock>;

template <typename T>
Block<T> AllocArray(size_t count) {
    return Block<T>(static_cast<T*>(AllocMemBlock(std::max<size_t>(count, 1) * sizeof(T), 1)));
}

// --- The built-in font ---

constexpr int kTopazCodes = 224;       // 32 to 255
constexpr uint32_t kTopazBlank = 768;  // the glyph of 160, also every code without a glyph

// Codes 32-126 and 160-255 have glyphs in the strip; 127-159 and codes outside the range
// show the blank at bit 768.
constexpr std::array<uint32_t, kTopazCodes + 1> kTopazLocations = [] {
    std::array<uint32_t, kTopazCodes + 1> locations{};
    for (int code = 32; code <= 255; ++code) {
        uint32_t bit = code < 127   ? uint32_t(code - 32) * 8
                       : code < 160 ? kTopazBlank
                                    : kTopazBlank + uint32_t(code - 160) * 8;
        locations[code - 32] = bit << 16 | 8;
    }
    locations[kTopazCodes] = kTopazBlank << 16 | 8;
    return locations;
}();

// --- Placement ---

int32_t GlyphIndex(const qvBitmapFont& font, uint32_t code) {
    if (int64_t(code) >= font.lowest && int64_t(code) <= font.highest)
        return int32_t(code) - font.lowest;
    return font.glyphCount - 1;
}

int32_t GlyphBit(const qvBitmapFont& font, int32_t glyph) {
    return int32_t(font.locations[glyph] >> 16);
}

int32_t GlyphWidth(const qvBitmapFont& font, int32_t glyph) {
    return int32_t(font.locations[glyph] & 0xFFFF);
}

// The glyph's left edge for the pen, and the pen after it.
int64_t LeftEdge(const qvBitmapFont& font, int32_t glyph, int64_t pen) {
    return pen + (font.kerning != nullptr ? font.kerning[glyph] : 0);
}

int64_t NextPen(const qvBitmapFont& font, int32_t glyph, int64_t left) {
    return left + (font.spacing != nullptr ? font.spacing[glyph] : font.nominalWidth);
}

bool IsPlaced(const qvBitmapFont& font) {
    return (font.flags & QV_BITMAPFONT_PROPORTIONAL) != 0 || font.spacing != nullptr ||
           font.kerning != nullptr;
}

qvBitmapFont* BitmapFontOf(const qvFont* font) {
    if (font == nullptr || font->platformRendered != 0) return nullptr;
    if (font->engine != QV_FONTENGINE_BITMAP && font->engine != QV_FONTENGINE_COLOUR)
        return nullptr;
    return static_cast<qvBitmapFont*>(font->engineData);
}

// --- Reading disk fonts ---

constexpr uint16_t kContentsId = 0x0F00;
constexpr uint16_t kTaggedContentsId = 0x0F02;
constexpr uint16_t kSizeFileId = 0x0F80;
constexpr int kEntryBytes = 260;
constexpr int kEntryNameBytes = 256;
constexpr int64_t kLoadHeader = 32;  // a stored offset p is file position p + 32
constexpr int kHeaderBytes = 142;
constexpr int kColourHeaderBytes = 186;
constexpr int32_t kMaxBitMapSide = 32768;

bool StartsWithChunk(const std::string& name) {
    return name.compare(0, 8, ":::chunk") == 0;
}

// A file of known length read at checked positions.
class FontFile {
public:
    explicit FontFile(const std::string& name) : file_(FileOpen(name.c_str(), QV_FILE_READ)) {
        if (file_ != nullptr && FileSeek(file_.get(), 0, QV_SEEK_END) != -1)
            length_ = FileSeek(file_.get(), 0, QV_SEEK_BEGINNING);
    }
    bool Open() const { return file_ != nullptr && length_ >= 0; }

    bool Read(int64_t position, void* buffer, int64_t count) {
        if (position < 0 || count < 0 || count > length_ || position > length_ - count)
            return false;
        return FileSeek(file_.get(), position, QV_SEEK_BEGINNING) != -1 &&
               FileRead(file_.get(), buffer, count) == count;
    }
    // count bytes at the stored offset, in a new block; none when they do not lie in the file
    // or memory is short.
    Block<uint8_t> ReadAt(uint32_t offset, int64_t count) {
        Block<uint8_t> bytes = AllocArray<uint8_t>(size_t(count));
        if (bytes == nullptr || !Read(kLoadHeader + offset, bytes.get(), count)) return nullptr;
        return bytes;
    }

private:
    qv::FilePtr file_;
    int64_t length_ = -1;
};

// The size file's name for a contents entry.
std::string SizeFileName(const std::string& contentsName, const char* entry) {
    std::string name = entry;
    if (!StartsWithChunk(name)) {
        std::string path =
            contentsName.substr(0, PathFilePart(contentsName.c_str()) - contentsName.c_str());
        char joined[2048];
        qv::CopyText(joined, sizeof joined, path.c_str());
        if (AddPart(joined, entry, sizeof joined) == 0) return {};
        return joined;
    }
    // A linked size file: its offset counts from the applet's base; the container is the
    // contents file's own (the text after the "/" that ends its linked file's name).
    uint64_t offset = 0;
    size_t digits = 8;
    for (; digits < name.size() && name[digits] >= '0' && name[digits] <= '9'; ++digits) {
        offset = offset * 10 + uint64_t(name[digits] - '0');
        if (offset > UINT32_MAX) return {};
    }
    if (digits == 8) return {};
    offset += qv::Runtime().linkOffset;
    std::string container;
    size_t star = contentsName.find('*');
    size_t slash = star == std::string::npos ? std::string::npos : contentsName.find('/', star);
    if (slash != std::string::npos) container = contentsName.substr(slash + 1);
    return ":::chunk" + std::to_string(offset) + name.substr(digits) + container;
}

// The entry name of the first entry of that size that is not "::incomplete"; empty when
// the contents file is not one or has none.
std::string FindSizeEntry(const std::string& contentsName, int32_t size) {
    FontFile contents(contentsName);
    uint8_t head[4];
    if (!contents.Open() || !contents.Read(0, head, 4)) return {};
    uint32_t id = qv::LoadBigEndian(head, 2);
    uint32_t count = qv::LoadBigEndian(head + 2, 2);
    if ((id != kContentsId && id != kTaggedContentsId) || count == 0) return {};
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t entry[kEntryBytes];
        if (!contents.Read(4 + int64_t(i) * kEntryBytes, entry, kEntryBytes)) return {};
        std::string file(reinterpret_cast<const char*>(entry),
                         strnlen(reinterpret_cast<const char*>(entry), kEntryNameBytes));
        if (int32_t(qv::LoadBigEndian(entry + kEntryNameBytes, 2)) == size &&
            file != "::incomplete" && !file.empty())
            return file;
    }
    return {};
}

// Everything a size file gives, owned until it moves into the font.
struct LoadedFont {
    qvBitmapFont text{};
    Block<uint8_t> glyphData;
    Block<uint32_t> locations;
    Block<int16_t> spacing;
    Block<int16_t> kerning;
    Block<qvARGB> pixels;  // colour fonts
    int32_t pixelWidth = 0;
};

void ReadTextFont(const uint8_t* h, qvBitmapFont& t) {
    t.height = int32_t(qv::LoadBigEndian(h + 110, 2));
    t.style = h[112];
    t.flags = h[113];
    t.nominalWidth = int32_t(qv::LoadBigEndian(h + 114, 2));
    t.baseline = int32_t(qv::LoadBigEndian(h + 116, 2));
    t.boldSmear = int32_t(qv::LoadBigEndian(h + 118, 2));
    t.accessors = int32_t(qv::LoadBigEndian(h + 120, 2));
    t.lowest = h[122];
    t.highest = h[123];
    t.modulo = int32_t(qv::LoadBigEndian(h + 128, 2));
}

// Reads count big-endian 16-bit values at the stored offset.
Block<int16_t> ReadShorts(FontFile& file, uint32_t offset, int32_t count) {
    Block<uint8_t> raw = file.ReadAt(offset, int64_t(count) * 2);
    Block<int16_t> values = raw != nullptr ? AllocArray<int16_t>(size_t(count)) : nullptr;
    if (values == nullptr) return nullptr;
    for (int32_t i = 0; i < count; ++i)
        values[i] = int16_t(qv::LoadBigEndian(raw.get() + 2 * i, 2));
    return values;
}

bool ReadLocations(FontFile& file, uint32_t offset, LoadedFont& font) {
    const qvBitmapFont& t = font.text;
    Block<uint8_t> raw = file.ReadAt(offset, int64_t(t.glyphCount) * 4);
    if (raw == nullptr) return false;
    font.locations = AllocArray<uint32_t>(size_t(t.glyphCount));
    if (font.locations == nullptr) return false;
    const int64_t stripWidth = int64_t(t.modulo) * 8;
    for (int32_t i = 0; i < t.glyphCount; ++i) {
        uint32_t location = qv::LoadBigEndian32(raw.get() + 4 * i);
        if (int64_t(location >> 16) + (location & 0xFFFF) > stripWidth) return false;
        font.locations[i] = location;
    }
    return true;
}

// The colour table as 0xRRGGBB (each nibble doubled), colour 0 the key.
bool ReadColourTable(FontFile& file, uint32_t recordOffset, uint32_t table[256], uint32_t* count) {
    uint8_t record[8];
    if (!file.Read(kLoadHeader + recordOffset, record, 8)) return false;
    *count = std::min<uint32_t>(qv::LoadBigEndian(record + 2, 2), 256);
    Block<uint8_t> raw = file.ReadAt(qv::LoadBigEndian32(record + 4), int64_t(*count) * 2);
    if (raw == nullptr) return false;
    for (uint32_t i = 0; i < *count; ++i) {
        uint32_t rgb = qv::LoadBigEndian(raw.get() + 2 * i, 2);
        uint32_t r = rgb >> 8 & 15, g = rgb >> 4 & 15, b = rgb & 15;
        table[i] = (r * 17) << 16 | (g * 17) << 8 | b * 17;
    }
    if (*count > 0) table[0] = kColourFontKey;
    return true;
}

// The colour glyphs as an ARGB array of (modulo x 8) x height pixels; indices past the
// table are colour 0.
bool ReadColourPixels(FontFile& file, const uint8_t* h, LoadedFont& font) {
    const qvBitmapFont& t = font.text;
    const int32_t width = t.modulo * 8;
    if (width > kMaxBitMapSide || t.height > kMaxBitMapSide) return false;
    const int depth = std::min<int>(h[144], 8);
    const int planeCount = std::popcount(unsigned(h[148]) & ((1u << depth) - 1));
    uint32_t table[256];
    uint32_t colours = 0;
    if (!ReadColourTable(file, qv::LoadBigEndian32(h + 150), table, &colours)) return false;
    const int64_t planeBytes = int64_t(t.modulo) * t.height;
    Block<uint8_t> planes[8];
    bool anyPlane = false;
    for (int i = 0; i < planeCount; ++i) {
        uint32_t offset = qv::LoadBigEndian32(h + 154 + 4 * i);
        if (offset != 0 && (planes[i] = file.ReadAt(offset, planeBytes)) == nullptr) return false;
        anyPlane |= offset != 0;
    }
    // Without a plane in the file nothing bounds the pixel array by the data.
    if (!anyPlane) return false;
    font.pixels = AllocArray<qvARGB>(size_t(width) * size_t(t.height));
    if (font.pixels == nullptr) return false;
    for (int32_t y = 0; y < t.height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int64_t byte = int64_t(y) * t.modulo + (x >> 3);
            uint32_t index = 0;
            for (int i = 0; i < planeCount; ++i) {
                if (planes[i] != nullptr && (planes[i][byte] >> (7 - (x & 7)) & 1) != 0)
                    index |= 1u << i;
            }
            uint32_t rgb = index < colours ? table[index] : kColourFontKey;
            font.pixels[size_t(y) * width + x] = 0xFF000000u | rgb;
        }
    }
    font.pixelWidth = width;
    return true;
}

bool ReadSizeFile(const std::string& name, LoadedFont& font) {
    FontFile file(name);
    uint8_t h[kColourHeaderBytes] = {};
    if (!file.Open() || !file.Read(0, h, kHeaderBytes)) return false;
    if (qv::LoadBigEndian(h + 50, 2) != kSizeFileId) return false;
    qvBitmapFont& t = font.text;
    ReadTextFont(h, t);
    if (t.lowest > t.highest || t.height == 0) return false;
    t.glyphCount = t.highest - t.lowest + 2;
    if ((t.style & QV_BITMAPFONT_COLOUR) != 0) {
        if (!file.Read(kHeaderBytes, h + kHeaderBytes, kColourHeaderBytes - kHeaderBytes) ||
            !ReadColourPixels(file, h, font))
            return false;
    } else {
        font.glyphData = file.ReadAt(qv::LoadBigEndian32(h + 124), int64_t(t.modulo) * t.height);
        if (font.glyphData == nullptr) return false;
    }
    if (!ReadLocations(file, qv::LoadBigEndian32(h + 130), font)) return false;
    if (uint32_t offset = qv::LoadBigEndian32(h + 134);
        offset != 0 && (font.spacing = ReadShorts(file, offset, t.glyphCount)) == nullptr)
        return false;
    if (uint32_t offset = qv::LoadBigEndian32(h + 138);
        offset != 0 && (font.kerning = ReadShorts(file, offset, t.glyphCount)) == nullptr)
        return false;
    return true;
}

// The font's name: the name given, else the name asked for (a linked font's file name).
void NameFont(qvFont* font, const char* name, const char* givenName) {
    if (givenName != nullptr) {
        qv::CopyText(font->name, sizeof font->name, givenName);
        return;
    }
    std::string_view linked;
    if (qv::VirtualFileName(name, &linked)) {
        qv::CopyText(font->name, sizeof font->name, std::string(linked).c_str());
        return;
    }
    qv::CopyText(font->name, sizeof font->name, name);
}

// Moves the loaded parts into the font; false when memory is short (nothing moved then).
bool InstallFont(LoadedFont& loaded, qvFont* font) {
    auto* text = static_cast<qvBitmapFont*>(AllocMemBlock(sizeof(qvBitmapFont), 1));
    if (text == nullptr) return false;
    *text = loaded.text;
    text->glyphData = loaded.glyphData.release();
    text->locations = loaded.locations.release();
    text->spacing = loaded.spacing.release();
    text->kerning = loaded.kerning.release();
    const bool colour = (text->style & QV_BITMAPFONT_COLOUR) != 0;
    if (!colour) {
        text->templatePlane = {text->modulo * 8, text->height,   text->modulo, 1,
                               kPlaneWrapped,    text->glyphData};
    }
    font->engine = colour ? QV_FONTENGINE_COLOUR : QV_FONTENGINE_BITMAP;
    font->engineData = text;
    font->pendingPixels = loaded.pixels.release();
    font->pendingWidth = colour ? loaded.pixelWidth : 0;
    font->pendingHeight = colour ? text->height : 0;
    font->height = font->nominalHeight = text->height;
    font->baseline = font->nominalBaseline = text->baseline;
    font->antiAlias = 0;
    return true;
}

int LoadBitmapFontInto(const char* name, int32_t size, qvFont* font, const char* givenName) {
    std::string contentsName = name;
    if (!StartsWithChunk(contentsName) && !qv::fonts::EndsWithNoCase(contentsName, ".font"))
        contentsName += ".font";
    std::string entry = FindSizeEntry(contentsName, size);
    if (entry.empty()) return 0;
    std::string sizeName = SizeFileName(contentsName, entry.c_str());
    LoadedFont loaded;
    if (sizeName.empty() || !ReadSizeFile(sizeName, loaded) || !InstallFont(loaded, font)) return 0;
    font->size = size;
    NameFont(font, name, givenName);
    if (font->engine == QV_FONTENGINE_COLOUR && qv::Runtime().displayOpen != 0 &&
        ConvertColourFontPixels(font) != 0) {
        FreeBitmapFont(font);
        return 0;
    }
    return 1;
}

// --- Drawing ---

void DrawOneBitGlyph(const qvBitmapFont& text, int32_t glyph, int64_t left, int32_t y,
                     const qvTextTarget& target, const qvTextClip& clip, int64_t pen) {
    BlitRect r{GlyphBit(text, glyph), 0, left, y, GlyphWidth(text, glyph), text.height};
    if (pen == kFontPenPlane) {
        if (qv::fonts::CutToPlane(r, target.plane))
            CombineMaskRect(&text.templatePlane, int32_t(r.sx), int32_t(r.sy), target.plane,
                            int32_t(r.dx), int32_t(r.dy), int32_t(r.width), int32_t(r.height), 0);
    } else if (qv::fonts::CutToArea(r, clip.x, clip.y, clip.width, clip.height)) {
        BltTemplate(&text.templatePlane, int32_t(r.sx), int32_t(r.sy), target.bitmap, int32_t(r.dx),
                    int32_t(r.dy), int32_t(r.width), int32_t(r.height), uint32_t(pen));
    }
}

void DrawColourGlyph(const qvFont& font, const qvBitmapFont& text, int32_t glyph, int64_t left,
                     int32_t y, const qvTextTarget& target, const qvTextClip& clip, int64_t pen) {
    const BlitRect box{GlyphBit(text, glyph), 0, left, y, GlyphWidth(text, glyph), text.height};
    BlitRect r = box;
    bool inside = pen == kFontPenPlane
                      ? qv::fonts::CutToBitMap(r, target.bitmap)
                      : qv::fonts::CutToArea(r, clip.x, clip.y, clip.width, clip.height);
    if (inside)
        BltMask(font.colourGlyphs, int32_t(r.sx), int32_t(r.sy), target.bitmap, int32_t(r.dx),
                int32_t(r.dy), int32_t(r.width), int32_t(r.height), font.colourMask);
    r = box;
    if (pen == kFontPenPlane && qv::fonts::CutToPlane(r, target.plane))
        CombineMaskRect(font.colourMask, int32_t(r.sx), int32_t(r.sy), target.plane, int32_t(r.dx),
                        int32_t(r.dy), int32_t(r.width), int32_t(r.height), 0);
}

}  // namespace

int OpenTopazFont(qvFont** out) {
    *out = nullptr;
    qvFont* font = NewFontRecord();
    auto* text = static_cast<qvBitmapFont*>(AllocMemBlock(sizeof(qvBitmapFont), 1));
    if (font == nullptr || text == nullptr) {
        FreeFontRecord(font);
        FreeMemBlock(text);
        return ERR_MEM;
    }
    auto* strip = const_cast<uint8_t*>(qv::kTopazGlyphs);  // read only, never freed
    *text = {8,
             0,
             0,
             8,
             6,
             1,
             0,
             32,
             255,
             strip,
             qv::kTopazModulo,
             const_cast<uint32_t*>(kTopazLocations.data()),
             nullptr,
             nullptr,
             kTopazCodes + 1,
             {qv::kTopazModulo * 8, 8, qv::kTopazModulo, 1, kPlaneWrapped, strip}};
    qv::CopyText(font->name, sizeof font->name, "topaz");
    font->size = 8;
    font->height = font->nominalHeight = 8;
    font->baseline = font->nominalBaseline = 6;
    font->engine = QV_FONTENGINE_BITMAP;
    font->engineData = text;
    *out = font;
    return 0;
}

void FreeTopazFont(qvFont* font) {
    if (font == nullptr) return;
    FreeMemBlock(font->engineData);
    FreeFontRecord(font);
}

int LoadBitmapFont(const char* name, int32_t size, qvFont* font, const char* givenName) {
    if (name == nullptr || font == nullptr) return 0;
    return qv::CatchAllocFailure(0,
                                 [&] { return LoadBitmapFontInto(name, size, font, givenName); });
}

void FreeBitmapFont(qvFont* font) {
    if (font == nullptr) return;
    if (auto* text = static_cast<qvBitmapFont*>(font->engineData)) {
        FreeMemBlock(text->glyphData);
        FreeMemBlock(text->locations);
        FreeMemBlock(text->spacing);
        FreeMemBlock(text->kerning);
        FreeMemBlock(text);
    }
    FreeDisplayBitMap(font->colourGlyphs);
    FreePlaneBitMap(font->colourMask);
    FreeMemBlock(font->pendingPixels);
    font->engineData = nullptr;
    font->colourGlyphs = nullptr;
    font->colourMask = nullptr;
    font->pendingPixels = nullptr;
    font->pendingWidth = font->pendingHeight = 0;
}

namespace {

// Walks the bytes on from the prefix's pen, widening its bounds by every glyph's left and
// right edge and the pen after it; bounds start at 0.
void MeasureBytes(const qvBitmapFont& f, const unsigned char* bytes, int32_t count,
                  qvMeasuredPrefix& measured) {
    int64_t pen = measured.walk.pen, minX = measured.minX, maxX = measured.maxX;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t glyph = GlyphIndex(f, bytes[i]);
        const int64_t left = LeftEdge(f, glyph, pen);
        pen = NextPen(f, glyph, left);
        minX = std::min({minX, left, left + GlyphWidth(f, glyph), pen});
        maxX = std::max({maxX, left, left + GlyphWidth(f, glyph), pen});
    }
    measured.walk.pen = pen;
    measured.minX = minX;
    measured.maxX = maxX;
}

qvTextExtent BitmapExtent(const qvBitmapFont& f, int64_t count, const qvMeasuredPrefix& measured) {
    int64_t width = measured.walk.pen, minX = measured.minX, maxX = measured.maxX - 1;
    if (!IsPlaced(f)) {
        width = count * f.nominalWidth;
        minX = 0;
        maxX = width - 1;
    }
    return {qv::Saturate32(width), f.height,
            qv::Saturate32(minX),  -f.baseline,
            qv::Saturate32(maxX),  f.height - 1 - f.baseline};
}

}  // namespace

int BitmapFontTextExtent(qvFont* font, const char* text, int32_t length, uint32_t, int,
                         qvTextExtent* extent) {
    qvMeasuredPrefix measured{};
    return ExtendBitmapFontTextExtent(font, text, length, &measured, extent);
}

int ExtendBitmapFontTextExtent(qvFont* font, const char* text, int32_t length,
                               qvMeasuredPrefix* prefix, qvTextExtent* extent) {
    const qvBitmapFont* f = BitmapFontOf(font);
    if (f == nullptr || extent == nullptr) return 0;
    const int32_t count = text != nullptr ? std::max(length, 0) : 0;
    if (prefix->bytes == 0) {
        prefix->walk = {};
        prefix->minX = prefix->maxX = 0;
    }
    const int32_t measured = std::clamp(prefix->bytes, 0, count);
    // Without placement every glyph is as wide as the font: nothing to walk.
    if (IsPlaced(*f))
        MeasureBytes(*f, reinterpret_cast<const unsigned char*>(text) + measured, count - measured,
                     *prefix);
    prefix->bytes = count;
    *extent = BitmapExtent(*f, count, *prefix);
    return 0;
}

int RenderBitmapFontText(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                         const char* text, int32_t length, uint32_t, int, const qvTextClip& clip,
                         int64_t pen) {
    const qvBitmapFont* f = BitmapFontOf(font);
    if (f == nullptr || text == nullptr) return 0;
    const bool colour = font->engine == QV_FONTENGINE_COLOUR;
    if (colour && (font->colourGlyphs == nullptr || font->colourMask == nullptr)) return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    int64_t penX = x;
    for (int32_t i = 0; i < length; ++i) {
        int32_t glyph = GlyphIndex(*f, bytes[i]);
        int64_t left = LeftEdge(*f, glyph, penX);
        penX = NextPen(*f, glyph, left);
        if (GlyphWidth(*f, glyph) == 0) continue;
        if (colour) {
            DrawColourGlyph(*font, *f, glyph, left, y, target, clip, pen);
        } else {
            DrawOneBitGlyph(*f, glyph, left, y, target, clip, pen);
        }
    }
    return 0;
}

int ConvertColourFontPixels(qvFont* font) {
    if (font == nullptr || font->pendingPixels == nullptr) return 0;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    if (int error = PixelArrayToBitMap(font->pendingPixels, kColourFontKey, font->pendingWidth,
                                       font->pendingHeight, font->pendingWidth, 1, &bitmap, &mask))
        return error;
    FreeDisplayBitMap(font->colourGlyphs);
    FreePlaneBitMap(font->colourMask);
    font->colourGlyphs = bitmap;
    font->colourMask = mask;
    FreeMemBlock(font->pendingPixels);
    font->pendingPixels = nullptr;
    return 0;
}
