// The compositor beside pixman and SDL2 composing the same stacks on a full-HD picture:
// 24 layers of 256 x 256 (8 opaque, 8 through 1-bit masks, 8 through sprite-like alpha
// planes) recomposed whole in formats 10 and 4 (S4a, S4b, S4e), 16 layers at transparency
// 128 (S4c), and 1000 refreshes of 32 x 32 rectangles over the 24-layer stack (S4d). The
// layers' effects: 12 shadowed and 12 bordered layers recomposed with warm caches (S5a), the
// picture item of a 512 x 512 layer turned by 30 degrees, nearest and smoothed (S5b, S5c),
// and 24 shadow planes of 256 x 256 silhouettes (S5d).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "bench/scene/layer_bench_scene.h"
#include "gfx/spatial_filters.h"
#include "platform/linux/testing.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/transform_matrix.h"
#include "tests/scene/support/layer_scene.h"

namespace {

using namespace qv::bench;
using qv::test::Planes;

constexpr int kLayers = 24, kSide = 256;
enum class Kind { kOpaque, kMask, kAlpha };

// A disc with a soft edge (the mask keeps what is at least half covered).
uint8_t DiscAlpha(int32_t x, int32_t y) {
    return layer_bench::DiscAlpha(kSide, x, y);
}

struct Layer {
    Planes planes;
    int32_t x, y;
    uint32_t transparency;
};

Layer MakeLayer(int i, Kind kind, uint32_t transparency) {
    Layer l{qv::test::Solid(kSide, kSide, 0), (i * 263) % (kWidth - kSide),
            (i * 151) % (kHeight - kSide), transparency};
    for (int32_t y = 0; y < kSide; ++y) {
        for (int32_t x = 0; x < kSide; ++x) {
            l.planes.rgb[size_t(y) * kSide + x] =
                uint32_t(i * 0x0A1B2C + x * 0x10203 + y * 0x30201) & 0xFFFFFF;
        }
    }
    if (kind == Kind::kMask) {
        l.planes.mask.resize(l.planes.rgb.size());
        for (int32_t y = 0; y < kSide; ++y) {
            for (int32_t x = 0; x < kSide; ++x)
                l.planes.mask[size_t(y) * kSide + x] = DiscAlpha(x, y) >= 128;
        }
    } else if (kind == Kind::kAlpha) {
        l.planes.alpha.resize(l.planes.rgb.size());
        for (int32_t y = 0; y < kSide; ++y) {
            for (int32_t x = 0; x < kSide; ++x)
                l.planes.alpha[size_t(y) * kSide + x] = DiscAlpha(x, y);
        }
    }
    return l;
}

// The 24-layer stack, or 16 opaque layers at transparency 128.
std::vector<Layer> Stack(bool transparent) {
    std::vector<Layer> layers;
    const int count = transparent ? 16 : kLayers;
    for (int i = 0; i < count; ++i) {
        const Kind kind = transparent ? Kind::kOpaque : Kind(i % 3);
        layers.push_back(MakeLayer(i, kind, transparent ? 128 : 0));
    }
    return layers;
}

Planes BackgroundPlanes() {
    Planes p = qv::test::Solid(kWidth, kHeight, 0);
    for (size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = uint32_t(i * 0x010307) & 0xFFFFFF;
    return p;
}

// Our scene over a headless display in a format.
struct Ours {
    Ours(uint32_t format, bool transparent) : screen(format), scene(BackgroundPlanes()) {
        for (const Layer& l : Stack(transparent)) {
            qvDrawStyle style = qv::kInitialDrawStyle;
            style.transparency = int32_t(l.transparency);
            scene.AddLayer(nullptr, l.planes, l.x, l.y, &style);
        }
    }
    qv::platform::testing::ScopedScreenFormat screen;
    qv::test::SceneDisplay scene;
};

void RedrawStack(benchmark::State& state, uint32_t format, bool transparent) {
    Ours ours(format, transparent);
    for (auto _ : state) {
        Redraw(nullptr, ours.scene.Display(), ours.scene.picture, ours.scene.composition.get(), 0,
               0, kWidth, kHeight, 0, 0);
        benchmark::ClobberMemory();
    }
}

// The 32 x 32 rectangles of S4d, spread over the picture.
constexpr int kRefreshes = 1000, kRect = 32;
int32_t RectX(int i) {
    return (i * 389) % (kWidth - kRect);
}
int32_t RectY(int i) {
    return (i * 211) % (kHeight - kRect);
}

void RefreshRects(benchmark::State& state) {
    Ours ours(QV_FMT_A8R8G8B8, false);
    for (auto _ : state) {
        for (int i = 0; i < kRefreshes; ++i)
            RefreshDisplayArea(nullptr, RectX(i), RectY(i), kRect, kRect);
        benchmark::ClobberMemory();
    }
}

// pixman: the same pixels in the format, masks and alpha planes as a8, a transparency as a
// solid a8 mask.
struct PixmanLayer {
    std::vector<uint32_t> bits;
    std::vector<uint8_t> a8;
    Owned<pixman_image_t> image, mask;
    int32_t x, y;
};

uint32_t In(pixman_format_code_t format, uint32_t rgb) {
    if (format != PIXMAN_r5g6b5) return rgb | 0xFF000000;
    return (rgb >> 8 & 0xF800) | (rgb >> 5 & 0x07E0) | (rgb >> 3 & 0x001F);
}

// Pixels packed in the format: 32-bit words, or 16-bit ones two to a word.
std::vector<uint32_t> Pack(pixman_format_code_t format, const std::vector<uint32_t>& rgb,
                           int32_t width, int32_t height, int32_t* stride) {
    const int bytes = format == PIXMAN_r5g6b5 ? 2 : 4;
    *stride = (width * bytes + 3) & ~3;
    std::vector<uint32_t> words(size_t(*stride) * height / 4);
    auto* base = reinterpret_cast<uint8_t*>(words.data());
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t v = In(format, rgb[size_t(y) * width + x]);
            std::memcpy(base + size_t(y) * *stride + x * bytes, &v, bytes);
        }
    }
    return words;
}

