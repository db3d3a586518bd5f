// The colour front-ends: alpha blending, coverage painting, alpha-gated copies and the roll
// line copies.
#include "gfx/blit_frontends.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>

#include "gfx/clip.h"
#include "gfx/kernels/frontend_kernels.h"
#include "platform/linux/debug_output.h"

namespace qv::gfx {
namespace {

constexpr int64_t kUnbounded = std::numeric_limits<int32_t>::max() + int64_t(1);

// The pixels a rectangle may cover at one position.
struct Extent {
    int64_t width = kUnbounded, height = kUnbounded;

    Extent Meet(Extent other) const {
        return {std::min(width, other.width), std::min(height, other.height)};
    }
};

Extent Of(const qvBitMapLock& lock) {
    return {lock.width, lock.height};
}

// A plane that is not given does not limit the rectangle.
Extent Of(const qvPlaneBitMap* plane) {
    return plane != nullptr ? Extent{PlaneExtentX(plane), plane->height} : Extent{};
}

bool Clip(BlitRect& r, Extent source, Extent dest) {
    return ClipBlit(r, source.width, source.height, dest.width, dest.height);
}

template <typename Block>
using Kernel = void (*)(const Block&);

template <typename Block>
void ByDepth(int bytes, const Block& block, Kernel<Block> pixels16, Kernel<Block> pixels24,
             Kernel<Block> pixels32) {
    switch (bytes) {
        case 2:
            pixels16(block);
            break;
        case 3:
            pixels24(block);
            break;
        case 4:
            pixels32(block);
            break;
        default:
            break;
    }
}

struct BitMapDeleter {
    void operator()(qvDisplayBitMap* bitmap) const { FreeDisplayBitMap(bitmap); }
};

// The source pixels of a rectangle in the destination's format: the source's own when the
// formats agree, else a copy converted by the platform blit (alpha bytes 0). The copy keeps
// the rectangle's position within a byte of mask bits, so that the planes read beside it
// move by whole bytes (Plane, Wide). base is none when the copy cannot be made.
class SourcePixels {
public:
    // Only the positions: planes read where they are.
    explicit SourcePixels(const BlitRect& r) : x(int32_t(r.sx)), y(int32_t(r.sy)) {}
    SourcePixels(const qvBitMapLock& source, const BlitRect& r, uint32_t format) {
        if (source.format == format) {
            base = source.base, rowLength = source.rowLength;
            x = int32_t(r.sx), y = int32_t(r.sy);
            return;
        }
        x = int32_t(r.sx & 7), y = 0;
        originX_ = r.sx - x, originY_ = r.sy;
        const auto w = int32_t(x + r.width), h = int32_t(r.height);
        copy_.reset(AllocBitMapInFormat(w, h, format, false));
        if (!copy_) return;
        RectFill(copy_.get(), 0, 0, w, h, 0);
        BltBitMap(source.handle, int32_t(r.sx), int32_t(r.sy), copy_.get(), x, 0, int32_t(r.width),
                  h);
        base = copy_->pixels, rowLength = copy_->rowLength;
    }

    // A plane read at the source position, moved along with the pixels.
    const uint8_t* Plane(const qvPlaneBitMap* plane) const {
        if (plane == nullptr) return nullptr;
        return plane->plane + originY_ * plane->bytesPerRow +
               (plane->depth == 1 ? originX_ >> 3 : originX_);
    }
    const uint16_t* Wide(const uint16_t* buffer, int32_t rowLength) const {
        return buffer != nullptr ? buffer + originY_ * rowLength + originX_ : nullptr;
    }

