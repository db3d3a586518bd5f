// SetLayerStyle under style tables drawn from the fuzzer's bytes, on a small display holding
// layers of every type: brush, brush part, anim, text object, TEXTOUT, PRINT, the six shapes
// and a vector path drawn by the cairo back end. Keys come from the style keys of every row and
// from the bytes; values are numbers (NaN, infinities and 1e300 among them), strings
// (percentages, names), nested and over-long tables. Every call ends with a result or an error
// code, nothing is left allocated or touched after it was freed, and the window keeps showing
// exactly what the picture recomposes to.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/scene_hooks.h"
#include "objects/text/text_library.h"
#include "objects/text/text_objects.h"
#include "objects/vector/vector_backend.h"
#include "objects/vector/vector_library.h"
#include "plugins/vectorgraphics/cairo_backend.h"
#include "runtime/objects.h"
#include "runtime/runtime_host.h"
#include "scene/layers/filter_table.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/layers_library.h"
#include "tests/fuzz/scene_fuzz_input.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using qv::fuzz::ByteInput;
using qv::fuzz::Check;

using namespace qv::gfx;

constexpr const char* kKeys[] = {"x",
                                 "y",
                                 "z",
                                 "width",
                                 "height",
                                 "anchorx",
                                 "anchory",
                                 "scalex",
                                 "scaley",
                                 "rotate",
                                 "transform",
                                 "smoothscale",
                                 "translatex",
                                 "translatey",
                                 "transparency",
                                 "tint",
                                 "tintcolor",
                                 "filters",
                                 "clearfilters",
                                 "hidden",
                                 "clipregion",
                                 "nocliptransform",
                                 "shadow",
                                 "shadowcolor",
                                 "shadowdir",
                                 "shadowsize",
                                 "shadowradius",
                                 "shadowsigma",
                                 "border",
                                 "bordercolor",
                                 "bordersize",
                                 "outlinethickness",
                                 "edgecolor",
                                 "edgesize",
                                 "type",
                                 "id",
                                 "frame",
                                 "partx",
                                 "party",
                                 "partwidth",
                                 "partheight",
                                 "text",
                                 "font",
                                 "fontsize",
                                 "fontstyle",
                                 "fontstyleclear",
                                 "fontengine",
                                 "fontcache",
                                 "encoding",
                                 "leftmargin",
                                 "rightmargin",
                                 "align",
                                 "cursorx",
                                 "cursory",
                                 "tabs",
                                 "color",
                                 "formstyle",
                                 "formstyleclear",
                                 "fillstyle",
                                 "gradientstyle",
                                 "gradientangle",
                                 "gradientstartcolor",
                                 "gradientendcolor",
                                 "texturebrush",
                                 "texturex",
                                 "texturey",
                                 "sizex",
                                 "sizey",
                                 "cornera",
                                 "cornerb",
                                 "cornerc",
                                 "cornerd",
                                 "roundlevel",
                                 "radius",
                                 "radiusa",
                                 "radiusb",
                                 "startangle",
                                 "endangle",
                                 "clockwise",
                                 "x1",
                                 "y1",
                                 "x2",
                                 "y2",
                                 "thickness",
                                 "vertices",
                                 "numvertices",
                                 "linejoin",
                                 "linecap",
                                 "fillrule",
                                 "dashoffset",
                                 "dashes",
                                 "name",
                                 "group"};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

constexpr double kNumbers[] = {0,    1,        2,         3,       4,
                               -1,   7,        0.5,       1.5,     -5,
                               10,   100,      255,       300,     999,
                               370,  -370,     100000,    -100000, 99999,
                               1e12, -1e12,    1e300,     -1e300,  2147483648.0,
                               NAN,  INFINITY, -INFINITY, -2,      8,
                               9,    11,       12,        13,      14,
                               15,   16,       17,        27,      31,
                               49,   0xFF0000};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];
