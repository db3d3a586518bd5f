// qvmkfont: writes bitmap disk fonts (a ".font" contents file and one size file in a load-file
// wrapper) for tests, from a small text description or from an outline font rendered at a
// pixel size, the malformed variants that the loader must refuse, and the glyph strip of the
// built-in 8-pixel font.
//
//   qvmkfont --describe DESC [--broken KIND] OUTDIR
//   qvmkfont --outline FILE --size N --name NAME [--proportional] OUTDIR
//   qvmkfont --topaz [--font FILE] OUTDIR
//
// Description (one item per line; ";" starts a comment line):
//   name NAME | size N | height N | baseline N | width N | proportional
//   colours 0x0RGB ...      a colour font; glyph rows then hold colour indices 0-9, a-f
//   depth N                 planes of a colour font (default: enough for the colours)
//   glyph CODE [spacing S] [kerning K]   CODE decimal, 0x.. or 'c'; rows of "#" and "."
//   default [spacing S] [kerning K]      the glyph drawn for codes outside the range
// Every font is written as OUTDIR/NAME.font and OUTDIR/NAME/SIZE.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace {

namespace fs = std::filesystem;

struct Glyph {
    std::vector<std::string> rows;  // "." blank, "#" or an index digit set
    std::optional<int> spacing;
    std::optional<int> kerning;
    int Width() const {
        size_t width = 0;
        for (const std::string& row : rows) width = std::max(width, row.size());
        return int(width);
    }
};

struct FontSpec {
    std::string name = "test";
    int size = 0;  // 0: the height
    int height = 8;
    int baseline = 6;
    int nominalWidth = 0;  // 0: the widest glyph
    bool proportional = false;
    std::vector<uint16_t> colours;  // a colour font when not empty
    int depth = 0;
    std::map<int, Glyph> glyphs;
    Glyph fallback;
};

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "qvmkfont: %s\n", message.c_str());
    std::exit(1);
}

int ParseNumber(const std::string& text) {
    if (text.size() == 3 && text.front() == '\'' && text.back() == '\'')
        return static_cast<unsigned char>(text[1]);
    size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used, 0);
    } catch (...) {
        used = 0;
    }
    if (used != text.size() || text.empty()) Fail("bad number \"" + text + "\"");
    return value;
}

// "spacing S" and "kerning K" after a glyph header.
void ParseGlyphOptions(std::istringstream& words, Glyph& glyph) {
    std::string key, value;
    while (words >> key >> value) {
        if (key == "spacing") {
            glyph.spacing = ParseNumber(value);
        } else if (key == "kerning") {
            glyph.kerning = ParseNumber(value);
        } else {
            Fail("unknown glyph option " + key);
        }
    }
}

FontSpec ParseDescription(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail("cannot read " + path);
    FontSpec spec;
    Glyph* current = nullptr;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (current != nullptr &&
            line.find_first_not_of(".#0123456789abcdef") == std::string::npos) {
            current->rows.push_back(line);
            continue;
        }
        std::istringstream words(line);
        std::string key, value;
        words >> key;
        if (key == "glyph") {
            words >> value;
            current = &spec.glyphs[ParseNumber(value)];
            ParseGlyphOptions(words, *current);
        } else if (key == "default") {
            current = &spec.fallback;
            ParseGlyphOptions(words, *current);
        } else if (key == "proportional") {
            spec.proportional = true;
        } else if (key == "colours") {
            while (words >> value) spec.colours.push_back(uint16_t(ParseNumber(value)));
        } else if (words >> value) {
            if (key == "name") {
                spec.name = value;
            } else if (key == "size") {
                spec.size = ParseNumber(value);
            } else if (key == "height") {
                spec.height = ParseNumber(value);
            } else if (key == "baseline") {
                spec.baseline = ParseNumber(value);
            } else if (key == "width") {
                spec.nominalWidth = ParseNumber(value);
            } else if (key == "depth") {
                spec.depth = ParseNumber(value);
            } else {
                Fail("unknown item " + key);
            }
        } else {
            Fail("bad line \"" + line + "\"");
        }
    }
    if (spec.glyphs.empty()) Fail("no glyphs");
    return spec;
}

