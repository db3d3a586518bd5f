#include "gfx/save_picture.h"

#include <algorithm>
#include <cstring>

#include "engine/error_codes.h"
#include "gfx/quantiser.h"
#include "media/picture_writers.h"
#include "platform/linux/memory.h"
#include "platform/linux/output_file.h"
#include "platform/linux/png_saver.h"
#include "runtime/errors.h"

namespace qv {
namespace {

constexpr uint32_t kBmpHeaderSize = 54;
constexpr uint64_t kBmpChunkBytes = 256 * 1024;

// A cleared block of the run-time's allocator for one scope.
struct ScopedBlock {
    explicit ScopedBlock(size_t size) : data(static_cast<uint8_t*>(AllocMemBlock(size, 1))) {}
    ~ScopedBlock() { FreeMemBlock(data); }
    ScopedBlock(const ScopedBlock&) = delete;
    ScopedBlock& operator=(const ScopedBlock&) = delete;
    uint8_t* data;
};

uint8_t* PutLittle(uint8_t* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) *out++ = uint8_t(value >> (8 * i));
    return out;
}

void BmpHeader(uint8_t* header, int32_t width, int32_t height, uint32_t fileSize) {
    std::memset(header, 0, kBmpHeaderSize);
    header[0] = 'B';
    header[1] = 'M';
    PutLittle(header + 2, fileSize, 4);
    PutLittle(header + 10, kBmpHeaderSize, 4);
    PutLittle(header + 14, 40, 4);
    PutLittle(header + 18, uint32_t(width), 4);
    PutLittle(header + 22, uint32_t(height), 4);
    PutLittle(header + 26, 1, 2);
    PutLittle(header + 28, 24, 2);
}

void BmpRow(const qvARGB* source, int32_t width, uint8_t* out) {
    for (int32_t x = 0; x < width; ++x, out += 3) {
        out[0] = uint8_t(source[x]);
        out[1] = uint8_t(source[x] >> 8);
        out[2] = uint8_t(source[x] >> 16);
    }
}

// 24-bit bottom-up rows of 3 x width + (width mod 4) bytes, converted some rows at a time
// into a cleared buffer, so that the padding is 0.
int SaveBmp(const qvARGB* pixels, int32_t width, int32_t height, const char* file) {
    const uint64_t rowSize = width < 1 ? 0 : 3 * uint64_t(width) + uint64_t(width) % 4;
    const uint64_t rows = height < 1 || rowSize == 0 ? 0 : uint64_t(height);
    if (rowSize * uint64_t(std::max(height, 0)) + kBmpHeaderSize > 0xFFFFFFFFu)
        return ERR_WRONGUSAGE;
    uint8_t header[kBmpHeaderSize];
    BmpHeader(header, width, height, uint32_t(rowSize * rows + kBmpHeaderSize));
    const uint64_t chunkRows = std::clamp<uint64_t>(kBmpChunkBytes / std::max<uint64_t>(rowSize, 1),
                                                    1, std::max<uint64_t>(rows, 1));
    ScopedBlock chunk(size_t(chunkRows * rowSize) + 1);
    if (chunk.data == nullptr) return ERR_MEM;
    OutputFile out;
    if (const int error = out.Open(file)) return error;
    int error = out.Write(header, sizeof header);
    for (uint64_t y = rows; y > 0 && error == 0;) {
        const uint64_t n = std::min(chunkRows, y);
        for (uint64_t i = 0; i < n; ++i)
            BmpRow(pixels + (y - 1 - i) * uint64_t(width), width, chunk.data + i * rowSize);
        error = out.Write(chunk.data, size_t(n * rowSize));
        y -= n;
    }
    return error != 0 ? error : out.Finish();
}

int SaveJpeg(const qvARGB* pixels, int32_t width, int32_t height, const char* file,
             int32_t quality) {
    if (int64_t(width) * 4 > INT32_MAX) return ERR_WRONGUSAGE;
    qvJpegEncode block{pixels, width * 4, width, height, quality, 0, nullptr, 0, 0};
    EncodeJpeg(&block);
    if (block.error != 0) return block.error;
    OutputFile out;
    int error = out.Open(file);
    if (error == 0) error = out.Write(block.buffer, block.size);
    FreeJpegBuffer(block.buffer);
    return error != 0 ? error : out.Finish();
}

}  // namespace

QuantisedPicture::~QuantisedPicture() {
    FreeMemBlock(indices);
}

