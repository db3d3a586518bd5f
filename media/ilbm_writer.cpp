#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/error_codes.h"
#include "media/picture_writers.h"
#include "platform/linux/memory.h"

namespace {

constexpr int kPlanes = 24;
constexpr size_t kBmhdSize = 20;

// Blocks of the run-time's allocator.
struct BlockFree {
    void operator()(uint8_t* bytes) const { FreeMemBlock(bytes); }
};
using Bytes = std::unique_ptr<uint8_t, BlockFree>;

Bytes NewBytes(size_t size) {
    return Bytes(static_cast<uint8_t*>(AllocMemBlock(size, 0)));
}

uint8_t* PutBig(uint8_t* out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) *out++ = uint8_t(value >> (8 * i));
    return out;
}

// ByteRun1: runs of three or more equal bytes as (1 - n, byte), everything else as literal
// stretches (n - 1, bytes); n at most 128. Returns the end of the packed bytes.
uint8_t* PackByteRun1(const uint8_t* in, size_t size, uint8_t* out) {
    size_t i = 0;
    while (i < size) {
        size_t run = 1;
        while (i + run < size && run < 128 && in[i + run] == in[i]) ++run;
        if (run >= 3) {
            *out++ = uint8_t(1 - int(run));
            *out++ = in[i];
            i += run;
            continue;
        }
        // A literal stretch ends where a run of three begins.
        size_t literal = 0;
        while (i + literal < size && literal < 128 &&
               !(i + literal + 2 < size && in[i + literal] == in[i + literal + 1] &&
                 in[i + literal] == in[i + literal + 2]))
            ++literal;
        *out++ = uint8_t(literal - 1);
        std::memcpy(out, in + i, literal);
        out += literal;
        i += literal;
    }
    return out;
}

// Splits one picture row into its 24 plane rows (red bits 0-7, green, blue; the first pixel
// in the top bit of the first byte) and, with a mask, a 25th row with the bits of the pixels
// whose alpha byte is not 0.
void SplitPlanes(const uint32_t* row, int32_t width, size_t planeBytes, bool mask,
                 uint8_t* planes) {
    std::memset(planes, 0, planeBytes * (kPlanes + 1));
    for (int32_t x = 0; x < width; ++x) {
        const uint32_t argb = row[x];
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        const size_t at = size_t(x) >> 3;
        for (int p = 0; p < kPlanes; ++p) {
            const int shift = 16 - 8 * (p / 8) + (p % 8);  // red from bit 16 up
            if ((argb >> shift) & 1) planes[size_t(p) * planeBytes + at] |= bit;
        }
        if (mask && (argb >> 24) != 0) planes[size_t(kPlanes) * planeBytes + at] |= bit;
    }
}

// The worst case of ByteRun1 for rows of size bytes: one header byte per 128.
size_t PackedLimit(size_t size) {
    return size + (size + 127) / 128;
}

// Starts a chunk: its id, and 4 bytes for the size that CloseChunk stores.
uint8_t* OpenChunk(uint8_t* at, const char* id) {
    std::memcpy(at, id, 4);
    return at + 8;
}

// Stores the size of the chunk from start to end and adds its pad byte; the chunk's new end.
uint8_t* CloseChunk(uint8_t* start, uint8_t* end) {
    const auto size = uint32_t(end - start - 8);
    PutBig(start + 4, size, 4);
    if (size & 1) *end++ = 0;
    return end;
}

uint8_t* WriteBmhd(uint8_t* at, int32_t width, int32_t height, bool mask) {
    uint8_t* h = OpenChunk(at, "BMHD");
    h = PutBig(h, uint32_t(width), 2);
    h = PutBig(h, uint32_t(height), 2);
    h = PutBig(h, 0, 4);  // x, y
    // Planes, masking (1: a mask plane follows each row's planes), ByteRun1, pad.
    h = PutBig(h, (kPlanes << 24) | ((mask ? 1 : 0) << 16) | (1 << 8), 4);
    h = PutBig(h, 0x00000101, 4);  // transparent colour 0, aspect 1:1
    h = PutBig(h, uint32_t(width), 2);
    return CloseChunk(at, PutBig(h, uint32_t(height), 2));
}

