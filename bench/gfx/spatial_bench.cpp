// The spatial filters and the distortion engine beside OpenCV and ImageMagick, single
// thread: blur, sharpen and emboss on a full-HD picture in format 10 against
// cv::GaussianBlur, cv::sepFilter2D and cv::filter2D on CV_8UC4; DistortBitmap's smoothed
// perspective on 800 x 600 against "convert-im6.q16 +distort Perspective"
// (MAGICK_THREAD_LIMIT=1), timed as that command minus the same command without the
// distortion. Swirl, ripple and oil paint on 640 x 480 are reported alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "bench/gfx/bench_bitmaps.h"
#include "gfx/distort.h"
#include "gfx/spatial_filters.h"
#include "tests/gfx/support/test_pictures.h"

namespace {

using namespace qv::bench;

const bool kSingleThread = [] {
    cv::setNumThreads(1);
    return true;
}();

Owned<qvDisplayBitMap> PictureBitMap(int32_t width, int32_t height) {
    const qv::test::RgbPicture picture = qv::test::TestPicture(1, width, height);
    Owned<qvDisplayBitMap> b(qv::AllocBitMapInFormat(width, height, QV_FMT_A8R8G8B8, false));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) PlotPixel(b.get(), x, y, picture.At(x, y));
    }
    return b;
}

cv::Mat PictureMat() {
    Owned<qvDisplayBitMap> b = PictureBitMap(kWidth, kHeight);
    return cv::Mat(kHeight, kWidth, CV_8UC4, b->pixels, size_t(b->rowLength) * 4).clone();
}

// Filters run on a fresh copy of the picture each time: on their own output they would meet
// ever smoother pictures, whose still stretches cost less.
template <typename Fn>
void Frame(benchmark::State& state, int32_t width, int32_t height, Fn&& filter) {
    FilterFreshCopies(state, *PictureBitMap(width, height), filter);
    state.SetItemsProcessed(int64_t(state.iterations()) * width * height);
}

void Convolve(benchmark::State& state, int32_t type, double radius, double sigma) {
    Frame(state, kWidth, kHeight, [&](qvDisplayBitMap* b) {
        ConvolveBitmap(type, b, nullptr, kWidth, kHeight, nullptr, radius, sigma);
    });
}