struct PixmanStack {
    PixmanStack(pixman_format_code_t format, bool transparent) {
        int32_t stride;
        const Planes background = BackgroundPlanes();
        backgroundBits = Pack(format, background.rgb, kWidth, kHeight, &stride);
        backgroundImage.reset(
            pixman_image_create_bits(format, kWidth, kHeight, backgroundBits.data(), stride));
        destBits.assign(backgroundBits.size(), 0);
        dest.reset(pixman_image_create_bits(format, kWidth, kHeight, destBits.data(), stride));
        pixman_color_t half{0, 0, 0, 0x7F7F};  // 255 - 128
        solid.reset(pixman_image_create_solid_fill(&half));
        for (const Layer& l : Stack(transparent)) {
            auto& p = layers.emplace_back();
            p.x = l.x, p.y = l.y;
            p.bits = Pack(format, l.planes.rgb, kSide, kSide, &stride);
            p.image.reset(pixman_image_create_bits(format, kSide, kSide, p.bits.data(), stride));
            const std::vector<uint8_t>& plane =
                l.planes.alpha.empty() ? l.planes.mask : l.planes.alpha;
            if (plane.empty()) continue;
            p.a8.resize(plane.size());
            for (size_t i = 0; i < plane.size(); ++i)
                p.a8[i] = l.planes.alpha.empty() ? (plane[i] != 0 ? 255 : 0) : plane[i];
            p.mask.reset(pixman_image_create_bits(PIXMAN_a8, kSide, kSide,
                                                  reinterpret_cast<uint32_t*>(p.a8.data()), kSide));
        }
    }

    // Recomposes the rectangle: the background, then every layer that meets it.
    void Compose(int32_t x, int32_t y, int32_t width, int32_t height) {
        pixman_image_composite32(PIXMAN_OP_SRC, backgroundImage.get(), nullptr, dest.get(), x, y, 0,
                                 0, x, y, width, height);
        for (PixmanLayer& l : layers) {
            const int32_t left = std::max(x, l.x), top = std::max(y, l.y);
            const int32_t right = std::min(x + width, l.x + kSide);
            const int32_t bottom = std::min(y + height, l.y + kSide);
            if (right <= left || bottom <= top) continue;
            pixman_image_t* mask = l.mask ? l.mask.get() : transparentMask;
            pixman_image_composite32(mask != nullptr ? PIXMAN_OP_OVER : PIXMAN_OP_SRC,
                                     l.image.get(), mask, dest.get(), left - l.x, top - l.y,
                                     left - l.x, top - l.y, left, top, right - left, bottom - top);
        }
    }

