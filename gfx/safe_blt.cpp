#include "gfx/safe_blt.h"

#include <algorithm>

#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/graphics_state.h"
#include "gfx/kernels/frontend_kernels.h"
#include "platform/linux/debug_output.h"

namespace qv::gfx {
namespace {

// The arguments of one SafeBlt, its rectangle in 64 bits.
struct Call {
    qvVmState* L;
    qvDisplayBitMap* source;
    BlitRect r;
    qvDisplayBitMap* dest;
    int32_t sourceWidth, sourceHeight, destWidth, destHeight;
    uint32_t flags;
    const qvPlaneBitMap* mask;
    const qvPlaneBitMap* alpha;
    const qvClipRegion* region;

    bool Has(uint32_t flag) const { return (flags & flag) != 0; }
};

// Coordinates of a clipped rectangle fit 32 bits.
int32_t Narrow(int64_t v) {
    return int32_t(v);
}

// Step 2. The destination rectangle is cut to the destination size also when a region
// is used: a region at a negative position or larger than the destination (back buffers
// and brushes are not checked against it) must not draw outside.
bool ClipToTarget(BlitRect& r, const qvClipRegion* region, bool useRegion, int64_t sourceWidth,
                  int64_t sourceHeight, int64_t destWidth, int64_t destHeight) {
    if (r.sx < 0 || r.sy < 0) return false;
    int64_t left = 0, top = 0, right = destWidth, bottom = destHeight;
    if (useRegion && region != nullptr) {
        left = std::max<int64_t>(region->x, 0);
        top = std::max<int64_t>(region->y, 0);
        right = std::min(int64_t(region->x) + region->width, destWidth);
        bottom = std::min(int64_t(region->y) + region->height, destHeight);
    }
    if (r.dx < left) r.sx += left - r.dx, r.width -= left - r.dx, r.dx = left;
    if (r.dy < top) r.sy += top - r.dy, r.height -= top - r.dy, r.dy = top;
    r.width = std::min({r.width, sourceWidth - r.sx, right - r.dx});
    r.height = std::min({r.height, sourceHeight - r.sy, bottom - r.dy});
    return r.width > 0 && r.height > 0;
}

bool Overlaps(const SpriteInstance& s, const BlitRect& r) {
    return int64_t(s.x) <= r.dx + r.width - 1 && r.dx <= int64_t(s.x) + s.width - 1 &&
           int64_t(s.y) <= r.dy + r.height - 1 && r.dy <= int64_t(s.y) + s.height - 1;
}

// Step 3: a rectangle under a sprite is composed in the second back buffer (picture, the
// source, then the sprites over it) and copied from there. False when no sprite is touched
// or the display lacks the back buffers to compose in.
bool DrawUnderSprites(const Call& c, qvDisplay* display, const DisplayView& view) {
    BlitHost& host = Graphics().Host();
    OutputPicture picture = host.CurrentOutputPicture();
    if (std::none_of(picture.sprites.begin(), picture.sprites.end(),
                     [&](const SpriteInstance& s) { return Overlaps(s, c.r); })) {
        return false;
    }
    qvDisplayBitMap* first = view.backBuffers[0];
    qvDisplayBitMap* second = view.backBuffers[1];
    if (second == nullptr || (c.Has(QV_BLIT_BACKBUFFER) && first == nullptr)) return false;
    const int32_t sx = Narrow(c.r.sx), sy = Narrow(c.r.sy), dx = Narrow(c.r.dx),
                  dy = Narrow(c.r.dy);
    const int32_t w = Narrow(c.r.width), h = Narrow(c.r.height);
    const int32_t pw = view.pictureWidth, ph = view.pictureHeight;
    auto blitSource = [&](qvDisplayBitMap* into) {
        SafeBlt(c.L, c.source, sx, sy, into, dx, dy, w, h, c.sourceWidth, c.sourceHeight, pw, ph,
                QV_BLIT_NOSPRITES, c.mask, c.alpha, c.region);
    };
    if (!c.Has(QV_BLIT_BACKBUFFER)) {
        host.Redraw(c.L, display, second, dx, dy, w, h, kRedrawNoSprites);
        blitSource(second);
        host.Redraw(c.L, display, second, dx, dy, w, h, kRedrawSpritesOnly);
    } else {
        blitSource(first);
        host.Redraw(c.L, display, second, dx, dy, w, h, kRedrawAll);
    }
    SafeBlt(c.L, second, dx, dy, c.dest, dx, dy, w, h, pw, ph, pw, ph,
            QV_BLIT_NOREGION | QV_BLIT_NOSPRITES, nullptr, nullptr, nullptr);
    return true;
}

// Step 4: a shaped region replaces the source's mask (by region bit AND mask bit), or else
// its alpha plane (alpha where the region bit is set), by the temporary plane; without
// either plane the region's bits become the mask. False when the plane cannot grow.
bool ShapeByRegion(Call& c) {
    if (c.Has(QV_BLIT_NOREGION) || c.region == nullptr || !PlaneUsable(c.region->mask)) {
        return true;
    }
    const qvPlaneBitMap* shape = c.region->mask;
    // Only what the source bitmap, the source plane and the temporary plane hold is drawn.
    c.r.width = std::min<int64_t>(c.r.width, c.source->width - c.r.sx);
    c.r.height = std::min<int64_t>(c.r.height, c.source->height - c.r.sy);
    const bool bits = c.mask != nullptr || c.alpha == nullptr;
    const qvPlaneBitMap* replaced = bits ? c.mask : c.alpha;
    const int64_t bytesPerRow =
        bits ? int64_t(QueryBitMapAttr(c.source, 11)) : int64_t(c.sourceWidth);
    int64_t extent = bits ? bytesPerRow * 8 : bytesPerRow;
    if (replaced != nullptr) extent = std::min(extent, PlaneExtentX(replaced));
    c.r.width = std::min(c.r.width, extent - c.r.sx);
    if (replaced != nullptr) c.r.height = std::min<int64_t>(c.r.height, replaced->height - c.r.sy);
    if (c.r.width < 1 || c.r.height < 1) return false;
    const int64_t rows = c.r.sy + c.r.height;
    uint8_t* buffer = Graphics().TempPlane(size_t(bytesPerRow) * size_t(rows));
    if (buffer == nullptr) return false;
    qvPlaneBitMap* temp =
        SetupTempMaskBitMap(buffer, bits ? c.source : nullptr,
                            int32_t(bits ? c.source->width : bytesPerRow), int32_t(rows));
    if (!bits) temp = SetTempMaskPlane(buffer, int32_t(bytesPerRow));
    const qvRegionShape region{shape->plane,
                               shape->bytesPerRow,
                               int32_t(std::min<int64_t>(PlaneExtentX(shape), INT32_MAX)),
                               shape->height,
                               Saturate32(c.r.dx - c.region->x),
                               Saturate32(c.r.dy - c.region->y)};
    ClipRegionMaskBits(region, replaced != nullptr ? replaced->plane : nullptr,
                       replaced != nullptr ? replaced->bytesPerRow : 0, buffer, temp->bytesPerRow,
                       bits ? 1 : 8, Narrow(c.r.sx), Narrow(c.r.sy), Narrow(c.r.width),
                       Narrow(c.r.height));
    (bits ? c.mask : c.alpha) = temp;
    return true;
}

// Steps 6 and 7 over the destination chosen in step 5 (none: the window, or only the
// target's planes).
class Drawing {
public:
    Drawing(const Call& c, qvDisplay* display, const DisplayView& view, qvDisplayBitMap* target)
        : c_(c), display_(display), view_(view), target_(target) {
        const GraphicsState& state = Graphics();
        const bool given = target != nullptr;
        maskMode_ = given ? kMaskVanillaCopy : state.maskMode;
        const int32_t intensity = std::clamp<int32_t>(state.alphaIntensity, kAlphaVanillaCopy, 255);
        alphaValue_ = given || intensity == kAlphaVanillaCopy ? 255 : uint8_t(intensity);
    }

