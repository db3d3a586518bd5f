#include "media/ilbm_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/error_codes.h"
#include "platform/linux/byte_order.h"
#include "platform/linux/memory.h"

namespace {

constexpr int32_t kMaxSide = 32768;
constexpr size_t kBmhdSize = 20;
// ByteRun1 turns two bytes into at most 128.
constexpr size_t kMaxExpansion = 64;

struct BlockFree {
    void operator()(void* block) const { FreeMemBlock(block); }
};
template <typename T>
using Block = std::unique_ptr<T, BlockFree>;

uint32_t Big16(const uint8_t* p) {
    return static_cast<uint32_t>(qv::LoadBigEndian(p, 2));
}

bool IdIs(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

struct Chunks {
    std::span<const uint8_t> bmhd, cmap, camg, body, alph;
    bool alpha = false;  // an ALPH chunk is present (it may be empty)
};

// The BMHD, CMAP, CAMG, ALPH and BODY of the form; false when a chunk runs past the form or BMHD or
// BODY is missing.
bool FindChunks(std::span<const uint8_t> bytes, Chunks* chunks) {
    if (!IsIlbmData(bytes)) return false;
    const size_t declared = qv::LoadBigEndian32(bytes.data() + 4);
    if (declared < 4 || declared > bytes.size() - 8) return false;
    std::span<const uint8_t> form = bytes.subspan(12, declared - 4);
    size_t at = 0;
    while (form.size() - at >= 8) {
        const uint8_t* id = form.data() + at;
        const size_t size = qv::LoadBigEndian32(id + 4);
        if (size > form.size() - at - 8) return false;
        std::span<const uint8_t> data = form.subspan(at + 8, size);
        if (IdIs(id, "BMHD")) chunks->bmhd = data;
        if (IdIs(id, "CMAP")) chunks->cmap = data;
        if (IdIs(id, "CAMG")) chunks->camg = data;
        if (IdIs(id, "BODY")) chunks->body = data;
        if (IdIs(id, "ALPH")) chunks->alph = data, chunks->alpha = true;
        at += 8 + size + (size & 1);
        if (at > form.size()) break;
    }
    return chunks->bmhd.size() >= kBmhdSize && !chunks->body.empty();
}

struct Header {
    int32_t width, height;
    int planes;
    bool masked;
    bool packed;
};

bool ReadHeader(std::span<const uint8_t> bmhd, bool hasColourMap, Header* h) {
    const uint8_t* p = bmhd.data();
    h->width = int32_t(Big16(p));
    h->height = int32_t(Big16(p + 2));
    h->planes = p[8];
    const int masking = p[9], compression = p[10];
    h->masked = masking == 1;
    h->packed = compression == 1;
    const bool depthKnown = (h->planes >= 1 && h->planes <= 8 && hasColourMap) || h->planes == 24;
    return h->width >= 1 && h->height >= 1 && depthKnown && masking <= 1 && compression <= 1;
}

// Fills out (size bytes) from the body at *at: raw, or ByteRun1 whose runs stay inside the
// row. False when the body ends first or a run overflows.
bool ReadRow(std::span<const uint8_t> body, size_t* at, bool packed, uint8_t* out, size_t size) {
    if (!packed) {
        if (body.size() - *at < size) return false;
        std::memcpy(out, body.data() + *at, size);
        *at += size;
        return true;
    }
    size_t filled = 0;
    while (filled < size) {
        if (*at >= body.size()) return false;
        const int n = static_cast<int8_t>(body[(*at)++]);
        if (n >= 0) {
            const size_t count = size_t(n) + 1;
            if (count > size - filled || count > body.size() - *at) return false;
            std::memcpy(out + filled, body.data() + *at, count);
            *at += count;
            filled += count;
        } else if (n != -128) {
            const size_t count = size_t(1 - n);
            if (count > size - filled || *at >= body.size()) return false;
            std::memset(out + filled, body[(*at)++], count);
            filled += count;
        }
    }
    return true;
}

bool Bit(const uint8_t* plane, int32_t x) {
    return (plane[x >> 3] >> (7 - (x & 7))) & 1;
}

// One decoded row of planes (each rowBytes long, the mask last) into ARGB pixels.
void ConvertRow(const uint8_t* planes, size_t rowBytes, const Header& h,
                std::span<const uint8_t> cmap, uint32_t* out) {
    const size_t colours = cmap.size() / 3;
    for (int32_t x = 0; x < h.width; ++x) {
        uint32_t value = 0;
        for (int p = 0; p < h.planes; ++p)
            value |= uint32_t(Bit(planes + size_t(p) * rowBytes, x)) << p;
        uint32_t rgb;
        if (h.planes == 24) {
            rgb = (value & 0xFF) << 16 | (value & 0xFF00) | (value >> 16);
        } else if (value < colours) {
            const uint8_t* c = cmap.data() + size_t(value) * 3;
            rgb = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
        } else {
            rgb = 0;  // an index beyond the colour map
        }
        const bool shown = !h.masked || Bit(planes + size_t(h.planes) * rowBytes, x);
        out[x] = (shown ? 0xFF000000u : 0u) | rgb;
    }
}

// The ALPH chunk's rows (width bytes each, packed as the body is) into the alpha bytes of the
// pixels; false when the chunk ends first or a run overflows its row.
bool ReadAlpha(std::span<const uint8_t> alph, const Header& h, uint8_t* row, uint32_t* pixels) {
    size_t at = 0;
    for (int32_t y = 0; y < h.height; ++y) {
        if (!ReadRow(alph, &at, h.packed, row, size_t(h.width))) return false;
        uint32_t* line = pixels + size_t(y) * size_t(h.width);
        for (int32_t x = 0; x < h.width; ++x)
            line[x] = (line[x] & 0xFFFFFF) | uint32_t(row[x]) << 24;
    }
    return true;
}

// Whether a chunk can hold count bytes once unpacked.
bool Reaches(std::span<const uint8_t> chunk, bool packed, size_t count) {
    return count <= chunk.size() * (packed ? kMaxExpansion : 1);
}

// Hold-and-modify and extra-halfbrite pictures compute their colours from the display mode;
// read as plain colour maps they would come out wrong.
bool PlainColours(std::span<const uint8_t> camg) {
    constexpr uint32_t kHam = 0x800, kExtraHalfbrite = 0x80;
    return camg.size() < 4 || (qv::LoadBigEndian32(camg.data()) & (kHam | kExtraHalfbrite)) == 0;
}

bool ReadForm(std::span<const uint8_t> bytes, Chunks* chunks, Header* h) {
    return FindChunks(bytes, chunks) && ReadHeader(chunks->bmhd, chunks->cmap.size() >= 3, h) &&
           PlainColours(chunks->camg);
}

}  // namespace

bool IsIlbmData(std::span<const uint8_t> bytes) {
    return bytes.size() >= 12 && IdIs(bytes.data(), "FORM") && IdIs(bytes.data() + 8, "ILBM");
}

int IdentifyIlbm(std::span<const uint8_t> bytes, int32_t* width, int32_t* height, int32_t* depth) {
    Chunks chunks;
    Header h{};
    if (!ReadForm(bytes, &chunks, &h)) return ERR_WRONGUSAGE;
    *width = h.width, *height = h.height;
    *depth = chunks.alpha ? 32 : h.planes;
    return 0;
}

int DecodeIlbm(std::span<const uint8_t> bytes, qvIlbmPicture* out) {
    *out = {};
    Chunks chunks;
    Header h{};
    if (!ReadForm(bytes, &chunks, &h)) return ERR_WRONGUSAGE;
    const size_t rowBytes = ((size_t(h.width) + 15) / 16) * 2;
    const size_t rowPlanes = size_t(h.planes) + (h.masked ? 1 : 0);
    const size_t pixelCount = size_t(h.width) * size_t(h.height);
    // Chunks too short for the picture are refused before its pixels are allocated.
    if (!Reaches(chunks.body, h.packed, rowBytes * rowPlanes * size_t(h.height)) ||
        (chunks.alpha && !Reaches(chunks.alph, h.packed, pixelCount)))
        return ERR_WRONGUSAGE;
    if (h.width > kMaxSide || h.height > kMaxSide) return ERR_MEM;
    Block<uint32_t> pixels(static_cast<uint32_t*>(AllocMemBlock(pixelCount * 4, 0)));
    Block<uint8_t> row(
        static_cast<uint8_t*>(AllocMemBlock(std::max(rowBytes * rowPlanes, size_t(h.width)), 0)));
    if (!pixels || !row) return ERR_MEM;
    size_t at = 0;
    for (int32_t y = 0; y < h.height; ++y) {
        for (size_t p = 0; p < rowPlanes; ++p) {
            if (!ReadRow(chunks.body, &at, h.packed, row.get() + p * rowBytes, rowBytes))
                return ERR_WRONGUSAGE;
        }
        ConvertRow(row.get(), rowBytes, h, chunks.cmap, pixels.get() + size_t(y) * size_t(h.width));
    }
    if (chunks.alpha && !ReadAlpha(chunks.alph, h, row.get(), pixels.get())) return ERR_WRONGUSAGE;
    *out = {pixels.release(), h.width, h.height, h.masked, chunks.alpha};
    return 0;
}
