#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "engine/error_codes.h"
#include "media/picture_writers.h"
#include "platform/linux/memory.h"

namespace {

constexpr size_t kFirstBufferSize = 64 * 1024;

// A destination that grows one block of the run-time's allocator, so that an error at any
// point leaves exactly one block to free (libjpeg's own memory destination can lose its
// newest block when compression aborts).
struct JpegSink {
    jpeg_destination_mgr manager;
    uint8_t* buffer;
    size_t capacity;
};

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void InitSink(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    sink->manager.next_output_byte = sink->buffer;
    sink->manager.free_in_buffer = sink->capacity;
}

boolean GrowSink(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    auto* grown = static_cast<uint8_t*>(AllocMemBlock(sink->capacity * 2, 0));
    if (grown == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
    memcpy(grown, sink->buffer, sink->capacity);
    FreeMemBlock(sink->buffer);
    sink->buffer = grown;
    sink->manager.next_output_byte = grown + sink->capacity;
    sink->manager.free_in_buffer = sink->capacity;
    sink->capacity *= 2;
    return TRUE;
}

void TermSink(j_compress_ptr) {}

[[noreturn]] void OnError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

// The setjmp frame: it holds no object with a destructor.
int Compress(jpeg_compress_struct* cinfo, JpegError* error, JpegSink* sink,
             const qvJpegEncode& block) {
    if (setjmp(error->jump))
        return error->manager.msg_code == JERR_OUT_OF_MEMORY ? ERR_MEM : ERR_WRITEJPEG;
    jpeg_create_compress(cinfo);
    cinfo->dest = &sink->manager;
    cinfo->image_width = JDIMENSION(block.width);
    cinfo->image_height = JDIMENSION(block.height);
    // The ARGB words are B, G, R, A in memory: libjpeg reads them as they are.
    cinfo->input_components = 4;
    cinfo->in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo,
                     block.quality < 1     ? 1
                     : block.quality > 100 ? 100
                                           : block.quality,
                     TRUE);
    jpeg_start_compress(cinfo, TRUE);
    const auto* base = reinterpret_cast<const uint8_t*>(block.pixels);
    while (cinfo->next_scanline < cinfo->image_height) {
        auto* row =
            const_cast<JSAMPROW>(base + size_t(cinfo->next_scanline) * size_t(block.bytesPerRow));
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return 0;
}

}  // namespace

void EncodeJpeg(qvJpegEncode* block) {
    block->buffer = nullptr;
    block->size = 0;
    if (block->width < 1 || block->height < 1 || block->width > JPEG_MAX_DIMENSION ||
        block->height > JPEG_MAX_DIMENSION ||
        int64_t(block->bytesPerRow) < int64_t(block->width) * 4) {
        block->error = ERR_WRITEJPEG;
        return;
    }
    JpegSink sink{};
    sink.buffer = static_cast<uint8_t*>(AllocMemBlock(kFirstBufferSize, 0));
    if (sink.buffer == nullptr) {
        block->error = ERR_MEM;
        return;
    }
    sink.capacity = kFirstBufferSize;
    sink.manager.init_destination = InitSink;
    sink.manager.empty_output_buffer = GrowSink;
    sink.manager.term_destination = TermSink;
    jpeg_compress_struct cinfo{};
    JpegError error{};
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = OnError;
    error.manager.emit_message = OnMessage;
    block->error = Compress(&cinfo, &error, &sink, *block);
    jpeg_destroy_compress(&cinfo);
    if (block->error != 0) {
        FreeMemBlock(sink.buffer);
        return;
    }
    block->buffer = sink.buffer;
    block->size = sink.capacity - sink.manager.free_in_buffer;
}

void FreeJpegBuffer(uint8_t* buffer) {
    FreeMemBlock(buffer);
}