constexpr const char* kTexts[] = {"50%",
                                  "150%",
                                  "-5%",
                                  "100%",
                                  "x%",
                                  "",
                                  "a",
                                  "grp",
                                  "blur",
                                  "tint",
                                  "Hi",
                                  "\t",
                                  "12345678901234567890"};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];
constexpr uint32_t kTypes[] = {kTypeBrush,
                               kTypeBrushPart,
                               kTypeBGPicPart,
                               kTypeAnim,
                               kTypeTextObject,
                               kTypeTextOut,
                               kTypePrint,
                               kTypeBox,
                               kTypeCircle,
                               kTypeEllipse,
                               kTypeLine,
                               kTypePolygon,
                               kTypeArc,
                               kTypeVectorPath,
                               0,
                               99};
constexpr const char* kFilterKeys[] = {"name", "args", "priority", "disable"};

void PushNumber(qvVmState* L, ByteInput* in) {
    VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
}

void PushValue(qvVmState* L, ByteInput* in, int depth);

// A list of values from 0, now and then far longer than any reader takes.
void PushList(qvVmState* L, ByteInput* in, int depth) {
    VmNewTable(L);
    const uint8_t shape = in->Byte();
    const int count = shape % 16 == 0 ? 1200 : shape % 9;
    for (int i = 0; i < count; ++i) {
        if (count > 9) {
            VmPushNumber(L, i % 50);
        } else {
            PushValue(L, in, depth + 1);
        }
        VmRawSetI(L, -2, i);
    }
}

// A filter list: mostly well-formed entries with known names.
void PushFilters(qvVmState* L, ByteInput* in) {
    VmNewTable(L);
    for (int i = 0, n = in->Byte() % 5; i < n; ++i) {
        VmNewTable(L);
        for (int keys = in->Byte() % 5; keys > 0; --keys) {
            const char* key = kFilterKeys[in->Byte() % 4];
            VmPushString(L, key);
            if (key[0] == 'n' && in->Byte() % 4 != 0) {
                VmPushString(L, qvLayerFilterNames[in->Byte() % kLayerFilterCount]);
            } else if (key[0] == 'a') {
                PushList(L, in, 2);
            } else {
                PushValue(L, in, 2);
            }
            VmRawSet(L, -3);
        }
        VmRawSetI(L, -2, i);
    }
}

void PushValue(qvVmState* L, ByteInput* in, int depth) {
    switch (in->Byte() % 8) {
        case 0:
        case 1:
        case 2:
            return PushNumber(L, in);
        case 3:
            return VmPushString(L, kTexts[in->Byte() % kTextCount]);
        case 4:
            if (depth < 3) return PushList(L, in, depth);
            return VmPushNil(L);
        case 5:
            return VmPushNumber(L, int(in->Byte()) - 20);
        case 6:
            return VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + in->Byte())));
        default:
            return VmPushNil(L);
    }
}

// A key from the rows' lists, or a few bytes of the input.
void PushKey(qvVmState* L, ByteInput* in) {
    const uint8_t pick = in->Byte();
    if (pick % 8 != 0) return VmPushString(L, kKeys[in->Byte() % kKeyCount]);
    std::string key;
    for (int n = in->Byte() % 6; n > 0; --n) key += char('a' + in->Byte() % 26);
    VmPushString(L, key.c_str());
}

void PushStyle(qvVmState* L, ByteInput* in) {
    if (in->Byte() % 16 == 0) return PushValue(L, in, 3);  // not a table at all
    VmNewTable(L);
    for (int keys = in->Byte() % 7; keys > 0; --keys) {
        PushKey(L, in);
        const std::string key = VmToString(L, -1);
        if (key == "type" && in->Byte() % 4 != 0) {
            VmPushNumber(L, kTypes[in->Byte() % (sizeof kTypes / sizeof kTypes[0])]);
        } else if (key == "filters" && in->Byte() % 4 != 0) {
            PushFilters(L, in);
        } else {
            PushValue(L, in, 0);
        }
        VmRawSet(L, -3);
    }
}

