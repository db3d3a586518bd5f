#include "platform/linux/picture_loader.h"

// libpng and libjpeg report errors through longjmp. The decoders below keep to plain data
// between setjmp and the library calls: no object with a destructor lives in a frame that a
// longjmp skips, and what changes after setjmp is volatile.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <png.h>

#include "engine/error_codes.h"
#include "media/gif_frames.h"
#include "media/ilbm_reader.h"
#include "platform/linux/blocks.h"
#include "platform/linux/bmp_decoder.h"
#include "platform/linux/files.h"

namespace qv {
namespace {

struct FileBytes {
    BlockPtr<uint8_t> data;
    size_t size = 0;
};

int ReadWholeFile(const char* name, FileBytes* out) {
    FilePtr file(FileOpen(name, QV_FILE_READ));
    if (file == nullptr) return ERR_LOADPICTURE;
    FileSeek(file.get(), 0, QV_SEEK_END);
    int64_t size = FileSeek(file.get(), 0, QV_SEEK_BEGINNING);
    if (size <= 0) return ERR_LOADPICTURE;
    out->data.reset(static_cast<uint8_t*>(AllocMemBlock(static_cast<size_t>(size), 0)));
    if (out->data == nullptr) return ERR_MEM;
    if (FileRead(file.get(), out->data.get(), size) != size) return ERR_LOADPICTURE;
    out->size = static_cast<size_t>(size);
    return 0;
}

bool IsPng(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
}

bool IsJpeg(std::span<const uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

// A pixel buffer of width x height words and its row table, or none when the size does not
// fit the allocator.
uint32_t* AllocPixels(uint32_t width, uint32_t height) {
    uint64_t bytes = uint64_t{width} * height * 4;
    if (width == 0 || height == 0 || bytes > SIZE_MAX) return nullptr;
    return static_cast<uint32_t*>(AllocMemBlock(static_cast<size_t>(bytes), 0));
}

// --- PNG ---

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

void ReadPngBytes(png_structp png, png_bytep out, size_t n) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > source->size - source->offset) png_error(png, "truncated");
    std::memcpy(out, source->data + source->offset, n);
    source->offset += n;
}

void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

int PngDepth(int colourType, int bitDepth) {
    switch (colourType) {
        case PNG_COLOR_TYPE_PALETTE:
        case PNG_COLOR_TYPE_GRAY:
            return bitDepth;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 16;
        case PNG_COLOR_TYPE_RGB:
            return 24;
        default:
            return 32;
    }
}

// Every colour type becomes 8-bit B, G, R, A bytes: the word 0xAARRGGBB on this host.
void SetPngTransforms(png_structp png, png_infop info, bool hasAlpha) {
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!hasAlpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
}

// Decodes into picture (pixels only when wanted); 0, ERR_MEM or ERR_LOADPICTURE.
int DecodePng(std::span<const uint8_t> file, qvPicture* picture, qvPictureFormat* format) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png == nullptr) return ERR_MEM;
    png_infop info = png_create_info_struct(png);
    PngSource source{file.data(), file.size(), 0};
    uint32_t* volatile pixels = nullptr;
    png_bytep* volatile rows = nullptr;
    volatile int result = ERR_LOADPICTURE;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &source, ReadPngBytes);
        png_read_info(png, info);
        uint32_t width = png_get_image_width(png, info);
        uint32_t height = png_get_image_height(png, info);
        int colourType = png_get_color_type(png, info);
        bool hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 ||
                        png_get_valid(png, info, PNG_INFO_tRNS) != 0;
        *format = {static_cast<int32_t>(width), static_cast<int32_t>(height),
                   PngDepth(colourType, png_get_bit_depth(png, info))};
        result = 0;
        if (picture != nullptr) {
            SetPngTransforms(png, info, hasAlpha);
            pixels = AllocPixels(width, height);
            rows = static_cast<png_bytep*>(AllocMemBlock(sizeof(png_bytep) * height, 0));
            result = ERR_MEM;
            if (pixels != nullptr && rows != nullptr) {
                result = ERR_LOADPICTURE;
                for (uint32_t y = 0; y < height; ++y) {
                    rows[y] = reinterpret_cast<png_bytep>(pixels + size_t{y} * width);
                }
                png_read_image(png, rows);
                *picture = {format->width, format->height, hasAlpha ? 1u : 0u, pixels};
                pixels = nullptr;
                result = 0;
            }
        }
    }
    FreeMemBlock(pixels);
    FreeMemBlock(rows);
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    return result;
}

// --- JPEG ---