    void Run() {
        if (c_.mask != nullptr) {
            Masked();
        } else if (c_.alpha != nullptr) {
            Alpha();
        } else {
            Plain();
        }
    }

private:
    int32_t sx() const { return Narrow(c_.r.sx); }
    int32_t sy() const { return Narrow(c_.r.sy); }
    int32_t dx() const { return Narrow(c_.r.dx); }
    int32_t dy() const { return Narrow(c_.r.dy); }
    int32_t w() const { return Narrow(c_.r.width); }
    int32_t h() const { return Narrow(c_.r.height); }
    bool PlanesToo() const { return !c_.Has(QV_BLIT_OFFSCREEN); }

    // Into the target, and again into the second back buffer when the display autoscales
    // from the first.
    template <typename Op>
    void IntoTarget(Op&& op) {
        op(target_);
        if (PlanesToo() && view_.AutoscaleActive() && target_ == view_.backBuffers[0] &&
            view_.backBuffers[1] != nullptr) {
            op(view_.backBuffers[1]);
        }
    }

    void Masked() {
        if (target_ != nullptr) {
            IntoTarget([&](qvDisplayBitMap* d) {
                BltMask(c_.source, sx(), sy(), d, dx(), dy(), w(), h(), c_.mask);
            });
        }
        if (!PlanesToo()) return;
        if (view_.targetMask != nullptr) {
            CombineMaskRect(c_.mask, sx(), sy(), view_.targetMask, dx(), dy(), w(), h(), maskMode_);
        }
        if (view_.targetAlpha != nullptr) {
            ExpandMaskToPlane8Rect(c_.mask, sx(), sy(), view_.targetAlpha, dx(), dy(), w(), h(),
                                   alphaValue_);
        }
    }

