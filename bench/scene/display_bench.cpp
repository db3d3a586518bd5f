// S3a: DisplayBGPic of a 1280x720 picture onto an open headless display of the same size (the
// picture switch, the display's work bitmaps, the window copy), alternating between two
// pictures, beside one SDL_FillRect clear and one SDL_BlitSurface of the same pixels.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/gfx/bench_bitmaps.h"
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

namespace {

constexpr int kDisplayWidth = 1280, kDisplayHeight = 720;

class Neighbours final : public qv::scene::SceneNeighbours,
                         public qv::scene::DisplayNeighbours,
                         public qv::objects::ObjectNeighbours {};

// An engine with the graphics, display and bgpic libraries, display 1 open at 1280x720 and
// pictures 2 and 3 of that size.
class Scripts {
public:
    Scripts() {
        qv::ResetRuntimeState();
        InitSupport();
        qv::gfx::SetNeighbours(&neighbours_);
        L_ = VmOpen();
        qv::InstallRuntimeHost(L_);
        qv::Runtime().quiet = 1;
        ok_ = VmCPCall(L_, Setup, nullptr) == 0 && OpenFirstDisplay(L_, nullptr, nullptr) == 0;
    }
    ~Scripts() {
        CloseDisplayLibrary(L_);
        FreeAllBGPics(L_);
        FreeGraphicsObjects(L_);
        VmClose(L_);
        FreeSupport();
        qv::gfx::SetNeighbours(nullptr);
        qv::ResetRuntimeState();
    }

    bool ok() const { return ok_; }
    // DisplayBGPic(id); 0 or the error code.
    int Show(double id) { return VmCPCall(L_, ShowBody, &id); }

private:
    static void Call(qvVmState* L, const char* name, std::initializer_list<double> args) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        for (double a : args) VmPushNumber(L, a);
        VmCall(L, int(args.size()), 0);
    }
    static int Setup(qvVmState* L) {
        for (auto registerLibrary :
             {RegisterGraphicsLibrary, RegisterDisplayLibrary, RegisterBGPicLibrary}) {
            if (int code = registerLibrary(L)) RaiseError(L, code);
        }
        VmPushString(L, "createdisplay");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushNumber(L, 1);
        VmNewTable(L);
        VmPushString(L, "width");
        VmPushNumber(L, kDisplayWidth);
        VmSetTable(L, -3);
        VmPushString(L, "height");
        VmPushNumber(L, kDisplayHeight);
        VmSetTable(L, -3);
        VmCall(L, 2, 0);
        for (double id : {2.0, 3.0}) {
            Call(L, "createbgpic", {id, kDisplayWidth, kDisplayHeight});
            qvBGPic* picture = nullptr;
            GetBGPic(L, {uint32_t(id), nullptr}, &picture, 0);
            auto random = qv::bench::RandomBitMap(picture->shown.bitmap->format, uint32_t(id),
                                                  kDisplayWidth, kDisplayHeight);
            BltBitMap(random.get(), 0, 0, picture->shown.bitmap, 0, 0, kDisplayWidth,
                      kDisplayHeight);
        }
        return 0;
    }
    static int ShowBody(qvVmState* L) {
        Call(L, "displaybgpic", {*static_cast<double*>(VmToUserdata(L, 1))});
        return 0;
    }

    Neighbours neighbours_;
    qvVmState* L_ = nullptr;
    bool ok_ = false;
};

void Ours(benchmark::State& state) {
    Scripts scripts;
    if (!scripts.ok()) state.SkipWithError("no display");
    int i = 0;
    for (auto _ : state) {
        if (scripts.Show((i++ & 1) != 0 ? 2 : 3) != 0) state.SkipWithError("DisplayBGPic failed");
    }
}

void Peer(benchmark::State& state) {
    using qv::bench::Owned;
    Owned<SDL_Surface> source(SDL_CreateRGBSurfaceWithFormat(0, kDisplayWidth, kDisplayHeight, 32,
                                                             SDL_PIXELFORMAT_ARGB8888));
    Owned<SDL_Surface> dest(SDL_CreateRGBSurfaceWithFormat(0, kDisplayWidth, kDisplayHeight, 32,
                                                           SDL_PIXELFORMAT_ARGB8888));
    std::memset(source->pixels, 0x5A, size_t(source->pitch) * kDisplayHeight);
    SDL_SetSurfaceBlendMode(source.get(), SDL_BLENDMODE_NONE);
    for (auto _ : state) {
        SDL_FillRect(dest.get(), nullptr, 0);
        SDL_BlitSurface(source.get(), nullptr, dest.get(), nullptr);
        benchmark::DoNotOptimize(dest->pixels);
    }
}

BENCHMARK(Ours)
    ->Name("S3a:DisplayBGPic 1280x720 vs SDL_FillRect+SDL_BlitSurface/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Peer)
    ->Name("S3a:DisplayBGPic 1280x720 vs SDL_FillRect+SDL_BlitSurface/peer")
    ->Unit(benchmark::kMicrosecond);

}  // namespace
