// The scene that the layer benchmarks share: a display of a patterned background (640 x 480
// unless given) with the layers library on it (ours), the same picture composed by pixman (the
// peer), the peer's batch of 100 masked 64 x 64 layers moved by 3 pixels, their old and new
// areas merged in one pass and composed (background SRC, layers OVER), and moving the layers
// with one SetLayerStyle call.
#pragma once

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/linux/testing.h"
#include "runtime/runtime_host.h"
#include "scene/layers/layers_library.h"
#include "tests/scene/support/layer_scene.h"

namespace layer_bench {

using qv::test::Planes;

constexpr int32_t kWidth = 640, kHeight = 480;
constexpr int kMovers = 100, kMoverSide = 64, kMove = 3;

inline Planes Background(int32_t width = kWidth, int32_t height = kHeight) {
    Planes p = qv::test::Solid(width, height, 0);
    for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = uint32_t(i * 0x010307) & 0xFFFFFF;
    return p;
}

// A square of side pixels masked by a disc.
inline Planes Disc(int32_t side, uint32_t colour) {
    Planes p = qv::test::Solid(side, side, colour);
    p.mask.resize(p.rgb.size());
    for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) {
            const int dx = 2 * x - side, dy = 2 * y - side;
            p.mask[size_t(y) * side + x] = dx * dx + dy * dy < side * side;
        }
    }
    return p;
}

// The alpha of a disc with a soft edge in a square of side pixels: 255 inside, 0 outside, a
// ramp of 8 pixels between.
inline uint8_t DiscAlpha(int32_t side, int32_t x, int32_t y) {
    const double centre = (side - 1) / 2.0;
    const double d = std::hypot(x - centre, y - centre);
    return uint8_t(std::clamp((side / 2.0 - 4.0 - d) * 32.0, 0.0, 255.0));
}

// A square of side pixels seen through a soft disc of alpha.
inline Planes SoftDisc(int32_t side, uint32_t colour) {
    Planes p = qv::test::Solid(side, side, colour);
    p.alpha.resize(p.rgb.size());
    for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) p.alpha[size_t(y) * side + x] = DiscAlpha(side, x, y);
    }
    return p;
}

// Where mover i starts: ten rows of ten, overlapping their neighbours a little.
inline int32_t MoverX(int i) {
    return (i % 10) * 57 + 4;
}
inline int32_t MoverY(int i) {
    return (i / 10) * 41 + 4;
}

// A display showing the background, with the "layers" library registered on an engine.
struct Ours {
    explicit Ours(const Planes& background = Background())
        : screen(QV_FMT_A8R8G8B8), scene(background) {
        L = VmOpen();
        qv::InstallRuntimeHost(L);
        RegisterLayersLibrary(L);
    }
    ~Ours() {
        FreeLayerList(L, scene.picture);
        FreeLayersLibrary(L);
        VmClose(L);
    }
    // One SetLayerStyle call moving layers 1 to count, layer i + 1 to place(i) = {x, y}.
    template <typename Place>
    void MoveLayers(int count, Place&& place) {
        VmPushString(L, "setlayerstyle");
        VmGetTable(L, VM_GLOBALSINDEX);
        for (int i = 0; i < count; ++i) {
            const auto [x, y] = place(i);
            VmPushNumber(L, i + 1);
            VmNewTable(L);
            VmPushString(L, "x");
            VmPushNumber(L, x);
            VmRawSet(L, -3);
            VmPushString(L, "y");
            VmPushNumber(L, y);
            VmRawSet(L, -3);
        }
        VmCall(L, 2 * count, 0);
    }
    // Calls the global command with number arguments.
    void Command(const char* name, std::initializer_list<double> args) {
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        for (double a : args) VmPushNumber(L, a);
        VmCall(L, int(args.size()), 1);
        VmSetTop(L, 0);
    }
    qv::platform::testing::ScopedScreenFormat screen;
    qv::test::SceneDisplay scene;
    qvVmState* L = nullptr;
};