    const void* base = nullptr;
    int32_t rowLength = 0, x = 0, y = 0;

private:
    int64_t originX_ = 0, originY_ = 0;
    std::unique_ptr<qvDisplayBitMap, BitMapDeleter> copy_;
};

struct AlphaGatedKernels {
    Kernel<qvAlphaBitmapBlock> pixels16, pixels24, pixels32;
};

// BltAlphaBitmap and CopyWhereAlpha: the source through the alpha plane read at the source
// position.
void AlphaGated(qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest, int32_t dx,
                int32_t dy, int32_t width, int32_t height, const qvPlaneBitMap* alpha,
                const AlphaGatedKernels& kernels) {
    if (!PlaneUsable(alpha)) return;
    ScopedBitMapLock sourceLock(source);
    if (!sourceLock) return;
    ScopedBitMapLock destLock(dest);
    if (!destLock) return;
    BlitRect r{sx, sy, dx, dy, width, height};
    if (!Clip(r, Of(*sourceLock).Meet(Of(alpha)), Of(*destLock))) return;
    SourcePixels pixels(*sourceLock, r, destLock->format);
    if (pixels.base == nullptr) return;
    const qvAlphaBitmapBlock block{
        pixels.base,      pixels.x,          pixels.y,      int32_t(r.sx),      int32_t(r.sy),
        pixels.rowLength, destLock->base,    int32_t(r.dx), int32_t(r.dy),      destLock->rowLength,
        int32_t(r.width), int32_t(r.height), alpha->plane,  alpha->bytesPerRow, destLock->format};
    ByDepth(destLock->bytesPerPixel, block, kernels.pixels16, kernels.pixels24, kernels.pixels32);
}

// The alpha-channel block's fields that come from the arguments.
struct CoverageCall {
    const qvPlaneBitMap* coverage;
    BlitRect r;
    uint32_t colour;
    int32_t mode;
    qvPlaneBitMap* second;
    uint32_t modeValue1;
    const uint16_t* modeValue2;
    int32_t modeValue3;
};

void PaintCoverage(CoverageCall c, qvDisplayBitMap* dest, qvDisplayBitMap* texture) {
    ScopedBitMapLock textureLock(texture);
    if (texture != nullptr && !textureLock) return;
    ScopedBitMapLock destLock(dest);
    if (!destLock) return;
    const bool secondUsed = c.mode == QV_COVERAGE_SECOND || c.mode == QV_COVERAGE_WIDE;
    qvPlaneBitMap* second = secondUsed && PlaneUsable(c.second) ? c.second : nullptr;
    Extent source = Of(c.coverage);
    if (texture != nullptr) source = source.Meet(Of(*textureLock));
    BlitRect& r = c.r;
    if (!Clip(r, source, Of(*destLock).Meet(Of(second)))) return;
    const SourcePixels at =
        texture != nullptr ? SourcePixels(*textureLock, r, destLock->format) : SourcePixels(r);
    if (texture != nullptr && at.base == nullptr) return;
    qvAlphaChannelBlock block{};
    block.sourceX = at.x, block.sourceY = at.y;
    block.destBase = destLock->base, block.destRowLength = destLock->rowLength;
    block.destX = int32_t(r.dx), block.destY = int32_t(r.dy);
    block.width = int32_t(r.width), block.height = int32_t(r.height);
    block.coverageBase = at.Plane(c.coverage);
    block.coverageBytesPerRow = c.coverage != nullptr ? c.coverage->bytesPerRow : 0;
    block.secondBase = second != nullptr ? second->plane : nullptr;
    block.secondBytesPerRow = second != nullptr ? second->bytesPerRow : 0;
    block.format = destLock->format;
    block.colour =
        destLock->bytesPerPixel == 3 ? c.colour : RGBToPixelFormat(c.colour, block.format);
    block.mode = c.mode;
    block.modeValue1 = c.modeValue1;
    block.modeValue2 = at.Wide(c.modeValue2, c.modeValue3);
    block.modeValue3 = c.modeValue3;
    block.textureBase = at.base;
    block.textureRowLength = at.rowLength;
    ByDepth(destLock->bytesPerPixel, block, BltAlphaChannelPixels16, BltAlphaChannelPixels24,
            BltAlphaChannelPixels32);
}

// A displacement of the roll: the line offset over (2 pi / period), truncated; 0 when it
// has no value, and far outside any bitmap when it is out of range.
int64_t RollDisplacement(double offset, double period) {
    double lines = offset * period / (2 * std::numbers::pi);
    if (std::isnan(lines)) return 0;
    return int64_t(std::clamp(lines, -double(kUnbounded), double(kUnbounded)));
}

// One roll: the locked bitmaps and the planes carried along (the mask wins).
class Roll {
public:
    Roll(const qvRollBlock& b, const qvBitMapLock& source, const qvBitMapLock& dest)
        : b_(b), source_(source), dest_(dest) {
        sourceMask_ = PlaneUsable(b.sourceMask) ? b.sourceMask : nullptr;
        sourceAlpha_ =
            sourceMask_ == nullptr && PlaneUsable(b.sourceAlpha) ? b.sourceAlpha : nullptr;
        destMask_ = sourceMask_ != nullptr && PlaneUsable(b.destMask) ? b.destMask : nullptr;
        destAlpha_ = sourceAlpha_ != nullptr && PlaneUsable(b.destAlpha) ? b.destAlpha : nullptr;
    }

    // Copies source line j to destination line `to`; false when no part of it lies inside.
    bool CopyLine(int64_t j, int64_t to) const {
        Extent from = Of(source_).Meet(Of(sourceMask_)).Meet(Of(sourceAlpha_));
        Extent into = Of(dest_).Meet(Of(destMask_)).Meet(Of(destAlpha_));
        BlitRect r = b_.horizontal != 0 ? BlitRect{j, 0, to, 0, 1, from.height}
                                        : BlitRect{0, j, 0, to, from.width, 1};
        if (!Clip(r, from, into)) return false;
        SourcePixels pixels(source_, r, dest_.format);
        if (pixels.base == nullptr) return false;
        const qvRectMaskedBlock block{pixels.base,
                                      pixels.x,
                                      pixels.y,
                                      pixels.rowLength,
                                      dest_.base,
                                      int32_t(r.dx),
                                      int32_t(r.dy),
                                      dest_.rowLength,
                                      int32_t(r.width),
                                      int32_t(r.height),
                                      pixels.Plane(sourceMask_),
                                      BytesPerRow(sourceMask_),
                                      destMask_ != nullptr ? destMask_->plane : nullptr,
                                      BytesPerRow(destMask_),
                                      pixels.Plane(sourceAlpha_),
                                      BytesPerRow(sourceAlpha_),
                                      destAlpha_ != nullptr ? destAlpha_->plane : nullptr,
                                      BytesPerRow(destAlpha_)};
        ByDepth(dest_.bytesPerPixel, block, CopyRectMaskedPixels16, CopyRectMaskedPixels24,
                CopyRectMaskedPixels32);
        return true;
    }

private:
    static int32_t BytesPerRow(const qvPlaneBitMap* plane) {
        return plane != nullptr ? plane->bytesPerRow : 0;
    }

