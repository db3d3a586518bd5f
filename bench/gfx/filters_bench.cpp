// The colour filters, flood fill and the quantiser beside OpenCV and libjpeg, single thread,
// on full-HD bitmaps in formats 10 and 4 (the flood fill on a 4096 x 4096 maze).
//
// libjpeg's two-pass quantiser has no entry of its own: its time is that of decompressing one
// JPEG with quantize_colors and two_pass_quantize minus the same decompression without.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "gfx/colour_filters.h"
#include "gfx/kernels/rows.h"
#include "gfx/quantiser.h"
#include "platform/linux/bitmap.h"
#include "tests/gfx/support/maze.h"
#include "tests/gfx/support/test_pictures.h"

namespace {

using namespace qv::bench;

const bool kSingleThread = [] {
    cv::setNumThreads(1);
    return true;
}();

// A photo-like test picture (the rings-and-ramps generator of the tests).
const qv::test::RgbPicture& Picture() {
    static const qv::test::RgbPicture picture = qv::test::TestPicture(1, kWidth, kHeight);
    return picture;
}

Owned<qvDisplayBitMap> PictureBitMap(uint32_t format) {
    Owned<qvDisplayBitMap> b(qv::AllocBitMapInFormat(kWidth, kHeight, format, false));
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) PlotPixel(b.get(), x, y, Picture().At(x, y));
    }
    return b;
}

cv::Mat PictureMat() {
    cv::Mat rgb(kHeight, kWidth, CV_8UC3, const_cast<uint8_t*>(Picture().rgb.data())), bgra;
    cv::cvtColor(rgb, bgra, cv::COLOR_RGB2BGRA);
    return bgra;
}

void SetPixels(benchmark::State& state, int64_t pixels) {
    state.SetItemsProcessed(int64_t(state.iterations()) * pixels);
}

// Filters: a fresh copy of the picture per run would dominate, so the filters run on the
// same bitmap again (their cost does not depend on the pixel values much).
template <typename Fn>
void FilterFrame(benchmark::State& state, uint32_t format, Fn&& filter) {
    Owned<qvDisplayBitMap> b = PictureBitMap(format);
    for (auto _ : state) {
        filter(b.get());
        benchmark::DoNotOptimize(b->pixels[0]);
    }
    SetPixels(state, int64_t(kWidth) * kHeight);
}

void Gamma(benchmark::State& state, uint32_t format) {
    FilterFrame(state, format,
                [](qvDisplayBitMap* b) { GammaBitmap(b, kWidth, kHeight, 0.8, 1.2, 2.2); });
}

void CvLut(benchmark::State& state) {
    cv::Mat picture = PictureMat(), out;
    cv::Mat table(1, 256, CV_8UC4);
    for (int i = 0; i < 256; ++i)
        table.at<cv::Vec4b>(i) = cv::Vec4b(uint8_t(255 - i), uint8_t(i / 2), uint8_t(i), 0);
    for (auto _ : state) {
        cv::LUT(picture, table, out);
        benchmark::DoNotOptimize(out.data);
    }
    SetPixels(state, int64_t(kWidth) * kHeight);
}

// Filters whose cost depends on the pixels (a grey picture greys faster, a picture whose
// contrast ran many times is nearly all extremes) run on a fresh copy each time.
template <typename Fn>
void FilterFreshFrame(benchmark::State& state, uint32_t format, Fn&& filter) {
    FilterFreshCopies(state, *PictureBitMap(format), filter);
    SetPixels(state, int64_t(kWidth) * kHeight);
}

void Gray(benchmark::State& state, uint32_t format) {
    FilterFreshFrame(state, format,
                     [](qvDisplayBitMap* b) { GrayBitmap(b, kWidth, kHeight, 0, nullptr); });
}

void CvGray(benchmark::State& state, int code) {
    cv::Mat picture = PictureMat(), input, out;
    if (code == cv::COLOR_BGR5652GRAY) {
        cv::cvtColor(picture, input, cv::COLOR_BGRA2BGR565);
    } else {
        input = picture;
    }
    for (auto _ : state) {
        cv::cvtColor(input, out, code);
        benchmark::DoNotOptimize(out.data);
    }
    SetPixels(state, int64_t(kWidth) * kHeight);
}

void Modulate(benchmark::State& state, uint32_t format) {
    FilterFreshFrame(state, format, [](qvDisplayBitMap* b) {
        ModulateBitmap(b, kWidth, kHeight, 1.0, 1.0, 1.02);
    });
}

void Contrast(benchmark::State& state, uint32_t format) {
    FilterFreshFrame(state, format,
                     [](qvDisplayBitMap* b) { ContrastBitmap(b, kWidth, kHeight, 1, 1, nullptr); });
}

