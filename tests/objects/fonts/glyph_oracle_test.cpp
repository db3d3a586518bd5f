// Glyph pixels against references nobody on this project wrote: FreeType called directly
// (byte for byte), stb_truetype (an independent rasteriser, by overlap), and the built-in
// font's strip regenerated from fonts-amiga.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <span>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>
#pragma GCC diagnostic pop

#include "objects/fonts/truetype.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "tests/objects/fonts/font_test_support.h"

namespace qv::testing {
namespace {

using GlyphOracleTest = FontTest;

struct Face {
    const char* name;
    std::span<const unsigned char> (*data)();
};
const Face kFaces[] = {{"Bitstream Vera Sans", BuiltInFontSans},
                       {"Bitstream Vera Serif", BuiltInFontSerif},
                       {"Bitstream Vera Sans Mono", BuiltInFontMono}};

bool InCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// FreeType on its own, with the default settings of a plain library.
class DirectFace {
public:
    DirectFace(std::span<const unsigned char> data, FT_UInt pixels) {
        FT_Init_FreeType(&library_);
        FT_New_Memory_Face(library_, data.data(), FT_Long(data.size()), 0, &face_);
        FT_Set_Pixel_Sizes(face_, 0, pixels);
    }
    ~DirectFace() { FT_Done_FreeType(library_); }
    DirectFace(const DirectFace&) = delete;
    DirectFace& operator=(const DirectFace&) = delete;

    // The glyph's plane: a canvas of the given size with the bitmap at (x + left,
    // top - bitmap top), as our renderer places it.
    std::vector<uint8_t> Render(uint32_t code, bool grey, int32_t width, int32_t height, int32_t x,
                                int32_t top) {
        std::vector<uint8_t> canvas(size_t(width) * height, 0);
        FT_Load_Char(face_, code, FT_LOAD_NO_AUTOHINT);
        FT_Render_Glyph(face_->glyph, grey ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO);
        const FT_GlyphSlot slot = face_->glyph;
        for (unsigned row = 0; row < slot->bitmap.rows; ++row) {
            for (unsigned column = 0; column < slot->bitmap.width; ++column) {
                const uint8_t* line = slot->bitmap.buffer + row * slot->bitmap.pitch;
                uint8_t value = grey ? line[column] : (line[column / 8] >> (7 - column % 8) & 1);
                int32_t px = x + slot->bitmap_left + int32_t(column);
                int32_t py = top - slot->bitmap_top + int32_t(row);
                if (px >= 0 && py >= 0 && px < width && py < height)
                    canvas[size_t(py) * width + px] = grey ? value : uint8_t(value * 255);
            }
        }
        return canvas;
    }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

// Our rendering of one character with the pen -1 into a fresh plane, as bytes (masks as
// 0/255).
std::vector<uint8_t> RenderOurs(qvFont* font, uint32_t code, bool grey, int32_t width,
                                int32_t height, int32_t x) {
    OwnedPlane plane(grey ? AllocAlphaBitMap(width, height, 1)
                          : AllocMaskBitMap(nullptr, width, height, 1));
    const char byte = char(code);
    RenderFontText(font, {nullptr, plane.get()}, x, 0, &byte, 1,
                   grey ? uint32_t(QV_FONTSTYLE_ANTIALIAS) : 0u, 0, Everywhere(), kFontPenPlane);
    if (grey) return PlaneBytes(plane.get());
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t px = 0; px < width; ++px)
            bytes.push_back(uint8_t(ReadBitMapPixel(plane.get(), px, y) * 255));
    }
    return bytes;
}

TEST_F(GlyphOracleTest, GlyphsAreFreeTypesOwnRendering) {
    for (const Face& face : kFaces) {
        for (int32_t size : {9, 16, 32, 48}) {
            FontPtr font = OpenTrueType(face.name, size);
            ASSERT_NE(font, nullptr);
            const FT_UInt pixels = FT_UInt(TrueTypeRecord(font)->pixelSize);
            DirectFace direct(face.data(), pixels);
            const int32_t width = size * 3, height = size * 2, x = size;
            for (uint32_t code = 33; code < 256; ++code) {
                if (code >= 127 && code < 161) continue;
                for (bool grey : {true, false}) {
                    const auto expected =
                        direct.Render(code, grey, width, height, x, font->baseline);
                    const auto first = RenderOurs(font.get(), code, grey, width, height, x);
                    const auto cached = RenderOurs(font.get(), code, grey, width, height, x);
                    ASSERT_EQ(first, expected) << face.name << " " << pixels << " code " << code
                                               << (grey ? " grey" : " mono");
                    ASSERT_EQ(cached, first) << face.name << " " << pixels << " code " << code;
                }
            }
        }
    }
}

struct Ink {
    std::vector<bool> pixels;  // width x height at origin (ox, oy)
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
};

// Ink at threshold 128 of a coverage bitmap whose top-left pixel sits at (left, top) relative
// to the pen on the baseline (y down), on a canvas centred on the pen.
void Threshold(Ink& ink, const uint8_t* coverage, int32_t width, int32_t height, int32_t pitch,
               int32_t left, int32_t top, int32_t canvas) {
    ink.pixels.assign(size_t(canvas) * canvas, false);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (coverage[size_t(y) * pitch + x] < 128) continue;
            const int32_t cx = left + x + canvas / 2, cy = top + y + canvas / 2;
            if (cx < 0 || cy < 0 || cx >= canvas || cy >= canvas) continue;
            ink.pixels[size_t(cy) * canvas + cx] = true;
            ink.minX = std::min(ink.minX, left + x);
            ink.maxX = std::max(ink.maxX, left + x);
            ink.minY = std::min(ink.minY, top + y);
            ink.maxY = std::max(ink.maxY, top + y);
        }
    }
}

