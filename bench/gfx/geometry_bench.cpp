// Scaling, transformation and gradients beside SDL2, OpenCV and pixman, single-threaded, in
// formats 10 (A8R8G8B8) and 4 (R5G6B5). OpenCV has no packed 16-bit pixels: its filtering
// peers of format 4 work on 24-bit pixels, its nearest ones on 16-bit words.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "gfx/gradient.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "platform/linux/bitmap.h"

namespace {

using namespace qv::bench;

int Stride(const qvDisplayBitMap* bitmap) {
    return bitmap->rowLength * bitmap->bytesPerPixel;
}

// The peers' views of a bitmap's memory.
cv::Mat Wrap(qvDisplayBitMap* bitmap) {
    return cv::Mat(bitmap->height, bitmap->width, bitmap->bytesPerPixel == 4 ? CV_8UC4 : CV_16UC1,
                   bitmap->pixels, size_t(Stride(bitmap)));
}

// Filtering peers of format 4 run on 24-bit pixels.
cv::Mat FilterImage(qvDisplayBitMap* bitmap) {
    if (bitmap->bytesPerPixel == 4) return Wrap(bitmap);
    cv::Mat image(bitmap->height, bitmap->width, CV_8UC3);
    cv::randu(image, 0, 255);
    return image;
}

Owned<pixman_image_t> PixmanImage(qvDisplayBitMap* bitmap) {
    return Owned<pixman_image_t>(pixman_image_create_bits(
        bitmap->format == QV_FMT_A8R8G8B8 ? PIXMAN_a8r8g8b8 : PIXMAN_r5g6b5, bitmap->width,
        bitmap->height, reinterpret_cast<uint32_t*>(bitmap->pixels), Stride(bitmap)));
}

Owned<SDL_Surface> SdlSurface(qvDisplayBitMap* bitmap) {
    return Owned<SDL_Surface>(SDL_CreateRGBSurfaceWithFormatFrom(
        bitmap->pixels, bitmap->width, bitmap->height, bitmap->bytesPerPixel * 8, Stride(bitmap),
        bitmap->format == QV_FMT_A8R8G8B8 ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_RGB565));
}

struct Sizes {
    int sw, sh, dw, dh;
};
constexpr Sizes kUp{640, 480, 1920, 1080}, kDown{1920, 1080, 960, 540};

void OursScale(benchmark::State& state, uint32_t format, Sizes s, int smooth) {
    auto source = RandomBitMap(format, 1, s.sw, s.sh), dest = RandomBitMap(format, 1, s.dw, s.dh);
    std::vector<int32_t> xSteps(size_t(s.dw) + 1), xFractions(size_t(s.dw) + 1);
    std::vector<int32_t> ySteps(size_t(s.dh) + 1), yFractions(size_t(s.dh) + 1);
    std::vector<uint32_t> rows(3 * (size_t(s.dw) + 1));
    qvScaleBlock block{};
    block.source = source->pixels, block.dest = dest->pixels;
    block.sourceWidth = s.sw, block.sourceHeight = s.sh;
    block.destWidth = s.dw, block.destHeight = s.dh;
    block.sourceRowLength = source->rowLength, block.destRowLength = dest->rowLength;
    block.smooth = smooth, block.format = format, block.bytesPerPixel = source->bytesPerPixel;
    block.xSteps = xSteps.data(), block.xFractions = xFractions.data();
    block.ySteps = ySteps.data(), block.yFractions = yFractions.data();
    block.rows = rows.data();
    for (auto _ : state) {
        ScalePixels(block);
        benchmark::ClobberMemory();
    }
}

void SdlStretch(benchmark::State& state, uint32_t format, Sizes s) {
    auto source = RandomBitMap(format, 1, s.sw, s.sh), dest = RandomBitMap(format, 1, s.dw, s.dh);
    auto from = SdlSurface(source.get()), to = SdlSurface(dest.get());
    for (auto _ : state) {
        SDL_SoftStretch(from.get(), nullptr, to.get(), nullptr);
        benchmark::ClobberMemory();
    }
}

void OpenCvResize(benchmark::State& state, uint32_t format, Sizes s, int interpolation) {
    cv::setNumThreads(1);
    auto source = RandomBitMap(format, 1, s.sw, s.sh), dest = RandomBitMap(format, 1, s.dw, s.dh);
    const bool linear = interpolation == cv::INTER_LINEAR;
    const cv::Mat from = linear ? FilterImage(source.get()) : Wrap(source.get());
    cv::Mat to(s.dh, s.dw, from.type());
    for (auto _ : state) {
        cv::resize(from, to, to.size(), 0, 0, interpolation);
        benchmark::ClobberMemory();
    }
}

void PixmanScale(benchmark::State& state, uint32_t format, Sizes s, pixman_filter_t filter) {
    auto source = RandomBitMap(format, 1, s.sw, s.sh), dest = RandomBitMap(format, 1, s.dw, s.dh);
    auto from = PixmanImage(source.get()), to = PixmanImage(dest.get());
    pixman_transform_t scale;
    pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(s.sw) / s.dw),
                                pixman_double_to_fixed(double(s.sh) / s.dh));
    pixman_image_set_transform(from.get(), &scale);
    pixman_image_set_filter(from.get(), filter, nullptr, 0);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, to.get(), 0, 0, 0, 0, 0, 0,
                                 s.dw, s.dh);
        benchmark::ClobberMemory();
    }
}

