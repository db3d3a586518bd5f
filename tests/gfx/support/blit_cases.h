// Random SafeBlt cases for the property test and the fuzz target: one generator fed by a
// random engine or by the fuzzer's bytes, the guarded world a case draws in, and a naive
// reference of the paths without sprites (intersect, then go pixel by pixel).
// Header-only and free of GoogleTest.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gfx/graphics_state.h"
#include "gfx/safe_blt.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/window.h"
#include "tests/gfx/support/fake_blit_host.h"
#include "tests/gfx/support/guarded_bitmap.h"

namespace qv::test {

struct BlitCase {
    uint32_t format;  // of every bitmap of the case
    int32_t sourceWidth, sourceHeight;
    // The destination, both back buffers, the window and the target's planes.
    int32_t displayWidth, displayHeight;
    int32_t sx, sy, dx, dy, width, height;
    int32_t argSourceWidth, argSourceHeight, argDestWidth, argDestHeight;
    uint32_t flags;
    bool destGiven, hasMask, hasAlpha;
    int regionKind;  // 0 none, 1 a box, 2 shaped by a mask
    int32_t regionX, regionY, regionWidth, regionHeight, regionMaskWidth, regionMaskHeight;
    bool displayOpen, layers, targetMask, targetAlpha;
    int32_t outputType, maskMode, intensity;
    bool alphaCombine;
    uint32_t contentSeed;

    // The usable sizes passed lie within the bitmaps, as callers promise.
    bool WithinBounds() const {
        return argSourceWidth <= sourceWidth && argSourceHeight <= sourceHeight &&
               argDestWidth <= displayWidth && argDestHeight <= displayHeight;
    }
};

// pick(n) returns a number in [0, n).
template <typename Pick>
BlitCase MakeBlitCase(Pick&& pick) {
    auto any = [&](int32_t low, int32_t high) {
        return low + int32_t(pick(uint32_t(high - low + 1)));
    };
    auto rare = [&] { return pick(8) == 0; };
    // Mostly inside, sometimes at or past an edge.
    auto position = [&](int32_t size) { return rare() ? any(-6, size + 4) : any(0, size - 1); };
    auto extent = [&](int32_t limit) { return rare() ? any(-2, 0) : any(1, limit); };
    auto usable = [&](int32_t size) {
        return rare() ? any(0, size + 8) : pick(8) != 0 ? size : any(1, size);
    };
    BlitCase c{};
    c.format = pick(QV_FMT_COUNT);
    c.sourceWidth = any(1, 20), c.sourceHeight = any(1, 12);
    c.displayWidth = any(1, 20), c.displayHeight = any(1, 12);
    c.sx = position(c.sourceWidth), c.sy = position(c.sourceHeight);
    c.dx = position(c.displayWidth), c.dy = position(c.displayHeight);
    c.width = extent(24), c.height = extent(16);
    c.argSourceWidth = usable(c.sourceWidth), c.argSourceHeight = usable(c.sourceHeight);
    c.argDestWidth = usable(c.displayWidth), c.argDestHeight = usable(c.displayHeight);
    c.flags = pick(128);
    c.destGiven = pick(3) != 0, c.hasMask = pick(3) == 0, c.hasAlpha = pick(2) == 0;
    c.regionKind = int(pick(3));
    c.regionX = position(c.displayWidth), c.regionY = position(c.displayHeight);
    c.regionWidth = extent(c.displayWidth + 8), c.regionHeight = extent(c.displayHeight + 8);
    c.regionMaskWidth = any(1, std::max(c.regionWidth, 1) + 4);
    c.regionMaskHeight = any(1, std::max(c.regionHeight, 1) + 4);
    c.displayOpen = pick(6) != 0, c.layers = pick(2) == 0;
    c.targetMask = pick(2) == 0, c.targetAlpha = pick(2) == 0;
    c.outputType = pick(3) == 0 ? qv::gfx::kTargetBrush : qv::gfx::kTargetDisplay;
    c.maskMode = any(0, 6);
    c.intensity = pick(4) == 0 ? -1 : pick(3) == 0 ? 255 : any(0, 255);
    c.alphaCombine = pick(2) == 0;
    c.contentSeed = pick(1u << 16);
    return c;
}

// Every buffer of one case, filled from the case's seed.
class BlitWorld {
public:
    explicit BlitWorld(const BlitCase& c)
        : source(c.sourceWidth, c.sourceHeight, c.format),
          dest(c.displayWidth, c.displayHeight, c.format),
          back0(c.displayWidth, c.displayHeight, c.format),
          back1(c.displayWidth, c.displayHeight, c.format),
          framebuffer(c.displayWidth, c.displayHeight, c.format),
          mask(c.sourceWidth, c.sourceHeight, 1),
          alpha(c.sourceWidth, c.sourceHeight, 8),
          regionMask(c.regionMaskWidth, c.regionMaskHeight, 1),
          targetMask(c.displayWidth, c.displayHeight, 1),
          targetAlpha(c.displayWidth, c.displayHeight, 8) {
        std::mt19937 random(c.contentSeed);
        for (GuardedRows* rows : AllRows()) rows->Randomise(random);
        // Alpha planes hold many 0 and 255 bytes, as pictures do.
        for (GuardedPlane* plane : {&alpha, &targetAlpha}) {
            for (int32_t y = 0; y < plane->get()->height; ++y) {
                for (int32_t x = 0; x < plane->get()->width; ++x) {
                    uint8_t& a = plane->Byte(x, y);
                    a = a % 4 == 0 ? 0 : a % 4 == 1 ? 255 : a;
                }
            }
        }
        region = {{},
                  c.regionX,
                  c.regionY,
                  c.regionWidth,
                  c.regionHeight,
                  c.regionKind == 2 ? regionMask.get() : nullptr,
                  regionMask.get()->bytesPerRow,
                  0};
        window.framebuffer = framebuffer.get();
    }

