// Flip against pixman: after random brushes drawn into the back buffer, the window read back
// equals pixman's SRC copies of the merged dirty rectangles from the back buffer over the
// picture the window showed before.
#include <pixman.h>

#include <memory>
#include <random>

#include "platform/linux/testing.h"
#include "scene/display.h"
#include "scene/layers/dirty_rects.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

struct ImageFree {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, ImageFree>;

constexpr int32_t kW = 64, kH = 48;

std::vector<uint32_t> Argb(const qvDisplayBitMap* bitmap) {
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < kH; ++y) {
        for (int32_t x = 0; x < kW; ++x) out.push_back(0xFF000000u | ReadBitMapPixel(bitmap, x, y));
    }
    return out;
}

PixmanImage Wrap(std::vector<uint32_t>* pixels) {
    return PixmanImage(pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, pixels->data(),
                                                kW * int(sizeof(uint32_t))));
}

class FlipOracle : public BrushDisplayFixture {};

TEST_F(FlipOracle, FlipCopiesTheMergedRectanglesAsPixmanDoes) {
    Open(kW, kH, 0x00FC00);
    platform::testing::SetInstantVBlank(true);
    ASSERT_EQ(Call("BeginDoubleBuffer").code, 0);
    std::mt19937 random(11);
    for (int round = 0; round < 3; ++round) {
        for (uint32_t id = 1; id <= 12; ++id) {
            const int32_t w = 1 + int32_t(random() % 12), h = 1 + int32_t(random() % 12);
            Plain(id, w, h, random() & 0xFFFFFF);
            // Some land partly outside the picture.
            const int32_t x = int32_t(random() % (kW + 8)) - 4,
                          y = int32_t(random() % (kH + 8)) - 4;
            ASSERT_EQ(Call("DisplayBrush", {Num(id), Num(x), Num(y)}).code, 0);
        }
        ASSERT_GT(display->dirtyRects.count, 0);
        qvRectList merged = display->dirtyRects;
        std::vector<qvRect> rects(merged.rects, merged.rects + merged.count);
        merged.rects = rects.data();
        MergeDirtyRects(&merged);

        std::vector<uint32_t> back = Argb(display->backBuffers[1]);
        std::vector<uint32_t> expected = Argb(display->window->framebuffer);
        PixmanImage source = Wrap(&back), dest = Wrap(&expected);
        for (const qvRect& r : rects) {
            if (r.x1 == kMergedAway) continue;
            pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, dest.get(), r.x1, r.y1,
                                     0, 0, r.x1, r.y1, r.x2 + 1 - r.x1, r.y2 + 1 - r.y1);
        }
        ASSERT_EQ(Call("Flip", {Num(0)}).code, 0);
        EXPECT_EQ(Argb(display->window->framebuffer), expected) << "round " << round;
    }
    ASSERT_EQ(Call("EndDoubleBuffer").code, 0);
    platform::testing::SetInstantVBlank(false);
}

}  // namespace
}  // namespace qv::testing
