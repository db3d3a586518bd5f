// qvtext: opens a font through the font front end and measures or draws a text with it.
//
//   qvtext --font NAME|FILE --size N      a TrueType face (built-in name or .ttf/.otf file)
//   qvtext --bitmap-font CONTENTS --size N  a bitmap disk font ("topaz": the built-in font)
// then one of
//   --info                 "name|height|baseline|pixel size" (pixel size 0 for bitmap fonts)
//   --extent TEXT          "width height minx miny maxx maxy"
//   --render TEXT --out F  with --plane 8 (PGM 0-255), --plane 1 (PGM 0/255) or
//                          --colour 0xRRGGBB (PPM, the text in the colour onto black)
//   --layout TEXT          one line "x y length style colour text" per run of the laid-out
//                          text (tags on), with --wrap W, --align left|center|right,
//                          --tags 0|1, --replay N,N,... (the word-break table to replay),
//                          --edge, --shadow (the text defaults' edge and shadow),
//                          --colour 0xAARRGGBB; with --out F the rendered block is written
//                          as PAM with alpha (the mask as 0/255, or the alpha plane)
// and --style N (default 16, anti-aliased; --plane sets or clears it), --utf8,
// --scale SX,SY. Tags may name the drawing colours ("#RED"). Exit status 0, or 1 with the
// error code on standard error.
//
//   qvtext --list          the fonts a scan finds, as GetAvailableFonts lists them: one line
//                          "full name|family|weight|slant|bitmap|sizes" (sizes "5,7") each
// --fonts-dir DIR makes DIR the system font folder "FONTS:" (for --list and for installed
// fonts named by --font).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "objects/draw/draw_library.h"
#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font.h"
#include "objects/fonts/font_scan.h"
#include "objects/fonts/truetype.h"
#include "objects/text/glyph_render.h"
#include "objects/text/layout.h"
#include "platform/linux/bitmap.h"
#include "runtime/runtime_host.h"

namespace {

int Fail(int code) {
    std::fprintf(stderr, "qvtext: error %d\n", code);
    return 1;
}

struct Options {
    std::map<std::string, std::string> values;
    bool utf8 = false;
    bool info = false;
    bool list = false;
    bool edge = false;
    bool shadow = false;
    bool Has(const std::string& key) const { return values.count(key) != 0; }
    const std::string& Get(const std::string& key) const { return values.at(key); }
};

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--utf8") {
            options->utf8 = true;
        } else if (arg == "--info") {
            options->info = true;
        } else if (arg == "--list") {
            options->list = true;
        } else if (arg == "--edge") {
            options->edge = true;
        } else if (arg == "--shadow") {
            options->shadow = true;
        } else if (arg.rfind("--", 0) == 0 && i + 1 < argc) {
            options->values[arg] = argv[++i];
        } else {
            return false;
        }
    }
    return options->list || options->Has("--font") != options->Has("--bitmap-font");
}

// FONTS: names the folder, before anything reads the assigns.
void SetFontsFolder(const std::string& folder) {
    const char* assigns = std::getenv("QV_ASSIGN");
    std::string value = "FONTS:=" + folder;
    if (assigns != nullptr && assigns[0] != '\0') value = std::string(assigns) + ";" + value;
    setenv("QV_ASSIGN", value.c_str(), 1);
}

int List() {
    if (int error = ScanTrueTypeFonts(1)) return error;
    for (const qvScannedFont* node = ScannedFonts(); node != nullptr; node = node->next) {
        std::string sizes;
        for (int32_t i = 0; i < node->sizeCount; ++i)
            sizes += (i > 0 ? "," : "") + std::to_string(node->sizes[i]);
        std::printf("%s|%s|%d|%d|%u|%s\n", node->fullName, node->family, node->weight, node->slant,
                    node->bitmapFont, sizes.c_str());
    }
    return 0;
}

// Opens the font asked for; 0 or ERR_OPENFONT. The built-in font is never closed here.
int OpenFont(const Options& options, qvFont** font) {
    const int size = options.Has("--size") ? std::atoi(options.Get("--size").c_str()) : 8;
    if (options.Has("--bitmap-font") && options.Get("--bitmap-font") == "topaz") {
        *font = DefaultFont();
        return 0;
    }
    qvFont* record = NewFontRecord();
    if (record == nullptr) return ERR_MEM;
    int ok = options.Has("--font")
                 ? OpenTrueTypeFont(options.Get("--font").c_str(), size, 1, record)
                 : LoadBitmapFont(options.Get("--bitmap-font").c_str(), size, record, nullptr);
    if (ok == 0) {
        FreeFontRecord(record);
        return ERR_OPENFONT;
    }
    // No display opens here: a colour font's glyphs become a bitmap at once.
    if (int error = ConvertColourFontPixels(record)) {
        CloseFontObject(record);
        return error;
    }
    *font = record;
    return 0;
}