void CvHlsRoundTrip(benchmark::State& state) {
    cv::Mat picture = PictureMat(), bgr, hls, out;
    cv::cvtColor(picture, bgr, cv::COLOR_BGRA2BGR);
    for (auto _ : state) {
        cv::cvtColor(bgr, hls, cv::COLOR_BGR2HLS);
        cv::cvtColor(hls, out, cv::COLOR_HLS2BGR);
        benchmark::DoNotOptimize(out.data);
    }
    SetPixels(state, int64_t(kWidth) * kHeight);
}

// The picture as a JPEG in memory: quality 95, no chroma subsampling.
const std::vector<uint8_t>& Jpeg() {
    static const std::vector<uint8_t> jpeg = [] {
        jpeg_compress_struct c{};
        jpeg_error_mgr error{};
        c.err = jpeg_std_error(&error);
        jpeg_create_compress(&c);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &buffer, &size);
        c.image_width = kWidth, c.image_height = kHeight, c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 95, TRUE);
        for (int i = 0; i < c.num_components; ++i)
            c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW row =
                const_cast<uint8_t*>(&Picture().rgb[size_t(c.next_scanline) * kWidth * 3]);
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::vector<uint8_t> bytes(buffer, buffer + size);
        std::free(buffer);
        return bytes;
    }();
    return jpeg;
}

// Decompresses the JPEG into RGB bytes (components 3) or palette indices; returns seconds.
double Decompress(bool quantize, J_DITHER_MODE dither, std::vector<uint8_t>* out) {
    const auto start = std::chrono::steady_clock::now();
    jpeg_decompress_struct d{};
    jpeg_error_mgr error{};
    d.err = jpeg_std_error(&error);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, Jpeg().data(), Jpeg().size());
    jpeg_read_header(&d, TRUE);
    d.quantize_colors = quantize ? TRUE : FALSE;
    d.two_pass_quantize = TRUE;
    d.desired_number_of_colors = 256;
    d.dither_mode = dither;
    jpeg_start_decompress(&d);
    const size_t rowBytes = size_t(d.output_width) * d.output_components;
    out->resize(rowBytes * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out->data() + rowBytes * d.output_scanline;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void LibjpegQuantizer(benchmark::State& state, J_DITHER_MODE dither) {
    std::vector<uint8_t> out;
    for (auto _ : state) {
        const double quantized = Decompress(true, dither, &out);
        const double plain = Decompress(false, dither, &out);
        state.SetIterationTime(std::max(quantized - plain, 1e-9));
    }
    SetPixels(state, int64_t(kWidth) * kHeight);
}

void Quantize(benchmark::State& state, uint32_t format, int32_t dither) {
    std::vector<uint8_t> rgb;
    Decompress(false, JDITHER_NONE, &rgb);
    Owned<qvDisplayBitMap> b(qv::AllocBitMapInFormat(kWidth, kHeight, format, false));
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * kWidth + x) * 3];
            PlotPixel(b.get(), x, y, uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
        }
    }
    std::vector<uint8_t> indices(size_t(kWidth) * kHeight);
    uint32_t palette[256];
    for (auto _ : state) {
        qvQuantizeRequest q{
            b->pixels, format, b->bytesPerPixel,  kWidth, kHeight, b->rowLength, indices.data(),
            palette,   256,    QV_NO_TRANSPARENT, 0,      dither};
        benchmark::DoNotOptimize(QuantizeBitmap(&q));
    }
    SetPixels(state, int64_t(kWidth) * kHeight);
}

constexpr int32_t kMaze = 4096;

const std::vector<uint8_t>& Maze() {
    static const std::vector<uint8_t> maze = qv::test::MakeMaze(kMaze, kMaze, 5);
    return maze;
}

void MazeFill(benchmark::State& state) {
    Owned<qvDisplayBitMap> b(qv::AllocBitMapInFormat(kMaze, kMaze, QV_FMT_A8R8G8B8, false));
    std::vector<uint32_t> start(size_t(kMaze) * kMaze);
    for (size_t i = 0; i < start.size(); ++i) start[i] = Maze()[i] ? 0x102030 : 0x405060;
    for (auto _ : state) {
        state.PauseTiming();
        for (int32_t y = 0; y < kMaze; ++y) {
            std::memcpy(qv::PixelAt(b->pixels, b->rowLength, 4, 0, y), &start[size_t(y) * kMaze],
                        size_t(kMaze) * 4);
        }
        state.ResumeTiming();
        const qvFloodFillContext c{b->pixels, kMaze, kMaze, b->rowLength, 0x102030, 0xF0E0D0, 0, 0};
        benchmark::DoNotOptimize(FloodFillPixels32(c, 1, 1, 0x00FFFFFF));
    }
}