    void Alpha() {
        const GraphicsState& state = Graphics();
        if (target_ != nullptr) {
            if (view_.targetAlpha == nullptr) {
                IntoTarget([&](qvDisplayBitMap* d) {
                    BltAlphaBitmap(c_.source, sx(), sy(), d, dx(), dy(), w(), h(), c_.alpha);
                });
            } else if (!state.alphaCombine) {
                BltBitMap(c_.source, sx(), sy(), target_, dx(), dy(), w(), h());
            } else {
                CopyWhereAlpha(c_.source, sx(), sy(), target_, dx(), dy(), w(), h(), c_.alpha);
            }
        }
        if (!PlanesToo()) return;
        if (view_.targetMask != nullptr) {
            AlphaToMaskRect(c_.alpha, sx(), sy(), view_.targetMask, dx(), dy(), w(), h(),
                            maskMode_);
        }
        if (view_.targetAlpha != nullptr) {
            const bool intensity = target_ == nullptr && state.alphaIntensity != kAlphaVanillaCopy;
            const int32_t mode = intensity ? 6 : state.alphaCombine ? 1 : 0;
            CopyPlane8RectClipped(c_.alpha, sx(), sy(), view_.targetAlpha, dx(), dy(), w(), h(),
                                  c_.sourceWidth, c_.sourceHeight, c_.destWidth, c_.destHeight,
                                  mode, intensity ? alphaValue_ : 0);
        }
    }

    void Plain() {
        if (target_ != nullptr) {
            IntoTarget([&](qvDisplayBitMap* d) {
                BltBitMap(c_.source, sx(), sy(), d, dx(), dy(), w(), h());
            });
        } else if (view_.outputType == kTargetDisplay) {
            const bool backBuffer =
                c_.source == view_.backBuffers[0] || c_.source == view_.backBuffers[1];
            const int flags =
                PlanesToo() && backBuffer && view_.AutoscaleActive() ? QV_REFRESH_AUTOSCALE : 0;
            BltToDisplay(c_.source, sx(), sy(), display_, dx(), dy(), w(), h(), flags);
        }
        if (!PlanesToo()) return;
        if (view_.targetMask != nullptr) {
            FillMaskRect(view_.targetMask, dx(), dy(), w(), h(), maskMode_);
        }
        if (view_.targetAlpha != nullptr) {
            FillPlane8Rect(view_.targetAlpha, dx(), dy(), w(), h(), alphaValue_);
        }
    }

