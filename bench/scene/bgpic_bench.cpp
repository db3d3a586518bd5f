// Background pictures through their commands, in the screen's format (10 unless
// QV_SCREEN_FORMAT says otherwise): LoadBGPic of a full-HD PNG beside libpng's simplified API
// decoding to BGRA plus one copy of the rows into a bitmap, and CopyBGPic of a full-HD
// picture beside one new buffer and a memcpy of the same rows.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "engine/vm.h"
#include "platform/linux/window.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "tests/gfx/support/test_pictures.h"

namespace {

using namespace qv::bench;

std::string PngPath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/qv_bench_bgpic.png";
}

// A photo-like full-HD PNG, written once.
const std::string& PngFile() {
    static const std::string path = [] {
        const qv::test::RgbPicture p = qv::test::TestPicture(1, kWidth, kHeight);
        std::vector<uint8_t> rgb;
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                const uint32_t c = p.At(x, y);
                rgb.insert(rgb.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
            }
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = kWidth, image.height = kHeight;
        image.format = PNG_FORMAT_RGB;
        png_image_write_to_file(&image, PngPath().c_str(), 0, rgb.data(), 0, nullptr);
        return PngPath();
    }();
    return path;
}

// An engine with the run-time's host and the "bgpic" library, as a script sees them.
class Scripts {
public:
    Scripts() {
        qv::ResetRuntimeState();
        InitSupport();
        L_ = VmOpen();
        qv::InstallRuntimeHost(L_);
        VmCPCall(
            L_, [](qvVmState* L) { return RegisterBGPicLibrary(L); }, nullptr);
    }
    ~Scripts() {
        FreeAllBGPics(L_);
        VmClose(L_);
        qv::ResetRuntimeState();
    }

    // Calls the command (registered under its lower-case name) with numbers and, where text is
    // given, that string as its second argument; 0 or the error code.
    int Call(const char* name, double first, double second, const char* text = nullptr) {
        Request request{name, first, second, text};
        return VmCPCall(L_, Run, &request);
    }

private:
    struct Request {
        const char* name;
        double first, second;
        const char* text;
    };
    static int Run(qvVmState* L) {
        const auto* r = static_cast<const Request*>(VmToUserdata(L, 1));
        VmPushString(L, r->name);
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushNumber(L, r->first);
        if (r->text != nullptr) {
            VmPushString(L, r->text);
        } else {
            VmPushNumber(L, r->second);
        }
        VmCall(L, 2, 0);
        return 0;
    }

    qvVmState* L_;
};

void LoadOurs(benchmark::State& state) {
    Scripts scripts;
    const std::string& file = PngFile();
    for (auto _ : state) {
        if (scripts.Call("loadbgpic", 1, 0, file.c_str()) != 0) state.SkipWithError("load failed");
        scripts.Call("freebgpic", 1, 0);
    }
}

void LoadPeer(benchmark::State& state) {
    const std::string& file = PngFile();
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_file(&image, file.c_str());
        image.format = PNG_FORMAT_BGRA;
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[PNG_IMAGE_SIZE(image)]);
        png_image_finish_read(&image, nullptr, pixels.get(), 0, nullptr);
        Owned<qvDisplayBitMap> bitmap(AllocDisplayBitMap(kWidth, kHeight));
        const size_t row = size_t(kWidth) * 4;
        for (int32_t y = 0; y < kHeight; ++y) {
            std::memcpy(bitmap->pixels + size_t(y) * bitmap->rowLength * bitmap->bytesPerPixel,
                        pixels.get() + y * row, row);
        }
        benchmark::DoNotOptimize(bitmap->pixels);
    }
}

void CopyOurs(benchmark::State& state) {
    Scripts scripts;
    if (scripts.Call("loadbgpic", 1, 0, PngFile().c_str()) != 0) state.SkipWithError("no picture");
    for (auto _ : state) {
        if (scripts.Call("copybgpic", 1, 2) != 0) state.SkipWithError("copy failed");
        scripts.Call("freebgpic", 2, 0);
    }
}

void CopyPeer(benchmark::State& state) {
    Owned<qvDisplayBitMap> source = RandomBitMap(qv::ScreenFormat(), 1);
    const size_t row = size_t(source->rowLength) * source->bytesPerPixel;
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[row * kHeight]);
        for (int32_t y = 0; y < kHeight; ++y) {
            std::memcpy(copy.get() + y * row, source->pixels + y * row, row);
        }
        benchmark::DoNotOptimize(copy.get());
    }
}

BENCHMARK(LoadOurs)
    ->Name("S2a:LoadBGPic PNG 1920x1080 vs libpng simplified/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LoadPeer)
    ->Name("S2a:LoadBGPic PNG 1920x1080 vs libpng simplified/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CopyOurs)->Name("S2b:CopyBGPic 1920x1080 vs memcpy/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(CopyPeer)->Name("S2b:CopyBGPic 1920x1080 vs memcpy/peer")->Unit(benchmark::kMillisecond);

}  // namespace