    std::vector<GuardedRows*> AllRows() {
        return {&source.rows(),      &dest.rows(),       &back0.rows(), &back1.rows(),
                &framebuffer.rows(), &mask.rows(),       &alpha.rows(), &regionMask.rows(),
                &targetMask.rows(),  &targetAlpha.rows()};
    }

    GuardedBitMap source, dest, back0, back1, framebuffer;
    GuardedPlane mask, alpha, regionMask, targetMask, targetAlpha;
    qvClipRegion region;
    qvPlatformDisplay window{};
};

inline void RunSafeBlt(const BlitCase& c, BlitWorld& w) {
    FakeBlitHost host;
    host.view = {c.outputType,
                 c.layers,
                 c.targetMask ? w.targetMask.get() : nullptr,
                 c.targetAlpha ? w.targetAlpha.get() : nullptr,
                 {w.back0.get(), w.back1.get()},
                 false,
                 0,
                 false,
                 0,
                 0,
                 c.displayWidth,
                 c.displayHeight,
                 &w.window,
                 0,
                 0,
                 false};
    host.SetDisplayOpen(c.displayOpen);
    qv::gfx::GraphicsState& state = qv::gfx::Graphics();
    state.maskMode = c.maskMode, state.alphaIntensity = c.intensity;
    state.alphaCombine = c.alphaCombine;
    qv::DebugCapture quiet;
    SafeBlt(nullptr, w.source.get(), c.sx, c.sy, c.destGiven ? w.dest.get() : nullptr, c.dx, c.dy,
            c.width, c.height, c.argSourceWidth, c.argSourceHeight, c.argDestWidth, c.argDestHeight,
            c.flags, c.hasMask ? w.mask.get() : nullptr, c.hasAlpha ? w.alpha.get() : nullptr,
            c.regionKind != 0 ? &w.region : nullptr);
}

// The naive reference of SafeBlt without sprites, for cases within bounds.
class ReferenceBlit {
public:
    ReferenceBlit(const BlitCase& c, BlitWorld& w) : c_(c), w_(w) {}

