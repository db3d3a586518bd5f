// The command line of qvmkapplet: each option becomes one call of the builder, in order.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <type_traits>

#include "tools/qvasm/chunk_image.h"
#include "tools/qvmkapplet/applet_builder.h"

namespace qv {
namespace {

std::vector<std::string> Split(std::string_view text, char sep, size_t maxParts = SIZE_MAX) {
    std::vector<std::string> parts;
    while (parts.size() + 1 < maxParts) {
        size_t at = text.find(sep);
        if (at == std::string_view::npos) break;
        parts.emplace_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
    parts.emplace_back(text);
    return parts;
}

// NAME=VALUE; false without "=".
bool SplitAssignment(std::string_view text, std::string* name, std::string* value) {
    size_t at = text.find('=');
    if (at == std::string_view::npos) return false;
    *name = text.substr(0, at);
    *value = text.substr(at + 1);
    return true;
}

// A whole decimal or 0x-hexadecimal integer; negative values wrap to 32 bits.
bool ParseU32(const std::string& text, uint32_t* value) {
    if (text.empty()) return false;
    char* end;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || v < INT32_MIN || v > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool ParseNumber(const std::string& text, double* value) {
    char* end;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

bool ReadFile(const std::string& path, Bytes* out) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    out->resize(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(out->size()));
    return static_cast<bool>(in);
}

bool WriteFile(const std::string& path, const Bytes& bytes, bool executable) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out && (!executable || chmod(path.c_str(), 0755) == 0);
}

bool ParseHex(const std::string& text, Bytes* out) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        uint32_t byte;
        if (!ParseU32("0x" + text.substr(i, 2), &byte) || byte > 255) return false;
        out->push_back(static_cast<uint8_t>(byte));
    }
    return true;
}

struct LineMapSpec {
    uint32_t first, last, offset;
    std::string source;
};

struct Recipe {
    AppletBuilder builder;
    std::string output, player;
    bool hasChunk = false;
    bool hasLineMap = false;
    ChunkString chunkSource;               // of the chunk's main function, once read
    bool chunkReadable = false;            // the chunk parsed as one
    std::vector<LineMapSpec> ownLineMaps;  // line maps of the chunk's own source
    std::string why;                       // what was wrong with a refused value
};

using Handler = std::function<bool(Recipe&, const std::string&)>;

bool Version(Recipe& r, const std::string& v) {
    auto parts = Split(v, '.');
    uint32_t major, minor;
    if (parts.size() != 2 || !ParseU32(parts[0], &major) || !ParseU32(parts[1], &minor) ||
        major > 255 || minor > 255) {
        return false;
    }
    r.builder.SetVersion(static_cast<uint8_t>(major), static_cast<uint8_t>(minor));
    return true;
}

bool Info(Recipe& r, const std::string& v) {
    std::string n, text;
    uint32_t index;
    if (!SplitAssignment(v, &n, &text) || !ParseU32(n, &index) || index < 1 || index > 5) {
        return false;
    }
    r.builder.AddInfo(static_cast<int>(index), text);
    return true;
}

bool Flag(Recipe& r, const std::string& v) {
    std::string name, value;
    return SplitAssignment(v, &name, &value) && (value == "0" || value == "1") &&
           r.builder.AddFlag(name, value == "1");
}

bool Screen(Recipe& r, const std::string& v) {
    auto parts = Split(v, ':');
    uint32_t w, h;
    if (parts.size() != 2 || !ParseU32(parts[0], &w) || !ParseU32(parts[1], &h)) return false;
    r.builder.AddScreen(static_cast<uint16_t>(w), static_cast<uint16_t>(h));
    return true;
}

// --- Fields of preloaded items and displays: ",FIELD=VALUE" after the positional part ---

// The types a field belongs to, as bits (1 << type).
constexpr uint32_t kBGPic = 1u << 0, kBrush = 1u << 1, kAnim = 1u << 2, kButton = 1u << 5,
                   kSprite = 1u << 7, kDisplayItem = 1u << 10, kAnyType = 0xFFFFFFFF;
constexpr uint32_t kPictures = kBrush | kAnim | kSprite, kFills = kBGPic | kDisplayItem;

using FieldSetter = bool (*)(PreloadSpec&, const std::string&);

struct ItemField {
    const char* key;
    const char* value;
    uint32_t types;
    const char* help;
    FieldSetter set;
};

// A number into a field; a value too big for a narrow field is refused.
template <typename Field>
bool ParseInto(const std::string& text, Field* field) {
    uint32_t value;
    if (!ParseU32(text, &value)) return false;
    if constexpr (sizeof(Field) < 4) {
        if (value > std::numeric_limits<Field>::max()) return false;
    }
    *field = static_cast<Field>(value);
    return true;
}

template <auto Member>
bool Number(PreloadSpec& item, const std::string& text) {
    return ParseInto(text, &(item.*Member));
}

// A fraction (0.5) as the container keeps it: times 1000000.
bool ParseFraction(const std::string& text, uint32_t* value) {
    double fraction;
    if (!ParseNumber(text, &fraction) || !(fraction >= 0 && fraction <= 4000)) return false;
    *value = static_cast<uint32_t>(fraction * 1000000 + 0.5);
    return true;
}

template <auto Member>
bool GradientFraction(PreloadSpec& item, const std::string& text) {
    return ParseFraction(text, &(item.gradient.*Member));
}

bool Arg1(PreloadSpec& item, const std::string& text) {
    uint32_t value;
    if (!ParseU32(text, &value)) return false;
    item.arg1 = value;
    return true;
}

bool GradientStop(PreloadSpec& item, const std::string& text) {
    auto parts = Split(text, '/');
    GradientSpec::Stop stop;
    if (parts.size() != 2 || !ParseU32(parts[0], &stop.colour) ||
        !ParseFraction(parts[1], &stop.position) || item.gradient.stops.size() == 255) {
        return false;
    }
    item.gradient.stops.push_back(stop);
    return true;
}

bool AddRegion(std::vector<RegionSpec>& regions, const std::string& text) {
    auto parts = Split(text, '/');
    RegionSpec r;
    if (parts.size() != 5 || !ParseU32(parts[0], &r.type) || !ParseU32(parts[1], &r.x) ||
        !ParseU32(parts[2], &r.y) || !ParseU32(parts[3], &r.width) ||
        !ParseU32(parts[4], &r.height)) {
        return false;
    }
    regions.push_back(r);
    return true;
}

bool LinkedData(PreloadSpec& item, const std::string& file) {
    Bytes data;
    if (!ReadFile(file, &data)) return false;
    item.linked = std::move(data);
    return true;
}

const std::vector<ItemField>& ItemFields() {
    using P = PreloadSpec;
    using G = GradientSpec;
    static const std::vector<ItemField> fields = {
        {"arg1", "N", kAnyType,
         "first argument: a font's size, a plugin's version (pictures: transparency; "
         "default: -1 for pictures, 0 otherwise)",
         Arg1},
        {"arg2", "N", kAnyType,
         "second argument: a font's engine (+0x10000: no cache), a plugin's revision "
         "(default 0)",
         Number<&P::arg2>},
        {"line", "N", kAnyType, "the source line that errors report (default 0)", Number<&P::line>},
        {"linked", "FILE", kAnyType, "the item's data linked into the applet (default: none)",
         LinkedData},
        {"transparency", "RGB", kPictures | kBGPic, "transparent colour (default -1: none)", Arg1},
        {"loadalpha", "0|1", kPictures | kBGPic, "loads the alpha channel (default 0)",
         Number<&P::arg2>},
        {"width", "N", kPictures | kDisplayItem,
         "width (pictures: of the part to take, default 0: all; displays: default 640)",
         Number<&P::width>},
        {"height", "N", kPictures | kDisplayItem,
         "height (pictures: default 0: all; displays: default 480)", Number<&P::height>},
        {"x", "N", kPictures | kDisplayItem | kButton,
         "left edge (pictures: of the part to take; displays: -100000 centres, the default; "
         "otherwise default 0)",
         Number<&P::x>},
        {"y", "N", kPictures | kDisplayItem | kButton, "top edge (defaults as x)", Number<&P::y>},
        {"right", "N", kButton, "a button's right edge (default 0)", Number<&P::right>},
        {"bottom", "N", kButton, "a button's bottom edge (default 0)", Number<&P::bottom>},
        {"frames", "N", kAnim | kSprite, "number of frames (default 0: all)", Number<&P::frames>},
        {"fpr", "N", kAnim | kSprite, "frames per row (default 0: all in one row)",
         Number<&P::framesPerRow>},
        {"globalalpha", "N", kBrush, "a brush's global alpha (default -1: none)",
         Number<&P::globalAlpha>},
        {"hardware", "0|1", kBrush, "a hardware brush (default 0)", Number<&P::hardware>},
        {"fromdisk", "0|1", kAnim, "an anim read from disk frame by frame (default 0)",
         Number<&P::fromDisk>},
        {"fillstyle", "N", kFills,
         "0 none, 1 colour, 2 gradient, 3 texture (default: 0 for pictures, 1 for displays)",
         Number<&P::fillStyle>},
        {"color", "RGB", kFills, "fill colour (gradient start colour; default 0)",
         Number<&P::colour>},
        {"gradientendcolor", "RGB", kFills, "gradient end colour (default 0)",
         Number<&P::gradientEnd>},
        {"gradientangle", "N", kFills, "gradient angle (default 0)", Number<&P::angle>},
        {"gradientstyle", "N", kFills, "gradient style (default 2)",
         [](P& item, const std::string& v) { return ParseInto(v, &item.gradient.style); }},
        {"gradientcenterx", "F", kFills, "gradient centre x (a fraction, default 0.5)",
         GradientFraction<&G::centerX>},
        {"gradientcentery", "F", kFills, "gradient centre y (default 0.5)",
         GradientFraction<&G::centerY>},
        {"gradientbalance", "F", kFills, "gradient balance (default 0.5)",
         GradientFraction<&G::balance>},
        {"gradientborder", "F", kFills, "gradient border (default 0)",
         GradientFraction<&G::border>},
        {"gradientcolor", "RGB/F", kFills,
         "a colour stop at a position (repeatable; default: none)", GradientStop},
        {"texturebrush", "ID", kFills, "texture brush (default 0)", Number<&P::textureBrush>},
        {"texturex", "N", kFills, "texture offset x (default 0)", Number<&P::textureX>},
        {"texturey", "N", kFills, "texture offset y (default 0)", Number<&P::textureY>},
        {"bgpic", "ID", kDisplayItem, "a display's background picture (with flag 0x200; default 0)",
         Number<&P::bgpic>},
        {"flags", "BITS", kDisplayItem,
         "display style flags (0x1 borderless, 0x2 sizeable, 0x400 active, ...; default 0x400)",
         Number<&P::styleFlags>},
        {"givenflags", "BITS", kDisplayItem, "flags the command line must not change (default 0)",
         Number<&P::givenFlags>},
        {"scalewidth", "N", kDisplayItem, "scaled width (default 0: none)", Number<&P::scaleWidth>},
        {"scaleheight", "N", kDisplayItem, "scaled height (default 0: none)",
         Number<&P::scaleHeight>},
        {"dragregion", "T/X/Y/W/H", kDisplayItem, "a drag region (repeatable; default: none)",
         [](P& item, const std::string& v) { return AddRegion(item.dragRegions, v); }},
        {"sizeregion", "T/X/Y/W/H", kDisplayItem, "a size region (repeatable; default: none)",
         [](P& item, const std::string& v) { return AddRegion(item.sizeRegions, v); }},
        {"title", "TEXT", kDisplayItem, "a display's title (default: none)",
         [](P& item, const std::string& v) {
             item.title = v;
             return true;
         }},
    };
    return fields;
}

// Where the fields start: at the first "," followed by a known field and "=". A name or a
// title may hold "," and ":" otherwise.
size_t FieldsStart(std::string_view text) {
    for (size_t at = text.find(','); at != std::string_view::npos; at = text.find(',', at + 1)) {
        std::string_view rest = text.substr(at + 1);
        for (const ItemField& field : ItemFields()) {
            if (rest.starts_with(field.key) &&
                rest.substr(std::strlen(field.key)).starts_with('=')) {
                return at;
            }
        }
    }
    return text.size();
}

constexpr uint32_t kItemTypes = 13;  // 0 to 12: the types the player preloads

// The fields an item of this type takes, for messages.
std::string FieldsOfType(uint8_t type) {
    std::string names;
    for (const ItemField& field : ItemFields()) {
        if ((field.types & (1u << type)) != 0)
            names += (names.empty() ? "" : ", ") + std::string(field.key);
    }
    return "the fields of type " + std::to_string(type) + " are " + names;
}

// A field that the first four picture and button types keep in 16 bits: a number that does
// not fit is refused rather than cut. Negative numbers wrap.
bool FitsNarrowFields(const PreloadSpec& item, std::string* why) {
    if (item.type == 0 || item.type == 10) return true;
    const std::pair<const char*, int32_t> values[] = {
        {"width", item.width}, {"height", item.height}, {"x", item.x},
        {"y", item.y},         {"frames", item.frames}, {"fpr", item.framesPerRow},
        {"right", item.right}, {"bottom", item.bottom}, {"globalalpha", item.globalAlpha}};
    for (const auto& [key, value] : values) {
        if (value < -32768 || value > 65535) {
            *why = std::string(key) + "=" + std::to_string(value) + " does not fit 16 bits";
            return false;
        }
    }
    return true;
}

// ",KEY=VALUE,KEY=VALUE..." into the item; false (why said) for an unknown key, a field the
// type does not carry or a bad value.
bool ApplyFields(std::string_view fields, PreloadSpec* item, std::string* why) {
    if (!fields.empty()) {
        for (const std::string& assignment : Split(fields.substr(1), ',')) {
            std::string key, value;
            if (!SplitAssignment(assignment, &key, &value)) {
                *why = "\"" + assignment + "\" is no FIELD=VALUE";
                return false;
            }
            auto field = std::find_if(ItemFields().begin(), ItemFields().end(),
                                      [&](const ItemField& f) { return key == f.key; });
            if (field == ItemFields().end() || (field->types & (1u << item->type)) == 0) {
                *why = "no field " + key + " here: " + FieldsOfType(item->type);
                return false;
            }
            if (!field->set(*item, value)) {
                *why = "bad value " + key + "=" + value;
                return false;
            }
        }
    }
    return FitsNarrowFields(*item, why);
}

// A name (or title) ending in ",word=..." where word is no field is a misspelt field, which
// would otherwise become part of the name.
bool EndsInUnknownField(std::string_view text, uint8_t type, std::string* why) {
    const size_t comma = text.rfind(',');
    if (comma == std::string_view::npos) return false;
    std::string_view rest = text.substr(comma + 1);
    const size_t equals = rest.find('=');
    if (equals == 0 || equals == std::string_view::npos) return false;
    const std::string_view word = rest.substr(0, equals);
    if (!std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
        return false;
    }
    *why = "no field " + std::string(word) + " here: " + FieldsOfType(type);
    return true;
}

// NAME[:ARG1:ARG2:LINE]: the three numbers are taken when all three are numbers, so that a
// name may hold ":" (":::default_sans").
void NameAndArguments(const std::string& text, PreloadSpec* item) {
    auto parts = Split(text, ':');
    uint32_t arg1, arg2, line;
    const size_t n = parts.size();
    if (n >= 4 && ParseU32(parts[n - 3], &arg1) && ParseU32(parts[n - 2], &arg2) &&
        ParseU32(parts[n - 1], &line)) {
        item->name = text.substr(
            0, text.size() - parts[n - 3].size() - parts[n - 2].size() - parts[n - 1].size() - 3);
        item->arg1 = arg1;
        item->arg2 = arg2;
        item->line = line;
        return;
    }
    item->name = text;
}

bool Preload(Recipe& r, const std::string& v) {
    const size_t fields = FieldsStart(v);
    auto parts = Split(std::string_view(v).substr(0, fields), ':', 3);
    uint32_t type, id;
    if (parts.size() != 3 || !ParseU32(parts[0], &type) || !ParseU32(parts[1], &id)) {
        return false;
    }
    if (type >= kItemTypes) {
        r.why = "no item type " + parts[0] + " (0 to 12)";
        return false;
    }
    if (EndsInUnknownField(parts[2], static_cast<uint8_t>(type), &r.why)) return false;
    // A display starts from a display item's defaults, as --display does.
    PreloadSpec item = type == 10 ? DisplayItem(id, 640, 480, "") : PreloadSpec{};
    item.type = static_cast<uint8_t>(type);
    item.id = id;
    NameAndArguments(parts[2], &item);
    if (!ApplyFields(std::string_view(v).substr(fields), &item, &r.why)) return false;
    r.builder.AddPreload(item);
    return true;
}

bool Display(Recipe& r, const std::string& v) {
    const size_t fields = FieldsStart(v);
    auto parts = Split(std::string_view(v).substr(0, fields), ':', 4);
    uint32_t id, w, h;
    if (parts.size() < 3 || !ParseU32(parts[0], &id) || !ParseU32(parts[1], &w) ||
        !ParseU32(parts[2], &h)) {
        return false;
    }
    if (parts.size() == 4 && EndsInUnknownField(parts[3], 10, &r.why)) return false;
    PreloadSpec item = DisplayItem(id, w, h, parts.size() == 4 ? parts[3] : "");
    if (!ApplyFields(std::string_view(v).substr(fields), &item, &r.why)) return false;
    r.builder.AddPreload(item);
    return true;
}

bool Link(Recipe& r, const std::string& v, bool external) {
    std::string name, file;
    Bytes data;
    if (!SplitAssignment(v, &name, &file) || !ReadFile(file, &data)) return false;
    r.builder.AddLink(name, data, external);
    return true;
}

bool Constant(Recipe& r, const std::string& v) {
    std::string name, value;
    double number;
    if (!SplitAssignment(v, &name, &value)) return false;
    if (!value.empty() && value[0] == '@') {
        r.builder.AddConstant(name, std::string_view(value).substr(1));
        return true;
    }
    if (!ParseNumber(value, &number)) return false;
    r.builder.AddConstant(name, number);
    return true;
}

bool Label(Recipe& r, const std::string& v) {
    std::string name, value;
    uint32_t number;
    if (!SplitAssignment(v, &name, &value) || !ParseU32(value, &number)) return false;
    r.builder.AddLabel(name, number);
    return true;
}

bool LineMap(Recipe& r, const std::string& v) {
    auto parts = Split(v, ':', 5);
    uint32_t first, last, offset;
    if (parts.size() < 4 || !ParseU32(parts[0], &first) || !ParseU32(parts[1], &last) ||
        !ParseU32(parts[2], &offset)) {
        return false;
    }
    r.hasLineMap = true;
    if (parts.size() == 4) {
        r.ownLineMaps.push_back({first, last, offset, parts[3]});
    } else {
        r.builder.AddLineMap(first, last, offset, parts[3], parts[4]);
    }
    return true;
}

// Error reports find a line map by the source name the chunk gives its functions, so a map
// without a container maps the chunk's own source; without any map, a chunk that names its
// listing ("@hello.qvs", as qvasm writes it) maps that listing line for line. A chunk that
// cannot be read keeps the applet's path as the container.
void AddOwnLineMaps(Recipe& r) {
    if (!r.hasLineMap && r.chunkSource && r.chunkSource->starts_with("@")) {
        r.ownLineMaps.push_back({1, UINT32_MAX, 0, r.chunkSource->substr(1)});
    }
    const std::string source = r.chunkSource.value_or("");
    for (const LineMapSpec& m : r.ownLineMaps) {
        r.builder.AddLineMap(
            m.first, m.last, m.offset, m.source,
            r.chunkReadable ? std::optional<std::string_view>(source) : std::nullopt);
    }
}

bool Section(Recipe& r, const std::string& v) {
    auto parts = Split(v, ':', 2);
    uint32_t type;
    Bytes data;
    if (parts.size() != 2 || !ParseU32(parts[0], &type) || type > 255 ||
        !ParseHex(parts[1], &data)) {
        return false;
    }
    r.builder.AddRawSection(static_cast<uint8_t>(type), data);
    return true;
}

bool Chunk(Recipe& r, const std::string& v) {
    Bytes data;
    if (!ReadFile(v, &data)) return false;
    r.builder.SetChunk(data);
    r.hasChunk = true;
    std::string error;
    const std::optional<ChunkImage> image = ReadChunkImage(data, &error);
    r.chunkReadable = image.has_value();
    r.chunkSource = image ? image->main.source : std::nullopt;
    return true;
}

bool Truncate(Recipe& r, const std::string& v) {
    uint32_t n;
    if (!ParseU32(v, &n)) return false;
    r.builder.SetTruncate(n);
    return true;
}

// One option: its word, the form of its value (nullptr: none), a line of help, its handler.
struct Option {
    const char* word;
    const char* value;
    const char* help;
    Handler handler;
};

const std::vector<Option>& Options() {
    static const std::vector<Option> options = {
        {"-o", "OUT", "the applet to write (required)",
         [](Recipe& r, const std::string& v) { return !(r.output = v).empty(); }},
        {"--chunk", "FILE", "the compiled program chunk, as qvasm writes it (required)", Chunk},
        {"--qvz", nullptr, "compresses the whole container (\"QVZ\")",
         [](Recipe& r, const std::string&) { return r.builder.SetCompressed(true), true; }},
        {"--version", "MAJOR.MINOR", "the container's version (default 5.0)", Version},
        {"--info", "N=TEXT", "information text N (1 to 5)", Info},
        {"--title", "TEXT", "the title of the first display",
         [](Recipe& r, const std::string& v) { return r.builder.AddTitle(v), true; }},
        {"--flag", "NAME=0|1",
         "a display flag (borderless, fixed, sizeable, hidepointer, nomodeswitch, nohide)", Flag},
        {"--screen", "W:H", "the screen size", Screen},
        {"--preload", "TYPE:ID:NAME[:ARG1:ARG2:LINE][,FIELD=VALUE]...",
         "a preloaded item: 0 picture, 1 brush, 2 anim, 3 music, 4 sample, 5 button, 6 key, "
         "7 sprite, 8 file, 9 font, 10 display, 11 video, 12 required plugin; NAME may hold \":\"",
         Preload},
        {"--display", "ID:W:H[:TITLE][,FIELD=VALUE]...", "a display to open", Display},
        {"--link", "NAME=FILE", "links FILE into the applet under NAME",
         [](Recipe& r, const std::string& v) { return Link(r, v, false); }},
        {"--link-external", "NAME=FILE", "links FILE after the program chunk",
         [](Recipe& r, const std::string& v) { return Link(r, v, true); }},
        {"--const", "NAME=NUMBER|@TEXT", "a constant of the script", Constant},
        {"--label", "NAME=VALUE", "a label of the script", Label},
        {"--linemap", "FIRST:LAST:OFFSET:SOURCE[:CONTAINER]",
         "maps chunk lines to a source file's lines (CONTAINER: the chunk's source name); "
         "without it a chunk that names its listing maps it line for line",
         LineMap},
        {"--section", "TYPE:HEX", "a raw section of any type (for broken applets)", Section},
        {"--magic", "TEXT", "another magic than \"QVA\" (for broken applets)",
         [](Recipe& r, const std::string& v) { return r.builder.SetMagic(v), true; }},
        {"--truncate", "N", "keeps only the first N bytes (for broken applets)", Truncate},
        {"--append-to", "PLAYER", "writes PLAYER with the applet appended: a program that runs it",
         [](Recipe& r, const std::string& v) { return !(r.player = v).empty(); }},
    };
    return options;
}

const Option* FindOption(const std::string& word) {
    for (const Option& o : Options()) {
        if (word == o.word) return &o;
    }
    return nullptr;
}

bool Write(const Recipe& r, std::string* error) {
    Bytes applet = r.builder.Build();
    if (r.player.empty()) {
        if (WriteFile(r.output, applet, false)) return true;
        *error = "cannot write " + r.output;
        return false;
    }
    Bytes player, linked;
    if (!ReadFile(r.player, &player)) {
        *error = "cannot read " + r.player;
        return false;
    }
    if (!AppendAppletToPlayer(player, applet, &linked, error)) return false;
    if (WriteFile(r.output, linked, true)) return true;
    *error = "cannot write " + r.output;
    return false;
}

}  // namespace

