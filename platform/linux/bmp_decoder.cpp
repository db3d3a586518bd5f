#include "platform/linux/bmp_decoder.h"

#include <array>
#include <bit>

#include "engine/error_codes.h"
#include "platform/linux/memory.h"

namespace qv {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;  // OS/2 1.x: 16-bit sizes, 3-byte colours
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kMaxHeaderSize = 124;

enum : uint32_t { kRgb = 0, kBitFields = 3, kAlphaBitFields = 6 };

uint32_t U16(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}

uint32_t U32(const uint8_t* p) {
    return U16(p) | U16(p + 2) << 16;
}

// A channel of a bit-field mask, widened to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        max = m >> shift;
    }
    uint32_t Read(uint32_t value) const {
        if (max == 0) return 0;
        const uint64_t v = (value & mask) >> shift;
        return static_cast<uint32_t>((v * 255 + max / 2) / max);
    }
};

struct Header {
    int64_t width = 0, height = 0;  // height < 0: rows stored top-down
    uint32_t bitsPerPixel = 0;
    uint32_t compression = kRgb;
    uint32_t colourCount = 0;  // entries of the colour table
    uint32_t masks[4] = {};    // red, green, blue, alpha
    size_t coloursAt = 0;      // where the colour table starts
    uint32_t colourSize = 4;   // bytes per entry
    size_t pixelsAt = 0;
};

bool ValidDepth(const Header& h) {
    switch (h.bitsPerPixel) {
        case 1:
        case 4:
        case 8:
        case 24:
            return h.compression == kRgb;
        case 16:
        case 32:
            return h.compression == kRgb || h.compression == kBitFields ||
                   h.compression == kAlphaBitFields;
        default:
            return false;
    }
}

void DefaultMasks(Header* h) {
    if (h->bitsPerPixel == 16) {
        h->masks[0] = 0x7C00, h->masks[1] = 0x03E0, h->masks[2] = 0x001F;
    } else {
        h->masks[0] = 0xFF0000, h->masks[1] = 0xFF00, h->masks[2] = 0xFF;
    }
    h->masks[3] = 0;
}

// The info header (and the masks after a 40-byte one); false when the bytes do not hold it.
bool ReadHeader(const uint8_t* data, size_t size, Header* h) {
    if (size < kFileHeaderSize + 4) return false;
    h->pixelsAt = U32(data + 10);
    const uint8_t* info = data + kFileHeaderSize;
    const uint32_t infoSize = U32(info);
    if (infoSize != kCoreHeaderSize && (infoSize < kInfoHeaderSize || infoSize > kMaxHeaderSize)) {
        return false;
    }
    if (size < kFileHeaderSize + infoSize) return false;
    uint32_t planes = 0;
    if (infoSize == kCoreHeaderSize) {
        h->width = U16(info + 4), h->height = U16(info + 6);
        planes = U16(info + 8), h->bitsPerPixel = U16(info + 10);
        h->colourSize = 3;
    } else {
        h->width = static_cast<int32_t>(U32(info + 4));
        h->height = static_cast<int32_t>(U32(info + 8));
        planes = U16(info + 12), h->bitsPerPixel = U16(info + 14);
        h->compression = U32(info + 16);
        h->colourCount = U32(info + 32);
    }
    if (planes != 1 || h->width < 1 || h->height == 0 || !ValidDepth(*h)) return false;
    h->coloursAt = kFileHeaderSize + infoSize;
    DefaultMasks(h);
    if (h->compression != kRgb) {
        // The masks lie inside a larger header, else right after a 40-byte one.
        const size_t count = h->compression == kAlphaBitFields ? 4 : 3;
        const size_t at =
            infoSize > kInfoHeaderSize ? kFileHeaderSize + kInfoHeaderSize : h->coloursAt;
        if (size < at + 4 * count) return false;
        h->masks[3] = 0;
        for (size_t i = 0; i < count; ++i) h->masks[i] = U32(data + at + 4 * i);
        if (infoSize >= 56) h->masks[3] = U32(data + at + 12);
        if (infoSize == kInfoHeaderSize) h->coloursAt += 4 * count;
    }
    if (h->bitsPerPixel <= 8) {
        // At most what the depth indexes, and no more than lie before the pixels.
        const uint32_t most = 1u << h->bitsPerPixel;
        if (h->colourCount == 0 || h->colourCount > most) h->colourCount = most;
        if (h->pixelsAt > h->coloursAt) {
            const size_t room = (h->pixelsAt - h->coloursAt) / h->colourSize;
            if (room < h->colourCount) h->colourCount = static_cast<uint32_t>(room);
        }
    } else {
        h->colourCount = 0;
    }
    return true;
}

