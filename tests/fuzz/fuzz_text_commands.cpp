// The "text" and "vectorgraphics" commands under arguments drawn from the fuzzer's bytes, on
// display 1 of the headless back end with layers on or off: fonts opened by name, from files
// of a temporary folder (a good face, a cut one, junk) and as font objects, text measured,
// printed and kept as text objects, paths built, copied, measured, moved and drawn by the cairo
// back end, outline text added to paths, objects freed and used again. Every call ends with a
// result or an error code and nothing is left allocated.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "gfx/library/graphics_library.h"
#include "objects/draw/draw_library.h"
#include "objects/object_neighbours.h"
#include "objects/scene_hooks.h"
#include "objects/text/text_library.h"
#include "objects/vector/vector_backend.h"
#include "objects/vector/vector_library.h"
#include "platform/linux/files.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/window.h"
#include "plugins/vectorgraphics/cairo_backend.h"
#include "plugins/vectorgraphics/outline_text.h"
#include "runtime/event_queue.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/plugin_api/service_table.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/bgpic_library.h"
#include "scene/display.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/scene_neighbours.h"
#include "tests/fuzz/scene_fuzz_input.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;

// A command and the arguments it usually takes, one letter each: i an object id, n a number,
// c a coordinate, a an angle, z a font size, k style flags, e an encoding, b a flag, s a text,
// f a font name, d a folder, t an option table, x anything.
struct Command {
    const char* name;
    const char* shape;
};

constexpr Command kCommands[] = {
    // text
    {"setfont", "fzt"},
    {"setfontcolor", "n"},
    {"textheight", "s"},
    {"textwidth", "se"},
    {"resettabs", ""},
    {"addtab", "ccc"},
    {"locate", "cc"},
    {"setmargins", "cc"},
    {"setfontstyle", "knnn"},
    {"print", "sxs"},
    {"nprint", "sx"},
    {"textout", "ccst"},
    {"textout", "ccsnn"},
    {"createtextobject", "ist"},
    {"createtextobject", "isnne"},
    {"displaytextobject", "icct"},
    {"freetextobject", "i"},
    {"inkeystr", "nnb"},
    {"textextent", "se"},
    {"scaletextobject", "inn"},
    {"copytextobject", "ii"},
    {"rotatetextobject", "ia"},
    {"openfont", "ifzt"},
    {"closefont", "i"},
    {"usefont", "i"},
    {"getavailablefonts", ""},
    {"freeglyphcache", "ni"},
    {"setdefaultencoding", "e"},
    {"addfontpath", "d"},
    {"getkerningpair", "sse"},
    // vectorgraphics
    {"moveto", "icc"},
    {"lineto", "icc"},
    {"curveto", "icccccc"},
    {"relmoveto", "icc"},
    {"rellineto", "icc"},
    {"relcurveto", "icccccc"},
    {"drawpath", "iccnt"},
    {"startpath", "i"},
    {"startsubpath", "i"},
    {"closepath", "i"},
    {"addarctopath", "iccnnaab"},
    {"addcircletopath", "iccn"},
    {"addellipsetopath", "iccnn"},
    {"addboxtopath", "iccnnt"},
    {"setlinejoin", "n"},
    {"setlinecap", "n"},
    {"setdash", "nnnn"},
    {"setfillrule", "n"},
    {"freepath", "i"},
    {"clearpath", "i"},
    {"ispathempty", "i"},
    {"getcurrentpoint", "i"},
    {"getpathextents", "i"},
    {"copypath", "ii"},
    {"appendpath", "ii"},
    {"addtexttopath", "ist"},
    {"translatepath", "icc"},
    {"normalizepath", "i"},
    {"forcepathuse", "b"},
    // the draw state that paths read, and shapes drawn as paths while path use is forced
    {"setfillstyle", "nnnn"},
    {"setformstyle", "knn"},
    {"setlinewidth", "n"},
    {"box", "ccnnn"},
    {"circle", "ccnn"},
};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

constexpr double kNumbers[] = {0,
                               1,
                               2,
                               3,
                               -1,
                               5,
                               8,
                               12,
                               16,
                               20,
                               33,
                               45,
                               64,
                               90,
                               100,
                               255,
                               360,
                               -90,
                               0.5,
                               1000,
                               99999,
                               -100000,
                               0xFF0000,
                               0xFFFFFF,
                               0x80FF0000,
                               1e12,
                               -1e12,
                               2147483647.0,
                               2147483648.0,
                               -2147483648.0,
                               -2147483649.0,
                               NAN,
                               INFINITY,
                               -INFINITY};