    void Run() {
        const bool pseudo = !c_.displayOpen;
        if (pseudo && !(c_.destGiven && (c_.flags & QV_BLIT_OFFSCREEN))) return;
        if (c_.sx < 0 || c_.sy < 0) return;
        type_ = pseudo ? qv::gfx::kTargetBrush : c_.outputType;
        layers_ = !pseudo && c_.layers;
        targetMask_ = !pseudo && c_.targetMask ? &w_.targetMask : nullptr;
        targetAlpha_ = !pseudo && c_.targetAlpha ? &w_.targetAlpha : nullptr;
        target_ = c_.destGiven ? &w_.dest : nullptr;
        GuardedBitMap* refresh = nullptr;
        if (target_ == nullptr && type_ == qv::gfx::kTargetDisplay) {
            if ((Has(QV_BLIT_BACKBUFFER) && !layers_) || Has(QV_BLIT_FIRSTBUFFER)) {
                target_ = &w_.back0;
                if (!Has(QV_BLIT_NOREFRESH)) refresh = &w_.back0;
            } else if (layers_ && Has(QV_BLIT_RECOMPOSE)) {
                ForEachPixel([&](int32_t, int32_t, int32_t x, int32_t y) {
                    WriteRGB(w_.back1, x, y, kRedrawPictureColour);
                    Copy(w_.back1, x, y, w_.framebuffer, x, y);
                });
                return;
            }
        }
        maskMode_ = target_ != nullptr ? 2 : c_.maskMode;
        alphaValue_ = target_ != nullptr || c_.intensity == -1 ? 255 : c_.intensity;
        ForEachPixel(
            [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) { Pixel(sx, sy, dx, dy); });
        if (refresh != nullptr) {
            ForEachPixel([&](int32_t, int32_t, int32_t x, int32_t y) {
                Copy(*refresh, x, y, w_.framebuffer, x, y);
            });
        }
    }

private:
    bool Has(uint32_t flag) const { return (c_.flags & flag) != 0; }

    // Pixel i, j of the call is drawn when its destination lies in the destination size
    // (and in the region's rectangle) and its source in the source size.
    template <typename Fn>
    void ForEachPixel(Fn&& fn) {
        const bool region = c_.regionKind != 0 && !Has(QV_BLIT_NOREGION);
        for (int32_t j = 0; j < c_.height; ++j) {
            for (int32_t i = 0; i < c_.width; ++i) {
                int32_t sx = c_.sx + i, sy = c_.sy + j, dx = c_.dx + i, dy = c_.dy + j;
                bool inside = sx < c_.argSourceWidth && sy < c_.argSourceHeight && dx >= 0 &&
                              dy >= 0 && dx < c_.argDestWidth && dy < c_.argDestHeight;
                if (region) {
                    inside = inside && dx >= c_.regionX && dy >= c_.regionY &&
                             dx < int64_t(c_.regionX) + c_.regionWidth &&
                             dy < int64_t(c_.regionY) + c_.regionHeight;
                }
                if (inside) fn(sx, sy, dx, dy);
            }
        }
    }

    // The region's shape bit over a destination pixel; bits outside its memory are clear.
    bool RegionBit(int32_t dx, int32_t dy) {
        int32_t x = dx - c_.regionX, y = dy - c_.regionY;
        const qvPlaneBitMap* m = w_.regionMask.get();
        return x >= 0 && y >= 0 && x < m->bytesPerRow * 8 && y < m->height &&
               w_.regionMask.Bit(x, y);
    }

    void Pixel(int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
        const bool shaped = c_.regionKind == 2 && !Has(QV_BLIT_NOREGION);
        if (c_.hasMask || (!c_.hasAlpha && shaped)) {
            bool bit = (!c_.hasMask || w_.mask.Bit(sx, sy)) && (!shaped || RegionBit(dx, dy));
            Masked(sx, sy, dx, dy, bit);
        } else if (c_.hasAlpha) {
            uint8_t a = !shaped || RegionBit(dx, dy) ? w_.alpha.Byte(sx, sy) : 0;
            Alpha(sx, sy, dx, dy, a);
        } else {
            Plain(sx, sy, dx, dy);
        }
    }

    void Masked(int32_t sx, int32_t sy, int32_t dx, int32_t dy, bool bit) {
        if (target_ != nullptr && bit) Copy(w_.source, sx, sy, *target_, dx, dy);
        if (Has(QV_BLIT_OFFSCREEN)) return;
        if (targetMask_ != nullptr) {
            bool d = targetMask_->Bit(dx, dy);
            switch (maskMode_) {
                case 0:
                case 5:
                    d = d || bit;
                    break;
                case 1:
                    d = d && !bit;
                    break;
                case 2:
                    d = bit;
                    break;
                case 3:
                    d = d != bit;
                    break;
                case 4:
                    d = d && bit;
                    break;
            }
            targetMask_->SetBit(dx, dy, d);
        }
        if (targetAlpha_ != nullptr && bit) targetAlpha_->Byte(dx, dy) = uint8_t(alphaValue_);
    }