// The alpha bytes, one packed row of width bytes per picture row.
uint8_t* WriteAlph(uint8_t* at, const uint32_t* pixels, int32_t width, int32_t height,
                   uint8_t* row) {
    uint8_t* end = OpenChunk(at, "ALPH");
    for (int32_t y = 0; y < height; ++y) {
        const uint32_t* line = pixels + size_t(y) * size_t(width);
        for (int32_t x = 0; x < width; ++x) row[x] = uint8_t(line[x] >> 24);
        end = PackByteRun1(row, size_t(width), end);
    }
    return CloseChunk(at, end);
}

uint8_t* WriteBody(uint8_t* at, const uint32_t* pixels, int32_t width, int32_t height, bool mask,
                   size_t planeBytes, uint8_t* planes) {
    uint8_t* end = OpenChunk(at, "BODY");
    const int rowPlanes = kPlanes + (mask ? 1 : 0);
    for (int32_t y = 0; y < height; ++y) {
        SplitPlanes(pixels + size_t(y) * size_t(width), width, planeBytes, mask, planes);
        for (int p = 0; p < rowPlanes; ++p)
            end = PackByteRun1(planes + size_t(p) * planeBytes, planeBytes, end);
    }
    return CloseChunk(at, end);
}

}  // namespace

int EncodeIlbm(const uint32_t* pixels, int32_t width, int32_t height, IlbmTransparency keep,
               uint8_t** bytes, size_t* size) {
    *bytes = nullptr, *size = 0;
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_WRONGUSAGE;
    const bool mask = keep != IlbmTransparency::kNone;
    const bool alpha = keep == IlbmTransparency::kMaskAndAlpha;
    const int rowPlanes = kPlanes + (mask ? 1 : 0);
    const size_t planeBytes = ((size_t(width) + 15) / 16) * 2;
    const size_t bodyLimit = PackedLimit(planeBytes) * size_t(rowPlanes) * size_t(height);
    const size_t alphaLimit = alpha ? PackedLimit(size_t(width)) * size_t(height) : 0;
    // The FORM header and BMHD, then each chunk's header, data and pad byte.
    constexpr size_t kHead = 12 + 8 + kBmhdSize;
    const size_t limit = kHead + (alpha ? 8 + alphaLimit + 1 : 0) + 8 + bodyLimit + 1;
    if (limit > 0xFFFFFF00u) return ERR_WRONGUSAGE;  // IFF sizes are 32-bit
    Bytes planes = NewBytes(std::max(planeBytes * (kPlanes + 1), size_t(width)));
    Bytes form = NewBytes(limit);
    if (!planes || !form) return ERR_MEM;
    uint8_t* end = WriteBmhd(form.get() + 12, width, height, mask);
    if (alpha) end = WriteAlph(end, pixels, width, height, planes.get());
    end = WriteBody(end, pixels, width, height, mask, planeBytes, planes.get());
    const auto total = size_t(end - form.get());
    std::memcpy(form.get(), "FORM", 4);
    PutBig(form.get() + 4, uint32_t(total - 8), 4);
    std::memcpy(form.get() + 8, "ILBM", 4);
    *bytes = form.release();
    *size = total;
    return 0;
}

int SaveIlbm(const char* file, const uint32_t* pixels, int32_t width, int32_t height, int alpha) {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    int error = EncodeIlbm(pixels, width, height,
                           alpha != 0 ? IlbmTransparency::kMaskAndAlpha : IlbmTransparency::kNone,
                           &bytes, &size);
    if (error != 0) return error;
    const Bytes form(bytes);
    qv::OutputFile out;
    error = out.Open(file);
    if (error == 0) error = out.Write(bytes, size);
    return error != 0 ? error : out.Finish();
}