constexpr const char* kTexts[] = {
    "",
    "Hi",
    "Hello wide world of words",
    "[b]B[/b][i]I[/i][u]U[/u]",
    "[color=#RED]r[color=$00FF00]g[/color][/color]",
    "[shadow=$FF,3,2]s[edge=$00FF00,2]e",
    "a\tb\tc",
    "one\ntwo\n",
    "\xE4\xF6\xFC\xDF",
    "\xC3\xA4 utf \xE2\x82\xAC",
    "\xC3",
    "[",
    "]x[",
    "[color=",
    "[b][b][b][i][u]",
    "50%",
    "200%",
    "%d %s %%",
    "AV To Wa",
    ("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"
     "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW")};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];

constexpr const char* kTableKeys[] = {
    "align",       "wordwrap",    "encoding",   "color",        "wordwraptable",   "engine",
    "cache",       "roundlevel",  "cornera",    "cornerc",      "anchorx",         "anchory",
    "rotate",      "scalex",      "scaley",     "transform",    "transparency",    "shadow",
    "shadowcolor", "shadowdir",   "shadowsize", "shadowradius", "border",          "bordersize",
    "edgecolor",   "edgesize",    "tint",       "tintcolor",    "hidden",          "insertpos",
    "name",        "smoothscale", "width",      "height",       "outlinethickness"};
constexpr int kTableKeyCount = sizeof kTableKeys / sizeof kTableKeys[0];

constexpr double kStyles[] = {1, 2, 4, 8, 16, 32, 64, 6, 14, 48, 96, 0, 128, 0xFFFFFFFF};
constexpr double kEncodings[] = {0, 1, 2, -1};
constexpr double kSizes[] = {8, 12, 1, 0, -5, 30, 64, 200, 100000, NAN};

// The temporary folder's files: fonts to open by name, folders to add as search paths. Made
// once per process; "FONTS:" names its fonts folder so that a scan stays small.
struct Files {
    std::filesystem::path root;
    std::vector<std::string> fonts;
    std::vector<std::string> folders;
};

void Write(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr);
    Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    std::fclose(file);
}

const Files& TemporaryFiles() {
    static const Files files = [] {
        Files f;
        char pattern[] = "/tmp/qv-fuzz-text-XXXXXX";
        Check(mkdtemp(pattern) != nullptr);
        f.root = pattern;
        const std::filesystem::path fonts = f.root / "fonts", temp = f.root / "t";
        std::filesystem::create_directories(fonts);
        std::filesystem::create_directories(temp);
        const std::span<const unsigned char> sans = qv::BuiltInFontSans();
        constexpr unsigned char kJunk[] = "not a font at all, just words\n";
        constexpr unsigned char kBitmapJunk[] = {0x0F, 0x00, 0x00, 0x03, 't', 'o', 'p', 0};
        Write(fonts / "Sans.ttf", sans);
        Write(fonts / "Cut.ttf", sans.first(std::min<size_t>(sans.size(), 300)));
        Write(fonts / "Junk.ttf", kJunk);
        Write(fonts / "Junk.font", kBitmapJunk);
        for (const char* name : {"Sans.ttf", "Cut.ttf", "Junk.ttf", "Junk.font"}) {
            f.fonts.push_back((fonts / name).string());
        }
        f.folders = {fonts.string(), f.root.string(), (f.root / "missing").string(), ""};
        const std::string assigns = "FONTS:=" + fonts.string() + ";T:=" + temp.string();
        setenv("QV_ASSIGN", assigns.c_str(), 1);
        std::atexit([] { std::filesystem::remove_all(TemporaryFiles().root); });
        return f;
    }();
    return files;
}

constexpr const char* kFontNames[] = {":::default_bitmap",
                                      ":::default_sans",
                                      ":::default_serif",
                                      ":::default_mono",
                                      "nosuch",
                                      "",
                                      "Sans",
                                      "topaz.font"};

// Handles of objects made with automatic ids; stale ones stay, to be used after their free.
struct Handles {
    void* slots[8] = {};
    int next = 0;
    void Keep(void* handle) {
        slots[next] = handle;
        next = (next + 1) % 8;
    }
};

struct Run {
    ByteInput in;
    Handles handles;
};

double Pick(ByteInput* in, std::span<const double> values) {
    return values[in->Byte() % values.size()];
}