    std::vector<uint32_t> backgroundBits, destBits;
    Owned<pixman_image_t> backgroundImage, dest, solid;
    std::vector<PixmanLayer> layers;
    pixman_image_t* transparentMask = nullptr;
};

void PixmanRedraw(benchmark::State& state, pixman_format_code_t format, bool transparent) {
    PixmanStack stack(format, transparent);
    if (transparent) stack.transparentMask = stack.solid.get();
    for (auto _ : state) {
        stack.Compose(0, 0, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
}

void PixmanRects(benchmark::State& state) {
    PixmanStack stack(PIXMAN_x8r8g8b8, false);
    for (auto _ : state) {
        for (int i = 0; i < kRefreshes; ++i) stack.Compose(RectX(i), RectY(i), kRect, kRect);
        benchmark::ClobberMemory();
    }
}

// SDL2: opaque layers copied, masked ones through a colour key, alpha ones blended.
void SdlRedraw(benchmark::State& state) {
    const Planes background = BackgroundPlanes();
    auto surface = [](int32_t w, int32_t h) {
        return Owned<SDL_Surface>(
            SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888));
    };
    auto fill = [](SDL_Surface* s, const std::vector<uint32_t>& rgb) {
        for (int y = 0; y < s->h; ++y) {
            auto* row =
                reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(s->pixels) + y * s->pitch);
            for (int x = 0; x < s->w; ++x) row[x] = rgb[size_t(y) * s->w + x] | 0xFF000000;
        }
    };
    auto back = surface(kWidth, kHeight), dest = surface(kWidth, kHeight);
    fill(back.get(), background.rgb);
    SDL_SetSurfaceBlendMode(back.get(), SDL_BLENDMODE_NONE);
    constexpr uint32_t kKey = 0xFF00FE01;
    std::vector<Owned<SDL_Surface>> layers;
    std::vector<SDL_Rect> places;
    for (const Layer& l : Stack(false)) {
        auto& s = layers.emplace_back(surface(kSide, kSide));
        fill(s.get(), l.planes.rgb);
        auto* pixels = static_cast<uint32_t*>(s->pixels);
        if (!l.planes.mask.empty()) {
            for (size_t i = 0; i < l.planes.mask.size(); ++i) {
                if (l.planes.mask[i] == 0) pixels[i] = kKey;
            }
            SDL_SetColorKey(s.get(), SDL_TRUE, kKey);
            SDL_SetSurfaceBlendMode(s.get(), SDL_BLENDMODE_NONE);
        } else if (!l.planes.alpha.empty()) {
            for (size_t i = 0; i < l.planes.alpha.size(); ++i) {
                pixels[i] = (pixels[i] & 0xFFFFFF) | uint32_t(l.planes.alpha[i]) << 24;
            }
            SDL_SetSurfaceBlendMode(s.get(), SDL_BLENDMODE_BLEND);
        } else {
            SDL_SetSurfaceBlendMode(s.get(), SDL_BLENDMODE_NONE);
        }
        places.push_back({l.x, l.y, kSide, kSide});
    }
    for (auto _ : state) {
        SDL_BlitSurface(back.get(), nullptr, dest.get(), nullptr);
        for (size_t i = 0; i < layers.size(); ++i) {
            SDL_Rect place = places[i];
            SDL_BlitSurface(layers[i].get(), nullptr, dest.get(), &place);
        }
        benchmark::ClobberMemory();
    }
}

// S5a: 24 layers (masks and alpha discs alternating), the even ones shadowed, the odd ones
// bordered, composed once so that every cache is warm.
struct Effects {
    Effects() : screen(QV_FMT_A8R8G8B8), scene(BackgroundPlanes()) {
        for (int i = 0; i < kLayers; ++i) {
            const Layer l = MakeLayer(i, i % 2 == 0 ? Kind::kAlpha : Kind::kMask, 0);
            qvDrawStyle style = qv::kInitialDrawStyle;
            style.shadow = {i % 2 == 0, 0x40202020, 6, 3, 5.0, 5.0 / 3.0};
            style.border = {i % 2, 0xF0C030, 3};
            layers.push_back(scene.AddLayer(nullptr, l.planes, l.x, l.y, &style));
        }
        Redraw(nullptr, scene.Display(), scene.picture, scene.composition.get(), 0, 0, kWidth,
               kHeight, 0, 0);
    }
    qv::platform::testing::ScopedScreenFormat screen;
    qv::test::SceneDisplay scene;
    std::vector<qvLayer*> layers;
};