// The colour index of a glyph pixel: "#" is 1, "." 0, a hexadecimal digit its value.
int PixelIndex(char c) {
    if (c == '#') return 1;
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// --- Writing ---

struct Bytes {
    std::vector<uint8_t> data;
    void Put(uint64_t value, int n) {
        for (int i = n - 1; i >= 0; --i) data.push_back(uint8_t(value >> (8 * i)));
    }
    void PutAt(size_t at, uint64_t value, int n) {
        for (int i = 0; i < n; ++i) data[at + i] = uint8_t(value >> (8 * (n - 1 - i)));
    }
    void Align() {
        while (data.size() % 4 != 0) data.push_back(0);
    }
};

// The damage a malformed variant carries.
enum class Broken {
    kNone,
    kContentsId,
    kContentsEmpty,
    kContentsShort,
    kIncomplete,
    kSizeId,
    kSizeShort,
    kLowestAboveHighest,
    kLocationOutside,
    kTableOutside,
    kColourIndex,
};

Broken ParseBroken(const std::string& kind) {
    static const std::map<std::string, Broken> kinds = {
        {"contents-id", Broken::kContentsId},
        {"contents-empty", Broken::kContentsEmpty},
        {"contents-short", Broken::kContentsShort},
        {"incomplete", Broken::kIncomplete},
        {"size-id", Broken::kSizeId},
        {"size-short", Broken::kSizeShort},
        {"lowest-above-highest", Broken::kLowestAboveHighest},
        {"location-outside", Broken::kLocationOutside},
        {"table-outside", Broken::kTableOutside},
        {"colour-index", Broken::kColourIndex},
    };
    auto it = kinds.find(kind);
    if (it == kinds.end()) Fail("unknown damage " + kind);
    return it->second;
}

int PlaneCount(const FontSpec& spec) {
    if (spec.depth > 0) return std::min(spec.depth, 8);
    int planes = 1;
    while ((size_t(1) << planes) < spec.colours.size() && planes < 8) ++planes;
    return planes;
}

// The glyphs in strip order: lowest to highest (missing codes have no glyph), then the
// fallback.
std::vector<const Glyph*> StripOrder(const FontSpec& spec, int lowest, int highest) {
    std::vector<const Glyph*> order;
    for (int code = lowest; code <= highest; ++code) {
        auto it = spec.glyphs.find(code);
        order.push_back(it != spec.glyphs.end() ? &it->second : nullptr);
    }
    order.push_back(&spec.fallback);
    return order;
}

// Writes one plane (or, for one-bit fonts, the glyph data) with the pixels whose index has
// the bit set.
void PutPlane(Bytes& out, const std::vector<const Glyph*>& order, const std::vector<int>& bitAt,
              int modulo, int height, int bit) {
    std::vector<uint8_t> plane(size_t(modulo) * height, 0);
    for (size_t g = 0; g < order.size(); ++g) {
        if (order[g] == nullptr) continue;
        for (int y = 0; y < height && y < int(order[g]->rows.size()); ++y) {
            const std::string& row = order[g]->rows[y];
            for (size_t x = 0; x < row.size(); ++x) {
                if ((PixelIndex(row[x]) >> bit & 1) == 0) continue;
                int at = bitAt[g] + int(x);
                plane[size_t(y) * modulo + at / 8] |= uint8_t(0x80 >> (at % 8));
            }
        }
    }
    out.data.insert(out.data.end(), plane.begin(), plane.end());
}

std::vector<uint8_t> SizeFile(const FontSpec& spec, Broken broken) {
    const int lowest = spec.glyphs.begin()->first, highest = spec.glyphs.rbegin()->first;
    const auto order = StripOrder(spec, lowest, highest);
    std::vector<int> bitAt;
    int bits = 0, widest = 0;
    bool spacingTable = spec.proportional, kerningTable = false;
    for (const Glyph* glyph : order) {
        bitAt.push_back(bits);
        bits += glyph != nullptr ? glyph->Width() : 0;
        widest = std::max(widest, glyph != nullptr ? glyph->Width() : 0);
        spacingTable |= glyph != nullptr && glyph->spacing.has_value();
        kerningTable |= glyph != nullptr && glyph->kerning.has_value();
    }
    const int modulo = ((bits + 15) / 16) * 2;
    const int nominal = spec.nominalWidth > 0 ? spec.nominalWidth : widest;
    const bool colour = !spec.colours.empty();
    Bytes out;
    out.data.assign(colour ? 186 : 142, 0);
    // Load-file wrapper: header block, one code hunk; patched with the length at the end.
    out.PutAt(0, 0x3F3, 4);
    out.PutAt(8, 1, 4);
    out.PutAt(24, 0x3E9, 4);
    out.PutAt(50, broken == Broken::kSizeId ? 0x0F81 : 0x0F80, 2);
    out.PutAt(110, spec.height, 2);
    out.PutAt(112, colour ? 0x40 : 0, 1);
    out.PutAt(113, spec.proportional ? 0x20 : 0, 1);
    out.PutAt(114, nominal, 2);
    out.PutAt(116, spec.baseline, 2);
    out.PutAt(118, 1, 2);
    out.PutAt(122, broken == Broken::kLowestAboveHighest ? highest + 1 : lowest, 1);
    out.PutAt(123, highest, 1);
    out.PutAt(128, modulo, 2);
    auto offset = [&] { return uint32_t(out.data.size() - 32); };
    if (colour) {
        const int planes = PlaneCount(spec);
        out.PutAt(144, planes, 1);
        out.PutAt(148, (1u << planes) - 1, 1);
        out.Align();
        out.PutAt(150, offset(), 4);
        uint32_t count = uint32_t(spec.colours.size()) - (broken == Broken::kColourIndex ? 1 : 0);
        out.Put(0, 2);
        out.Put(count, 2);
        out.Put(offset() + 4, 4);
        for (uint16_t rgb : spec.colours) out.Put(rgb, 2);
        for (int p = 0; p < planes; ++p) {
            out.Align();
            out.PutAt(154 + 4 * p, offset(), 4);
            PutPlane(out, order, bitAt, modulo, spec.height, p);
        }
    } else {
        out.Align();
        out.PutAt(124, offset(), 4);
        PutPlane(out, order, bitAt, modulo, spec.height, 0);
    }
    out.Align();
    out.PutAt(130, offset(), 4);
    for (size_t g = 0; g < order.size(); ++g) {
        int width = order[g] != nullptr ? order[g]->Width() : 0;
        int at = bitAt[g];
        if (broken == Broken::kLocationOutside && g + 1 == order.size()) at = modulo * 8;
        out.Put(uint32_t(at) << 16 | uint32_t(width), 4);
    }
    if (spacingTable) {
        out.PutAt(134, broken == Broken::kTableOutside ? 0x7FFFFF00 : offset(), 4);
        for (const Glyph* glyph : order) {
            int width = glyph != nullptr ? glyph->Width() : 0;
            out.Put(uint16_t(glyph != nullptr && glyph->spacing ? *glyph->spacing
                             : spec.proportional                ? width
                                                                : nominal),
                    2);
        }
    }
    if (kerningTable) {
        out.Align();
        out.PutAt(138, offset(), 4);
        for (const Glyph* glyph : order)
            out.Put(uint16_t(glyph != nullptr && glyph->kerning ? *glyph->kerning : 0), 2);
    }
    if (broken == Broken::kTableOutside && !spacingTable) out.PutAt(130, 0x7FFFFF00, 4);
    out.Align();
    const uint32_t longs = uint32_t(out.data.size() - 32) / 4;
    out.PutAt(20, longs, 4);
    out.PutAt(28, longs, 4);
    out.Put(0x3F2, 4);
    if (broken == Broken::kSizeShort) out.data.resize(out.data.size() / 2);
    return out.data;
}

std::vector<uint8_t> ContentsFile(const FontSpec& spec, Broken broken) {
    const int size = spec.size > 0 ? spec.size : spec.height;
    Bytes out;
    out.Put(broken == Broken::kContentsId ? 0x0F03 : 0x0F00, 2);
    out.Put(broken == Broken::kContentsEmpty ? 0 : 1, 2);
    std::string file =
        broken == Broken::kIncomplete ? "::incomplete" : spec.name + "/" + std::to_string(size);
    std::vector<uint8_t> entry(260, 0);
    std::memcpy(entry.data(), file.data(), std::min<size_t>(file.size(), 255));
    entry[256] = uint8_t(size >> 8);
    entry[257] = uint8_t(size);
    entry[258] = spec.colours.empty() ? 0 : 0x40;
    entry[259] = spec.proportional ? 0x20 : 0;
    out.data.insert(out.data.end(), entry.begin(), entry.end());
    if (broken == Broken::kContentsShort) out.data.resize(100);
    return out.data;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) Fail("cannot write " + path.string());
}

