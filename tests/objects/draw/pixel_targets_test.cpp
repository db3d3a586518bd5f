// Plot, ReadPixel and Cls by output target on a real headless display: the display itself, a
// picture, a brush, and a brush's mask or alpha channel selected for drawing.
#include <gtest/gtest.h>

#include "engine/error_codes.h"
#include "gfx/graphics_state.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/scene_hooks.h"
#include "scene/object_hooks.h"
#include "scene/output_redirect.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

constexpr uint32_t kRed = 0xF80000, kBlue = 0x0000F8, kGrey = 0x808080;

class PixelTargets : public BrushDisplayFixture {
protected:
    PixelTargets()
        : BrushDisplayFixture(
              OpenLibraries<RegisterStringLibrary, RegisterGraphicsLibrary, RegisterDisplayLibrary,
                            RegisterBGPicLibrary, RegisterBrushLibrary, RegisterDrawLibrary>) {
        scene::SetObjectHooks(&hooks);
        Open(16, 16);
        Plain(5, 8, 8, kBlue);
        EXPECT_EQ(Call("CreateBGPic", {Num(7), Num(10), Num(10)}).code, 0);
    }
    ~PixelTargets() override {
        FreeDrawBuffers(L);
        scene::SetObjectHooks(nullptr);
        gfx::Graphics().alphaIntensity = 128;
        gfx::Graphics().maskMode = gfx::kMaskVisible;
    }

    double Read(int32_t x, int32_t y) {
        const CallResult read = Call("ReadPixel", {Num(x), Num(y)});
        EXPECT_EQ(read.code, 0);
        return read.results.empty() ? -1 : read.Number(0);
    }

    objects::SceneHooks hooks;
};

// Each target: how it is selected, and what ReadPixel answers after a plot and after a Cls
// (the display shows its picture again; the mask and alpha targets take the mask mode and
// alpha intensity, not the colour). The first plot into a mask or alpha channel that the
// drawing makes lands in the new plane.
TEST_F(PixelTargets, PlotReadPixelAndClsByTarget) {
    struct Case {
        const char* name;
        const char* select;
        std::vector<Arg> args;
        uint32_t plotted, cleared;
    };
    const Case cases[] = {
        {"display", nullptr, {}, Stored(kRed), 0},
        {"picture", "SelectBGPic", {Num(7), Num(SELMODE_NORMAL)}, Stored(kRed), Stored(kGrey)},
        {"brush", "SelectBrush", {Num(5)}, Stored(kRed), Stored(kGrey)},
        {"mask", "SelectMask", {Num(5)}, 1, 1},
        {"alpha", "SelectAlphaChannel", {Num(5)}, 128, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.select != nullptr) {
            ASSERT_EQ(Call(c.select, c.args).code, 0);
        }
        ASSERT_EQ(Call("Plot", {Num(2), Num(1), Num(kRed)}).code, 0);
        EXPECT_EQ(Read(2, 1), double(c.plotted));
        ASSERT_EQ(Call("Cls", {Num(kGrey)}).code, 0);
        EXPECT_EQ(Read(2, 1), double(c.cleared));
        EXPECT_EQ(Read(7, 7), double(c.cleared));
        // Outside the target's area nothing is read.
        EXPECT_EQ(Call("ReadPixel", {Num(16), Num(0)}).code, ERR_PIXELRANGE);
        EXPECT_EQ(Call("Plot", {Num(-1), Num(0), Num(kRed)}).code, 0);
        if (c.select != nullptr) {
            ASSERT_EQ(Call("EndSelect").code, 0);
        }
    }
    // The drawing went into the objects, not onto the display.
    qvBrush* brush = nullptr;
    ASSERT_EQ(GetBrush(L, {5, nullptr}, &brush, 0), 0);
    EXPECT_EQ(ReadBitMapPixel(brush->bitmap, 7, 7), Stored(kGrey));
    EXPECT_EQ(At(2, 1), 0u) << "the display shows its picture again";
}

