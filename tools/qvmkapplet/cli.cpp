// The command line of qvmkapplet: each option becomes one call of the builder, in order.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>

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

bool Preload(Recipe& r, const std::string& v) {
    auto parts = Split(v, ':');
    PreloadSpec item;
    uint32_t type;
    if ((parts.size() != 3 && parts.size() != 6) || !ParseU32(parts[0], &type) || type > 255 ||
        !ParseU32(parts[1], &item.id)) {
        return false;
    }
    item.type = static_cast<uint8_t>(type);
    item.name = parts[2];
    if (parts.size() == 6 && (!ParseU32(parts[3], &item.arg1) || !ParseU32(parts[4], &item.arg2) ||
                              !ParseU32(parts[5], &item.line))) {
        return false;
    }
    r.builder.AddPreload(item);
    return true;
}

bool Display(Recipe& r, const std::string& v) {
    auto parts = Split(v, ':', 4);
    uint32_t id, w, h;
    if (parts.size() < 3 || !ParseU32(parts[0], &id) || !ParseU32(parts[1], &w) ||
        !ParseU32(parts[2], &h)) {
        return false;
    }
    r.builder.AddDisplay(id, w, h, parts.size() == 4 ? parts[3] : "");
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
        {"--preload", "TYPE:ID:NAME[:ARG1:ARG2:LINE]", "a preloaded item (a picture, a sound, ...)",
         Preload},
        {"--display", "ID:W:H[:TITLE]", "a display to open", Display},
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
            *error = "bad value for " + args[i];
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