// A 30-degree turn of a 1024 x 768 picture.
constexpr int kTurnWidth = 1024, kTurnHeight = 768;
const double kTurn[4] = {std::cos(std::numbers::pi / 6), std::sin(std::numbers::pi / 6),
                         -std::sin(std::numbers::pi / 6), std::cos(std::numbers::pi / 6)};

void OursTransform(benchmark::State& state, uint32_t format, int smooth) {
    int32_t width, height;
    double offsetX, offsetY;
    TransformBounds(kTurn, kTurnWidth, kTurnHeight, &width, &height, &offsetX, &offsetY);
    auto source = RandomBitMap(format, 1, kTurnWidth, kTurnHeight);
    auto dest = RandomBitMap(format, 1, width, height);
    Owned<qvPlaneBitMap> mask(AllocMaskBitMap(dest.get(), width, height, 1));
    const double six[6] = {kTurn[0], kTurn[1], kTurn[2], kTurn[3], -offsetX, -offsetY};
    qvTransformBlock block{};
    block.source = source->pixels, block.dest = dest->pixels;
    block.destMask = mask->plane, block.destMaskBytesPerRow = mask->bytesPerRow;
    block.sourceWidth = kTurnWidth, block.sourceHeight = kTurnHeight;
    block.destWidth = width, block.destHeight = height;
    block.destRowLength = dest->rowLength, block.sourceRowLength = source->rowLength;
    block.matrix = six, block.smooth = smooth;
    block.format = format, block.bytesPerPixel = source->bytesPerPixel;
    for (auto _ : state) {
        TransformPixels(block);
        benchmark::ClobberMemory();
    }
}

void OpenCvWarp(benchmark::State& state, uint32_t format, int smooth) {
    cv::setNumThreads(1);
    int32_t width, height;
    double offsetX, offsetY;
    TransformBounds(kTurn, kTurnWidth, kTurnHeight, &width, &height, &offsetX, &offsetY);
    auto source = RandomBitMap(format, 1, kTurnWidth, kTurnHeight);
    const cv::Mat from = smooth != 0 ? FilterImage(source.get()) : Wrap(source.get());
    cv::Mat to(height, width, from.type());
    const double det = kTurn[0] * kTurn[3] - kTurn[1] * kTurn[2];
    const double a = kTurn[3] / det, b = -kTurn[1] / det, c = -kTurn[2] / det, d = kTurn[0] / det;
    const cv::Mat inverse = (cv::Mat_<double>(2, 3) << a, c, a * offsetX + c * offsetY, b, d,
                             b * offsetX + d * offsetY);
    const int flags = (smooth != 0 ? cv::INTER_LINEAR : cv::INTER_NEAREST) | cv::WARP_INVERSE_MAP;
    for (auto _ : state) {
        cv::warpAffine(from, to, inverse, to.size(), flags, cv::BORDER_TRANSPARENT);
        benchmark::ClobberMemory();
    }
}

constexpr uint32_t kStart = 0x2040A0, kEnd = 0xF0C010;

