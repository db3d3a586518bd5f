#include "platform/linux/bitmap.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "gfx/clip.h"
#include "gfx/kernels/kernels.h"
#include "gfx/kernels/rows.h"
#include "gfx/line_walk.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "platform/linux/program.h"
#include "platform/linux/testing.h"
#include "platform/linux/window.h"

namespace qv {
namespace {

// Test hooks (platform/linux/testing.h).
int32_t extraRowPadding = 0;
bool poisonFill = false;
uint64_t lockFaultAt = 0;
uint64_t locksSinceArm = 0;
int64_t lockBalance = 0;
uint32_t compositingGranted = 0;
bool compositeBlitsSucceed = false;
platform::testing::CompositeCalls compositeCalls{};

uint32_t frameLimit = 0;
bool screenFriendVeto = false;
// The one temporary plane header of SetupTempMaskBitMap and SetTempMaskPlane.
qvPlaneBitMap tempPlaneHeader{};

struct BlockDeleter {
    void operator()(void* block) const { FreeMemBlock(block); }
};
template <typename T>
using BlockPtr = std::unique_ptr<T, BlockDeleter>;

template <typename T>
BlockPtr<T> AllocBlock(size_t bytes, bool clear) {
    return BlockPtr<T>(static_cast<T*>(AllocMemBlock(bytes, clear)));
}

// A pixel buffer not yet touched. Buffers of a few megabytes (full-screen pictures and the
// display's work bitmaps) are backed by huge pages where the kernel allows it: blits of small
// rectangles reach a new page with every row, and 4 KB pages then cost a page walk a row.
uint8_t* AllocPixelBlock(size_t bytes) {
    auto* buffer = static_cast<uint8_t*>(AllocMemBlock(bytes, 0));
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    if (buffer != nullptr && bytes >= 2 * kHuge) {
        const uintptr_t start = (reinterpret_cast<uintptr_t>(buffer) + kHuge - 1) & ~(kHuge - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + bytes) & ~(kHuge - 1);
        if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
    return buffer;
}

// Pixel and plane buffers have exact sizes, so that AddressSanitizer sees the first byte
// past the end. They are zero-filled, or poisoned under the test hook unless cleared.
uint8_t* AllocPixels(size_t bytes, bool clear) {
    auto* buffer = AllocPixelBlock(bytes);
    if (buffer != nullptr) {
        std::memset(buffer, poisonFill && !clear ? platform::testing::kPoison : 0, bytes);
    }
    return buffer;
}

// Pixels whose first rowBytes of each row the caller writes at once: only the rest of each
// row is cleared.
uint8_t* AllocOverwrittenPixels(size_t bytes, int64_t rowBytes, int64_t stride, int32_t rows) {
    auto* buffer = AllocPixelBlock(bytes);
    if (buffer != nullptr && stride > rowBytes) {
        for (int32_t y = 0; y < rows; ++y) {
            std::memset(buffer + y * stride + rowBytes, 0, size_t(stride - rowBytes));
        }
    }
    return buffer;
}

bool ValidSides(int32_t width, int32_t height) {
    return width >= 0 && height >= 0 && width <= kMaxBitMapSide && height <= kMaxBitMapSide;
}

// Rows times bytes per row; false when the product does not fit.
bool BufferSize(int64_t bytesPerRow, int32_t height, size_t* bytes) {
    return !__builtin_mul_overflow(size_t(bytesPerRow), size_t(height), bytes);
}

constexpr int32_t MaskBytesPerRow(int64_t width) {
    return int32_t(((width + 15) >> 3) & ~int64_t(1));
}

int32_t BitsPerPixel(uint32_t format) {
    return format < QV_FMT_R5G6B5 ? 15 : BytesPerPixel(format) * 8;
}

uint8_t* BitMapPixel(const qvDisplayBitMap* bitmap, int64_t x, int64_t y) {
    return bitmap->pixels + (y * bitmap->rowLength + x) * bitmap->bytesPerPixel;
}

bool InPlane(const qvPlaneBitMap* plane, int64_t x, int64_t y) {
    return x >= 0 && y >= 0 && x < PlaneExtentX(plane) && y < plane->height;
}

bool InBitMap(const qvDisplayBitMap* bitmap, int64_t x, int64_t y) {
    return x >= 0 && y >= 0 && x < bitmap->width && y < bitmap->height;
}

// 255 where a mask bit is set or the alpha byte; 0 outside the plane.
uint32_t PlaneCoverage(const qvPlaneBitMap* plane, int64_t x, int64_t y) {
    if (!InPlane(plane, x, y)) return 0;
    const uint8_t* row = plane->plane + y * plane->bytesPerRow;
    if (plane->depth == 1) return MaskBit(row, int32_t(x)) ? 255 : 0;
    return row[x];
}

bool ReportNullDest(const void* dest, const char* text) {
    if (dest == nullptr) WriteDebugPlain(text);
    return dest == nullptr;
}

qvBitMapBlock CopyBlock(const qvDisplayBitMap* source, const qvDisplayBitMap* dest,
                        const BlitRect& r) {
    return {source->pixels,
            dest->pixels,
            int32_t(r.sx),
            int32_t(r.sy),
            int32_t(r.dx),
            int32_t(r.dy),
            int32_t(r.width),
            int32_t(r.height),
            source->rowLength,
            dest->rowLength,
            0,
            source->format,
            dest->format};
}

// Runs the kernel of a block's pixel depth (2, 3, or 4 bytes).
template <class Block>
void ByDepth(const Block& block, int bytes, void (*kernel16)(const Block&),
             void (*kernel24)(const Block&), void (*kernel32)(const Block&)) {
    (bytes == 2 ? kernel16 : bytes == 3 ? kernel24 : kernel32)(block);
}

void CopyDepth(const qvBitMapBlock& block, int bytes) {
    ByDepth(block, bytes, BltBitMapPixels16, BltBitMapPixels24, BltBitMapPixels32);
}

void EncodeDepth(const qvConversionBlock& block, int bytes) {
    ByDepth(block, bytes, ConvertARGBPixels16, ConvertARGBPixels24, ConvertARGBPixels32);
}

void MaskDepth(const qvMaskBlock& block, int bytes) {
    ByDepth(block, bytes, BltMaskPixels16, BltMaskPixels24, BltMaskPixels32);
}

// Decodes the rectangle's row j of the source into ARGB and encodes it at x = sx of a
// destination-format row. The general path of conversions without a kernel of their own.
void ConvertRow(const qvDisplayBitMap* source, const BlitRect& r, int64_t j, qvARGB* argb,
                void* destBase, int32_t destX, int32_t destY, int32_t destRowLength,
                uint32_t destFormat) {
    DecodePixelsToARGB(BitMapPixel(source, r.sx, r.sy + j), source->format, argb, int32_t(r.width));
    EncodeDepth({argb, destBase, 0, 0, destX, destY, int32_t(r.width), 1, int32_t(r.width),
                 destRowLength, destFormat},
                BytesPerPixel(destFormat));
}

// Copies rows bottom-up when a bitmap copies onto itself further down.
void CopySameFormat(const qvDisplayBitMap* source, qvDisplayBitMap* dest, const BlitRect& r) {
    qvBitMapBlock block = CopyBlock(source, dest, r);
    if (source != dest || r.dy <= r.sy) {
        CopyDepth(block, dest->bytesPerPixel);
        return;
    }
    block.height = 1;
    for (int64_t j = r.height - 1; j >= 0; --j) {
        block.sourceY = int32_t(r.sy + j), block.destY = int32_t(r.dy + j);
        CopyDepth(block, dest->bytesPerPixel);
    }
}

bool Encloses(const qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height) {
    return x >= 0 && y >= 0 && int64_t(x) + width <= bitmap->width &&
           int64_t(y) + height <= bitmap->height;
}

// Three distinct bitmaps of one format, each holding the whole rectangle.
bool CopiesInOnePass(const qvDisplayBitMap* source, const qvDisplayBitMap* first,
                     const qvDisplayBitMap* second, int32_t dx, int32_t dy, int32_t width,
                     int32_t height) {
    return source != nullptr && first != nullptr && second != nullptr && source != first &&
           first != second && source != second && source->format == first->format &&
           first->format == second->format && width > 0 && height > 0 &&
           Encloses(source, 0, 0, width, height) && Encloses(first, 0, 0, width, height) &&
           Encloses(second, dx, dy, width, height);
}

void CopyRect(const qvDisplayBitMap* source, qvDisplayBitMap* dest, const BlitRect& r) {
    if (source->format == dest->format) {
        CopySameFormat(source, dest, r);
    } else if (source->bytesPerPixel == 4 && dest->bytesPerPixel == 4) {
        qvBitMapBlock block = CopyBlock(source, dest, r);
        block.convert = 1;
        BltBitMapPixels32(block);
    } else if (source->format == QV_FMT_A8R8G8B8) {
        EncodeDepth({reinterpret_cast<const qvARGB*>(source->pixels), dest->pixels, int32_t(r.sx),
                     int32_t(r.sy), int32_t(r.dx), int32_t(r.dy), int32_t(r.width),
                     int32_t(r.height), source->rowLength, dest->rowLength, dest->format},
                    dest->bytesPerPixel);
    } else {
        auto argb = AllocBlock<qvARGB>(size_t(r.width) * sizeof(qvARGB), false);
        if (!argb) return;
        for (int64_t j = 0; j < r.height; ++j) {
            ConvertRow(source, r, j, argb.get(), dest->pixels, int32_t(r.dx), int32_t(r.dy + j),
                       dest->rowLength, dest->format);
        }
    }
}

uint32_t MaskConversion(uint32_t sourceFormat, uint32_t destFormat) {
    if (sourceFormat == destFormat) return QV_MASK_PLAIN;
    if (sourceFormat == QV_FMT_A8R8G8B8 && destFormat == QV_FMT_B8G8R8A8) return QV_MASK_TO_BGRA;
    if (sourceFormat == QV_FMT_A8R8G8B8 && destFormat == QV_FMT_R8G8B8A8) return QV_MASK_SHIFT8;
    return ~0u;  // no kernel conversion
}

// Other conversions go row by row through a destination-format copy of the source row.
void MaskConvertedRows(const qvDisplayBitMap* source, qvDisplayBitMap* dest,
                       const qvPlaneBitMap* mask, const BlitRect& r) {
    auto argb = AllocBlock<qvARGB>(size_t(r.width) * sizeof(qvARGB), false);
    auto row = AllocBlock<uint8_t>(size_t(source->rowLength) * dest->bytesPerPixel, false);
    if (!argb || !row) return;
    for (int64_t j = 0; j < r.height; ++j) {
        ConvertRow(source, r, j, argb.get(), row.get(), int32_t(r.sx), 0, source->rowLength,
                   dest->format);
        MaskDepth({row.get(), dest->pixels, mask->plane + (r.sy + j) * mask->bytesPerRow,
                   int32_t(r.sx), 0, int32_t(r.dx), int32_t(r.dy + j), int32_t(r.width), 1,
                   source->rowLength, mask->bytesPerRow, dest->rowLength, QV_MASK_PLAIN},
                  dest->bytesPerPixel);
    }
}

void MaskRect(const qvDisplayBitMap* source, qvDisplayBitMap* dest, const qvPlaneBitMap* mask,
              const BlitRect& r) {
    uint32_t conversion = MaskConversion(source->format, dest->format);
    if (conversion == ~0u) {
        MaskConvertedRows(source, dest, mask, r);
        return;
    }
    MaskDepth({source->pixels, dest->pixels, mask->plane, int32_t(r.sx), int32_t(r.sy),
               int32_t(r.dx), int32_t(r.dy), int32_t(r.width), int32_t(r.height), source->rowLength,
               mask->bytesPerRow, dest->rowLength, conversion},
              dest->bytesPerPixel);
}

// n (1..8) bits of a mask row from bit position pos, right-aligned.
uint32_t FetchBits(const uint8_t* row, int64_t pos, int n) {
    int64_t first = pos >> 3, last = (pos + n - 1) >> 3;
    uint32_t window = (uint32_t(row[first]) << 8) | (last != first ? row[last] : 0);
    return (window >> (16 - (pos & 7) - n)) & ((1u << n) - 1);
}

// Calls fn(byte, bits, aligned source bits) for every mask byte that the destination
// rectangle touches; bits marks the rectangle's bits of the byte. The source bits come from
// source (at sx, sy) when one is given.
template <typename Fn>
void ForEachMaskByte(qvPlaneBitMap* dest, const qvPlaneBitMap* source, const BlitRect& r, Fn&& fn) {
    for (int64_t j = 0; j < r.height; ++j) {
        uint8_t* row = dest->plane + (r.dy + j) * dest->bytesPerRow;
        const uint8_t* sourceRow =
            source != nullptr ? source->plane + (r.sy + j) * source->bytesPerRow : nullptr;
        for (int64_t lo = r.dx; lo < r.dx + r.width;) {
            int64_t hi = std::min(r.dx + r.width, ((lo >> 3) + 1) * 8);
            int n = int(hi - lo), shift = 8 - int(lo & 7) - n;
            auto bits = uint8_t(((1u << n) - 1) << shift);
            uint32_t sourceBits =
                sourceRow != nullptr ? FetchBits(sourceRow, r.sx + (lo - r.dx), n) << shift : 0;
            fn(row[lo >> 3], bits, uint8_t(sourceBits));
            lo = hi;
        }
    }
}

// The mask-mode effect on the given bits of a byte: 0, 2, 5 set, 3 invert, 4 leave, others
// clear.
uint8_t ApplyMaskMode(uint8_t byte, uint8_t bits, int mode) {
    switch (mode) {
        case 0:
        case 2:
        case 5:
            return byte | bits;
        case 3:
            return byte ^ bits;
        case 4:
            return byte;
        default:
            return byte & ~bits;
    }
}

uint8_t CombineBits(uint8_t source, uint8_t dest, int mode) {
    switch (mode) {
        case 0:
        case 5:
            return dest | source;
        case 1:
            return dest & ~source;
        case 2:
            return source;
        case 3:
            return dest ^ source;
        case 4:
            return dest & source;
        default:
            return dest;
    }
}

qvPlaneBitMap* AllocPlane(int32_t width, int32_t height, int64_t bytesPerRow, uint8_t depth,
                          int clear) {
    size_t bytes;
    if (!ValidSides(width, height) || !BufferSize(bytesPerRow, height, &bytes)) return nullptr;
    auto record = AllocBlock<qvPlaneBitMap>(sizeof(qvPlaneBitMap), true);
    if (!record) return nullptr;
    uint8_t* plane = AllocPixels(bytes, clear != 0);
    if (plane == nullptr) return nullptr;
    *record = {width, height, int32_t(bytesPerRow), depth, 0, plane};
    return record.release();
}

void ReleaseOwnedPlane(qvPlaneBitMap* record) {
    if (record->owner != kPlaneWrapped) FreeMemBlock(record->plane);
    record->plane = nullptr;
}

void FreePlane(qvPlaneBitMap* record) {
    if (record == nullptr || record == &tempPlaneHeader) return;
    ReleaseOwnedPlane(record);
    FreeMemBlock(record);
}

qvPlaneBitMap* WrapBuffer(uint8_t* buffer, int32_t width, int32_t height, int32_t bytesPerRow) {
    auto* record = static_cast<qvPlaneBitMap*>(AllocMemBlock(sizeof(qvPlaneBitMap), 1));
    if (record != nullptr) *record = {width, height, bytesPerRow, 8, kPlaneWrapped, buffer};
    return record;
}

void Rewrap(qvPlaneBitMap* record, uint8_t* buffer, int32_t bytesPerRow, uint8_t depth) {
    if (record == nullptr || record == &tempPlaneHeader) return;
    ReleaseOwnedPlane(record);
    record->plane = buffer, record->bytesPerRow = bytesPerRow, record->depth = depth;
    record->owner = kPlaneWrapped;
}

template <typename Fn>
void ForEachAlphaWord(qvDisplayBitMap* bitmap, Fn&& fn) {
    VisitFormat(bitmap->format, [&](auto f) {
        if constexpr (f.bytes == 4) {
            for (int32_t y = 0; y < bitmap->height; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(BitMapPixel(bitmap, 0, y));
                for (int32_t x = 0; x < bitmap->width; ++x) {
                    row[x] = (row[x] & ~f.alphaMask) | f.AlphaBits(fn(x, y));
                }
            }
        }
    });
}

// Reads row y of the bitmap (count pixels) as ARGB with the alpha rule of ReadBitMapARGB.
void ReadRowARGB(const qvDisplayBitMap* bitmap, int32_t y, int32_t count, qvARGB* dest) {
    const uint8_t* source = BitMapPixel(bitmap, 0, y);
    DecodePixelsToARGB(source, bitmap->format, dest, count);
    bool pixelAlpha = bitmap->bytesPerPixel == 4 && bitmap->alphaInPixels;
    VisitFormat(bitmap->format, [&](auto f) {
        for (int32_t x = 0; x < count; ++x) {
            uint32_t alpha = 0xFF;
            if constexpr (f.bytes == 4) {
                if (pixelAlpha) alpha = f.Alpha(reinterpret_cast<const uint32_t*>(source)[x]);
            }
            dest[x] |= alpha << 24;
        }
    });
}

bool ScreenAttr(int id, uintptr_t* value) {
    switch (id) {
        case 12:
        case 13:
            *value = kDefaultPointerSize;
            return true;
        case 14:
            *value = uintptr_t(ScreenWidth());
            return true;
        case 15:
            *value = uintptr_t(ScreenHeight());
            return true;
        case 16:
            *value = frameLimit;
            return true;
        case 20:
            *value = ScreenOpen() ? 1 : 0;
            return true;
        case 23: {
            // The usable area as a record {x, y, width, height}, valid until the next query.
            static ScreenArea area;
            area = UsableScreenArea();
            *value = reinterpret_cast<uintptr_t>(&area);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

qvDisplayBitMap* AllocBitMapInFormat(int32_t width, int32_t height, uint32_t format,
                                     bool screenFriend, bool overwritten) {
    int bytes = BytesPerPixel(format);
    if (bytes == 0 || !ValidSides(width, height)) return nullptr;
    int32_t rowLength = ((width + 15) & ~15) + extraRowPadding;
    size_t size;
    if (!BufferSize(int64_t(rowLength) * bytes, height, &size)) return nullptr;
    auto record = AllocBlock<qvDisplayBitMap>(sizeof(qvDisplayBitMap), true);
    if (!record) return nullptr;
    uint8_t* pixels = overwritten && !poisonFill
                          ? AllocOverwrittenPixels(size, int64_t(width) * bytes,
                                                   int64_t(rowLength) * bytes, height)
                          : AllocPixels(size, false);
    if (pixels == nullptr) return nullptr;
    *record = {width, height, rowLength, format, bytes, screenFriend, false, pixels, 0};
    return record.release();
}

qvDisplayBitMap* DuplicateBitMap(const qvDisplayBitMap* source, bool screenFriend) {
    size_t size;
    if (!BufferSize(int64_t(source->rowLength) * source->bytesPerPixel, source->height, &size))
        return nullptr;
    auto record = AllocBlock<qvDisplayBitMap>(sizeof(qvDisplayBitMap), true);
    BlockPtr<uint8_t> pixels(AllocPixelBlock(size));
    if (!record || !pixels) return nullptr;
    std::memcpy(pixels.get(), source->pixels, size);
    *record = {source->width,  source->height,        source->rowLength,
               source->format, source->bytesPerPixel, screenFriend,
               false,          pixels.release(),      0};
    return record.release();
}

qvPlaneBitMap* DuplicatePlane(const qvPlaneBitMap* source) {
    size_t size;
    if (!BufferSize(source->bytesPerRow, source->height, &size)) return nullptr;
    auto record = AllocBlock<qvPlaneBitMap>(sizeof(qvPlaneBitMap), true);
    auto plane = AllocBlock<uint8_t>(size, false);
    if (!record || !plane) return nullptr;
    std::memcpy(plane.get(), source->plane, size);
    *record = {source->width,  source->height, source->bytesPerRow, source->depth, 0,
               plane.release()};
    return record.release();
}

bool ScreenFriendsVetoed() {
    return screenFriendVeto;
}

void SetScreenFriendVeto(bool veto) {
    screenFriendVeto = veto;
}

}  // namespace qv

qvDisplayBitMap* AllocDisplayBitMap(int32_t width, int32_t height) {
    return qv::AllocBitMapInFormat(width, height, qv::ScreenFormat(), false);
}

qvDisplayBitMap* AllocDisplayBitMapAlt(int32_t width, int32_t height) {
    return qv::AllocBitMapInFormat(width, height, qv::ScreenFormat(), true);
}

qvPlaneBitMap* AllocMaskBitMap(const qvDisplayBitMap* friendBitMap, int32_t width, int32_t height,
                               int clear) {
    int32_t bytesPerRow = qv::MaskBytesPerRow(width);
    if (friendBitMap != nullptr) {
        bytesPerRow = std::max(bytesPerRow, qv::MaskBytesPerRow(friendBitMap->width));
    }
    return qv::AllocPlane(width, height, bytesPerRow + 2 * int64_t(qv::extraRowPadding), 1, clear);
}

qvPlaneBitMap* AllocAlphaBitMap(int32_t width, int32_t height, int clear) {
    int64_t bytesPerRow = ((int64_t(width) + 3) & ~int64_t(3)) + 4 * int64_t(qv::extraRowPadding);
    return qv::AllocPlane(width, height, bytesPerRow, 8, clear);
}

void FreeDisplayBitMap(qvDisplayBitMap* bitmap) {
    if (bitmap == nullptr) return;
    FreeMemBlock(bitmap->pixels);
    FreeMemBlock(bitmap);
}

void FreePlaneBitMap(qvPlaneBitMap* plane) {
    qv::FreePlane(plane);
}

void FreePlaneBitMap2(qvPlaneBitMap* plane) {
    qv::FreePlane(plane);
}

qvPlaneBitMap* WrapChunkyBuffer(uint8_t* buffer, int32_t bytesPerRow) {
    return qv::WrapBuffer(buffer, bytesPerRow, 0, bytesPerRow);
}

qvPlaneBitMap* WrapChunkyBufferEx(uint8_t* buffer, int32_t width, int32_t height,
                                  int32_t bytesPerRow) {
    return qv::WrapBuffer(buffer, width, height, bytesPerRow);
}

void WrapMaskPlane(qvPlaneBitMap* record, uint8_t* buffer, int32_t bytesPerRow) {
    qv::Rewrap(record, buffer, bytesPerRow, 1);
}

void WrapAlphaPlane(qvPlaneBitMap* record, uint8_t* buffer, int32_t bytesPerRow) {
    qv::Rewrap(record, buffer, bytesPerRow, 8);
}

qvPlaneBitMap* SetupTempMaskBitMap(uint8_t* buffer, const qvDisplayBitMap* source, int32_t width,
                                   int32_t height) {
    int32_t bytesPerRow = qv::MaskBytesPerRow(source != nullptr ? source->rowLength : width);
    qv::tempPlaneHeader = {width, height, bytesPerRow, 1, kPlaneWrapped, buffer};
    return &qv::tempPlaneHeader;
}

qvPlaneBitMap* SetTempMaskPlane(uint8_t* buffer, int32_t bytesPerRow) {
    qvPlaneBitMap& header = qv::tempPlaneHeader;
    header.plane = buffer, header.bytesPerRow = bytesPerRow, header.width = bytesPerRow;
    header.depth = 8;
    return &header;
}

int LockBitMapRecord(qvDisplayBitMap* bitmap, qvBitMapLock* lock) {
    if (bitmap == nullptr || lock == nullptr || bitmap->format >= QV_FMT_COUNT) return 0;
    if (qv::lockFaultAt != 0 && ++qv::locksSinceArm == qv::lockFaultAt) return 0;
    *lock = {bitmap->pixels,    bitmap,        bitmap->format, bitmap->bytesPerPixel,
             bitmap->rowLength, bitmap->width, bitmap->height};
    ++bitmap->lockCount;
    ++qv::lockBalance;
    return 1;
}

void UnlockBitMapRecord(qvBitMapLock* lock) {
    if (lock == nullptr || lock->handle == nullptr) return;
    --lock->handle->lockCount;
    --qv::lockBalance;
    lock->handle = nullptr;
}

uintptr_t QueryBitMapAttr(const qvDisplayBitMap* bitmap, int id) {
    uintptr_t value = 0;
    if (qv::ScreenAttr(id, &value) || bitmap == nullptr) return value;
    switch (id) {
        case 0:
            return uintptr_t(bitmap->width);
        case 1:
        case 2:
            return uintptr_t(bitmap->rowLength) * bitmap->bytesPerPixel;
        case 3:
        case 4:
            return uintptr_t(bitmap->rowLength);
        case 11:
            return uintptr_t(qv::MaskBytesPerRow(bitmap->rowLength));
        case 18:
            return uintptr_t(bitmap->height);
        case 21:
            return uintptr_t(qv::BitsPerPixel(bitmap->format));
        case 25:
            return bitmap->screenFriend ? 1 : 0;
        case 26:
            return bitmap->alphaInPixels ? 1 : 0;
        default:
            return 0;
    }
}

uintptr_t QueryBitMapAttr(const qvPlaneBitMap* plane, int id) {
    uintptr_t value = 0;
    if (qv::ScreenAttr(id, &value) || plane == nullptr) return value;
    switch (id) {
        case 0:
            return uintptr_t(plane->width);
        case 1:
        case 2:
            return uintptr_t(plane->bytesPerRow);
        case 3:
        case 4:
            return reinterpret_cast<uintptr_t>(plane->plane);
        case 11:
            return uintptr_t(plane->depth == 1 ? plane->bytesPerRow
                                               : qv::MaskBytesPerRow(plane->bytesPerRow));
        case 18:
            return uintptr_t(plane->height);
        case 21:
            return plane->depth;
        default:
            return 0;
    }
}

uintptr_t QueryBitMapAttr(std::nullptr_t, int id) {
    uintptr_t value = 0;
    if (qv::ScreenAttr(id, &value)) return value;
    return id == 21 ? uintptr_t(qv::BitsPerPixel(qv::ScreenFormat())) : 0;
}

void SetRuntimeOption(qvDisplayBitMap* bitmap, int id, uintptr_t value) {
    if (id == 8) qv::SetCtrlCQuits(value != 0);
    if (id == 9) qv::SetLeftMouseQuits(value != 0);
    if (id == 10) qv::SetEscapeQuits(value != 0);
    if (id == 16) qv::frameLimit = uint32_t(value);
    if (id == 26 && bitmap != nullptr) bitmap->alphaInPixels = value != 0;
}

qvARGB* ReadBitMapARGB(const qvDisplayBitMap* bitmap, int32_t width, int32_t height) {
    size_t bytes;
    if (bitmap == nullptr || width < 0 || height < 0 ||
        !qv::BufferSize(int64_t(width) * sizeof(qvARGB), height, &bytes)) {
        return nullptr;
    }
    auto* pixels = static_cast<qvARGB*>(AllocMemBlock(bytes, 1));
    if (pixels == nullptr) return nullptr;
    int32_t columns = std::min(width, bitmap->width), rows = std::min(height, bitmap->height);
    for (int32_t y = 0; y < rows; ++y) {
        qv::ReadRowARGB(bitmap, y, columns, pixels + ptrdiff_t(y) * width);
    }
    return pixels;
}

uint32_t ReadBitMapPixel(const qvDisplayBitMap* bitmap, int32_t x, int32_t y) {
    if (bitmap == nullptr || !qv::InBitMap(bitmap, x, y)) return 0;
    qvARGB pixel;
    qv::DecodePixelsToARGB(qv::BitMapPixel(bitmap, x, y), bitmap->format, &pixel, 1);
    return pixel & 0xFFFFFF;
}

uint32_t ReadBitMapPixel(const qvPlaneBitMap* mask, int32_t x, int32_t y) {
    if (!qv::PlaneUsable(mask)) return 0;
    return qv::PlaneCoverage(mask, x, y) != 0 ? 1 : 0;
}

void PlotPixel(qvDisplayBitMap* bitmap, int32_t x, int32_t y, uint32_t rgb) {
    if (bitmap == nullptr || !qv::InBitMap(bitmap, x, y)) return;
    qv::StorePixel(qv::BitMapPixel(bitmap, x, y), bitmap->bytesPerPixel,
                   RGBToPixelFormat(rgb, bitmap->format));
}

void PlotPixel(qvPlaneBitMap* mask, int32_t x, int32_t y, int maskMode) {
    if (!qv::PlaneUsable(mask) || !qv::InPlane(mask, x, y)) return;
    uint8_t& byte = mask->plane[ptrdiff_t(y) * mask->bytesPerRow + (x >> 3)];
    byte = qv::ApplyMaskMode(byte, uint8_t(0x80 >> (x & 7)), maskMode);
}

void MergeAlphaIntoBitMap(qvDisplayBitMap* bitmap, const qvPlaneBitMap* mask,
                          const qvPlaneBitMap* alpha, int* maskMerged, int* alphaMerged) {
    const qvPlaneBitMap* plane = qv::PlaneUsable(mask)    ? mask
                                 : qv::PlaneUsable(alpha) ? alpha
                                                          : nullptr;
    bool merge = bitmap != nullptr && bitmap->bytesPerPixel == 4 && bitmap->screenFriend;
    if (maskMerged != nullptr) *maskMerged = merge && plane != nullptr && plane == mask;
    if (alphaMerged != nullptr) *alphaMerged = merge && plane != nullptr && plane == alpha;
    if (!merge) return;
    qv::ForEachAlphaWord(bitmap, [&](int32_t x, int32_t y) {
        return plane != nullptr ? qv::PlaneCoverage(plane, x, y) : 255u;
    });
}

void CopyWholeBitMap(const qvDisplayBitMap* source, qvDisplayBitMap* dest, int32_t width,
                     int32_t height) {
    if (source == nullptr || dest == nullptr) return;
    BltBitMap(source, 0, 0, dest, 0, 0, width, height);
}

void DrawBitMapLine(qvDisplayBitMap* bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                    uint32_t rgb) {
    if (bitmap == nullptr) return;
    uint32_t value = RGBToPixelFormat(rgb, bitmap->format);
    qv::WalkLine(x1, y1, x2, y2, bitmap->width, bitmap->height, [&](int64_t x, int64_t y) {
        qv::StorePixel(qv::BitMapPixel(bitmap, x, y), bitmap->bytesPerPixel, value);
    });
}

void BltBitMap(const qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
               int32_t dx, int32_t dy, int32_t width, int32_t height) {
    if (qv::ReportNullDest(dest, "ERROR! BLTBITMAP() CALLED WITH DST=NULL!") || source == nullptr) {
        return;
    }
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    if (!qv::ClipBlit(r, source->width, source->height, dest->width, dest->height)) return;
    qv::CopyRect(source, dest, r);
}

void BltBitMapTwice(const qvDisplayBitMap* source, qvDisplayBitMap* first, qvDisplayBitMap* second,
                    int32_t dx, int32_t dy, int32_t width, int32_t height) {
    if (!qv::CopiesInOnePass(source, first, second, dx, dy, width, height)) {
        BltBitMap(source, 0, 0, first, 0, 0, width, height);
        BltBitMap(first, 0, 0, second, dx, dy, width, height);
        return;
    }
    const int bytes = first->bytesPerPixel;
    for (int32_t j = 0; j < height; ++j) {
        qv::CopyRowTwice(qv::PixelAt(source->pixels, source->rowLength, bytes, 0, j),
                         qv::PixelAt(first->pixels, first->rowLength, bytes, 0, j),
                         qv::PixelAt(second->pixels, second->rowLength, bytes, dx, dy + j),
                         size_t(width) * bytes);
    }
}

void BltMask(const qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
             int32_t dx, int32_t dy, int32_t width, int32_t height, const qvPlaneBitMap* mask) {
    if (qv::ReportNullDest(dest, "ERROR! BLTMASK() CALLED WITH DST=NULL!\n") || source == nullptr ||
        !qv::PlaneUsable(mask)) {
        return;
    }
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    int64_t sourceWidth = std::min<int64_t>(source->width, qv::PlaneExtentX(mask));
    int64_t sourceHeight = std::min(source->height, mask->height);
    if (!qv::ClipBlit(r, sourceWidth, sourceHeight, dest->width, dest->height)) return;
    qv::MaskRect(source, dest, mask, r);
}

void BltTemplate(const qvPlaneBitMap* templatePlane, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                 int32_t dx, int32_t dy, int32_t width, int32_t height, uint32_t rgb) {
    if (qv::ReportNullDest(dest, "ERROR! BLTTEMPLATE() CALLED WITH DST=NULL!") ||
        !qv::PlaneUsable(templatePlane)) {
        return;
    }
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    if (!qv::ClipBlit(r, qv::PlaneExtentX(templatePlane), templatePlane->height, dest->width,
                      dest->height)) {
        return;
    }
    qvTemplateBlock block{templatePlane->plane,
                          dest->pixels,
                          int32_t(r.sx),
                          int32_t(r.sy),
                          int32_t(r.dx),
                          int32_t(r.dy),
                          int32_t(r.width),
                          int32_t(r.height),
                          templatePlane->bytesPerRow,
                          dest->rowLength,
                          RGBToPixelFormat(rgb, dest->format)};
    switch (dest->bytesPerPixel) {
        case 2:
            BltTemplatePixels16(block);
            break;
        case 3:
            BltTemplatePixels24(block);
            break;
        default:
            BltTemplatePixels32(block);
            break;
    }
}

void RectFill(qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
              uint32_t rgb) {
    if (qv::ReportNullDest(bitmap, "ERROR! RECTFILL() CALLED WITH DST=NULL!")) return;
    qv::BlitRect r{x, y, x, y, width, height};
    if (!qv::ClipRect(r, bitmap->width, bitmap->height)) return;
    uint32_t value = RGBToPixelFormat(rgb, bitmap->format);
    auto fill = bitmap->bytesPerPixel == 2   ? RectFillPixels16
                : bitmap->bytesPerPixel == 3 ? RectFillPixels24
                                             : RectFillPixels32;
    fill(bitmap->pixels, bitmap->rowLength, int32_t(r.dx), int32_t(r.dy), int32_t(r.width),
         int32_t(r.height), value);
}

void CombineMaskRect(const qvPlaneBitMap* source, int32_t sx, int32_t sy, qvPlaneBitMap* dest,
                     int32_t dx, int32_t dy, int32_t width, int32_t height, int mode) {
    if (!qv::PlaneUsable(source) || !qv::PlaneUsable(dest)) return;
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    if (!qv::ClipBlit(r, qv::PlaneExtentX(source), source->height, qv::PlaneExtentX(dest),
                      dest->height)) {
        return;
    }
    qv::ForEachMaskByte(dest, source, r, [mode](uint8_t& byte, uint8_t bits, uint8_t from) {
        byte = uint8_t((byte & ~bits) | (qv::CombineBits(from, byte, mode) & bits));
    });
}

void FillMaskRect(qvPlaneBitMap* mask, int32_t x, int32_t y, int32_t width, int32_t height,
                  int mode) {
    if (!qv::PlaneUsable(mask) || mode == 4) return;
    qv::BlitRect r{x, y, x, y, width, height};
    if (!qv::ClipRect(r, qv::PlaneExtentX(mask), mask->height)) return;
    qv::ForEachMaskByte(mask, nullptr, r, [mode](uint8_t& byte, uint8_t bits, uint8_t) {
        byte = qv::ApplyMaskMode(byte, bits, mode);
    });
}

uint32_t CompositingSupported(uint32_t flags) {
    return flags & qv::compositingGranted;
}

void NoOpComposite() {}

int CompositeScaleBlit(const qvDisplayBitMap*, qvDisplayBitMap*, int32_t, int32_t, int32_t, int32_t,
                       int, int) {
    if (!(qv::compositingGranted & qv::kCompositeScale)) return 0;
    ++qv::compositeCalls.scale;
    return qv::compositeBlitsSucceed ? 1 : 0;
}

int CompositeTransformBlit(const qvDisplayBitMap*, qvDisplayBitMap*, int32_t, int32_t,
                           const double*, int) {
    if (!(qv::compositingGranted & qv::kCompositeTransform)) return 0;
    ++qv::compositeCalls.transform;
    return qv::compositeBlitsSucceed ? 1 : 0;
}

namespace qv::platform::testing {

void SetExtraRowPadding(int32_t units) {
    extraRowPadding = units;
}

void SetPoisonFill(bool enabled) {
    poisonFill = enabled;
}

void InjectLockFault(uint64_t n) {
    lockFaultAt = n;
    locksSinceArm = 0;
}

int64_t LockBalance() {
    return lockBalance;
}

void ResetLockBalance() {
    lockBalance = 0;
}

void GrantCompositing(uint32_t granted, bool blitsSucceed) {
    compositingGranted = granted;
    compositeBlitsSucceed = blitsSucceed;
    compositeCalls = {};
}

CompositeCalls CompositeCallCounts() {
    return compositeCalls;
}

bool WriteBitMapPPM(const qvDisplayBitMap* bitmap, const std::string& path) {
    if (bitmap == nullptr) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) return false;
    std::fprintf(file.get(), "P6\n%d %d\n255\n", bitmap->width, bitmap->height);
    auto argb = AllocBlock<qvARGB>(size_t(bitmap->width) * sizeof(qvARGB) + 1, false);
    auto rgb = AllocBlock<uint8_t>(size_t(bitmap->width) * 3 + 1, false);
    if (!argb || !rgb) return false;
    for (int32_t y = 0; y < bitmap->height; ++y) {
        DecodePixelsToARGB(BitMapPixel(bitmap, 0, y), bitmap->format, argb.get(), bitmap->width);
        for (int32_t x = 0; x < bitmap->width; ++x) {
            rgb.get()[3 * x] = uint8_t(argb.get()[x] >> 16);
            rgb.get()[3 * x + 1] = uint8_t(argb.get()[x] >> 8);
            rgb.get()[3 * x + 2] = uint8_t(argb.get()[x]);
        }
        if (std::fwrite(rgb.get(), 3, size_t(bitmap->width), file.get()) != size_t(bitmap->width)) {
            return false;
        }
    }
    return true;
}

}  // namespace qv::platform::testing