template <typename Fn>
void CvFrame(benchmark::State& state, Fn&& filter) {
    const cv::Mat picture = PictureMat();
    cv::Mat out;
    for (auto _ : state) {
        filter(picture, out);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void CvGaussian(benchmark::State& state, double sigma) {
    CvFrame(state, [&](const cv::Mat& in, cv::Mat& out) {
        cv::GaussianBlur(in, out, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
    });
}

void CvSeparable(benchmark::State& state, double sigma) {
    const int size = int(std::lround(sigma * 6 + 1)) | 1;
    const cv::Mat k = cv::getGaussianKernel(size, sigma, CV_32F);
    CvFrame(state, [&](const cv::Mat& in, cv::Mat& out) {
        cv::sepFilter2D(in, out, -1, k, k, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    });
}

void CvWindow(benchmark::State& state, int size) {
    cv::Mat k(size, size, CV_32F, cv::Scalar(-1.0f / float(size * size)));
    k.at<float>(size / 2, size / 2) = 2;
    CvFrame(state, [&](const cv::Mat& in, cv::Mat& out) {
        cv::filter2D(in, out, -1, k, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    });
}

constexpr int32_t kDistortWidth = 800, kDistortHeight = 600;
const double kPerspective[16] = {0,   0,   40,  30,  800, 0,   700, 60,
                                 800, 600, 780, 590, 0,   600, 10,  560};

void Distort(benchmark::State& state) {
    Owned<qvDisplayBitMap> source = PictureBitMap(kDistortWidth, kDistortHeight);
    for (auto _ : state) {
        qvDisplayBitMap* out = nullptr;
        qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
        int32_t width = 0, height = 0;
        DistortBitmap(source.get(), nullptr, nullptr, kDistortWidth, kDistortHeight,
                      QV_DISTORT_PERSPECTIVE, 16, kPerspective, 1, &out, &mask, &alpha, &width,
                      &height);
        FreeDisplayBitMap(out);
        FreePlaneBitMap(mask);
        FreePlaneBitMap(alpha);
    }
}

double Seconds(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ImageMagickDistort(benchmark::State& state) {
    const std::string in = "/tmp/qv_bench_distort.ppm";
    {
        const qv::test::RgbPicture p = qv::test::TestPicture(1, kDistortWidth, kDistortHeight);
        FILE* file = std::fopen(in.c_str(), "wb");
        std::fprintf(file, "P6\n%d %d\n255\n", p.width, p.height);
        std::fwrite(p.rgb.data(), 1, p.rgb.size(), file);
        std::fclose(file);
    }
    std::string points;
    for (int i = 0; i < 16; ++i) points += (i ? "," : "") + std::to_string(kPerspective[i]);
    const std::string convert = "MAGICK_THREAD_LIMIT=1 /usr/bin/convert-im6.q16 " + in +
                                " -alpha set -virtual-pixel transparent ";
    const std::string with = convert + "+distort Perspective '" + points + "' null:";
    const std::string without = convert + "null:";
    for (auto _ : state) {
        const double distorted = Seconds(with), plain = Seconds(without);
        if (distorted < 0 || plain < 0) {
            state.SkipWithError("convert-im6.q16 failed");
            break;
        }
        state.SetIterationTime(std::max(distorted - plain, 1e-6));
    }
    std::remove(in.c_str());
}

constexpr int32_t kSmallWidth = 640, kSmallHeight = 480;

}  // namespace

BENCHMARK_CAPTURE(Convolve, blur2, 98, 6, 2)->Name("G5a:blur sigma 2 fmt10 vs GaussianBlur/ours");
BENCHMARK_CAPTURE(CvGaussian, s2, 2)->Name("G5a:blur sigma 2 fmt10 vs GaussianBlur/peer");
BENCHMARK_CAPTURE(Convolve, blur2s, 98, 6, 2)->Name("G5b:blur sigma 2 fmt10 vs sepFilter2D/ours");
BENCHMARK_CAPTURE(CvSeparable, s2, 2)->Name("G5b:blur sigma 2 fmt10 vs sepFilter2D/peer");
BENCHMARK_CAPTURE(Convolve, blur8, 98, 24, 8)->Name("G5c:blur sigma 8 fmt10 vs GaussianBlur/ours");
BENCHMARK_CAPTURE(CvGaussian, s8, 8)->Name("G5c:blur sigma 8 fmt10 vs GaussianBlur/peer");
BENCHMARK_CAPTURE(Convolve, blur8s, 98, 24, 8)->Name("G5d:blur sigma 8 fmt10 vs sepFilter2D/ours");
BENCHMARK_CAPTURE(CvSeparable, s8, 8)->Name("G5d:blur sigma 8 fmt10 vs sepFilter2D/peer");
BENCHMARK_CAPTURE(Convolve, sharpen, 115, 2, 1)->Name("G5e:sharpen 5x5 fmt10 vs filter2D/ours");
BENCHMARK_CAPTURE(CvWindow, sharpen, 5)->Name("G5e:sharpen 5x5 fmt10 vs filter2D/peer");
BENCHMARK_CAPTURE(Convolve, emboss, 101, 2, 1)->Name("G5f:emboss 5x5 fmt10 vs filter2D/ours");
BENCHMARK_CAPTURE(CvWindow, emboss, 5)->Name("G5f:emboss 5x5 fmt10 vs filter2D/peer");
BENCHMARK(Distort)
    ->Name("G5g:DistortBitmap perspective EWA 800x600 vs convert-im6/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ImageMagickDistort)
    ->Name("G5g:DistortBitmap perspective EWA 800x600 vs convert-im6/peer")
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Frame, swirl, kSmallWidth, kSmallHeight, [](qvDisplayBitMap* b) {
    SwirlBitmap(b, nullptr, nullptr, kSmallWidth, kSmallHeight, 120);
})->Name("G5h:SwirlBitmap 640x480/ours");
BENCHMARK_CAPTURE(Frame, ripple, kSmallWidth, kSmallHeight, [](qvDisplayBitMap* b) {
    WaterRippleBitmap(b, nullptr, nullptr, kSmallWidth, kSmallHeight, 32, 1, 0, 0.5, 0.5);
})->Name("G5i:WaterRippleBitmap 640x480/ours");
BENCHMARK_CAPTURE(Frame, oil, kSmallWidth, kSmallHeight, [](qvDisplayBitMap* b) {
    OilPaintBitmap(b, kSmallWidth, kSmallHeight, 3);
})->Name("G5j:OilPaintBitmap radius 3 640x480/ours");
BENCHMARK_CAPTURE(Frame, oil30, kSmallWidth, kSmallHeight, [](qvDisplayBitMap* b) {
    OilPaintBitmap(b, kSmallWidth, kSmallHeight, 30);
})->Name("G5k:OilPaintBitmap radius 30 640x480/ours");