bool WritePicture(const std::string& path, const char* magic, int32_t width, int32_t height,
                  const std::vector<uint8_t>& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::fprintf(out, "%s\n%d %d\n255\n", magic, width, height);
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

int Render(qvFont* font, const Options& options, uint32_t style) {
    const std::string text = options.Get("--render");
    qvTextExtent extent{};
    FontTextExtent(font, text.data(), int32_t(text.size()), style, options.utf8, &extent);
    const int32_t x = std::max(0, -extent.minX);
    const int32_t width = std::max({extent.width, extent.maxX + 1, 1}) + x;
    const int32_t height = std::max(font->height, 1);
    const qvTextClip clip{0, 0, width, height};
    std::vector<uint8_t> bytes;
    const char* magic = "P5";
    if (options.Has("--colour")) {
        qv::OwnedBitMap bitmap(qv::AllocBitMapInFormat(width, height, QV_FMT_A8R8G8B8, false));
        if (bitmap == nullptr) return ERR_MEM;
        RectFill(bitmap.get(), 0, 0, width, height, 0);
        const int64_t pen = std::strtoll(options.Get("--colour").c_str(), nullptr, 0);
        RenderFontText(font, {bitmap.get(), nullptr}, x, 0, text.data(), int32_t(text.size()),
                       style, options.utf8, clip, pen);
        for (int32_t py = 0; py < height; ++py) {
            for (int32_t px = 0; px < width; ++px) {
                uint32_t rgb = ReadBitMapPixel(bitmap.get(), px, py);
                bytes.insert(bytes.end(), {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
            }
        }
        magic = "P6";
    } else {
        const bool grey = options.Has("--plane") && options.Get("--plane") == "8";
        qv::OwnedPlane plane(grey ? AllocAlphaBitMap(width, height, 1)
                                  : AllocMaskBitMap(nullptr, width, height, 1));
        qv::OwnedBitMap bitmap(qv::AllocBitMapInFormat(width, height, QV_FMT_A8R8G8B8, false));
        if (plane == nullptr || bitmap == nullptr) return ERR_MEM;
        RenderFontText(font, {bitmap.get(), plane.get()}, x, 0, text.data(), int32_t(text.size()),
                       style, options.utf8, clip, kFontPenPlane);
        for (int32_t py = 0; py < height; ++py) {
            for (int32_t px = 0; px < width; ++px) {
                bytes.push_back(grey ? plane->plane[py * plane->bytesPerRow + px]
                                     : uint8_t(ReadBitMapPixel(plane.get(), px, py) * 255));
            }
        }
    }
    return WritePicture(options.Get("--out"), magic, width, height, bytes) ? 0 : ERR_MEM;
}

// The PAM of a rendered block: its pixels, and the mask as 0/255 or the alpha plane.
int WriteBlock(const std::string& path, const qvGlyphResult& block) {
    std::vector<uint8_t> bytes;
    for (int32_t py = 0; py < block.height; ++py) {
        for (int32_t px = 0; px < block.width; ++px) {
            const uint32_t rgb = ReadBitMapPixel(block.bitmap, px, py);
            const uint8_t alpha = block.alpha != nullptr
                                      ? block.alpha->plane[py * block.alpha->bytesPerRow + px]
                                      : uint8_t(ReadBitMapPixel(block.mask, px, py) * 255);
            bytes.insert(bytes.end(), {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), alpha});
        }
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return ERR_WRITEFILE;
    std::fprintf(out, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                 block.width, block.height);
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok ? 0 : ERR_WRITEFILE;
}

std::vector<int32_t> ParseNumbers(const std::string& text) {
    std::vector<int32_t> numbers;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        numbers.push_back(std::atoi(text.substr(at, end - at).c_str()));
        at = end + 1;
    }
    return numbers;
}

int32_t Alignment(const Options& options) {
    const std::string align = options.Has("--align") ? options.Get("--align") : "left";
    return align == "center" ? qv::gfx::CENTER : align == "right" ? qv::gfx::RIGHT : qv::gfx::LEFT;
}

// Lays out (and with --out renders) the text in an engine that knows the drawing colours.
int Layout(qvFont* font, const Options& options, uint32_t style) {
    std::string text = options.Get("--layout");
    std::vector<int32_t> replay;
    if (options.Has("--replay")) replay = ParseNumbers(options.Get("--replay"));
    const uint32_t colour =
        options.Has("--colour")
            ? uint32_t(std::strtoul(options.Get("--colour").c_str(), nullptr, 0))
            : 0xFFFFFF;
    qvTextRender record{};
    record.style = {
        style | (options.edge ? QV_STYLE_EDGE : 0u) | (options.shadow ? QV_STYLE_SHADOW : 0u),
        colour,
        0x000000,
        0x0093DD,
        4,
        3,
        2,
        font};
    record.text = text.data();
    record.encoding = options.utf8 ? 1 : 0;
    if (!replay.empty()) {
        record.wordBreaks = replay.data();
        record.wordBreakCount = int32_t(replay.size());
    }
    qv::text::LayoutOptions layout;
    layout.wrapWidth = options.Has("--wrap") ? std::atoi(options.Get("--wrap").c_str()) : 0;
    layout.alignment = Alignment(options);
    layout.tagsOff = options.Has("--tags") && options.Get("--tags") == "0";
    qvVmState* L = VmOpen();
    if (L == nullptr) return ERR_MEM;
    qv::InstallRuntimeHost(L);
    std::vector<qvConstant> constants(qv::draw::DrawConstants().begin(),
                                      qv::draw::DrawConstants().end());
    constants.push_back({nullptr, nullptr, 0});
    RegisterConstants(L, constants.data(), 0);
    qv::text::TextLayout laidOut;
    int error = laidOut.Run(L, &record, layout);
    for (const qvTextRun* run = laidOut.runs(); error == 0 && run != nullptr; run = run->next) {
        std::printf("%d %d %d %u 0x%08X %.*s\n", run->x, run->y, run->length, run->style.styleFlags,
                    run->style.colour, run->length, run->text);
    }
    if (error == 0 && options.Has("--out")) {
        qvGlyphResult block{};
        error = RenderGlyphs(&record, 0, layout.wrapWidth, (style & QV_STYLE_ANTIALIAS) != 0,
                             layout.alignment, false, laidOut.runs(), &block);
        if (error == 0) error = WriteBlock(options.Get("--out"), block);
        FreeGlyphResult(&block);
    }
    if (record.wordBreaks == replay.data()) record.wordBreaks = nullptr;
    VmClose(L);
    return error;
}

int Run(const Options& options) {
    qvFont* font = nullptr;
    if (int error = OpenFont(options, &font)) return error;
    uint32_t style = options.Has("--style") ? uint32_t(std::atoi(options.Get("--style").c_str()))
                                            : QV_FONTSTYLE_ANTIALIAS;
    if (options.Has("--plane")) {
        style = options.Get("--plane") == "8" ? style | QV_FONTSTYLE_ANTIALIAS
                                              : style & ~QV_FONTSTYLE_ANTIALIAS;
    }
    if (options.Has("--scale")) {
        double sx = 1, sy = 1;
        std::sscanf(options.Get("--scale").c_str(), "%lf,%lf", &sx, &sy);
        SetFontSize(font, sx, sy);
    }
    int result = 0;
    if (options.info) {
        qvTrueTypeFont* truetype = font->engine == QV_FONTENGINE_TRUETYPE
                                       ? static_cast<qvTrueTypeFont*>(font->engineData)
                                       : nullptr;
        std::printf("%s|%d|%d|%d\n", font->name, font->height, font->baseline,
                    truetype != nullptr ? truetype->pixelSize : 0);
    } else if (options.Has("--extent")) {
        const std::string& text = options.Get("--extent");
        qvTextExtent e{};
        FontTextExtent(font, text.data(), int32_t(text.size()), style, options.utf8, &e);
        std::printf("%d %d %d %d %d %d\n", e.width, e.height, e.minX, e.minY, e.maxX, e.maxY);
    } else if (options.Has("--layout")) {
        result = Layout(font, options, style);
    } else if (options.Has("--render") && options.Has("--out")) {
        result = Render(font, options, style);
    }
    CloseFontObject(font);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: qvtext (--font NAME|FILE | --bitmap-font CONTENTS) [--size N]\n"
                     "              [--style N] [--utf8] [--scale SX,SY]\n"
                     "              --info | --extent TEXT | --render TEXT --out FILE\n"
                     "              [--plane 8|1 | --colour 0xRRGGBB]\n"
                     "              | --layout TEXT [--wrap W] [--align left|center|right]\n"
                     "                [--tags 0|1] [--replay N,N,...] [--edge] [--shadow]\n"
                     "                [--colour 0xAARRGGBB] [--out FILE]\n"
                     "       qvtext --list\n"
                     "       with [--fonts-dir DIR]\n");
        return 2;
    }
    if (options.Has("--fonts-dir")) SetFontsFolder(options.Get("--fonts-dir"));
    qvFont* defaultFont = nullptr;
    int result = OpenDefaultFont(&defaultFont);
    if (result == 0) result = options.list ? List() : Run(options);
    CloseAllFonts();
    return result != 0 ? Fail(result) : 0;
}