void CallGlobal(qvVmState* L, const char* name, int argCount) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    VmInsert(L, -argCount - 1);
    VmCall(L, argCount, 0);
}

void PushLayerArgument(qvVmState* L, ByteInput* in) {
    const uint8_t pick = in->Byte();
    if (pick % 8 == 0) return VmPushString(L, kTexts[in->Byte() % kTextCount]);
    if (pick % 8 == 1) return PushValue(L, in, 3);
    VmPushNumber(L, in->Byte() % 20);  // a position, 0 and past the end included
}

// One step under the engine's protection: SetLayerStyle with one to three pairs (the last one
// now and then without its table), or GetLayerStyle of a layer.
int Step(qvVmState* L) {
    ByteInput* in = static_cast<ByteInput*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    const uint8_t op = in->Byte();
    if (op % 8 == 7) {
        PushLayerArgument(L, in);
        CallGlobal(L, "getlayerstyle", 1);
        return 0;
    }
    const int pairs = 1 + op % 3;
    int count = 0;
    for (int i = 0; i < pairs; ++i) {
        PushLayerArgument(L, in);
        ++count;
        if (i == pairs - 1 && in->Byte() % 16 == 0) break;
        PushStyle(L, in);
        ++count;
    }
    CallGlobal(L, "setlayerstyle", count);
    return 0;
}

// Calls a command by name with number and string arguments, an argument "key=value" making a
// one-key table; its failure is of no concern here (a layer type that cannot be made is
// simply missing).
void PushWord(qvVmState* L, const std::string& a) {
    char* end = nullptr;
    const double n = std::strtod(a.c_str(), &end);
    if (!a.empty() && *end == '\0') return VmPushNumber(L, n);
    VmPushString(L, a.c_str());
}

int Command(qvVmState* L) {
    const auto* args = static_cast<const std::vector<std::string>*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    for (size_t i = 1; i < args->size(); ++i) {
        const std::string& a = (*args)[i];
        if (const size_t eq = a.find('='); eq != std::string::npos) {
            VmNewTable(L);
            VmPushString(L, a.substr(0, eq).c_str());
            PushWord(L, a.substr(eq + 1));
            VmRawSet(L, -3);
            continue;
        }
        PushWord(L, a);
    }
    CallGlobal(L, (*args)[0].c_str(), int(args->size()) - 1);
    return 0;
}

void Run(qvVmState* L, std::vector<std::string> args) {
    VmCPCall(L, Command, &args);
    VmSetTop(L, 0);
}

int Triangle(qvVmState* L) {
    VmSetTop(L, 0);
    VmPushNumber(L, 36);
    VmPushNumber(L, 24);
    VmNewTable(L);
    constexpr int kPoints[] = {0, 0, 8, 0, 4, 6};
    for (int i = 0; i < 6; ++i) {
        VmPushNumber(L, kPoints[i]);
        VmRawSetI(L, -2, i);
    }
    VmPushNumber(L, 3);
    VmPushNumber(L, 0x00FFFF);
    CallGlobal(L, "polygon", 5);
    return 0;
}

qv::test::Planes Picture(int kind) {
    qv::test::Planes p = qv::test::Solid(9, 7, 0x102030u * uint32_t(kind + 1));
    if (kind % 2 == 1) {
        p.mask.resize(size_t(p.width) * p.height);
        for (size_t i = 0; i < p.mask.size(); ++i) p.mask[i] = uint8_t(i % 2);
    }
    return p;
}

void AddAnimOf(qvVmState* L, uint32_t number, int frames) {
    qvAnimFrames planes;
    for (int i = 0; i < frames; ++i) {
        planes.bitmaps.push_back(qv::test::MakePlanes(Picture(i)).bitmap.release());
    }
    qvObjectId id{number, nullptr};
    qvAnim* anim = nullptr;
    if (AddAnim(&id, 9, 7, &planes, -1, &anim) != 0) std::abort();
    qv::scene::AddAnimLayer(L, id, 2, 20, 9, 7, 0, frames, -1, QV_ADDLAYER_DISPLAYITEM);
}