void CvMazeFill(benchmark::State& state) {
    cv::Mat start(kMaze, kMaze, CV_8UC1), open;
    for (int32_t y = 0; y < kMaze; ++y) {
        for (int32_t x = 0; x < kMaze; ++x)
            start.at<uint8_t>(y, x) = Maze()[size_t(y) * kMaze + x] ? 0 : 1;
    }
    for (auto _ : state) {
        state.PauseTiming();
        start.copyTo(open);
        state.ResumeTiming();
        benchmark::DoNotOptimize(cv::floodFill(open, cv::Point(1, 1), cv::Scalar(2), nullptr,
                                               cv::Scalar(0), cv::Scalar(0), 4));
    }
}

}  // namespace

BENCHMARK_CAPTURE(Quantize, f10, QV_FMT_A8R8G8B8, 0)
    ->Name("G4a:QuantizeBitmap 256 fmt10 vs libjpeg 2-pass/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibjpegQuantizer, none, JDITHER_NONE)
    ->Name("G4a:QuantizeBitmap 256 fmt10 vs libjpeg 2-pass/peer")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quantize, f10fs, QV_FMT_A8R8G8B8, 1)
    ->Name("G4b:QuantizeBitmap 256 dither fmt10 vs libjpeg/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibjpegQuantizer, fs, JDITHER_FS)
    ->Name("G4b:QuantizeBitmap 256 dither fmt10 vs libjpeg/peer")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quantize, f4, QV_FMT_R5G6B5, 0)
    ->Name("G4c:QuantizeBitmap 256 fmt4 vs libjpeg 2-pass/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibjpegQuantizer, none4, JDITHER_NONE)
    ->Name("G4c:QuantizeBitmap 256 fmt4 vs libjpeg 2-pass/peer")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quantize, f4fs, QV_FMT_R5G6B5, 1)
    ->Name("G4d:QuantizeBitmap 256 dither fmt4 vs libjpeg/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibjpegQuantizer, fs4, JDITHER_FS)
    ->Name("G4d:QuantizeBitmap 256 dither fmt4 vs libjpeg/peer")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(MazeFill)
    ->Name("G4e:FloodFill 4096 maze vs cv::floodFill/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CvMazeFill)
    ->Name("G4e:FloodFill 4096 maze vs cv::floodFill/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Gamma, f10, QV_FMT_A8R8G8B8)->Name("G4f:GammaBitmap fmt10 vs cv::LUT/ours");
BENCHMARK(CvLut)->Name("G4f:GammaBitmap fmt10 vs cv::LUT/peer");
BENCHMARK_CAPTURE(Gamma, f4, QV_FMT_R5G6B5)->Name("G4g:GammaBitmap fmt4 vs cv::LUT/ours");
BENCHMARK(CvLut)->Name("G4g:GammaBitmap fmt4 vs cv::LUT/peer");
BENCHMARK_CAPTURE(Gray, f10, QV_FMT_A8R8G8B8)
    ->Name("G4h:GrayBitmap fmt10 vs cvtColor BGRA2GRAY/ours");
BENCHMARK_CAPTURE(CvGray, bgra, int(cv::COLOR_BGRA2GRAY))
    ->Name("G4h:GrayBitmap fmt10 vs cvtColor BGRA2GRAY/peer");
BENCHMARK_CAPTURE(Gray, f4, QV_FMT_R5G6B5)
    ->Name("G4i:GrayBitmap fmt4 vs cvtColor BGR5652GRAY/ours");
BENCHMARK_CAPTURE(CvGray, bgr565, int(cv::COLOR_BGR5652GRAY))
    ->Name("G4i:GrayBitmap fmt4 vs cvtColor BGR5652GRAY/peer");
BENCHMARK_CAPTURE(Modulate, f10, QV_FMT_A8R8G8B8)
    ->Name("G4j:ModulateBitmap fmt10 vs BGR-HLS-BGR/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CvHlsRoundTrip)
    ->Name("G4j:ModulateBitmap fmt10 vs BGR-HLS-BGR/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Contrast, f10, QV_FMT_A8R8G8B8)
    ->Name("G4k:ContrastBitmap fmt10 vs BGR-HLS-BGR/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CvHlsRoundTrip)
    ->Name("G4k:ContrastBitmap fmt10 vs BGR-HLS-BGR/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Modulate, f4, QV_FMT_R5G6B5)
    ->Name("G4l:ModulateBitmap fmt4 vs BGR-HLS-BGR/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CvHlsRoundTrip)
    ->Name("G4l:ModulateBitmap fmt4 vs BGR-HLS-BGR/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Contrast, f4, QV_FMT_R5G6B5)
    ->Name("G4m:ContrastBitmap fmt4 vs BGR-HLS-BGR/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CvHlsRoundTrip)
    ->Name("G4m:ContrastBitmap fmt4 vs BGR-HLS-BGR/peer")
    ->Unit(benchmark::kMillisecond);