    const qvRollBlock& b_;
    const qvBitMapLock& source_;
    const qvBitMapLock& dest_;
    const qvPlaneBitMap* sourceMask_;
    const qvPlaneBitMap* sourceAlpha_;
    qvPlaneBitMap* destMask_;
    qvPlaneBitMap* destAlpha_;
};

}  // namespace

void CopyWhereAlpha(qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                    int32_t dx, int32_t dy, int32_t width, int32_t height,
                    const qvPlaneBitMap* alpha) {
    AlphaGated(source, sx, sy, dest, dx, dy, width, height, alpha,
               {CopyWhereAlphaPixels16, CopyWhereAlphaPixels24, CopyWhereAlphaPixels32});
}

}  // namespace qv::gfx

void BltAlphaBitmap(qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                    int32_t dx, int32_t dy, int32_t width, int32_t height,
                    const qvPlaneBitMap* alpha) {
    if (dest == nullptr) {
        qv::WriteDebugPlain("ERROR! BLTALPHABITMAP() CALLED WITH DST=NULL!\n");
        return;
    }
    qv::gfx::AlphaGated(source, sx, sy, dest, dx, dy, width, height, alpha,
                        {BltAlphaBitmapPixels16, BltAlphaBitmapPixels24, BltAlphaBitmapPixels32});
}

void BltAlphaChannel(const qvPlaneBitMap* coverage, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
                     int32_t dx, int32_t dy, int32_t width, int32_t height, uint32_t colour,
                     int32_t mode, qvPlaneBitMap* second, uint32_t modeValue1,
                     const uint16_t* modeValue2, int32_t modeValue3, qvDisplayBitMap* texture) {
    if (dest == nullptr) {
        qv::WriteDebugPlain("ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n");
        return;
    }
    if (CompositingSupported(qv::kCompositeAlphaChannel) != 0 && mode == QV_COVERAGE_BLEND &&
        second == nullptr && modeValue2 == nullptr && texture == nullptr) {
        NoOpComposite();
        return;
    }
    // Mode 3 reads the 16-bit buffer (the caller's, unbounded here); others the plane.
    const bool wide = mode == QV_COVERAGE_WIDE;
    if (wide ? modeValue2 == nullptr : !qv::PlaneUsable(coverage)) return;
    qv::gfx::PaintCoverage({qv::PlaneUsable(coverage) ? coverage : nullptr,
                            {sx, sy, dx, dy, width, height},
                            colour,
                            mode,
                            second,
                            modeValue1,
                            wide ? modeValue2 : nullptr,
                            modeValue3},
                           dest, texture);
}

void BltAlphaChannelClipped(const qvPlaneBitMap* coverage, int32_t sx, int32_t sy,
                            qvDisplayBitMap* dest, int32_t dx, int32_t dy, int32_t width,
                            int32_t height, int32_t coverageWidth, int32_t coverageHeight,
                            int32_t destWidth, int32_t destHeight, uint32_t colour, int32_t mode,
                            qvPlaneBitMap* second, uint32_t modeValue1, const uint16_t* modeValue2,
                            int32_t modeValue3, qvDisplayBitMap* texture) {
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    if (!qv::ClipBlit(r, coverageWidth, coverageHeight, destWidth, destHeight)) return;
    BltAlphaChannel(coverage, int32_t(r.sx), int32_t(r.sy), dest, int32_t(r.dx), int32_t(r.dy),
                    int32_t(r.width), int32_t(r.height), colour, mode, second, modeValue1,
                    modeValue2, modeValue3, texture);
}

int32_t RollCopyLines(qvRollBlock* block) {
    qvRollBlock& b = *block;
    b.linesDrawn = 0;
    b.firstLine = -100000;
    b.endPosition = qv::Saturate32(int64_t(b.position) + b.lineCount);
    if (b.lineOffsets == nullptr || b.lineCount < 1) return 0;
    qv::ScopedBitMapLock sourceLock(b.source);
    if (!sourceLock) return 0;
    qv::ScopedBitMapLock destLock(b.dest);
    if (!destLock) return 0;
    const qv::gfx::Roll roll(b, *sourceLock, *destLock);
    for (int32_t j = 0; j < b.lineCount; ++j) {
        int64_t to =
            int64_t(b.position) + j + qv::gfx::RollDisplacement(b.lineOffsets[j], b.period);
        if (!roll.CopyLine(j, to)) continue;
        if (b.linesDrawn++ == 0) b.firstLine = int32_t(to);
    }
    return b.linesDrawn;
}
