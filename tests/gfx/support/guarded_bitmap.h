// Bitmaps and planes whose memory is guarded by canary bytes: before and after the buffer
// and in the padding at the end of every row. Their records point into memory the test
// owns (planes carry the wrapped-buffer owner mark), so freeing is the test's business.
// Header-only and free of GoogleTest, so that the fuzz targets use them too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/linux/bitmap.h"

namespace qv::test {

inline constexpr uint8_t kGuardByte = 0xC3;
inline constexpr size_t kGuardBytes = 32;

// Bytes of rows with a used part and a padded tail, guarded before and after.
class GuardedRows {
public:
    GuardedRows(const GuardedRows&) = delete;
    GuardedRows& operator=(const GuardedRows&) = delete;
    GuardedRows(size_t rowBytes, size_t usedBytes, int32_t rows)
        : rowBytes_(rowBytes),
          usedBytes_(usedBytes),
          rows_(rows),
          bytes_(2 * kGuardBytes + rowBytes * size_t(rows), kGuardByte) {}

    uint8_t* base() { return bytes_.data() + kGuardBytes; }
    uint8_t* row(int32_t y) { return base() + size_t(y) * rowBytes_; }

    // Fills the used part of every row with random bytes.
    void Randomise(std::mt19937& random) {
        for (int32_t y = 0; y < rows_; ++y) {
            for (size_t i = 0; i < usedBytes_; ++i) row(y)[i] = uint8_t(random());
        }
    }
    // The guards before and after the buffer are untouched.
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuardBytes; ++i) {
            if (bytes_[i] != kGuardByte || bytes_[bytes_.size() - 1 - i] != kGuardByte)
                return false;
        }
        return true;
    }
    // So is the padding after the used part of every row.
    bool PaddingIntact() const {
        for (int32_t y = 0; y < rows_; ++y) {
            const uint8_t* r = bytes_.data() + kGuardBytes + size_t(y) * rowBytes_;
            for (size_t i = usedBytes_; i < rowBytes_; ++i) {
                if (r[i] != kGuardByte) return false;
            }
        }
        return true;
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Takes the bytes of rows of the same layout (the buffer stays where it is).
    void CopyFrom(const GuardedRows& other) {
        std::copy(other.bytes_.begin(), other.bytes_.end(), bytes_.begin());
    }

private:
    size_t rowBytes_, usedBytes_;
    int32_t rows_;
    std::vector<uint8_t> bytes_;
};

class GuardedBitMap {
public:
    // Rows hold padding more pixels than the width.
    GuardedBitMap(int32_t width, int32_t height, uint32_t format, int32_t padding = 3)
        : rows_(size_t(width + padding) * BytesPerPixel(format),
                size_t(width) * BytesPerPixel(format), height) {
        record_ = {width, height, width + padding, format, BytesPerPixel(format),
                   false, false,  rows_.base(),    0};
    }
    GuardedBitMap(const GuardedBitMap&) = delete;
    GuardedBitMap& operator=(const GuardedBitMap&) = delete;

    qvDisplayBitMap* get() { return &record_; }
    uint8_t* at(int32_t x, int32_t y) { return rows_.row(y) + size_t(x) * record_.bytesPerPixel; }
    GuardedRows& rows() { return rows_; }
    const GuardedRows& rows() const { return rows_; }

private:
    GuardedRows rows_;
    qvDisplayBitMap record_;
};

class GuardedPlane {
public:
    // A mask (depth 1) or an 8-bit plane of the size, with padding bytes more per row.
    GuardedPlane(int32_t width, int32_t height, uint8_t depth, int32_t padding = 2)
        : rows_(Used(width, depth) + size_t(padding), Used(width, depth), height) {
        record_ = {width, height,        int32_t(Used(width, depth)) + padding,
                   depth, kPlaneWrapped, rows_.base()};
    }
    GuardedPlane(const GuardedPlane&) = delete;
    GuardedPlane& operator=(const GuardedPlane&) = delete;

    qvPlaneBitMap* get() { return &record_; }
    bool Bit(int32_t x, int32_t y) { return (rows_.row(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }
    void SetBit(int32_t x, int32_t y, bool on) {
        uint8_t& byte = rows_.row(y)[x >> 3];
        byte = on ? uint8_t(byte | (0x80 >> (x & 7))) : uint8_t(byte & ~(0x80 >> (x & 7)));
    }
    uint8_t& Byte(int32_t x, int32_t y) { return rows_.row(y)[x]; }
    GuardedRows& rows() { return rows_; }
    const GuardedRows& rows() const { return rows_; }

private:
    static size_t Used(int32_t width, uint8_t depth) {
        return depth == 1 ? size_t(width + 7) / 8 : size_t(width);
    }

    GuardedRows rows_;
    qvPlaneBitMap record_;
};

}  // namespace qv::test