uint64_t RowBytes(const Header& h) {
    return (uint64_t(h.width) * h.bitsPerPixel + 31) / 32 * 4;
}

// The colour table as 0xFFRRGGBB words; entries beyond the table are black.
std::array<uint32_t, 256> ReadColours(const uint8_t* data, const Header& h) {
    std::array<uint32_t, 256> colours{};
    colours.fill(0xFF000000);
    for (uint32_t i = 0; i < h.colourCount; ++i) {
        const uint8_t* c = data + h.coloursAt + size_t(i) * h.colourSize;
        colours[i] = 0xFF000000 | uint32_t{c[2]} << 16 | uint32_t{c[1]} << 8 | c[0];
    }
    return colours;
}

void DecodeRow(const uint8_t* row, const Header& h, const std::array<uint32_t, 256>& colours,
               const Channel (&channels)[4], uint32_t* out) {
    const int64_t width = h.width;
    switch (h.bitsPerPixel) {
        case 1:
        case 4:
        case 8: {
            const uint32_t bits = h.bitsPerPixel, mask = (1u << bits) - 1;
            for (int64_t x = 0; x < width; ++x) {
                const uint64_t bit = uint64_t(x) * bits;
                out[x] = colours[(row[bit / 8] >> (8 - bits - bit % 8)) & mask];
            }
            return;
        }
        case 24:
            for (int64_t x = 0; x < width; ++x, row += 3) {
                out[x] = 0xFF000000 | uint32_t{row[2]} << 16 | uint32_t{row[1]} << 8 | row[0];
            }
            return;
        default: {
            const int bytes = h.bitsPerPixel / 8;
            for (int64_t x = 0; x < width; ++x, row += bytes) {
                const uint32_t v = bytes == 2 ? U16(row) : U32(row);
                const uint32_t a = channels[3].max != 0 ? channels[3].Read(v) : 0xFF;
                out[x] = a << 24 | channels[0].Read(v) << 16 | channels[1].Read(v) << 8 |
                         channels[2].Read(v);
            }
        }
    }
}

}  // namespace

bool IsBmp(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

int DecodeBmp(const uint8_t* data, size_t size, qvPicture* picture, qvPictureFormat* format) {
    Header h;
    if (!IsBmp(data, size) || !ReadHeader(data, size, &h)) return ERR_LOADPICTURE;
    const uint64_t rows = h.height < 0 ? uint64_t(-h.height) : uint64_t(h.height);
    const uint64_t rowBytes = RowBytes(h);
    if (h.coloursAt + uint64_t{h.colourCount} * h.colourSize > size || h.pixelsAt > size ||
        rows > INT32_MAX || rows > (size - h.pixelsAt) / rowBytes) {
        return ERR_LOADPICTURE;
    }
    *format = {static_cast<int32_t>(h.width), static_cast<int32_t>(rows),
               static_cast<int32_t>(h.bitsPerPixel)};
    if (picture == nullptr) return 0;
    const uint64_t bytes = uint64_t(h.width) * rows * 4;
    if (bytes > SIZE_MAX) return ERR_MEM;
    auto* pixels = static_cast<uint32_t*>(AllocMemBlock(static_cast<size_t>(bytes), 0));
    if (pixels == nullptr) return ERR_MEM;
    const std::array<uint32_t, 256> colours = ReadColours(data, h);
    const Channel channels[4] = {Channel(h.masks[0]), Channel(h.masks[1]), Channel(h.masks[2]),
                                 Channel(h.masks[3])};
    for (uint64_t y = 0; y < rows; ++y) {
        const uint64_t stored = h.height < 0 ? y : rows - 1 - y;
        DecodeRow(data + h.pixelsAt + stored * rowBytes, h, colours, channels,
                  pixels + y * uint64_t(h.width));
    }
    *picture = {format->width, format->height, channels[3].max != 0 ? 1u : 0u, pixels};
    return 0;
}

}  // namespace qv