template <typename T>
struct Unref {
    void operator()(T* image) const { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, Unref<pixman_image_t>>;

struct PixmanLayer {
    std::vector<uint32_t> bits;
    std::vector<uint8_t> a8;
    Image image, mask;
    int32_t x = 0, y = 0, side = 0;
};

// A picture of background and layers composed by pixman into a destination that is then
// copied to a window buffer, as the refresh does.
struct PixmanScene {
    explicit PixmanScene(const Planes& background = Background())
        : width(background.width),
          height(background.height),
          backBits(background.rgb),
          destBits(backBits.size()),
          window(backBits.size()) {
        back.reset(
            pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, backBits.data(), width * 4));
        dest.reset(
            pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, destBits.data(), width * 4));
    }
    // A layer through its alpha plane or mask as a8 (opaque without either).
    PixmanLayer& Add(const Planes& planes, int32_t x, int32_t y) {
        PixmanLayer& p = layers.emplace_back();
        p.x = x, p.y = y, p.side = planes.width;
        p.bits = planes.rgb;
        p.image.reset(
            pixman_image_create_bits(PIXMAN_x8r8g8b8, p.side, p.side, p.bits.data(), p.side * 4));
        p.a8.resize(planes.rgb.size());
        for (size_t i = 0; i < p.a8.size(); ++i) {
            p.a8[i] = !planes.alpha.empty()                        ? planes.alpha[i]
                      : planes.mask.empty() || planes.mask[i] != 0 ? 255
                                                                   : 0;
        }
        p.mask.reset(pixman_image_create_bits(PIXMAN_a8, p.side, p.side,
                                              reinterpret_cast<uint32_t*>(p.a8.data()), p.side));
        return p;
    }
    // Background SRC, then each layer OVER through its mask, clipped to the rectangle.
    void Compose(int32_t x, int32_t y, int32_t w, int32_t h) {
        pixman_image_composite32(PIXMAN_OP_SRC, back.get(), nullptr, dest.get(), x, y, 0, 0, x, y,
                                 w, h);
        for (PixmanLayer& l : layers) {
            const int32_t left = std::max(x, l.x), top = std::max(y, l.y);
            const int32_t right = std::min(x + w, l.x + l.side);
            const int32_t bottom = std::min(y + h, l.y + l.side);
            if (right <= left || bottom <= top) continue;
            pixman_image_composite32(PIXMAN_OP_OVER, l.image.get(), l.mask.get(), dest.get(),
                                     left - l.x, top - l.y, left - l.x, top - l.y, left, top,
                                     right - left, bottom - top);
        }
        CopyToWindow(x, y, w, h);
    }
    void CopyToWindow(int32_t x, int32_t y, int32_t w, int32_t h) {
        for (int32_t row = y; row < y + h; ++row) {
            std::memcpy(&window[size_t(row) * width + x], &destBits[size_t(row) * width + x],
                        size_t(w) * 4);
        }
    }

    const int32_t width, height;
    std::vector<uint32_t> backBits, destBits, window;
    Image back, dest;
    std::vector<PixmanLayer> layers;
};

struct Rect {
    int32_t x1, y1, x2, y2;
    bool live;
};

inline void PixmanBatch(benchmark::State& state) {
    PixmanScene pix;
    for (int i = 0; i < kMovers; ++i) {
        pix.Add(Disc(kMoverSide, uint32_t(i * 0x0A1B2C) & 0xFFFFFF), MoverX(i), MoverY(i));
    }
    std::vector<Rect> rects(kMovers);
    int direction = 1;
    for (auto _ : state) {
        // Each layer's old and new area, merged in one pass in entry order, then composed.
        for (int i = 0; i < kMovers; ++i) {
            PixmanLayer& l = pix.layers[size_t(i)];
            const int32_t nx = l.x + direction * kMove, ny = l.y + direction * kMove;
            rects[size_t(i)] = {std::min(l.x, nx), std::min(l.y, ny),
                                std::max(l.x, nx) + kMoverSide - 1,
                                std::max(l.y, ny) + kMoverSide - 1, true};
            l.x = nx, l.y = ny;
        }
        for (Rect& a : rects) {
            if (!a.live) continue;
            for (Rect& b : rects) {
                if (&a == &b || !b.live || b.x1 > a.x2 || a.x1 > b.x2 || b.y1 > a.y2 ||
                    a.y1 > b.y2) {
                    continue;
                }
                a = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2),
                     std::max(a.y2, b.y2), true};
                b.live = false;
            }
        }
        for (const Rect& r : rects) {
            if (!r.live) continue;
            const int32_t x2 = std::min(r.x2, kWidth - 1), y2 = std::min(r.y2, kHeight - 1);
            pix.Compose(r.x1, r.y1, x2 - r.x1 + 1, y2 - r.y1 + 1);
        }
        direction = -direction;
        benchmark::ClobberMemory();
    }
}

}  // namespace layer_bench