void RedrawEffects(benchmark::State& state) {
    Effects ours;
    for (auto _ : state) {
        Redraw(nullptr, ours.scene.Display(), ours.scene.picture, ours.scene.composition.get(), 0,
               0, kWidth, kHeight, 0, 0);
        benchmark::ClobberMemory();
    }
}

// pixman composes the same cached planes: the shadow as its colour through the plane (a8),
// the border and the image OVER through theirs.
struct PixmanPlane {
    Owned<pixman_image_t> image;
    std::vector<uint8_t> a8;  // a mask widened to bytes
};

Owned<pixman_image_t> Wrap(qvDisplayBitMap* bitmap) {
    return Owned<pixman_image_t>(pixman_image_create_bits(
        PIXMAN_x8r8g8b8, bitmap->width, bitmap->height, reinterpret_cast<uint32_t*>(bitmap->pixels),
        bitmap->rowLength * 4));
}

Owned<pixman_image_t> WrapPlane(qvPlaneBitMap* plane) {
    return Owned<pixman_image_t>(pixman_image_create_bits(PIXMAN_a8, plane->width, plane->height,
                                                          reinterpret_cast<uint32_t*>(plane->plane),
                                                          plane->bytesPerRow));
}

void PixmanEffects(benchmark::State& state) {
    Effects ours;
    Owned<pixman_image_t> dest = Wrap(ours.scene.composition.get());
    Owned<pixman_image_t> background = Wrap(ours.scene.displayBitmap.get());
    struct Part {
        Owned<pixman_image_t> source, mask;
        std::vector<uint8_t> a8;
        int32_t x, y, width, height;
    };
    std::vector<Part> parts;
    for (qvLayer* layer : ours.layers) {
        const qvLayerItem* item = layer->displayItem;
        if (item->shadowPlane != nullptr) {
            pixman_color_t grey{0x2020, 0x2020, 0x2020, 0xFFFF};
            const int32_t r = 5;
            parts.push_back({Owned<pixman_image_t>(pixman_image_create_solid_fill(&grey)),
                             WrapPlane(item->shadowPlane),
                             {},
                             item->drawX - r + 6,
                             item->drawY - r + 6,
                             item->shadowPlane->width,
                             item->shadowPlane->height});
        }
        if (item->border.bitmap != nullptr) {
            parts.push_back({Wrap(item->border.bitmap),
                             WrapPlane(item->border.alpha),
                             {},
                             item->drawX - item->borderDX,
                             item->drawY - item->borderDY,
                             item->borderWidth,
                             item->borderHeight});
        }
        Part image{Wrap(item->image.bitmap), {}, {}, item->drawX, item->drawY, kSide, kSide};
        if (item->image.alpha != nullptr) image.mask = WrapPlane(item->image.alpha);
        if (item->image.mask != nullptr) {
            image.a8.resize(size_t(kSide) * kSide);
            for (int32_t y = 0; y < kSide; ++y) {
                for (int32_t x = 0; x < kSide; ++x)
                    image.a8[size_t(y) * kSide + x] = ReadBitMapPixel(item->image.mask, x, y) * 255;
            }
            image.mask.reset(pixman_image_create_bits(
                PIXMAN_a8, kSide, kSide, reinterpret_cast<uint32_t*>(image.a8.data()), kSide));
        }
        parts.push_back(std::move(image));
    }
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, background.get(), nullptr, dest.get(), 0, 0, 0, 0,
                                 0, 0, kWidth, kHeight);
        for (const Part& p : parts) {
            pixman_image_composite32(PIXMAN_OP_OVER, p.source.get(), p.mask.get(), dest.get(), 0, 0,
                                     0, 0, p.x, p.y, p.width, p.height);
        }
        benchmark::ClobberMemory();
    }
}

// S5b, S5c: the picture item of a 512 x 512 layer turned by 30 degrees, built again and again.
constexpr int32_t kTurnSide = 512;

