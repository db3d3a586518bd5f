// The expected picture of a layered scene, computed per pixel from plain descriptions with
// the blend formulas of the graphics engine's colour filters and blits, written out here
// again (no production code is called):
// - a copy or a set mask bit writes the source;
// - alpha a: 0 keeps, 255 writes the source, else each channel is (s a + d (256 - a)) >> 8;
// - transparency t: each channel is s + (((d - s) t) >> 8), gated by the mask; with an alpha
//   plane the plane is scaled to a t' = a (255 - t) / 255 first and blended as alpha;
// - with no transparency the mask wins over the alpha plane, with a transparency the alpha
//   plane wins;
// - a clip region limits a layer to its rectangle and, when shaped, to its set bits;
// - 16-bit formats keep 5 or 6 bits of a channel after every write (low bits 0 when read);
// - shadows and borders are a colour painted through a coverage plane as alpha.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tests/scene/support/layer_scene.h"

namespace qv::test {

struct RefRegion {
    int32_t x = 0, y = 0, width = 0, height = 0;
    std::vector<uint8_t> shape;  // one byte per pixel of the rectangle; empty: a box

    bool InRect(int32_t px, int32_t py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
    // Inside the rectangle, a set bit of the shape.
    bool InShape(int32_t px, int32_t py) const {
        return shape.empty() || shape[size_t(py - y) * width + (px - x)] != 0;
    }
};

struct RefLayer {
    const Planes* planes;
    int32_t x = 0, y = 0;
    int32_t partX = 0, partY = 0;
    int32_t width = -1, height = -1;  // -1: the planes' size
    uint32_t transparency = 0;
    bool hidden = false;
    const RefRegion* region = nullptr;
};

class ReferenceCompositor {
public:
    ReferenceCompositor(uint32_t format, const Planes& background) : format_(format) {
        pixels_ = background.rgb;
        width_ = background.width;
        for (uint32_t& p : pixels_) p = Stored(p);
    }

    // Paints a layer (or a sprite: a layer without transparency) over the picture.
    void Paint(const RefLayer& layer) {
        if (layer.hidden) return;
        const Planes& p = *layer.planes;
        const int32_t w = layer.width < 0 ? p.width : layer.width;
        const int32_t h = layer.height < 0 ? p.height : layer.height;
        const int32_t height = int32_t(pixels_.size()) / width_;
        for (int32_t py = std::max(layer.y, 0); py < std::min(layer.y + h, height); ++py) {
            for (int32_t px = std::max(layer.x, 0); px < std::min(layer.x + w, width_); ++px) {
                const int32_t sx = px - layer.x + layer.partX, sy = py - layer.y + layer.partY;
                if (sx >= p.width || sy >= p.height) continue;
                uint32_t& d = pixels_[size_t(py) * width_ + px];
                d = Blend(layer, p, size_t(sy) * p.width + sx, px, py, d);
            }
        }
    }

    // Paints the colour through a coverage plane (one byte per pixel, rows of width) whose
    // top left lies at (x, y): the shadows and borders, whose planes the caller makes with
    // the graphics engine's kernels called directly.
    void PaintCoverage(const std::vector<uint8_t>& plane, int32_t width, int32_t x, int32_t y,
                       uint32_t colour) {
        const int32_t height = int32_t(plane.size()) / width;
        const int32_t rows = int32_t(pixels_.size()) / width_;
        for (int32_t py = std::max(y, 0); py < std::min(y + height, rows); ++py) {
            for (int32_t px = std::max(x, 0); px < std::min(x + width, width_); ++px) {
                uint32_t& d = pixels_[size_t(py) * width_ + px];
                d = Alpha(Stored(colour), d, plane[size_t(py - y) * width + (px - x)]);
            }
        }
    }

    const std::vector<uint32_t>& Pixels() const { return pixels_; }

    // A colour as a bitmap of the format holds it.
    uint32_t Stored(uint32_t rgb) const {
        if (format_ > 7) return rgb & 0xFFFFFF;
        const uint32_t green = format_ >= 4 ? 0xFC : 0xF8;
        return (rgb & 0xF80000) | (rgb & (green << 8)) | (rgb & 0xF8);
    }

private:
    static uint32_t Channel(uint32_t v, int shift) { return (v >> shift) & 0xFF; }

    // Each channel through f(s, d).
    template <typename F>
    uint32_t PerChannel(uint32_t s, uint32_t d, F f) const {
        uint32_t out = 0;
        for (int shift : {16, 8, 0}) {
            out |= (uint32_t(f(int32_t(Channel(s, shift)), int32_t(Channel(d, shift)))) & 0xFF)
                   << shift;
        }
        return Stored(out);
    }

    uint32_t Alpha(uint32_t s, uint32_t d, int32_t a) const {
        if (a == 0) return d;
        if (a == 255) return s;
        return PerChannel(s, d,
                          [a](int32_t sc, int32_t dc) { return (sc * a + dc * (256 - a)) >> 8; });
    }

    uint32_t Blend(const RefLayer& layer, const Planes& p, size_t i, int32_t px, int32_t py,
                   uint32_t d) const {
        const RefRegion* region = layer.region;
        if (region != nullptr && !region->InRect(px, py)) return d;
        const bool inRegion = region == nullptr || region->InShape(px, py);
        const uint32_t s = Stored(p.rgb[i]);
        const bool masked = !p.mask.empty(), alpha = !p.alpha.empty();
        const int32_t t = int32_t(layer.transparency);
        if (t == 0) {
            if (masked) return p.mask[i] != 0 && inRegion ? s : d;
            if (alpha) return Alpha(s, d, inRegion ? p.alpha[i] : 0);
            return inRegion ? s : d;
        }
        if (!inRegion) return d;
        if (alpha) return Alpha(s, d, p.alpha[i] * (255 - t) / 255);
        if (masked && p.mask[i] == 0) return d;
        return PerChannel(s, d,
                          [t](int32_t sc, int32_t dc) { return sc + (((dc - sc) * t) >> 8); });
    }

    uint32_t format_;
    int32_t width_;
    std::vector<uint32_t> pixels_;
};

}  // namespace qv::test