struct Overlap {
    double iou;       // pixels inked in both / inked in either
    double tolerant;  // pixels of either with ink of the other within one pixel / inked in either
};

bool InkNear(const Ink& ink, int32_t x, int32_t y, int32_t canvas) {
    for (int32_t dy = -1; dy <= 1; ++dy) {
        for (int32_t dx = -1; dx <= 1; ++dx) {
            const int32_t nx = x + dx, ny = y + dy;
            if (nx >= 0 && ny >= 0 && nx < canvas && ny < canvas &&
                ink.pixels[size_t(ny) * canvas + nx])
                return true;
        }
    }
    return false;
}

Overlap Compare(const Ink& a, const Ink& b, int32_t canvas) {
    size_t both = 0, either = 0, near = 0;
    for (int32_t y = 0; y < canvas; ++y) {
        for (int32_t x = 0; x < canvas; ++x) {
            const bool inA = a.pixels[size_t(y) * canvas + x],
                       inB = b.pixels[size_t(y) * canvas + x];
            if (!inA && !inB) continue;
            ++either;
            both += inA && inB;
            near += inA ? InkNear(b, x, y, canvas) : InkNear(a, x, y, canvas);
        }
    }
    if (either == 0) return {0, 0};
    return {double(both) / double(either), double(near) / double(either)};
}

// The font whose calibrated pixel size is the one asked for.
FontPtr OpenAtPixelSize(const char* name, int32_t pixels) {
    for (int32_t size = pixels; size < pixels * 2; ++size) {
        FontPtr font = OpenTrueType(name, size);
        if (font != nullptr && TrueTypeRecord(font)->pixelSize == pixels) return font;
    }
    return nullptr;
}

TEST_F(GlyphOracleTest, GlyphsOverlapAnIndependentRasteriser) {
    const std::span<const unsigned char> sans = BuiltInFontSans();
    stbtt_fontinfo info;
    ASSERT_NE(stbtt_InitFont(&info, sans.data(), stbtt_GetFontOffsetForIndex(sans.data(), 0)), 0);
    double worst = 1.0, worstTolerant = 1.0;
    for (int32_t target : {24, 32, 48, 64}) {
        FontPtr font = OpenAtPixelSize("Bitstream Vera Sans", target);
        ASSERT_NE(font, nullptr);
        const int32_t pixels = TrueTypeRecord(font)->pixelSize;
        const float scale = stbtt_ScaleForMappingEmToPixels(&info, float(pixels));
        const int32_t canvas = pixels * 4;
        for (uint32_t code : {uint32_t('g'), uint32_t('@'), uint32_t('W'), 0xE9u}) {
            // Ours: drawn with the pen at (canvas/2, canvas/2 - baseline), read back at its
            // place relative to the pen.
            const int32_t penX = canvas / 2, penY = canvas / 2;
            OwnedPlane plane(AllocAlphaBitMap(canvas, canvas, 1));
            const char byte = char(code);
            RenderFontText(font.get(), {nullptr, plane.get()}, penX, penY - font->baseline, &byte,
                           1, QV_FONTSTYLE_ANTIALIAS, 0, Everywhere(), kFontPenPlane);
            Ink ours;
            Threshold(ours, plane->plane, canvas, canvas, plane->bytesPerRow, -penX, -penY, canvas);
            int width, height, xoff, yoff;
            unsigned char* bitmap =
                stbtt_GetCodepointBitmap(&info, 0, scale, int(code), &width, &height, &xoff, &yoff);
            Ink theirs;
            Threshold(theirs, bitmap, width, height, width, xoff, yoff, canvas);
            stbtt_FreeBitmap(bitmap, nullptr);
            const Overlap overlap = Compare(ours, theirs, canvas);
            worst = std::min(worst, overlap.iou);
            worstTolerant = std::min(worstTolerant, overlap.tolerant);
            std::printf("px %d code %u IoU %.3f, within one pixel %.3f\n", pixels, code,
                        overlap.iou, overlap.tolerant);
            // FreeType hints (the TrueType interpreter moves stems and heights to the pixel
            // grid), stb_truetype does not: thin strokes may sit one pixel apart.
            EXPECT_GE(overlap.iou, 0.7) << pixels << " code " << code;
            EXPECT_GE(overlap.tolerant, 0.97) << pixels << " code " << code;
            EXPECT_NEAR(ours.minX, theirs.minX, 1) << pixels << " code " << code;
            EXPECT_NEAR(ours.maxX, theirs.maxX, 1) << pixels << " code " << code;
            EXPECT_NEAR(ours.minY, theirs.minY, 1) << pixels << " code " << code;
            EXPECT_NEAR(ours.maxY, theirs.maxY, 1) << pixels << " code " << code;
        }
    }
    std::printf("lowest glyph IoU against stb_truetype: %.3f, within one pixel %.3f\n", worst,
                worstTolerant);
}

TEST_F(GlyphOracleTest, TopazStripIsTheGeneratorsOutput) {
    const std::string amiga = "/usr/share/fonts/truetype/amiga/Amiga-Regular.ttf";
    if (!PathExists(amiga)) {
        if (InCI()) FAIL() << "fonts-amiga is not installed";
        GTEST_SKIP() << "fonts-amiga is not installed";
    }
    const std::string command = std::string(QVMKFONT_PATH) + " --topaz " + scratch_.path();
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadBytes(scratch_ / "topaz_glyphs.cpp"),
              ReadBytes(std::string(QV_SOURCE_DIR) + "/objects/fonts/topaz_glyphs.cpp"));
}

}  // namespace
}  // namespace qv::testing
