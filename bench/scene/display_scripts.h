// An engine with the graphics, display and bgpic libraries as a script sees them, the
// displays of a setup made by their commands and opened as at start-up.
#pragma once

#include <initializer_list>

#include "engine/vm.h"
#include "gfx/library/graphics_library.h"
#include "objects/object_neighbours.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/scene_neighbours.h"

namespace qv::bench {

class DisplayScripts {
public:
    // setup runs under the engine's protection after the libraries registered, before the
    // first display opens.
    explicit DisplayScripts(int (*setup)(qvVmState* L)) {
        ResetRuntimeState();
        InitSupport();
        gfx::SetNeighbours(&neighbours_);
        L_ = VmOpen();
        InstallRuntimeHost(L_);
        Runtime().quiet = 1;
        setup_ = setup;
        ok_ = VmCPCall(L_, Setup, this) == 0 && OpenFirstDisplay(L_, nullptr, nullptr) == 0;
    }
    ~DisplayScripts() {
        CloseDisplayLibrary(L_);
        FreeAllBGPics(L_);
        FreeGraphicsObjects(L_);
        VmClose(L_);
        FreeSupport();
        gfx::SetNeighbours(nullptr);
        ResetRuntimeState();
    }
    DisplayScripts(const DisplayScripts&) = delete;
    DisplayScripts& operator=(const DisplayScripts&) = delete;

    bool ok() const { return ok_; }
    qvVmState* L() const { return L_; }

    // Calls the global command with number arguments and no results.
    static void Call(qvVmState* L, const char* name, std::initializer_list<double> args) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        for (double a : args) VmPushNumber(L, a);
        VmCall(L, int(args.size()), 0);
    }
    // CreateDisplay(id, {key = value, ...}) with number values.
    static void CreateDisplay(qvVmState* L, double id,
                              std::initializer_list<std::pair<const char*, double>> options) {
        VmPushString(L, "createdisplay");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushNumber(L, id);
        VmNewTable(L);
        for (auto [key, value] : options) {
            VmPushString(L, key);
            VmPushNumber(L, value);
            VmSetTable(L, -3);
        }
        VmCall(L, 2, 0);
    }

private:
    class Neighbours final : public scene::SceneNeighbours,
                             public scene::DisplayNeighbours,
                             public objects::ObjectNeighbours {};

    static int Setup(qvVmState* L) {
        for (auto registerLibrary :
             {RegisterGraphicsLibrary, RegisterDisplayLibrary, RegisterBGPicLibrary}) {
            if (int code = registerLibrary(L)) RaiseError(L, code);
        }
        return static_cast<DisplayScripts*>(VmToUserdata(L, 1))->setup_(L);
    }

    Neighbours neighbours_;
    qvVmState* L_ = nullptr;
    int (*setup_)(qvVmState* L) = nullptr;
    bool ok_ = false;
};

}  // namespace qv::bench
