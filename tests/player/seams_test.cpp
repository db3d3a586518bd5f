// The player's wiring, checked while an applet runs: every hook that a library reads of
// another (neighbour tables, hosts and seams, installable functions, GetAttribute's providers)
// is filled by the library that owns the answer. A hook added later without its player side
// fails here. The virtual tables are read as the Itanium C++ ABI lays them out (GCC and Clang
// on Linux).
#include <cxxabi.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "gfx/graphics_state.h"
#include "gfx/library/get_attribute.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_types.h"
#include "objects/draw/draw_commands.h"
#include "objects/scene_seam.h"
#include "objects/text/text_display.h"
#include "objects/vector/vector_library.h"
#include "runtime/display_input.h"
#include "runtime/image_handles.h"
#include "runtime/option_tables.h"
#include "runtime/player.h"
#include "scene/bgpic.h"
#include "scene/events/event_displays.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer_cache.h"
#include "scene/object_hooks.h"
#include "tests/platform/file_test_support.h"
#include "tools/qvasm/qvasm.h"
#include "tools/qvmkapplet/applet_builder.h"

namespace qv::testing {
namespace {

// --- Virtual tables ---

// A pointer to a virtual member function holds 1 + the byte offset of its slot.
template <typename Method>
size_t SlotOf(Method method) {
    struct {
        uintptr_t pointer;
        ptrdiff_t adjust;
    } bits;
    static_assert(sizeof bits == sizeof method);
    std::memcpy(&bits, &method, sizeof bits);
    return (bits.pointer - 1) / sizeof(void*);
}

// One slot past the interface's own: the number of its slots. Never instantiated.
template <typename Interface>
struct SlotEnd : Interface {
    virtual void End() {}
};

template <typename Interface>
size_t SlotCount() {
    return SlotOf(&SlotEnd<Interface>::End);
}

const void* SlotFunction(const void* object, size_t slot) {
    return (*static_cast<const void* const* const*>(object))[slot];
}

// The demangled name of the function at that address, or its address.
std::string FunctionName(const void* function) {
    Dl_info info{};
    if (dladdr(function, &info) != 0 && info.dli_sname != nullptr) {
        int status = 0;
        std::unique_ptr<char, decltype(&std::free)> name(
            abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status), &std::free);
        return status == 0 ? name.get() : info.dli_sname;
    }
    char text[32];
    std::snprintf(text, sizeof text, "slot at %p", function);
    return text;
}

// --- What the run saw ---

// Each unfilled hook: its key ("Interface slot N" or "provider of type N") and its name.
std::map<std::string, std::string> unfilled;
bool ran = false;

std::string SlotKey(const std::string& interface, size_t slot) {
    return interface + " slot " + std::to_string(slot);
}

std::string ProviderKey(int32_t type) {
    return "GetAttribute provider of type " + std::to_string(type);
}

// Compares every slot of the installed object with the one the fallback has: a slot that is
// still the fallback's is not filled.
template <typename Interface>
void CompareSlots(const std::string& name, const Interface& installed, const Interface& fallback) {
    for (size_t slot = 0; slot < SlotCount<Interface>(); ++slot) {
        const void* function = SlotFunction(&installed, slot);
        if (function == SlotFunction(&fallback, slot)) {
            unfilled[SlotKey(name, slot)] = FunctionName(function);
        }
    }
}

// The installed object against the one its setter puts back for none; installed again after.
template <typename Interface>
void CheckInstalled(const std::string& name, Interface& (*get)(), void (*set)(Interface*)) {
    Interface& installed = get();
    set(nullptr);
    Interface& fallback = get();
    set(&installed);
    if (&installed == &fallback) {
        unfilled[name] = "nothing installed";
        return;
    }
    CompareSlots(name, installed, fallback);
}

gfx::BlitHost& BlitHost() {
    return gfx::Graphics().Host();
}
void SetBlitHost(gfx::BlitHost* host) {
    gfx::Graphics().SetHost(host);
}

// Hooks left unfilled on purpose, each with its reason: the video library has no commands
// yet (nor have those of sound, animation, transitions and object movement, whose objects'
// providers answer that none exists); the default of TransformPoints is the answer.
std::map<std::string, std::string> DeliberateGaps() {
    return {
        {SlotKey("gfx::Neighbours", SlotOf(&gfx::Neighbours::VideoDumpRecording)), "video"},
        {SlotKey("gfx::Neighbours", SlotOf(&gfx::Neighbours::TransformPoints)),
         "the default maps the points"},
    };
}

// Every type that answers an attribute besides ATTRCOUNT (which GetAttribute counts itself)
// has a provider; GetAttribute answers the handler slots itself too.
void CheckProviders() {
    for (int32_t type = 0; type < 128; ++type) {
        bool answers = false;
        for (int32_t attribute = 0; attribute < 128; ++attribute) {
            answers |= attribute != gfx::ATTRCOUNT && gfx::AttributeListed(type, attribute);
        }
        if (!answers || type == gfx::kTypeEventHandler) continue;
        if (gfx::InstalledAttributeProvider(type) == nullptr) unfilled[ProviderKey(type)] = "";
    }
}

void CheckFunction(const char* name, bool installed) {
    if (!installed) unfilled[name] = "nothing installed";
}

int InspectWiring(qvVmState*) {
    ran = true;
    CheckInstalled<gfx::Neighbours>("gfx::Neighbours", gfx::Neighbour, gfx::SetNeighbours);
    CheckInstalled<gfx::BlitHost>("gfx::BlitHost", BlitHost, SetBlitHost);
    CheckInstalled<scene::BGPicHost>("scene::BGPicHost", scene::Host, scene::SetBGPicHost);
    CheckInstalled<scene::DisplaySeam>("scene::DisplaySeam", scene::LayerDisplays,
                                       scene::SetDisplaySeam);
    CheckInstalled<scene::ObjectHooks>("scene::ObjectHooks", scene::Objects, scene::SetObjectHooks);
    CheckInstalled<objects::SceneSeam>("objects::SceneSeam", objects::Scene, objects::SetSceneSeam);
    CheckInstalled<text::TextDisplayHost>("text::TextDisplayHost", text::TextDisplay,
                                          text::SetTextDisplayHost);
    CheckInstalled<events::EventDisplays>("events::EventDisplays", events::Displays,
                                          events::SetEventDisplays);
    // Every method of these is pure but ForgetInput, which the pump's owner overrides.
    CheckFunction("DisplayInput", CurrentDisplayInput() != nullptr);
    CheckFunction("scene::SetFreeButtons", scene::InstalledFreeButtons() != nullptr);
    CheckFunction("SetLayerNameLookup", InstalledLayerNameLookup() != nullptr);
    CheckFunction("SetPathDrawer", InstalledPathDrawer() != nullptr);
    CheckFunction("draw::SetShapeToPath", draw::InstalledShapeToPath() != nullptr);
    CheckFunction("SetPluginImageBuilder", InstalledPluginImageBuilder() != nullptr);
    CheckFunction("SetBoxBorderRenderer", BoxBorderRenderer() != nullptr);
    CheckProviders();
    return 0;
}

// The vector neighbours' defaults are the real answers (the draw state and the text
// library); the sprite refresh, the filter kernel and the path-forced query are replaced by
// tests only; all four stay out of this check.
TEST(Seams, EveryHookOfARegisteredLibraryIsFilled) {
    ScratchDir scratch;
    scratch.MakeDir("t");
    scratch.MakeDir("libs");
    ScopedEnv video("QV_VIDEO", "headless");
    ScopedEnv assigns("QV_ASSIGN", "T:=" + (scratch / "t") + ";LIBS:=" + (scratch / "libs"));
    AppletBuilder applet;
    applet.SetChunk(Assemble(".function main\n    RETURN r0 1\n.end\n").bytes);
    applet.AddDisplay(1, 32, 24, "Seams");
    scratch.Write("app.qva", applet.Build());
    const std::string path = scratch / "app.qva";

    PlayerServices services = DefaultPlayerServices();
    services.runMainChunk = InspectWiring;
    const char* args[] = {"quorvella", path.c_str(), "-QUIET"};
    RunPlayer(3, args, services);
    ASSERT_TRUE(ran);
    std::map<std::string, std::string> gaps = DeliberateGaps();
    std::string missing, filled;
    for (const auto& [key, name] : unfilled) {
        if (!gaps.contains(key)) missing += key + " (" + name + ")\n";
    }
    for (const auto& [key, why] : gaps) {
        if (!unfilled.contains(key)) filled += key + "\n";
    }
    EXPECT_EQ(missing, "") << "hooks without their player side";
    EXPECT_EQ(filled, "") << "filled now: take them off the lists of gaps";
}

}  // namespace
}  // namespace qv::testing