void OursGradient(benchmark::State& state, uint32_t format, int32_t style, int32_t angle) {
    auto dest = RandomBitMap(format, 1, kWidth, kHeight);
    qvGradient gradient;
    gradient.style = style, gradient.angle = angle;
    gradient.startColour = kStart, gradient.endColour = kEnd;
    const qvGradientRequest request{dest->pixels, dest->bytesPerPixel, format,   0, 0, kWidth,
                                    kHeight,      dest->rowLength,     &gradient};
    for (auto _ : state) {
        RenderGradient(request);
        benchmark::ClobberMemory();
    }
}

pixman_color_t PixmanColour(uint32_t rgb) {
    auto wide = [](uint32_t c) { return uint16_t((c & 255) * 0x101); };
    return {wide(rgb >> 16), wide(rgb >> 8), wide(rgb), 0xFFFF};
}

void PixmanGradient(benchmark::State& state, uint32_t format, int32_t style, int32_t angle) {
    auto dest = RandomBitMap(format, 1, kWidth, kHeight);
    auto to = PixmanImage(dest.get());
    const pixman_gradient_stop_t stops[2] = {{0, PixmanColour(kStart)},
                                             {pixman_fixed_1, PixmanColour(kEnd)}};
    Owned<pixman_image_t> gradient;
    if (style == qv::gfx::LINEAR) {
        // The line across the picture in the direction of the angle (0: downwards).
        const double r = angle * std::numbers::pi / 180;
        const double reach = std::fabs(kWidth * std::sin(r)) + std::fabs(kHeight * std::cos(r));
        const double cx = kWidth / 2.0, cy = kHeight / 2.0;
        const double dx = std::sin(r) * reach / 2, dy = std::cos(r) * reach / 2;
        const pixman_point_fixed_t p1{pixman_double_to_fixed(cx - dx),
                                      pixman_double_to_fixed(cy - dy)};
        const pixman_point_fixed_t p2{pixman_double_to_fixed(cx + dx),
                                      pixman_double_to_fixed(cy + dy)};
        gradient.reset(pixman_image_create_linear_gradient(&p1, &p2, stops, 2));
    } else {
        const pixman_point_fixed_t centre{pixman_double_to_fixed(kWidth / 2.0),
                                          pixman_double_to_fixed(kHeight / 2.0)};
        const double radius = std::hypot(kWidth, kHeight) / 2;
        gradient.reset(pixman_image_create_radial_gradient(
            &centre, &centre, 0, pixman_double_to_fixed(radius), stops, 2));
    }
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, gradient.get(), nullptr, to.get(), 0, 0, 0, 0, 0, 0,
                                 kWidth, kHeight);
        benchmark::ClobberMemory();
    }
}

}  // namespace