void WriteFont(const FontSpec& spec, Broken broken, const fs::path& dir) {
    const int size = spec.size > 0 ? spec.size : spec.height;
    fs::create_directories(dir / spec.name);
    WriteFile(dir / (spec.name + ".font"), ContentsFile(spec, broken));
    WriteFile(dir / spec.name / std::to_string(size), SizeFile(spec, broken));
}

// --- Outline fonts ---

// The library and a face of the font at a pixel size, for the tool's one run.
class OutlineFace {
public:
    OutlineFace(const std::string& path, int pixels) {
        if (FT_Init_FreeType(&library_) != 0 || FT_New_Face(library_, path.c_str(), 0, &face_) != 0)
            Fail("cannot open " + path);
        if (FT_Set_Pixel_Sizes(face_, 0, FT_UInt(pixels)) != 0) Fail("bad size");
    }
    ~OutlineFace() { FT_Done_FreeType(library_); }
    OutlineFace(const OutlineFace&) = delete;
    OutlineFace& operator=(const OutlineFace&) = delete;
    FT_Face operator->() const { return face_; }
    FT_Face get() const { return face_; }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

// Codes 32-255 rendered in mono at the size; fixed cells as wide as the widest advance, or
// with --proportional glyphs trimmed to their ink with their bearing as kerning.
FontSpec OutlineFont(const std::string& path, int pixels, const std::string& name,
                     bool proportional) {
    OutlineFace face(path, pixels);
    FontSpec spec;
    spec.name = name;
    spec.size = pixels;
    spec.baseline = int(face->size->metrics.ascender >> 6);
    spec.height = spec.baseline - int(face->size->metrics.descender >> 6);
    spec.proportional = proportional;
    int advanceMax = 1;
    for (int code = 32; code <= 255; ++code) {
        if (FT_Get_Char_Index(face.get(), FT_ULong(code)) == 0 ||
            FT_Load_Char(face.get(), FT_ULong(code), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0)
            continue;
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int advance = int(slot->advance.x >> 6);
        advanceMax = std::max(advanceMax, advance);
        const int left = proportional ? 0 : std::max(slot->bitmap_left, 0);
        const int width =
            proportional ? int(bitmap.width) : std::max(advance, left + int(bitmap.width));
        Glyph glyph;
        glyph.rows.assign(size_t(spec.height), std::string(size_t(width), '.'));
        for (unsigned y = 0; y < bitmap.rows; ++y) {
            const int row = spec.baseline - slot->bitmap_top + int(y);
            if (row < 0 || row >= spec.height) continue;
            for (unsigned x = 0; x < bitmap.width; ++x) {
                if ((bitmap.buffer[y * bitmap.pitch + x / 8] >> (7 - x % 8) & 1) != 0 &&
                    left + int(x) < width)
                    glyph.rows[size_t(row)][size_t(left) + x] = '#';
            }
        }
        if (proportional) {
            glyph.kerning = slot->bitmap_left;
            glyph.spacing = advance - slot->bitmap_left;
        }
        spec.glyphs[code] = glyph;
    }
    spec.nominalWidth = advanceMax;
    spec.fallback.rows.assign(size_t(spec.height), std::string(size_t(advanceMax), '.'));
    if (proportional) spec.fallback.spacing = advanceMax;
    if (spec.glyphs.empty()) Fail("no glyphs in " + path);
    return spec;
}

// --- The built-in font's strip ---

constexpr int kSample = 64;  // the outlines sit on a grid of 8 x 8 cells S/2 x S pixels wide
constexpr int kStripWidth = 1536;

// The strip position of a code's glyph, or -1 for codes without a place.
int StripSlot(int code) {
    if (code >= 32 && code <= 126) return (code - 32) * 8;
    if (code >= 160 && code <= 255) return 768 + (code - 160) * 8;
    return -1;
}

// Each font pixel is sampled at its centre: columns S/16 wide from the pen, rows S/8 tall
// from the top of the cell (the ascender).
std::vector<uint8_t> TopazStrip(const std::string& path) {
    OutlineFace face(path, kSample);
    const int cellTop = int(face->size->metrics.ascender >> 6);
    std::vector<uint8_t> strip(kStripWidth / 8 * 8, 0);
    for (int code = 32; code <= 255; ++code) {
        const int slot = StripSlot(code);
        if (slot < 0 || FT_Load_Char(face.get(), FT_ULong(code), FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot glyph = face->glyph;
        const FT_Bitmap& bitmap = glyph->bitmap;
        for (int row = 0; row < 8; ++row) {
            const int y = glyph->bitmap_top - (cellTop - row * kSample / 8 - kSample / 16);
            for (int column = 0; column < 8; ++column) {
                const int x = column * kSample / 16 + kSample / 32 - glyph->bitmap_left;
                if (x < 0 || y < 0 || x >= int(bitmap.width) || y >= int(bitmap.rows)) continue;
                if (bitmap.buffer[y * bitmap.pitch + x] < 128) continue;
                const int at = slot + column;
                strip[size_t(row) * (kStripWidth / 8) + at / 8] |= uint8_t(0x80 >> (at % 8));
            }
        }
    }
    return strip;
}

// The font's licence paragraph from the Debian package's copyright file.
std::string LicenceText() {
    std::ifstream in("/usr/share/doc/fonts-amiga/copyright");
    std::string line, text;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("License: OFL-1.1", 0) == 0) {
            inside = true;
            continue;
        }
        if (!inside) continue;
        if (line.empty() || line[0] != ' ') break;
        line = line == " ." ? "" : line.substr(1);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += "//" + (line.empty() ? std::string() : " " + line) + "\n";
    }
    if (text.empty()) Fail("no licence text in fonts-amiga's copyright file");
    return text;
}

void WriteTopaz(const std::string& font, const fs::path& dir) {
    const std::vector<uint8_t> strip = TopazStrip(font);
    fs::create_directories(dir);
    std::ofstream pgm(dir / "topaz_glyphs.pgm", std::ios::binary);
    pgm << "P5\n" << kStripWidth << " 8\n255\n";
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < kStripWidth; ++x)
            pgm.put((strip[size_t(y) * 192 + x / 8] >> (7 - x % 8) & 1) != 0 ? char(0) : char(255));
    }
    std::ofstream cpp(dir / "topaz_glyphs.cpp");
    cpp << "// The glyphs of the built-in 8-pixel font, written by \"qvmkfont --topaz\" from\n"
           "// Amiga-Regular.ttf of the Debian package fonts-amiga: the outlines rendered at 64\n"
           "// pixels and sampled once per font pixel. Codes 32-126 at bits 0-759, 160-255 at\n"
           "// bits 768-1535 (the glyph of 160, a blank, also serves codes without a glyph).\n"
           "//\n"
           "// The font: Copyright 2019 The Homecomputer Fonts Project Authors, 2019 Jens "
           "Kutilek.\n"
           "// These glyphs are derived from it and licensed, like the font, under the SIL Open\n"
           "// Font License, Version 1.1:\n//\n"
        << LicenceText()
        << "\n#include \"objects/fonts/bitmap_font.h\"\n\nnamespace qv {\n\n"
           "// clang-format off\nconst uint8_t kTopazGlyphs[kTopazModulo * 8] = {\n";
    for (int y = 0; y < 8; ++y) {
        cpp << "    // row " << y << "\n";
        for (int i = 0; i < 192; ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02x,", strip[size_t(y) * 192 + i]);
            cpp << (i % 12 == 0 ? "    " : " ") << hex << (i % 12 == 11 ? "\n" : "");
        }
    }
    cpp << "};\n// clang-format on\n\n}  // namespace qv\n";
    if (!cpp || !pgm) Fail("cannot write into " + dir.string());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
    bool proportional = false, topaz = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--proportional") {
            proportional = true;
        } else if (arg == "--topaz") {
            topaz = true;
        } else if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= args.size()) Fail("missing value of " + arg);
            options[arg] = args[++i];
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 1) {
        std::fprintf(stderr,
                     "usage: qvmkfont --describe DESC [--broken KIND] OUTDIR\n"
                     "       qvmkfont --outline FILE --size N --name NAME [--proportional] OUTDIR\n"
                     "       qvmkfont --topaz [--font FILE] OUTDIR\n");
        return 2;
    }
    const fs::path dir = positional[0];
    if (topaz) {
        auto font = options.find("--font");
        WriteTopaz(font != options.end() ? font->second
                                         : "/usr/share/fonts/truetype/amiga/Amiga-Regular.ttf",
                   dir);
    } else if (options.count("--describe") != 0) {
        Broken broken =
            options.count("--broken") != 0 ? ParseBroken(options["--broken"]) : Broken::kNone;
        WriteFont(ParseDescription(options["--describe"]), broken, dir);
    } else if (options.count("--outline") != 0) {
        if (options.count("--size") == 0 || options.count("--name") == 0)
            Fail("--size and --name are needed");
        WriteFont(OutlineFont(options["--outline"], ParseNumber(options["--size"]),
                              options["--name"], proportional),
                  Broken::kNone, dir);
    } else {
        Fail("nothing to do");
    }
    return 0;
}