std::string MakeAppletHelp() {
    std::string text =
        "usage: qvmkapplet -o OUT --chunk FILE [options]\n"
        "Builds an applet that the player runs from a program chunk (made by qvasm).\n";
    constexpr size_t kColumn = 30;
    auto line = [&](std::string form, const char* help) {
        // A form too wide for the column puts its description on the next line.
        form = form.size() < kColumn ? form.append(kColumn - form.size(), ' ')
                                     : form + "\n" + std::string(kColumn + 2, ' ');
        text += "  " + form + help + "\n";
    };
    for (const Option& o : Options()) {
        line(o.value != nullptr ? std::string(o.word) + " " + o.value : o.word, o.help);
    }
    line("--help", "prints this help");
    text += "Fields of --preload and --display (numbers decimal or 0x..., negative ones wrap):\n";
    for (const ItemField& f : ItemFields()) line(std::string(f.key) + "=" + f.value, f.help);
    return text;
}

int RunMakeApplet(const std::vector<std::string>& args, std::string* error) {
    Recipe recipe;
    for (size_t i = 0; i < args.size(); ++i) {
        const Option* option = FindOption(args[i]);
        if (option == nullptr) {
            *error = "unknown option " + args[i];
            return 1;
        }
        const bool takesValue = option->value != nullptr;
        if ((takesValue && i + 1 == args.size()) ||
            !option->handler(recipe, takesValue ? args[i + 1] : "")) {
            *error = "bad value for " + args[i] + (recipe.why.empty() ? "" : ": " + recipe.why);
            return 1;
        }
        if (takesValue) ++i;
    }
    if (recipe.output.empty() || !recipe.hasChunk) {
        *error = "usage: qvmkapplet -o OUT --chunk FILE [options]";
        return 1;
    }
    AddOwnLineMaps(recipe);
    return Write(recipe, error) ? 0 : 1;
}

}  // namespace qv