void PushValue(qvVmState* L, Run* run, int depth);

// An option table: keys of the commands' tables and of the drawing tags.
void PushTable(qvVmState* L, Run* run, int depth) {
    VmNewTable(L);
    for (int i = run->in.Byte() % 5; i > 0; --i) {
        VmPushString(L, kTableKeys[run->in.Byte() % kTableKeyCount]);
        PushValue(L, run, depth + 1);
        VmRawSet(L, -3);
    }
}

// A list of numbers from 0, as "wordwraptable" and "transform" read it.
void PushList(qvVmState* L, Run* run) {
    VmNewTable(L);
    for (int i = 0, n = run->in.Byte() % 10; i < n; ++i) {
        VmPushNumber(L, run->in.Byte() % 4 == 0 ? Pick(&run->in, kNumbers) : run->in.Byte() % 40);
        VmRawSetI(L, -2, i);
    }
}

void PushId(qvVmState* L, Run* run) {
    const uint8_t pick = run->in.Byte();
    if (pick % 8 < 5) return VmPushNumber(L, 1 + pick % 3);
    if (pick % 8 == 5) return VmPushNil(L);
    if (pick % 8 == 6) return VmPushLightUserdata(L, run->handles.slots[run->in.Byte() % 8]);
    VmPushNumber(L, Pick(&run->in, kNumbers));
}

void PushValue(qvVmState* L, Run* run, int depth) {
    ByteInput* in = &run->in;
    switch (in->Byte() % 8) {
        case 0:
        case 1:
            return VmPushNumber(L, Pick(in, kNumbers));
        case 2:
            return VmPushString(L, kTexts[in->Byte() % kTextCount]);
        case 3:
            if (depth < 2) return PushTable(L, run, depth);
            return VmPushNil(L);
        case 4:
            return PushList(L, run);
        case 5:
            return VmPushBoolean(L, in->Byte() % 2);
        case 6:
            return VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + in->Byte())));
        default:
            return VmPushNil(L);
    }
}

void PushArgument(qvVmState* L, Run* run, char kind) {
    ByteInput* in = &run->in;
    if (in->Byte() % 16 == 0) return PushValue(L, run, 0);  // now and then anything at all
    switch (kind) {
        case 'i':
            return PushId(L, run);
        case 'n':
            return VmPushNumber(L, Pick(in, kNumbers));
        case 'c':
            if (in->Byte() % 4 == 0) return VmPushNumber(L, Pick(in, kNumbers));
            return VmPushNumber(L, int(in->Byte() % 96) - 16);
        case 'a':
            return VmPushNumber(L, int(in->Byte()) * 15 - 360);
        case 'z':
            return VmPushNumber(L, Pick(in, kSizes));
        case 'k':
            return VmPushNumber(L, Pick(in, kStyles));
        case 'e':
            return VmPushNumber(L, Pick(in, kEncodings));
        case 'b':
            return VmPushBoolean(L, in->Byte() % 2);
        case 's':
            return VmPushString(L, kTexts[in->Byte() % kTextCount]);
        case 'f': {
            const std::vector<std::string>& files = TemporaryFiles().fonts;
            const uint8_t pick = in->Byte();
            if (pick % 2 == 0) return VmPushString(L, files[pick / 2 % files.size()].c_str());
            return VmPushString(L, kFontNames[pick / 2 % std::size(kFontNames)]);
        }
        case 'd': {
            const std::vector<std::string>& folders = TemporaryFiles().folders;
            return VmPushString(L, folders[in->Byte() % folders.size()].c_str());
        }
        case 't':
            return PushTable(L, run, 0);
        default:
            return PushValue(L, run, 0);
    }
}

// InKeyStr reads keys until Return: a few keys from the bytes, then Return.
void TypeKeys(ByteInput* in) {
    const qvDisplay* display = qv::scene::Displays().current;
    if (display == nullptr || display->window == nullptr) return;
    constexpr uint32_t kKeys[] = {'a', '1', 'F', ' ', 0xE9, 271, 272, 276, 300, '*'};
    std::vector<uint32_t> keys;
    for (int n = in->Byte() % 6; n > 0; --n) keys.push_back(kKeys[in->Byte() % std::size(kKeys)]);
    keys.push_back(274);
    for (uint32_t key : keys) {
        for (bool down : {true, false}) {
            qv::HostEvent event{};
            event.kind = qv::HostEventKind::kKey;
            event.window = display->window->number;
            event.down = down;
            event.key = key;
            qv::platform::testing::InjectHostEvent(event);
        }
    }
}