    const Call& c_;
    qvDisplay* display_;
    const DisplayView& view_;
    qvDisplayBitMap* target_;
    int32_t maskMode_;
    uint8_t alphaValue_;
};

// Steps 5 to 7 with the rectangle clipped and the planes chosen.
void DrawIntoOutput(const Call& c, qvDisplay* display, const DisplayView& view) {
    qvDisplayBitMap* target = c.dest;
    qvDisplayBitMap* refresh = nullptr;
    qvDisplayBitMap* first = view.backBuffers[0];
    qvDisplayBitMap* second = view.backBuffers[1];
    const int32_t dx = Narrow(c.r.dx), dy = Narrow(c.r.dy), w = Narrow(c.r.width),
                  h = Narrow(c.r.height);
    if (target == nullptr && view.outputType == kTargetDisplay) {
        const bool intoFirst =
            (c.Has(QV_BLIT_BACKBUFFER) && !view.layersEnabled) || c.Has(QV_BLIT_FIRSTBUFFER);
        if (intoFirst && first != nullptr) {
            target = first;
            // An autoscaled display shows the second buffer, which got the same pixels.
            if (!c.Has(QV_BLIT_NOREFRESH)) {
                refresh = view.AutoscaleActive() && second != nullptr ? second : first;
            }
        } else if (!intoFirst && view.layersEnabled && c.Has(QV_BLIT_RECOMPOSE) &&
                   second != nullptr) {
            Graphics().Host().Redraw(c.L, display, second, dx, dy, w, h, kRedrawAll);
            BltToDisplay(second, dx, dy, display, dx, dy, w, h, QV_REFRESH_AUTOSCALE);
            return;
        }
    }
    Drawing(c, display, view, target).Run();
    if (refresh != nullptr) {
        BltToDisplay(refresh, dx, dy, display, dx, dy, w, h, QV_REFRESH_AUTOSCALE);
    }
}

void Blit(Call& c, qvDisplay* display) {
    const DisplayView view = Graphics().View(display);
    if (!ClipToTarget(c.r, c.region, !c.Has(QV_BLIT_NOREGION), c.sourceWidth, c.sourceHeight,
                      c.destWidth, c.destHeight)) {
        return;
    }
    if (!c.Has(QV_BLIT_NOSPRITES) && DrawUnderSprites(c, display, view)) return;
    if (!ShapeByRegion(c)) return;
    DrawIntoOutput(c, display, view);
}

// Puts the current display back to none when the pseudo-display stood in.
class PseudoDisplayReset {
public:
    ~PseudoDisplayReset() {
        GraphicsState& state = Graphics();
        qvDisplay* pseudo = state.PseudoDisplay();
        if (pseudo != nullptr && state.Host().CurrentDisplay() == pseudo) {
            state.Host().SetCurrentDisplay(nullptr);
        }
    }
};

}  // namespace
}  // namespace qv::gfx

void SafeBlt(qvVmState* L, qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
             int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t sourceWidth,
             int32_t sourceHeight, int32_t destWidth, int32_t destHeight, uint32_t flags,
             const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha, const qvClipRegion* region) {
    using namespace qv::gfx;
    GraphicsState& state = Graphics();
    qvDisplay* display = state.Host().CurrentDisplay();
    if (display == nullptr) {
        display = state.PseudoDisplay();
        if (dest == nullptr || (flags & QV_BLIT_OFFSCREEN) == 0 || display == nullptr) {
            qv::WriteDebugPlain("ERROR! SAFEBLT() CALLED WITH DISPLAY=NULL!\n");
            return;
        }
        flags |= QV_BLIT_NOSPRITES;
        state.Host().SetCurrentDisplay(display);
    }
    PseudoDisplayReset reset;
    if (source == nullptr) return;
    Call call{L,
              source,
              {sx, sy, dx, dy, width, height},
              dest,
              sourceWidth,
              sourceHeight,
              destWidth,
              destHeight,
              flags,
              qv::PlaneUsable(mask) ? mask : nullptr,
              qv::PlaneUsable(alpha) ? alpha : nullptr,
              region};
    Blit(call, display);
}

void ClipBlitRect(const qvClipRegion* region, int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy,
                  int32_t* width, int32_t* height, int32_t sourceWidth, int32_t sourceHeight,
                  int32_t destWidth, int32_t destHeight, int useRegion) {
    qv::BlitRect r{*sx, *sy, *dx, *dy, *width, *height};
    if (!qv::gfx::ClipToTarget(r, region, useRegion != 0, sourceWidth, sourceHeight, destWidth,
                               destHeight)) {
        *width = 0, *height = 0;
        return;
    }
    *sx = int32_t(r.sx), *sy = int32_t(r.sy), *dx = int32_t(r.dx), *dy = int32_t(r.dy);
    *width = int32_t(r.width), *height = int32_t(r.height);
}