void BuildTurnedItem(benchmark::State& state, bool smooth) {
    qv::platform::testing::ScopedScreenFormat screen(QV_FMT_A8R8G8B8);
    qv::test::SceneDisplay scene(BackgroundPlanes());
    Planes planes = qv::test::Solid(kTurnSide, kTurnSide, 0);
    for (size_t i = 0; i < planes.rgb.size(); ++i) planes.rgb[i] = uint32_t(i * 0x010507);
    qvDrawTransform turn = qv::kInitialDrawTransform;
    turn.rotate = 30, turn.hasTransform = 1, turn.smoothscale = smooth ? 1 : 0;
    MakeTransformMatrix(turn.matrix, 0, 0, kTurnSide, kTurnSide, 30, 1, 1);
    qv::test::OwnedPlanes own = qv::test::MakePlanes(planes);
    AddBrushLayer(nullptr, qv::gfx::kTypeBrush, nullptr, 0, 0, 100, 100, kTurnSide, kTurnSide,
                  &turn, nullptr, own.bitmap.release(), nullptr, nullptr, -1, 0);
    qvLayer* layer = reinterpret_cast<qvLayer*>(scene.picture->layers.tailPred);
    for (auto _ : state) {
        BuildLayerCache(nullptr, layer, QV_CACHE_NOREPAINT);
        benchmark::ClobberMemory();
    }
}

void PixmanTurned(benchmark::State& state, pixman_filter_t filter) {
    std::vector<uint32_t> bits(size_t(kTurnSide) * kTurnSide);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint32_t(i * 0x010507) | 0xFF000000;
    Owned<pixman_image_t> source(pixman_image_create_bits(PIXMAN_x8r8g8b8, kTurnSide, kTurnSide,
                                                          bits.data(), kTurnSide * 4));
    double m[4];
    MakeTransformMatrix(m, 0, 0, kTurnSide, kTurnSide, 30, 1, 1);
    // The turned box and the inverse map from its pixels back to the source.
    const double xs[4] = {0, m[0] * kTurnSide, m[2] * kTurnSide, (m[0] + m[2]) * kTurnSide};
    const double ys[4] = {0, m[1] * kTurnSide, m[3] * kTurnSide, (m[1] + m[3]) * kTurnSide};
    const double minX = *std::min_element(xs, xs + 4), minY = *std::min_element(ys, ys + 4);
    const int width = int(std::ceil(*std::max_element(xs, xs + 4) - minX - 0.5));
    const int height = int(std::ceil(*std::max_element(ys, ys + 4) - minY - 0.5));
    const double det = m[0] * m[3] - m[1] * m[2];
    const double ia = m[3] / det, ib = -m[2] / det, ic = -m[1] / det, id = m[0] / det;
    pixman_transform_t t;
    pixman_transform_init_identity(&t);
    t.matrix[0][0] = pixman_double_to_fixed(ia), t.matrix[0][1] = pixman_double_to_fixed(ib);
    t.matrix[1][0] = pixman_double_to_fixed(ic), t.matrix[1][1] = pixman_double_to_fixed(id);
    t.matrix[0][2] = pixman_double_to_fixed(ia * minX + ib * minY);
    t.matrix[1][2] = pixman_double_to_fixed(ic * minX + id * minY);
    pixman_image_set_transform(source.get(), &t);
    pixman_image_set_filter(source.get(), filter, nullptr, 0);
    std::vector<uint32_t> out(size_t(width) * height);
    Owned<pixman_image_t> dest(
        pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, out.data(), width * 4));
    for (auto _ : state) {
        std::memset(out.data(), 0, out.size() * 4);
        pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, dest.get(), 0, 0, 0, 0, 0, 0,
                                 width, height);
        benchmark::ClobberMemory();
    }
}

// S5d: 24 shadow planes of 256 x 256 alpha silhouettes, radius 5 and sigma 5 / 3.
std::vector<qv::OwnedPlane> Silhouettes() {
    std::vector<qv::OwnedPlane> planes;
    for (int i = 0; i < kLayers; ++i) {
        planes.emplace_back(AllocAlphaBitMap(kSide, kSide, 1));
        for (int32_t y = 0; y < kSide; ++y) {
            for (int32_t x = 0; x < kSide; ++x) {
                planes.back()->plane[size_t(y) * planes.back()->bytesPerRow + x] =
                    uint8_t(DiscAlpha(x, y) * (i + 8) / 32);
            }
        }
    }
    return planes;
}