// Scaling: the ratio to reach is against SDL_SoftStretch (nearest), OpenCV and pixman
// (bilinear); the other nearest peers are reported beside it.
#define QV_NEAREST(id, fmt, sizes, text)                                      \
    BENCHMARK_CAPTURE(OursScale, id##a, fmt, sizes, 0)                        \
        ->Name(#id "s:ScalePixels nearest " text " vs SDL_SoftStretch/ours"); \
    BENCHMARK_CAPTURE(SdlStretch, id##b, fmt, sizes)                          \
        ->Name(#id "s:ScalePixels nearest " text " vs SDL_SoftStretch/peer"); \
    BENCHMARK_CAPTURE(OursScale, id##c, fmt, sizes, 0)                        \
        ->Name(#id "c:ScalePixels nearest " text " vs cv::resize/ours");      \
    BENCHMARK_CAPTURE(OpenCvResize, id##d, fmt, sizes, cv::INTER_NEAREST)     \
        ->Name(#id "c:ScalePixels nearest " text " vs cv::resize/peer");      \
    BENCHMARK_CAPTURE(OursScale, id##e, fmt, sizes, 0)                        \
        ->Name(#id "p:ScalePixels nearest " text " vs pixman nearest/ours");  \
    BENCHMARK_CAPTURE(PixmanScale, id##f, fmt, sizes, PIXMAN_FILTER_NEAREST)  \
        ->Name(#id "p:ScalePixels nearest " text " vs pixman nearest/peer")

#define QV_BILINEAR(id, fmt, sizes, text)                                      \
    BENCHMARK_CAPTURE(OursScale, id##a, fmt, sizes, 1)                         \
        ->Name(#id "c:ScalePixels bilinear " text " vs cv::resize/ours");      \
    BENCHMARK_CAPTURE(OpenCvResize, id##b, fmt, sizes, cv::INTER_LINEAR)       \
        ->Name(#id "c:ScalePixels bilinear " text " vs cv::resize/peer");      \
    BENCHMARK_CAPTURE(OursScale, id##c, fmt, sizes, 1)                         \
        ->Name(#id "p:ScalePixels bilinear " text " vs pixman bilinear/ours"); \
    BENCHMARK_CAPTURE(PixmanScale, id##d, fmt, sizes, PIXMAN_FILTER_BILINEAR)  \
        ->Name(#id "p:ScalePixels bilinear " text " vs pixman bilinear/peer")

QV_NEAREST(G3a, QV_FMT_A8R8G8B8, kUp, "fmt10 640x480->1920x1080");
QV_NEAREST(G3b, QV_FMT_A8R8G8B8, kDown, "fmt10 1920x1080->960x540");
QV_NEAREST(G3c, QV_FMT_R5G6B5, kUp, "fmt4 640x480->1920x1080");
QV_NEAREST(G3d, QV_FMT_R5G6B5, kDown, "fmt4 1920x1080->960x540");
QV_BILINEAR(G3e, QV_FMT_A8R8G8B8, kUp, "fmt10 640x480->1920x1080");
QV_BILINEAR(G3f, QV_FMT_A8R8G8B8, kDown, "fmt10 1920x1080->960x540");
QV_BILINEAR(G3g, QV_FMT_R5G6B5, kUp, "fmt4 640x480->1920x1080");
QV_BILINEAR(G3h, QV_FMT_R5G6B5, kDown, "fmt4 1920x1080->960x540");

#define QV_TURN(id, fmt, smooth, text)                               \
    BENCHMARK_CAPTURE(OursTransform, id##a, fmt, smooth)             \
        ->Name(#id ":TransformPixels 30deg 1024x768 " text "/ours"); \
    BENCHMARK_CAPTURE(OpenCvWarp, id##b, fmt, smooth)                \
        ->Name(#id ":TransformPixels 30deg 1024x768 " text "/peer")

QV_TURN(G3i, QV_FMT_A8R8G8B8, 0, "nearest fmt10 vs cv::warpAffine");
QV_TURN(G3j, QV_FMT_A8R8G8B8, 1, "smooth fmt10 vs cv::warpAffine");
QV_TURN(G3k, QV_FMT_R5G6B5, 0, "nearest fmt4 vs cv::warpAffine");
QV_TURN(G3l, QV_FMT_R5G6B5, 1, "smooth fmt4 vs cv::warpAffine");

#define QV_GRADIENT(id, fmt, style, angle, text)                         \
    BENCHMARK_CAPTURE(OursGradient, id##a, fmt, style, angle)            \
        ->Name(#id ":RenderGradient 1920x1080 " text " vs pixman/ours"); \
    BENCHMARK_CAPTURE(PixmanGradient, id##b, fmt, style, angle)          \
        ->Name(#id ":RenderGradient 1920x1080 " text " vs pixman/peer")

QV_GRADIENT(G3m, QV_FMT_A8R8G8B8, qv::gfx::LINEAR, 0, "linear 0deg fmt10");
QV_GRADIENT(G3n, QV_FMT_A8R8G8B8, qv::gfx::LINEAR, 45, "linear 45deg fmt10");
QV_GRADIENT(G3o, QV_FMT_R5G6B5, qv::gfx::LINEAR, 0, "linear 0deg fmt4");
QV_GRADIENT(G3p, QV_FMT_R5G6B5, qv::gfx::LINEAR, 45, "linear 45deg fmt4");
QV_GRADIENT(G3q, QV_FMT_A8R8G8B8, qv::gfx::RADIAL, 0, "radial fmt10");
QV_GRADIENT(G3r, QV_FMT_R5G6B5, qv::gfx::RADIAL, 0, "radial fmt4");
