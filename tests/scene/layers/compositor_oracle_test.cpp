// Random stacks of up to 24 layers of odd sizes and places, composed by our Redraw and by
// pixman: the background with PIXMAN_OP_SRC, opaque layers with SRC, masks and alpha planes
// as a8 masks with PIXMAN_OP_OVER, a transparency t as an a8 mask of 255 - t (an alpha plane
// scaled by it). Pixels that only copies decide must be equal.
#include <pixman.h>

#include <cstdlib>
#include <memory>
#include <random>

#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

// Where blends round: ours is (s a + d (256 - a)) >> 8 (and s + (((d - s) t) >> 8) for a
// transparency), pixman's is s a / 255 + d (255 - a) / 255 rounded to nearest, so one blend
// differs by up to 2 (the truncation and the divisor). A blend over a pixel that earlier
// blends reached carries their difference, scaled by (255 - a) / 255, and since ours always
// truncates where pixman rounds, the differences add up: at most one level more per blend
// (measured over 400 stacks: 2, 3, 4, 4, 3 for 1 to 5 blends).
int Tolerance(int blends) {
    return 1 + blends;
}

struct PixmanFree {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanFree>;

PixmanImage Image(pixman_format_code_t format, int32_t width, int32_t height, void* bits,
                  int32_t stride) {
    return PixmanImage(
        pixman_image_create_bits(format, width, height, static_cast<uint32_t*>(bits), stride));
}

class CompositorOracle : public LayerFixture {
protected:
    struct Layer {
        Planes planes;
        int32_t x, y;
        uint32_t transparency;
    };

    static Layer RandomLayer(std::mt19937& rng, int32_t width, int32_t height) {
        auto below = [&](uint32_t n) { return int32_t(rng() % n); };
        Layer l{Solid(1 + below(57), 1 + below(41), 0), below(width + 40) - 30,
                below(height + 30) - 20, 0};
        const uint32_t seed = rng() & 0xFFFFFF;
        for (size_t i = 0; i < l.planes.rgb.size(); ++i) {
            l.planes.rgb[i] = (seed ^ uint32_t(i * 0x3A5F17)) & 0xFFFFFF;
        }
        switch (below(4)) {
            case 1:
                l.planes.mask.resize(l.planes.rgb.size());
                for (auto& bit : l.planes.mask) bit = uint8_t(rng() & 1);
                break;
            case 2:
                l.planes.alpha.resize(l.planes.rgb.size());
                for (auto& a : l.planes.alpha)
                    a = uint8_t(below(4) == 0 ? 255 * below(2) : below(256));
                break;
            default:
                break;
        }
        if (below(3) == 0) l.transparency = uint32_t(below(256));
        return l;
    }

    // The a8 coverage pixman composes a layer through; none for an opaque copy.
    static std::vector<uint8_t> Coverage(const Layer& l, int32_t stride) {
        const Planes& p = l.planes;
        const int32_t keep = 255 - int32_t(l.transparency);
        if (p.mask.empty() && p.alpha.empty() && l.transparency == 0) return {};
        std::vector<uint8_t> a8(size_t(stride) * p.height, 0);
        for (int32_t y = 0; y < p.height; ++y) {
            for (int32_t x = 0; x < p.width; ++x) {
                const size_t i = size_t(y) * p.width + x;
                int32_t value = keep;
                if (!p.alpha.empty() && (l.transparency != 0 || p.mask.empty())) {
                    value = p.alpha[i] * keep / 255;
                } else if (!p.mask.empty()) {
                    value = p.mask[i] != 0 ? keep : 0;
                }
                a8[size_t(y) * stride + x] = uint8_t(value);
            }
        }
        return a8;
    }

    // Composes the stack with pixman; *blends counts the partial blends over each pixel since
    // it was last copied.
    std::vector<uint32_t> Pixman(const std::vector<Layer>& layers, std::vector<int>* blends) {
        const int32_t w = scene.width, h = scene.height;
        std::vector<uint32_t> dest = Background(w, h).rgb;
        PixmanImage target = Image(PIXMAN_x8r8g8b8, w, h, dest.data(), w * 4);
        blends->assign(dest.size(), 0);
        for (const Layer& l : layers) {
            std::vector<uint32_t> pixels = l.planes.rgb;
            PixmanImage source = Image(PIXMAN_x8r8g8b8, l.planes.width, l.planes.height,
                                       pixels.data(), l.planes.width * 4);
            const int32_t stride = (l.planes.width + 3) & ~3;
            std::vector<uint8_t> a8 = Coverage(l, stride);
            PixmanImage mask;
            if (!a8.empty()) {
                mask = Image(PIXMAN_a8, l.planes.width, l.planes.height, a8.data(), stride);
            }
            pixman_image_composite32(a8.empty() ? PIXMAN_OP_SRC : PIXMAN_OP_OVER, source.get(),
                                     mask.get(), target.get(), 0, 0, 0, 0, l.x, l.y, l.planes.width,
                                     l.planes.height);
            for (int32_t y = std::max(l.y, 0); y < std::min(l.y + l.planes.height, h); ++y) {
                for (int32_t x = std::max(l.x, 0); x < std::min(l.x + l.planes.width, w); ++x) {
                    const size_t i = size_t(y - l.y) * stride + (x - l.x);
                    const size_t at = size_t(y - l.y) * l.planes.width + (x - l.x);
                    // A transparency mixes even where pixman's coverage is 0 or 255.
                    const bool mixed = l.transparency != 0 && l.planes.alpha.empty() &&
                                       (l.planes.mask.empty() || l.planes.mask[at] != 0);
                    const bool partial = mixed || (!a8.empty() && a8[i] != 0 && a8[i] != 255);
                    const bool copied = !partial && (a8.empty() || a8[i] == 255);
                    int& count = (*blends)[size_t(y) * w + x];
                    if (copied) count = 0;
                    if (partial) ++count;
                }
            }
        }
        for (uint32_t& p : dest) p &= 0xFFFFFF;
        return dest;
    }
};

TEST_F(CompositorOracle, RandomStacksMatchPixman) {
    std::mt19937 rng(2024);
    for (int stack = 0; stack < 16; ++stack) {
        FreeLayerList(L, scene.picture);
        std::vector<Layer> layers;
        const int count = 1 + int(rng() % 24);
        for (int i = 0; i < count; ++i) {
            layers.push_back(RandomLayer(rng, scene.width, scene.height));
            qvDrawStyle style = Style(layers.back().transparency);
            ASSERT_NE(
                scene.AddLayer(L, layers.back().planes, layers.back().x, layers.back().y, &style),
                nullptr);
        }
        const std::vector<uint32_t> ours = Shown();
        std::vector<int> blends;
        const std::vector<uint32_t> theirs = Pixman(layers, &blends);
        for (size_t i = 0; i < ours.size(); ++i) {
            const int32_t x = int32_t(i % scene.width), y = int32_t(i / scene.width);
            if (blends[i] == 0) {
                ASSERT_EQ(ours[i], theirs[i]) << "stack " << stack << " at " << x << "," << y;
                continue;
            }
            for (int shift : {16, 8, 0}) {
                const int a = int(ours[i] >> shift & 0xFF), b = int(theirs[i] >> shift & 0xFF);
                ASSERT_LE(std::abs(a - b), Tolerance(blends[i]))
                    << "stack " << stack << " at " << x << "," << y << std::hex << " ours "
                    << ours[i] << " pixman " << theirs[i];
            }
        }
    }
}

}  // namespace
}  // namespace qv::testing
