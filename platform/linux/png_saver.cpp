#include "platform/linux/png_saver.h"

#include <png.h>

#include "engine/error_codes.h"
#include "platform/linux/memory.h"
#include "platform/linux/output_file.h"

namespace {

// What the callbacks report back past libpng's longjmp.
struct PngSink {
    qv::OutputFile* out;
    int error;
};

struct PngPicture {
    const uint8_t* pixels;
    int32_t width;
    int32_t height;
    int32_t bytesPerRow;
    bool alpha;
};

PngSink* SinkOf(png_structp png, bool io) {
    return static_cast<PngSink*>(io ? png_get_io_ptr(png) : png_get_mem_ptr(png));
}

void WriteData(png_structp png, png_bytep data, size_t size) {
    PngSink* sink = SinkOf(png, true);
    if (sink->out->Write(data, size) != 0) {
        sink->error = ERR_WRITEFILE;
        png_error(png, "write failed");
    }
}

void FlushData(png_structp) {}

[[noreturn]] void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// libpng's blocks come from the run-time's allocator, so that failures are injectable.
png_voidp Allocate(png_structp png, png_alloc_size_t size) {
    void* block = AllocMemBlock(size, 0);
    if (block == nullptr) SinkOf(png, false)->error = ERR_MEM;
    return block;
}

void Free(png_structp, png_voidp block) {
    FreeMemBlock(block);
}

// The setjmp frame: it holds no object with a destructor. The ARGB words are B, G, R, A in
// memory; libpng swaps them into order and drops the filler byte for RGB.
int EncodePng(png_structp png, png_infop info, const PngPicture& picture) {
    if (setjmp(png_jmpbuf(png))) return ERR_SAVEPNG;
    png_set_IHDR(png, info, uint32_t(picture.width), uint32_t(picture.height), 8,
                 picture.alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    if (!picture.alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int32_t y = 0; y < picture.height; ++y)
        png_write_row(png, picture.pixels + size_t(y) * size_t(picture.bytesPerRow));
    png_write_end(png, info);
    return 0;
}

}  // namespace

int SaveARGBAsPng(const char* file, const uint32_t* pixels, int32_t width, int32_t height,
                  int32_t bytesPerRow, int alpha) {
    if (width < 1 || height < 1 || int64_t(bytesPerRow) < int64_t(width) * 4) return ERR_SAVEPNG;
    qv::OutputFile out;
    if (const int error = out.Open(file)) return error;
    PngSink sink{&out, 0};
    png_structp png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &sink, OnError, OnWarning,
                                                &sink, Allocate, Free);
    if (png == nullptr) return ERR_MEM;
    png_infop info = png_create_info_struct(png);
    int error = ERR_MEM;
    if (info != nullptr) {
        png_set_write_fn(png, &sink, WriteData, FlushData);
        const PngPicture picture{reinterpret_cast<const uint8_t*>(pixels), width, height,
                                 bytesPerRow, alpha != 0};
        error = EncodePng(png, info, picture);
    }
    png_destroy_write_struct(&png, &info);
    if (error != 0) return sink.error != 0 ? sink.error : error;
    return out.Finish();
}