int QuantisedPicture::Make(const PictureSave& save) {
    const size_t total = size_t(save.width) * size_t(save.height);
    FreeMemBlock(indices);
    indices = static_cast<uint8_t*>(AllocMemBlock(total, 0));
    if (indices == nullptr) return ERR_MEM;
    const int32_t colours = std::clamp(save.colours, 2, 256);
    const bool keyed = save.alpha == 0 && save.transparent != QV_NOCOLOR;
    const bool reserve = save.alpha != 0 || keyed;
    qvQuantizeRequest request{save.pixels,
                              QV_FMT_A8R8G8B8,
                              4,
                              save.width,
                              save.height,
                              save.width,
                              indices,
                              palette,
                              reserve ? colours - 1 : colours,
                              keyed ? save.transparent & 0xFFFFFF : QV_NO_TRANSPARENT,
                              save.alpha != 0 ? 1 : 0,
                              save.dither};
    if (QuantizeBitmap(&request) == 0) return ERR_MEM;
    count = request.colourCount;
    transparentIndex = -1;
    if (save.alpha == 0) return 0;
    transparentIndex = count - 1;
    for (size_t i = 0; i < total; ++i)
        if ((save.pixels[i] >> 24) == 0) indices[i] = uint8_t(transparentIndex);
    return 0;
}

namespace {

int SaveGif(const PictureSave& save) {
    if (save.width < 1 || save.height < 1 || save.width > 0xFFFF || save.height > 0xFFFF)
        return ERR_WRONGUSAGE;
    QuantisedPicture q;
    if (const int error = q.Make(save)) return error;
    OutputFile out;
    if (const int error = out.Open(save.file)) return error;
    qvGifWriter* writer = nullptr;
    int error = BeginGifWriter(&out, save.width, save.height, &writer);
    if (error != 0) return error;
    error = WriteGifFrame(writer, q.indices, save.width, save.height, 0, q.palette, q.count,
                          q.transparentIndex);
    const int finished = FinishGifWriter(writer);
    if (error == 0) error = finished;
    return error != 0 ? error : out.Finish();
}

int Dispatch(const PictureSave& save) {
    const qvARGB* pixels = save.pixels;
    switch (save.format) {
        case IMGFMT_BMP:
            return SaveBmp(pixels, save.width, save.height, save.file);
        case IMGFMT_PNG:
            if (int64_t(save.width) * 4 > INT32_MAX) return ERR_WRONGUSAGE;
            return SaveARGBAsPng(save.file, pixels, save.width, save.height, save.width * 4,
                                 save.alpha);
        case IMGFMT_JPEG:
            return SaveJpeg(pixels, save.width, save.height, save.file, save.quality);
        case IMGFMT_GIF:
            return SaveGif(save);
        case IMGFMT_ILBM:
            return SaveIlbm(save.file, pixels, save.width, save.height, save.alpha);
        default:
            return SaveWithPlugin(save);
    }
}

}  // namespace
}  // namespace qv

int SavePicture(int32_t format, const qvARGB* pixels, int32_t width, int32_t height,
                const char* file, uint32_t transparent, int alpha, int32_t quality, int32_t colours,
                int dither) {
    const int error = qv::Dispatch(
        {format, pixels, width, height, file, transparent, alpha, quality, colours, dither});
    if (error == ERR_WRITEFILE) SetErrorString(file);
    return error;
}
qvARGB* BitmapToPixelArray(const qvDisplayBitMap* bitmap, int32_t width, int32_t height,
                           const qvPlaneBitMap* mask, const qvPlaneBitMap* alphaPlane,
                           uint32_t colour, int alphaFromMask) {
    qvARGB* pixels = ReadBitMapARGB(bitmap, width, height);
    if (pixels == nullptr) return nullptr;
    const qvARGB hidden = colour & 0xFFFFFF;
    for (int32_t y = 0; y < height; ++y) {
        qvARGB* row = pixels + size_t(y) * size_t(width);
        const uint8_t* alphaRow =
            alphaPlane != nullptr ? alphaPlane->plane + size_t(y) * size_t(alphaPlane->bytesPerRow)
                                  : nullptr;
        for (int32_t x = 0; x < width; ++x) {
            if (mask != nullptr) {
                const bool shown = ReadBitMapPixel(mask, x, y) != 0;
                if (alphaFromMask != 0)
                    row[x] = (row[x] & 0xFFFFFF) | (shown ? 0xFF000000u : 0);
                else
                    row[x] = shown ? row[x] | 0xFF000000u : hidden;
            } else if (alphaRow != nullptr) {
                // An invisible pixel keeps its colour with the given one OR-ed in.
                row[x] = alphaRow[x] == 0 ? (row[x] & 0xFFFFFF) | hidden
                                          : (row[x] & 0xFFFFFF) | qvARGB(alphaRow[x]) << 24;
            } else {
                row[x] |= 0xFF000000u;
            }
        }
    }
    return pixels;
}

int SaveBitmap(int32_t format, const qvDisplayBitMap* bitmap, int32_t width, int32_t height,
               const char* file, const qvPlaneBitMap* mask, uint32_t colour,
               const qvPlaneBitMap* alphaPlane, int32_t quality, int32_t colours, int dither) {
    qvARGB* pixels = BitmapToPixelArray(bitmap, width, height, mask, alphaPlane, colour, 0);
    if (pixels == nullptr) return ERR_MEM;
    const int error =
        SavePicture(format, pixels, width, height, file, colour,
                    mask != nullptr || alphaPlane != nullptr, quality, colours, dither);
    FreeMemBlock(pixels);
    return error;
}