// One layer of every type the engine restyles, two of them in a group and one named.
void AddLayers(qvVmState* L, qv::test::SceneDisplay* scene) {
    for (uint32_t id : {1u, 2u}) {
        qvBrush* brush = nullptr;
        if (CreateBrushBitmaps({id, nullptr}, 9, 7, 0x203040 * id, id == 2, false, false, false,
                               &brush) != 0) {
            std::abort();
        }
    }
    scene->AddLayer(L, Picture(1), -3, -2);
    qv::scene::InsertObjectLayer(L, kTypeBrush, {1, nullptr}, 30, 20, -1, 0);
    qv::scene::InsertObjectLayer(L, kTypeBrush, {2, nullptr}, 5, 5, -1, 0);
    Run(L, {"setlayerstyle", "3", "partx=1"});  // a brush part from now on
    AddAnimOf(L, 1, 3);
    Run(L, {"createtextobject", "1", "Hi"});
    Run(L, {"displaytextobject", "1", "12", "3"});
    Run(L, {"textout", "20", "2", "Text"});
    Run(L, {"textout", "2", "12", "Print"});
    Run(L, {"setlayerstyle", "7", "type=11"});
    Run(L, {"box", "2", "2", "10", "6", "16711680"});
    Run(L, {"circle", "30", "10", "5", "65280"});
    Run(L, {"ellipse", "12", "20", "6", "3", "255"});
    Run(L, {"line", "0", "30", "20", "25", "16776960"});
    Run(L, {"arc", "40", "20", "6", "4", "0", "90", "16777215"});
    VmCPCall(L, Triangle, nullptr);
    VmSetTop(L, 0);
    Run(L, {"startpath", "1"});
    Run(L, {"moveto", "1", "0", "0"});
    Run(L, {"lineto", "1", "12", "8"});
    Run(L, {"drawpath", "1", "30", "2", "16711935"});
    Run(L, {"setlayername", "2", "a"});
    int position = 0;
    qv::scene::ForEachLayer(&scene->picture->layers, [&](qvLayer* layer) {
        if (++position % 3 == 0) std::strcpy(layer->group, "grp");
    });
}

const qv::VectorBackend kCairo = {
    qv::vectorgraphics::GetPathExtents,   qv::vectorgraphics::DrawPath,
    qv::vectorgraphics::TranslatePath,    qv::vectorgraphics::GetCurrentPoint,
    qv::vectorgraphics::CreateVectorFont, qv::vectorgraphics::FreeVectorFont};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::test::Planes background = qv::test::Solid(48, 32, 0);
    for (size_t i = 0; i < background.rgb.size(); ++i) background.rgb[i] = uint32_t(i) * 0x030507;
    qv::objects::SceneHooks hooks;
    qv::scene::SetObjectHooks(&hooks);
    qv::test::SceneDisplay scene(background);
    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    Check(RegisterLayersLibrary(L) == 0);
    Check(RegisterDrawLibrary(L) == 0);
    Check(RegisterTextLibrary(L) == 0);
    Check(RegisterVectorGraphicsLibrary(L) == 0);
    qv::UseVectorBackend(&kCairo);
    ResetDrawState(GetDrawState());
    AddLayers(L, &scene);
    RefreshDisplayArea(L, 0, 0, scene.width, scene.height);
    ByteInput in{data, size};
    for (int step = 0; step < 32 && in.More(); ++step) {
        VmCPCall(L, Step, &in);
        Check(scene.Window() == scene.Recomposed(L));
    }
    FreeLayerList(L, scene.picture, true);
    FreeLayersLibrary(L);
    FreeAllPaths(L);
    FreeDrawBuffers(L);
    VmClose(L);
    qv::UseVectorBackend(nullptr);
    FreeAllTextObjects(nullptr);
    FreeAllBrushes(nullptr);
    FreeAllAnims(nullptr);
    qv::FreeObjectRegistry();
    qv::scene::SetObjectHooks(nullptr);
    return 0;
}