    void Alpha(int32_t sx, int32_t sy, int32_t dx, int32_t dy, uint8_t a) {
        if (target_ != nullptr) {
            if (targetAlpha_ == nullptr) {
                Blend(sx, sy, dx, dy, a);
            } else if (!c_.alphaCombine || a != 0) {
                Copy(w_.source, sx, sy, *target_, dx, dy);
            }
        }
        if (Has(QV_BLIT_OFFSCREEN)) return;
        if (targetMask_ != nullptr) {
            bool opaque = a == 255;
            bool d = targetMask_->Bit(dx, dy);
            if (maskMode_ == 0 || maskMode_ == 2) d = opaque;
            if (maskMode_ == 1) d = !opaque;
            if (maskMode_ == 3 && opaque) d = !d;
            if (maskMode_ == 5 && opaque) d = true;
            targetMask_->SetBit(dx, dy, d);
        }
        if (targetAlpha_ != nullptr) {
            uint8_t& d = targetAlpha_->Byte(dx, dy);
            if (target_ == nullptr && c_.intensity != -1) {
                if (a != 0) d = uint8_t(alphaValue_);
            } else if (c_.alphaCombine) {
                if (a != 0) d = a;
            } else {
                d = a;
            }
        }
    }

    void Plain(int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
        if (target_ != nullptr) {
            Copy(w_.source, sx, sy, *target_, dx, dy);
        } else if (type_ == qv::gfx::kTargetDisplay) {
            Copy(w_.source, sx, sy, w_.framebuffer, dx, dy);
        }
        if (Has(QV_BLIT_OFFSCREEN)) return;
        if (targetMask_ != nullptr) {
            bool d = targetMask_->Bit(dx, dy);
            if (maskMode_ == 0 || maskMode_ == 2 || maskMode_ == 5) {
                d = true;
            } else if (maskMode_ == 3) {
                d = !d;
            } else if (maskMode_ != 4) {
                d = false;
            }
            targetMask_->SetBit(dx, dy, d);
        }
        if (targetAlpha_ != nullptr) targetAlpha_->Byte(dx, dy) = uint8_t(alphaValue_);
    }

    void Copy(GuardedBitMap& from, int32_t sx, int32_t sy, GuardedBitMap& to, int32_t dx,
              int32_t dy) {
        std::memcpy(to.at(dx, dy), from.at(sx, sy), size_t(BytesPerPixel(c_.format)));
    }

    void WriteRGB(GuardedBitMap& to, int32_t x, int32_t y, uint32_t rgb) {
        const uint8_t channels[3] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
        WritePixelRGB(to.at(x, y), c_.format, channels);
    }

    // Each channel d + ((s - d) x a >> 8) as the format reads it; alpha 255 copies.
    void Blend(int32_t sx, int32_t sy, int32_t dx, int32_t dy, uint8_t a) {
        if (a == 0) return;
        if (a == 255) {
            Copy(w_.source, sx, sy, *target_, dx, dy);
            return;
        }
        uint8_t s[3], d[3];
        ReadPixelRGB(w_.source.at(sx, sy), c_.format, s);
        ReadPixelRGB(target_->at(dx, dy), c_.format, d);
        for (int k = 0; k < 3; ++k) d[k] = uint8_t(d[k] + ((s[k] - d[k]) * a >> 8));
        WritePixelRGB(target_->at(dx, dy), c_.format, d);
    }

    const BlitCase& c_;
    BlitWorld& w_;
    int32_t type_ = 0;
    bool layers_ = false;
    GuardedPlane* targetMask_ = nullptr;
    GuardedPlane* targetAlpha_ = nullptr;
    GuardedBitMap* target_ = nullptr;
    int32_t maskMode_ = 0, alphaValue_ = 255;
};

// Runs the case and checks it; an empty text when it holds, else what went wrong. Nothing
// may be written outside any buffer (nor into the row padding of the colour bitmaps); within
// bounds every buffer must equal the reference's.
inline std::string CheckBlitCase(const BlitCase& c) {
    qv::gfx::Graphics().CreatePseudoDisplay();
    BlitWorld actual(c), expected(c);
    RunSafeBlt(c, actual);
    const auto rows = actual.AllRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i]->GuardsIntact()) return "write outside buffer " + std::to_string(i);
    }
    for (GuardedBitMap* b : {&actual.dest, &actual.back0, &actual.back1, &actual.framebuffer}) {
        if (!b->rows().PaddingIntact()) return "write into the row padding of a bitmap";
    }
    if (!c.WithinBounds()) return "";
    ReferenceBlit(c, expected).Run();
    const auto wanted = expected.AllRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i]->bytes() != wanted[i]->bytes())
            return "buffer " + std::to_string(i) + " differs";
    }
    return "";
}

}  // namespace qv::test