void ShadowPlanes(benchmark::State& state) {
    const std::vector<qv::OwnedPlane> silhouettes = Silhouettes();
    for (auto _ : state) {
        for (const qv::OwnedPlane& s : silhouettes) {
            qv::OwnedPlane plane(
                MakeShadowPlane(s.get(), nullptr, 0, 0, kSide, kSide, 200, 0, 0, 5.0, 5.0 / 3.0));
            benchmark::DoNotOptimize(plane.get());
        }
    }
}

void CvShadowPlanes(benchmark::State& state) {
    const std::vector<qv::OwnedPlane> silhouettes = Silhouettes();
    constexpr int kPadded = kSide + 10;
    for (auto _ : state) {
        for (const qv::OwnedPlane& s : silhouettes) {
            cv::Mat padded = cv::Mat::zeros(kPadded, kPadded, CV_8UC1), out;
            const cv::Mat in(kSide, kSide, CV_8UC1, s->plane, size_t(s->bytesPerRow));
            in.convertTo(padded(cv::Rect(5, 5, kSide, kSide)), CV_8UC1, 200.0 / 255.0);
            cv::GaussianBlur(padded, out, cv::Size(11, 11), 5.0 / 3.0, 5.0 / 3.0,
                             cv::BORDER_CONSTANT);
            benchmark::DoNotOptimize(out.data);
        }
    }
}

}  // namespace

BENCHMARK(RedrawEffects)->Name("S5a:Redraw 12 shadowed 12 bordered warm vs pixman/ours");
BENCHMARK(PixmanEffects)->Name("S5a:Redraw 12 shadowed 12 bordered warm vs pixman/peer");
BENCHMARK_CAPTURE(BuildTurnedItem, nearest, false)
    ->Name("S5b:picture item 512x512 turned 30 nearest vs pixman/ours");
BENCHMARK_CAPTURE(PixmanTurned, nearest, PIXMAN_FILTER_NEAREST)
    ->Name("S5b:picture item 512x512 turned 30 nearest vs pixman/peer");
BENCHMARK_CAPTURE(BuildTurnedItem, smooth, true)
    ->Name("S5c:picture item 512x512 turned 30 smoothed vs pixman bilinear/ours");
BENCHMARK_CAPTURE(PixmanTurned, bilinear, PIXMAN_FILTER_BILINEAR)
    ->Name("S5c:picture item 512x512 turned 30 smoothed vs pixman bilinear/peer");
BENCHMARK(ShadowPlanes)->Name("S5d:24 shadow planes 256x256 vs GaussianBlur/ours");
BENCHMARK(CvShadowPlanes)->Name("S5d:24 shadow planes 256x256 vs GaussianBlur/peer");

BENCHMARK_CAPTURE(RedrawStack, f10, QV_FMT_A8R8G8B8, false)
    ->Name("S4a:Redraw 24 layers fmt10 vs pixman/ours");
BENCHMARK_CAPTURE(PixmanRedraw, f10, PIXMAN_x8r8g8b8, false)
    ->Name("S4a:Redraw 24 layers fmt10 vs pixman/peer");
BENCHMARK_CAPTURE(RedrawStack, f4, QV_FMT_R5G6B5, false)
    ->Name("S4b:Redraw 24 layers fmt4 vs pixman r5g6b5/ours");
BENCHMARK_CAPTURE(PixmanRedraw, f4, PIXMAN_r5g6b5, false)
    ->Name("S4b:Redraw 24 layers fmt4 vs pixman r5g6b5/peer");
BENCHMARK_CAPTURE(RedrawStack, t128, QV_FMT_A8R8G8B8, true)
    ->Name("S4c:Redraw 16 layers at transparency 128 vs pixman solid a8/ours");
BENCHMARK_CAPTURE(PixmanRedraw, t128, PIXMAN_x8r8g8b8, true)
    ->Name("S4c:Redraw 16 layers at transparency 128 vs pixman solid a8/peer");
BENCHMARK(RefreshRects)->Name("S4d:RefreshDisplayArea 32x32 x1000 vs pixman/ours");
BENCHMARK(PixmanRects)->Name("S4d:RefreshDisplayArea 32x32 x1000 vs pixman/peer");
BENCHMARK_CAPTURE(RedrawStack, sdl, QV_FMT_A8R8G8B8, false)
    ->Name("S4e:Redraw 24 layers fmt10 vs SDL_BlitSurface/ours");
BENCHMARK(SdlRedraw)->Name("S4e:Redraw 24 layers fmt10 vs SDL_BlitSurface/peer");
