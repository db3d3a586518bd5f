// Picture saving beside the libraries called directly on the same pixels: a full-HD
// photo-like picture as PNG (libpng, RGB from the same ARGB words) and as JPEG at quality 90
// (libjpeg into memory, then one write), and BMP beside one fwrite of the finished bytes.
// Every run writes to the same file in the temporary directory.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "gfx/save_picture.h"
#include "tests/gfx/support/test_pictures.h"

namespace {

using namespace qv::bench;

const std::vector<qvARGB>& Pixels() {
    static const std::vector<qvARGB> pixels = [] {
        const qv::test::RgbPicture p = qv::test::TestPicture(1, kWidth, kHeight);
        std::vector<qvARGB> argb;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) argb.push_back(0xFF000000 | p.At(x, y));
        return argb;
    }();
    return pixels;
}

std::string OutPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/qv_bench_" + name;
}

void Ours(benchmark::State& state, int32_t format) {
    const std::string file = OutPath("ours");
    for (auto _ : state) {
        if (SavePicture(format, Pixels().data(), kWidth, kHeight, file.c_str(), QV_NOCOLOR, 0, 90,
                        256, 0) != 0)
            state.SkipWithError("save failed");
    }
}

void PngPeer(benchmark::State& state) {
    const std::string file = OutPath("peer.png");
    for (auto _ : state) {
        FILE* out = std::fopen(file.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, out);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
        for (int32_t y = 0; y < kHeight; ++y)
            png_write_row(png, reinterpret_cast<png_const_bytep>(Pixels().data() + y * kWidth));
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
    }
}

void JpegPeer(benchmark::State& state) {
    const std::string file = OutPath("peer.jpg");
    for (auto _ : state) {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr error;
        cinfo.err = jpeg_std_error(&error);
        jpeg_create_compress(&cinfo);
        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &buffer, &size);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 90, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            auto* row = const_cast<JSAMPROW>(
                reinterpret_cast<const uint8_t*>(Pixels().data() + cinfo.next_scanline * kWidth));
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        FILE* out = std::fopen(file.c_str(), "wb");
        std::fwrite(buffer, 1, size, out);
        std::fclose(out);
        std::free(buffer);
    }
}

// The finished BMP bytes, made once; the peer only writes them.
void BmpPeer(benchmark::State& state) {
    const std::string ours = OutPath("ours.bmp"), file = OutPath("peer.bmp");
    SavePicture(IMGFMT_BMP, Pixels().data(), kWidth, kHeight, ours.c_str(), QV_NOCOLOR, 0, 90, 256,
                0);
    std::vector<char> bytes(size_t(kWidth) * kHeight * 3 + 54);
    FILE* in = std::fopen(ours.c_str(), "rb");
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    for (auto _ : state) {
        FILE* out = std::fopen(file.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
}

BENCHMARK_CAPTURE(Ours, png, IMGFMT_PNG)
    ->Name("G6a:SavePicture PNG 1920x1080 vs libpng/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(PngPeer)
    ->Name("G6a:SavePicture PNG 1920x1080 vs libpng/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, jpeg, IMGFMT_JPEG)
    ->Name("G6b:SavePicture JPEG q90 1920x1080 vs libjpeg/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(JpegPeer)
    ->Name("G6b:SavePicture JPEG q90 1920x1080 vs libjpeg/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, bmp, IMGFMT_BMP)
    ->Name("G6c:SavePicture BMP 1920x1080 vs fwrite/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BmpPeer)
    ->Name("G6c:SavePicture BMP 1920x1080 vs fwrite/peer")
    ->Unit(benchmark::kMillisecond);

}  // namespace