// One command, its arguments following its usual shape (cut short now and then) or drawn
// freely, under the engine's protection; a handle it returns is kept.
int CallOne(qvVmState* L) {
    Run* run = static_cast<Run*>(VmToUserdata(L, 1));
    ByteInput* in = &run->in;
    VmSetTop(L, 0);
    const Command& command = kCommands[in->Byte() % kCommandCount];
    if (command.name[0] == 'i') TypeKeys(in);
    VmPushString(L, command.name);
    VmGetTable(L, VM_GLOBALSINDEX);
    const uint8_t form = in->Byte();
    int count = 0;
    if (form % 4 != 0) {
        const int shaped = int(std::strlen(command.shape));
        count = std::max(0, shaped - (form / 4 % 8 == 0 ? 1 + form / 32 % 3 : 0));
        for (int i = 0; i < count; ++i) PushArgument(L, run, command.shape[i]);
    } else {
        count = form / 4 % 9;
        for (int i = 0; i < count; ++i) PushValue(L, run, 0);
    }
    VmCall(L, count, -1);  // every result
    for (int i = 1; i <= VmGetTop(L); ++i) {
        if (VmType(L, i) == VM_TLIGHTUSERDATA) run->handles.Keep(VmToUserdata(L, i));
    }
    return 0;
}

// The player's neighbours of the graphics library.
class Neighbours final : public qv::scene::SceneNeighbours,
                         public qv::scene::DisplayNeighbours,
                         public qv::objects::ObjectNeighbours {};

const qv::VectorBackend kCairo = {
    qv::vectorgraphics::GetPathExtents,   qv::vectorgraphics::DrawPath,
    qv::vectorgraphics::TranslatePath,    qv::vectorgraphics::GetCurrentPoint,
    qv::vectorgraphics::CreateVectorFont, qv::vectorgraphics::FreeVectorFont};

int Open(qvVmState* L) {
    for (int (*registerLibrary)(qvVmState*) :
         {RegisterGraphicsLibrary, RegisterTextLibrary, RegisterDisplayLibrary,
          RegisterBGPicLibrary, RegisterDrawLibrary, RegisterVectorGraphicsLibrary}) {
        Check(registerLibrary(L) == 0);
    }
    VmPushString(L, "createdisplay");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushNumber(L, 1);
    VmNewTable(L);
    for (auto [key, value] : {std::pair{"width", 96}, {"height", 64}, {"color", 0x203040}}) {
        VmPushString(L, key);
        VmPushNumber(L, value);
        VmRawSet(L, -3);
    }
    VmCall(L, 2, 0);
    Check(OpenFirstDisplay(L, nullptr, nullptr) == 0);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    TemporaryFiles();
    Run run{{data, size}, {}};
    const uint8_t mode = run.in.Byte();
    qv::ResetRuntimeState();
    qv::Runtime().quiet = 1;  // no progress lines on the console
    Check(InitSupport() == 0);
    Neighbours neighbours;
    qv::gfx::SetNeighbours(&neighbours);
    qv::objects::SceneHooks hooks;
    qv::scene::SetObjectHooks(&hooks);
    qv::platform::testing::ResetHeadless();
    qv::RestartWindowNumbers();
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    Check(VmCPCall(L, Open, nullptr) == 0);
    // Bit 0: layers on; bits 1-2: the cairo back end handed over unless both are clear (then
    // every path query finds none).
    qv::scene::Displays().current->layersEnabled = mode & 1;
    if ((mode & 6) != 0) {
        qv::UseVectorBackend(&kCairo);
        qv::vectorgraphics::UseFreeType(qv::PluginAPI()->freetype);
    }
    for (int step = 0; step < 48 && run.in.More(); ++step) VmCPCall(L, CallOne, &run);
    FreeAllPaths(L);
    qv::vectorgraphics::UseFreeType(nullptr);
    qv::vectorgraphics::FreeAllVectorFonts();
    FreeDrawBuffers(L);
    CloseDisplayLibrary(L);
    FreeAllBGPics(L);
    FreeAllTextObjects(L);
    FreeGraphicsObjects(L);
    VmClose(L);
    qv::scene::SetObjectHooks(nullptr);
    qv::gfx::SetNeighbours(nullptr);
    qv::platform::testing::ResetHeadless();
    qv::ResetRuntimeState();
    return 0;
}
