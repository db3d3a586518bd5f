#include <cstring>

#include "engine/error_codes.h"
#include "media/picture_writers.h"
#include "platform/linux/memory.h"

namespace {

constexpr int kPlanes = 24;
constexpr size_t kBmhdSize = 20;

// A block of the run-time's allocator for one scope.
struct Block {
    explicit Block(size_t size) : bytes(static_cast<uint8_t*>(AllocMemBlock(size, 1))) {}
    ~Block() { FreeMemBlock(bytes); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* bytes;
};

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
// in the top bit of the first byte).
void SplitPlanes(const uint32_t* row, int32_t width, size_t planeBytes, uint8_t* planes) {
    std::memset(planes, 0, planeBytes * kPlanes);
    for (int32_t x = 0; x < width; ++x) {
        const uint32_t rgb = row[x];
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        const size_t at = size_t(x) >> 3;
        for (int p = 0; p < kPlanes; ++p) {
            const int shift = 16 - 8 * (p / 8) + (p % 8);  // red from bit 16 up
            if ((rgb >> shift) & 1) planes[size_t(p) * planeBytes + at] |= bit;
        }
    }
}

}  // namespace

int SaveIlbm(const char* file, const uint32_t* pixels, int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_WRONGUSAGE;
    const size_t planeBytes = ((size_t(width) + 15) / 16) * 2;
    // Worst case of ByteRun1: one header byte per 128 bytes.
    const size_t packedRow = (planeBytes + (planeBytes + 127) / 128) * kPlanes;
    const size_t bodyLimit = packedRow * size_t(height);
    if (bodyLimit > 0xFFFFFF00u) return ERR_WRONGUSAGE;  // IFF sizes are 32-bit
    Block planes(planeBytes * kPlanes);
    Block body(bodyLimit + 1);  // room for the pad byte
    if (planes.bytes == nullptr || body.bytes == nullptr) return ERR_MEM;
    uint8_t* end = body.bytes;
    for (int32_t y = 0; y < height; ++y) {
        SplitPlanes(pixels + size_t(y) * size_t(width), width, planeBytes, planes.bytes);
        for (int p = 0; p < kPlanes; ++p)
            end = PackByteRun1(planes.bytes + size_t(p) * planeBytes, planeBytes, end);
    }
    const auto bodySize = uint32_t(end - body.bytes);
    const uint32_t padded = bodySize + (bodySize & 1);  // end[0] is the zero pad byte
    uint8_t head[12 + 8 + kBmhdSize + 8];
    uint8_t* h = head;
    std::memcpy(h, "FORM", 4);
    h = PutBig(h + 4, uint32_t(4 + 8 + kBmhdSize + 8) + padded, 4);
    std::memcpy(h, "ILBMBMHD", 8);
    h = PutBig(h + 8, kBmhdSize, 4);
    h = PutBig(h, uint32_t(width), 2);
    h = PutBig(h, uint32_t(height), 2);
    h = PutBig(h, 0, 4);                           // x, y
    h = PutBig(h, (kPlanes << 24) | (1 << 8), 4);  // planes, no masking, ByteRun1, pad
    h = PutBig(h, 0x00000101, 4);                  // transparent colour 0, aspect 1:1
    h = PutBig(h, uint32_t(width), 2);
    h = PutBig(h, uint32_t(height), 2);
    std::memcpy(h, "BODY", 4);
    PutBig(h + 4, bodySize, 4);
    qv::OutputFile out;
    int error = out.Open(file);
    if (error == 0) error = out.Write(head, sizeof head);
    if (error == 0) error = out.Write(body.bytes, padded);
    return error != 0 ? error : out.Finish();
}