// With vanilla copy the alpha channel takes 255 - transparency of the colour; a mask target
// follows the mask mode.
TEST_F(PixelTargets, AlphaAndMaskFollowTheirModes) {
    ASSERT_EQ(Call("SelectAlphaChannel", {Num(5)}).code, 0);
    gfx::Graphics().alphaIntensity = gfx::kAlphaVanillaCopy;
    ASSERT_EQ(Call("Plot", {Num(3), Num(3), Num(0x40000000u | kRed)}).code, 0);
    EXPECT_EQ(Read(3, 3), 255 - 0x40);
    ASSERT_EQ(Call("Cls").code, 0);
    EXPECT_EQ(Read(3, 3), 255);
    ASSERT_EQ(Call("EndSelect").code, 0);

    ASSERT_EQ(Call("SelectMask", {Num(5)}).code, 0);
    gfx::Graphics().maskMode = gfx::kMaskInvisible;
    ASSERT_EQ(Call("Cls").code, 0);
    EXPECT_EQ(Read(0, 0), 0);
    gfx::Graphics().maskMode = gfx::kMaskVisible;
    ASSERT_EQ(Call("Plot", {Num(4), Num(4)}).code, 0);
    EXPECT_EQ(Read(4, 4), 1);
    EXPECT_EQ(Read(5, 4), 0);
    ASSERT_EQ(Call("EndSelect").code, 0);
}

// A transparent plot into a brush blends with the brush's pixel.
TEST_F(PixelTargets, TransparentPlotIntoABrushBlends) {
    ASSERT_EQ(Call("SelectBrush", {Num(5)}).code, 0);
    ASSERT_EQ(Call("Plot", {Num(1), Num(1), Num(0x80000000u | kRed)}).code, 0);
    EXPECT_EQ(Read(1, 1), Stored(BlendRGB(kRed, Stored(kBlue), 0x80) & 0xFFFFFF));
    ASSERT_EQ(Call("EndSelect").code, 0);
}

// The active clip region belongs to the picture drawn into: drawing stays inside it, and a
// freed region leaves no picture clipped by it.
TEST_F(PixelTargets, TheActiveClipRegionClipsDrawingUntilItIsFreed) {
    ASSERT_EQ(Call("CreateClipRegion", {Num(1), Num(14), Num(4), Num(4), Num(6), Num(6)}).code, 0);
    ASSERT_EQ(Call("SetClipRegion", {Num(1)}).code, 0);
    ASSERT_EQ(Call("SetFillStyle", {Num(draw::FILLCOLOR)}).code, 0);
    ASSERT_EQ(Call("Box", {Num(0), Num(0), Num(16), Num(16), Num(kGrey)}).code, 0);
    EXPECT_EQ(Read(4, 4), double(Stored(kGrey)));
    EXPECT_EQ(Call("ReadPixel", {Num(3), Num(4)}).code, ERR_PIXELRANGE);
    ASSERT_EQ(Call("SetClipRegion", {Nil()}).code, 0);
    EXPECT_EQ(Read(3, 4), 0);
    EXPECT_EQ(Read(9, 9), double(Stored(kGrey)));
    EXPECT_EQ(Read(10, 9), 0);

    // Set while a picture is the output, freed while the display is: the picture forgets it.
    ASSERT_EQ(Call("SelectBGPic", {Num(7), Num(SELMODE_NORMAL)}).code, 0);
    ASSERT_EQ(Call("SetClipRegion", {Num(1)}).code, 0);
    ASSERT_EQ(Call("EndSelect").code, 0);
    ASSERT_EQ(Call("FreeClipRegion", {Num(1)}).code, 0);
    ASSERT_EQ(Call("SelectBGPic", {Num(7), Num(SELMODE_NORMAL)}).code, 0);
    ASSERT_EQ(Call("Box", {Num(0), Num(0), Num(10), Num(10), Num(kRed)}).code, 0);
    EXPECT_EQ(Read(0, 0), double(Stored(kRed)));
    ASSERT_EQ(Call("EndSelect").code, 0);
}

}  // namespace
}  // namespace qv::testing