struct JpegErrors {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void OnJpegMessage(j_common_ptr) {}

int DecodeJpeg(std::span<const uint8_t> file, qvPicture* picture, qvPictureFormat* format) {
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = OnJpegError;
    errors.manager.output_message = OnJpegMessage;
    uint32_t* volatile pixels = nullptr;
    volatile int result = ERR_LOADPICTURE;
    if (setjmp(errors.jump) == 0) {
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, file.data(), file.size());
        jpeg_read_header(&info, TRUE);
        *format = {static_cast<int32_t>(info.image_width), static_cast<int32_t>(info.image_height),
                   8 * info.num_components};
        result = 0;
        if (picture != nullptr) {
            info.out_color_space = JCS_EXT_BGRA;
            jpeg_start_decompress(&info);
            result = ERR_MEM;
            pixels = AllocPixels(info.output_width, info.output_height);
            if (pixels != nullptr) {
                result = ERR_LOADPICTURE;
                while (info.output_scanline < info.output_height) {
                    JSAMPROW row = reinterpret_cast<JSAMPROW>(
                        pixels + size_t{info.output_scanline} * info.output_width);
                    jpeg_read_scanlines(&info, &row, 1);
                }
                jpeg_finish_decompress(&info);
                *picture = {format->width, format->height, 0, pixels};
                pixels = nullptr;
                result = 0;
            }
        }
    }
    FreeMemBlock(pixels);
    jpeg_destroy_decompress(&info);
    return result;
}

// --- GIF and ILBM, through the readers of sprite loading and of the clipboard ---

// The first image of the file: the logical screen, with alpha 0 where it shows nothing.
int DecodeGif(std::span<const uint8_t> bytes, qvPicture* picture, qvPictureFormat* format) {
    if (const int code = ReadGifScreen(bytes, &format->width, &format->height, &format->depth))
        return code;
    if (picture == nullptr) return 0;
    qvGifFrames gif;
    if (const int code = DecodeGifFrames(bytes, &gif, 1)) return code;
    *picture = {gif.width, gif.height, gif.transparent ? 1u : 0u, gif.frames[0].release()};
    return 0;
}

// The picture with alpha 0 where its mask plane hides, or its alpha bytes.
int DecodeIlbmPicture(std::span<const uint8_t> bytes, qvPicture* picture, qvPictureFormat* format) {
    if (IdentifyIlbm(bytes, &format->width, &format->height, &format->depth) != 0)
        return ERR_LOADPICTURE;
    if (picture == nullptr) return 0;
    qvIlbmPicture ilbm;
    if (const int code = DecodeIlbm(bytes, &ilbm))
        return code == ERR_MEM ? ERR_MEM : ERR_LOADPICTURE;
    *picture = {ilbm.width, ilbm.height, ilbm.masked || ilbm.alpha ? 1u : 0u, ilbm.pixels};
    return 0;
}

int Decode(const char* name, qvPicture* picture, qvPictureFormat* format) {
    FileBytes file;
    if (int result = ReadWholeFile(name, &file); result != 0) return result;
    return DecodePictureBytes({file.data.get(), file.size}, picture, format);
}

}  // namespace

int DecodePictureBytes(std::span<const uint8_t> bytes, qvPicture* picture,
                       qvPictureFormat* format) {
    if (IsPng(bytes)) return DecodePng(bytes, picture, format);
    if (IsJpeg(bytes)) return DecodeJpeg(bytes, picture, format);
    if (IsBmp(bytes.data(), bytes.size())) {
        return DecodeBmp(bytes.data(), bytes.size(), picture, format);
    }
    if (IsGifData(bytes)) return DecodeGif(bytes, picture, format);
    if (IsIlbmData(bytes)) return DecodeIlbmPicture(bytes, picture, format);
    return ERR_LOADPICTURE;
}

}  // namespace qv

int LoadPictureDT(const char* name, qvPicture** out) {
    *out = nullptr;
    qvPicture* picture = qv::NewBlock<qvPicture>();
    if (picture == nullptr) return ERR_MEM;
    qvPictureFormat format;
    int result = qv::Decode(name, picture, &format);
    if (result != 0) {
        qv::DeleteBlock(picture);
        return result;
    }
    *out = picture;
    return 0;
}

void FreePictureDT(qvPicture* picture) {
    if (picture == nullptr) return;
    FreeMemBlock(picture->pixels);
    qv::DeleteBlock(picture);
}

int IdentifyPictureDT(const char* name, qvPictureFormat* out) {
    return qv::Decode(name, nullptr, out);
}
