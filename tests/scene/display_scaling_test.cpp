// Scaled displays: the letterbox arithmetic, the window's pixels against goldens derived by
// hand from integer factors (and against ScaleBitmap for others), where drawing and the mouse
// land, layer scaling's shown set, switching a mode on and off, "fitscale", the scaled regions,
// the picture handed to a transition, and memory running out while a scaled display resizes.
#include <cmath>

#include "gfx/gradient.h"
#include "gfx/library/object_types.h"
#include "gfx/safe_blt.h"
#include "gfx/scale.h"
#include "runtime/input_pump.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

using scene::FitScaledArea;
using scene::WindowToLogical;

// The bitmap scaled by ScaleBitmap (nearest), pixel by pixel.
std::vector<uint32_t> ScaledPixels(qvDisplayBitMap* bitmap, int32_t width, int32_t height) {
    qvDisplayBitMap* scaled = nullptr;
    EXPECT_EQ(ScaleBitmap(bitmap, nullptr, nullptr, 0, 0, nullptr, bitmap->width, bitmap->height,
                          width, height, 0, &scaled, nullptr, nullptr),
              0);
    OwnedBitMap owned(scaled);
    return Pixels(scaled);
}

// The columns from x of a window's rows, as 0xRRGGBB words.
std::vector<uint32_t> WindowColumns(const qvDisplay* display, int32_t x, int32_t width) {
    std::vector<uint32_t> pixels;
    const qvDisplayBitMap* framebuffer = display->window->framebuffer;
    for (int32_t y = 0; y < framebuffer->height; ++y) {
        for (int32_t i = 0; i < width; ++i)
            pixels.push_back(ReadBitMapPixel(framebuffer, x + i, y));
    }
    return pixels;
}

class DisplayScaling : public DisplayFixture {
protected:
    // Display 1 showing a patterned picture 1 of the size, with the options.
    qvDisplay* StartPatterned(int32_t width, int32_t height,
                              std::vector<std::pair<Arg, Arg>> options) {
        EXPECT_EQ(Call("CreateBGPic", {Num(1), Num(width), Num(height)}).code, 0);
        Patterned(Find(1));
        options.emplace_back(Str("bgpic"), Num(1));
        return Start(std::move(options));
    }

    // The user resizes the window.
    void UserResize(const qvDisplay* display, int32_t width, int32_t height) {
        HostEvent event{};
        event.kind = HostEventKind::kResized;
        event.window = display->window->number;
        event.x = width, event.y = height;
        ASSERT_TRUE(platform::testing::InjectHostEvent(event));
        ASSERT_EQ(PumpEvents(L), 0);
        TakeEvents();
    }
};

TEST(Letterbox, KeepsTheProportionsBetweenStrips) {
    struct Case {
        int32_t pictureWidth, pictureHeight, width, height;
        bool keep;
        int32_t scaleWidth, scaleHeight, left, top, right, bottom;
    };
    const Case cases[] = {
        {640, 480, 1000, 600, true, 800, 600, 100, 0, 100, 0},
        {640, 480, 1000, 600, false, 1000, 600, 0, 0, 0, 0},
        {640, 480, 640, 800, true, 640, 480, 0, 160, 0, 160},
        {100, 100, 101, 50, true, 50, 50, 25, 0, 26, 0},       // the odd pixel goes right
        {641, 480, 1001, 601, true, 802, 601, 99, 0, 100, 0},  // truncated, not rounded
        {640, 480, 640, 480, true, 640, 480, 0, 0, 0, 0},
        // A very wide or very tall picture keeps a side of 1: its factor is never 0.
        {3000, 10, 100, 100, true, 100, 1, 0, 49, 0, 50},
        {10, 3000, 100, 100, true, 1, 100, 49, 0, 50, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.pictureWidth << "x" << c.pictureHeight << " in "
                                          << c.width << "x" << c.height);
        const scene::ScaledArea area =
            FitScaledArea(c.pictureWidth, c.pictureHeight, c.width, c.height, c.keep);
        EXPECT_EQ(area.width, c.scaleWidth);
        EXPECT_EQ(area.height, c.scaleHeight);
        EXPECT_EQ(std::vector<int32_t>(area.letterbox, area.letterbox + 4),
                  (std::vector<int32_t>{c.left, c.top, c.right, c.bottom}));
    }
}

// Nearest 2x with strips of 10 at the sides: window (x, y) shows picture ((x - 10) / 2, y / 2).
TEST_F(DisplayScaling, AnAutoscaledLetterboxedWindowIsThePictureDoubledBetweenBlackStrips) {
    qvDisplay* display = StartPatterned(40, 30,
                                        {{Str("scalemode"), Num(1)},
                                         {Str("scalewidth"), Num(100)},
                                         {Str("scaleheight"), Num(60)},
                                         {Str("keepproportions"), Num(1)}});
    const qvDisplaySettings& s = display->settings;
    EXPECT_EQ(s.width, 100);
    EXPECT_EQ(s.scaleWidth, 80);
    EXPECT_EQ(s.scaleX, 2.0);
    EXPECT_EQ(display->window->framebuffer->width, 100);
    EXPECT_EQ(display->displayBitmap->width, 40) << "drawing stays at the logical size";
    const std::vector<uint32_t> picture = Pixels(Find(1)->shown.bitmap);
    std::vector<uint32_t> golden;
    for (int32_t y = 0; y < 60; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            golden.push_back(x < 10 || x >= 90 ? 0 : picture[size_t(y / 2) * 40 + (x - 10) / 2]);
        }
    }
    EXPECT_EQ(WindowPixels(display), golden);
}

TEST_F(DisplayScaling, AUserResizeLetterboxesAtANonIntegerFactor) {
    qvDisplay* display = StartPatterned(
        640, 480,
        {{Str("scalemode"), Num(1)}, {Str("keepproportions"), Num(1)}, {Str("sizeable"), Num(1)}});
    UserResize(display, 1000, 600);
    const qvDisplaySettings& s = display->settings;
    EXPECT_EQ(s.scaleWidth, 800);
    EXPECT_EQ(s.scaleHeight, 600);
    EXPECT_EQ(std::vector<int32_t>(s.letterbox, s.letterbox + 4),
              (std::vector<int32_t>{100, 0, 100, 0}));
    EXPECT_DOUBLE_EQ(s.scaleX, 1.25);
    EXPECT_EQ(WindowColumns(display, 0, 100), std::vector<uint32_t>(100 * 600, 0));
    EXPECT_EQ(WindowColumns(display, 900, 100), std::vector<uint32_t>(100 * 600, 0));
    EXPECT_EQ(WindowColumns(display, 100, 800), ScaledPixels(Find(1)->shown.bitmap, 800, 600));
}

// Autoscale is not the scaled mode of drawing: the blit goes into both bitmaps at the logical
// position and the window shows it doubled after the strip.
TEST_F(DisplayScaling, DrawingOnAnAutoscaledDisplayLandsScaledAfterTheStrip) {
    qvDisplay* display = StartPatterned(40, 30,
                                        {{Str("scalemode"), Num(1)},
                                         {Str("scalewidth"), Num(100)},
                                         {Str("scaleheight"), Num(60)},
                                         {Str("keepproportions"), Num(1)}});
    OwnedBitMap brush(AllocDisplayBitMap(3, 2));
    const uint32_t colours[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF}, {0xFFFF00, 0x00FFFF, 0xFF00FF}};
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) PlotPixel(brush.get(), x, y, colours[y][x]);
    }
    const std::vector<uint32_t> before = WindowPixels(display);
    SafeBlt(L, brush.get(), 0, 0, nullptr, 10, 10, 3, 2, 3, 2, 40, 30,
            QV_BLIT_BACKBUFFER | QV_BLIT_RECOMPOSE, nullptr, nullptr, nullptr);
    for (const qvDisplayBitMap* logical : {display->displayBitmap, display->compositionBitmap}) {
        EXPECT_EQ(ReadBitMapPixel(logical, 12, 11), Stored(0xFF00FF));
    }
    std::vector<uint32_t> golden = before;
    for (int32_t y = 20; y < 24; ++y) {
        for (int32_t x = 30; x < 36; ++x) {
            golden[size_t(y) * 100 + x] = Stored(colours[(y - 20) / 2][(x - 30) / 2]);
        }
    }
    EXPECT_EQ(WindowPixels(display), golden);
}

TEST_F(DisplayScaling, WindowPositionsMapToTheLogicalSpace) {
    qvDisplay* display = StartPatterned(40, 30,
                                        {{Str("scalemode"), Num(1)},
                                         {Str("scalewidth"), Num(100)},
                                         {Str("scaleheight"), Num(60)},
                                         {Str("keepproportions"), Num(1)}});
    struct Case {
        int32_t x, y;
        double logicalX, logicalY;
        int32_t truncatedX, flooredX;
    };
    const Case cases[] = {
        {10, 0, 0, 0, 0, 0},       {31, 21, 10.5, 10.5, 10, 10},
        {9, 0, -0.5, 0, 0, -1},     // on the left strip: column 0 for events, no button
        {0, 59, -5, 29.5, -5, -5},  // nothing is clamped
        {95, 0, 42.5, 0, 42, 42},   // the right strip lies beyond the last column
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y);
        const scene::LogicalPoint p = WindowToLogical(display, c.x, c.y);
        EXPECT_EQ(p.x, c.logicalX);
        EXPECT_EQ(p.y, c.logicalY);
        EXPECT_EQ(int32_t(std::trunc(p.x)), c.truncatedX);
        EXPECT_EQ(int32_t(std::floor(p.x)), c.flooredX);
    }
    // A very wide picture in a square window: the factors never make a division by 0.
    ASSERT_EQ(Call("CreateBGPic", {Num(2), Num(3000), Num(10)}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("bgpic"), Num(2)},
                                                    {Str("scalemode"), Num(1)},
                                                    {Str("scalewidth"), Num(100)},
                                                    {Str("scaleheight"), Num(100)},
                                                    {Str("keepproportions"), Num(1)}})})
                  .code,
              0);
    const qvDisplaySettings& wide = Display(2)->settings;
    EXPECT_EQ(wide.scaleHeight, 1);
    EXPECT_GT(wide.scaleY, 0.0);
    EXPECT_TRUE(std::isfinite(WindowToLogical(Display(2), 50, 50).y));
    // Without scaling the window is the logical space.
    ASSERT_EQ(Call("CreateDisplay", {Num(3), Table({{Str("width"), Num(20)}})}).code, 0);
    EXPECT_EQ(WindowToLogical(Display(3), -3, 7).x, -3.0);
}

// A 3 x 2 brush of six colours, the colours as stored.
constexpr uint32_t kBrushColours[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF},
                                          {0xFFFF00, 0x00FFFF, 0xFF00FF}};

qvDisplayBitMap* SixColours() {
    qvDisplayBitMap* brush = AllocDisplayBitMap(3, 2);
    for (int32_t y = 0; brush != nullptr && y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) PlotPixel(brush, x, y, kBrushColours[y][x]);
    }
    return brush;
}

// The window's pixels with the six colours drawn at (x, y), each factor x factor pixels.
std::vector<uint32_t> WithSixColours(std::vector<uint32_t> window, int32_t windowWidth, int32_t x,
                                     int32_t y, int32_t factor) {
    for (int32_t dy = 0; dy < 2 * factor; ++dy) {
        for (int32_t dx = 0; dx < 3 * factor; ++dx) {
            window[size_t(y + dy) * windowWidth + x + dx] =
                Stored(kBrushColours[dy / factor][dx / factor]);
        }
    }
    return window;
}

// A brush layer on top of the output picture at (x, y), as the brush commands add it.
qvLayer* AddSixColourLayer(qvVmState* L, int32_t x, int32_t y) {
    EXPECT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, x, y, 3, 2, nullptr, nullptr,
                            SixColours(), nullptr, nullptr, -1, QV_ADDLAYER_DISPLAYITEM),
              0);
    const qvBGPic* picture = scene::LayerDisplays().OutputPicture();
    return GetLayerByIndex(picture, CountLayers(picture));
}

size_t WindowDamage(const qvDisplay* display) {
    std::lock_guard<std::recursive_mutex> hold(display->window->lock);
    return TakeDamage(display->window).count;
}

// Layer scaling is the scaled mode of drawing: a plain layer on top is shown at once, painted
// from its display item at the scale; at factor 1 it is left to the direct blit. A new scale
// rebuilds the display items.
TEST_F(DisplayScaling, ALayerOnALayerScaledDisplayShowsAtTheScaleAtOnce) {
    qvDisplay* display = StartPatterned(40, 30,
                                        {{Str("scalemode"), Num(2)},
                                         {Str("scalewidth"), Num(100)},
                                         {Str("scaleheight"), Num(60)},
                                         {Str("keepproportions"), Num(1)}});
    ASSERT_EQ(display->settings.letterbox[0], 10);
    const std::vector<uint32_t> before = WindowPixels(display);
    qvLayer* layer = AddSixColourLayer(L, 10, 10);
    ASSERT_NE(layer, nullptr);
    ASSERT_NE(layer->displayItem, layer->pictureItem);
    EXPECT_EQ(layer->displayItem->drawX, 20);
    EXPECT_EQ(layer->pictureItem->drawX, 10) << "the picture item stays logical";
    EXPECT_EQ(WindowPixels(display), WithSixColours(before, 100, 30, 20, 2));

    // A scale size of 160 x 120: 4x without strips, the display item made again.
    ASSERT_EQ(Call("SetDisplayAttributes",
                   {Table({{Str("scalewidth"), Num(160)}, {Str("scaleheight"), Num(120)}})})
                  .code,
              0);
    ASSERT_EQ(display->settings.scaleX, 4.0);
    EXPECT_EQ(layer->displayItem->drawX, 40);
    EXPECT_EQ(layer->displayItem->drawWidth, 12);
    const std::vector<uint32_t> resized = WindowPixels(display);
    for (int32_t dy = 0; dy < 8; ++dy) {
        for (int32_t dx = 0; dx < 12; ++dx) {
            ASSERT_EQ(resized[size_t(40 + dy) * 160 + 40 + dx],
                      Stored(kBrushColours[dy / 4][dx / 4]))
                << dx << "," << dy;
        }
    }
}

TEST_F(DisplayScaling, AtFactorOneALayerOnTopIsLeftToTheDirectBlit) {
    qvDisplay* display = StartPatterned(
        40, 30,
        {{Str("scalemode"), Num(2)}, {Str("scalewidth"), Num(40)}, {Str("scaleheight"), Num(30)}});
    ASSERT_EQ(display->settings.scaleX, 1.0);
    const std::vector<uint32_t> before = WindowPixels(display);
    WindowDamage(display);
    ASSERT_NE(AddSixColourLayer(L, 10, 10), nullptr);
    EXPECT_EQ(WindowDamage(display), 0u) << "no refresh";
    EXPECT_EQ(WindowPixels(display), before);
    OwnedBitMap brush(SixColours());
    SafeBlt(L, brush.get(), 0, 0, nullptr, 10, 10, 3, 2, 3, 2, 40, 30,
            QV_BLIT_BACKBUFFER | QV_BLIT_RECOMPOSE, nullptr, nullptr, nullptr);
    EXPECT_EQ(WindowPixels(display), WithSixColours(before, 40, 10, 10, 1));
}

// Autoscale with layers on: the layer is composed at the logical size and the window shows
// the composition doubled after the strip, after the direct blit as after a refresh.
TEST_F(DisplayScaling, ALayerOnAnAutoscaledDisplayLandsScaledAfterTheStrip) {
    qvDisplay* display = StartPatterned(40, 30,
                                        {{Str("scalemode"), Num(1)},
                                         {Str("scalewidth"), Num(100)},
                                         {Str("scaleheight"), Num(60)},
                                         {Str("keepproportions"), Num(1)},
                                         {Str("layers"), Bool(true)}});
    const std::vector<uint32_t> before = WindowPixels(display);
    const std::vector<uint32_t> golden = WithSixColours(before, 100, 30, 20, 2);
    qvLayer* layer = AddSixColourLayer(L, 10, 10);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->displayItem, layer->pictureItem) << "autoscale keeps one item";
    OwnedBitMap brush(SixColours());
    SafeBlt(L, brush.get(), 0, 0, nullptr, 10, 10, 3, 2, 3, 2, 40, 30,
            QV_BLIT_BACKBUFFER | QV_BLIT_RECOMPOSE, nullptr, nullptr, nullptr);
    EXPECT_EQ(WindowPixels(display), golden);
    scene::Host().RefreshRect(L, 0, 0, 40, 30);
    EXPECT_EQ(WindowPixels(display), golden) << "the composition agrees";
}

// Layer scaling shows a shown set at the scale size, made again from the base set: a gradient
// is drawn again there rather than stretched.
TEST_F(DisplayScaling, LayerScalingShowsThePictureMadeAtTheScaleSize) {
    ASSERT_EQ(Call("CreateGradientBGPic",
                   {Num(1), Num(2), Num(0xFF2000), Num(0x0010FF), Num(40), Num(30), Num(30)})
                  .code,
              0);
    qvDisplay* display = Start({{Str("bgpic"), Num(1)},
                                {Str("scalemode"), Num(2)},
                                {Str("scalewidth"), Num(120)},
                                {Str("scaleheight"), Num(60)}});
    const qvBGPic* picture = Find(1);
    EXPECT_EQ(display->layersEnabled, 1);
    EXPECT_EQ(picture->width, 40) << "drawing stays at the logical size";
    EXPECT_EQ(picture->shownWidth, 120);
    EXPECT_EQ(display->displayBitmap->width, 120);
    EXPECT_EQ(display->settings.scaleX, 3.0);
    EXPECT_EQ(display->settings.scaleY, 2.0);
    ASSERT_EQ(Call("CreateGradientBGPic",
                   {Num(2), Num(2), Num(0xFF2000), Num(0x0010FF), Num(120), Num(60), Num(30)})
                  .code,
              0);
    EXPECT_EQ(WindowPixels(display), Pixels(Find(2)->shown.bitmap));

    // A script's resize changes the logical size; the window and the scale size stay.
    ASSERT_EQ(Call("ChangeDisplaySize", {Num(60), Num(20)}).code, 0);
    EXPECT_EQ(picture->width, 60);
    EXPECT_EQ(picture->shownWidth, 120);
    EXPECT_EQ(display->settings.scaleX, 2.0);
    EXPECT_EQ(display->settings.scaleY, 3.0);
    EXPECT_EQ(display->window->framebuffer->width, 120);

    // Switched off: back at the picture's size, unscaled.
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("scalemode"), Num(0)}})}).code, 0);
    EXPECT_EQ(display->settings.layerScaling, 0);
    EXPECT_EQ(display->settings.scaleWidth, 0);
    EXPECT_EQ(display->settings.scaleX, 1.0);
    EXPECT_EQ(picture->shownWidth, 60);
    EXPECT_EQ(picture->shown.bitmap, picture->scaled.bitmap);
    EXPECT_EQ(display->window->framebuffer->width, 60);
    EXPECT_EQ(display->window->framebuffer->height, 20);
    EXPECT_EQ(WindowPixels(display), Pixels(picture->shown.bitmap));
}

// The picture list asks for a rectangle of the picture: a layer-scaled window shows it at the
// scale, after the strips.
TEST_F(DisplayScaling, ARefreshOfAPictureRectangleIsScaledOnALayerScaledDisplay) {
    qvDisplay* display = StartPatterned(40, 30,
                                        {{Str("scalemode"), Num(2)},
                                         {Str("scalewidth"), Num(100)},
                                         {Str("scaleheight"), Num(60)},
                                         {Str("keepproportions"), Num(1)}});
    ASSERT_EQ(display->displayBitmap->width, 80);
    RectFill(display->displayBitmap, 0, 0, 80, 60, 0xFFFFFF);
    const std::vector<uint32_t> before = WindowPixels(display);
    scene::Host().RefreshRect(L, 10, 5, 2, 2);
    std::vector<uint32_t> golden = before;
    for (int32_t y = 10; y < 14; ++y) {
        for (int32_t x = 30; x < 34; ++x) golden[size_t(y) * 100 + x] = Stored(0xFFFFFF);
    }
    EXPECT_EQ(WindowPixels(display), golden);
}

TEST_F(DisplayScaling, AutoscaleSwitchedOnAndOffByAttributes) {
    qvDisplay* display = StartPatterned(30, 20, {});
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("scalemode"), Num(1)},
                                                   {Str("scalewidth"), Num(-300)},
                                                   {Str("scaleheight"), Num(60)}})})
                  .code,
              0);
    const qvDisplaySettings& s = display->settings;
    EXPECT_EQ(s.autoscale, 1);
    EXPECT_EQ(s.width, 90);
    EXPECT_EQ(s.scaleX, 3.0);
    EXPECT_EQ(display->window->framebuffer->width, 90);
    // The scaler's 16.16 steps are exact for powers of two only: 3x is ScaleBitmap's.
    const std::vector<uint32_t> picture = Pixels(Find(1)->shown.bitmap);
    EXPECT_EQ(WindowPixels(display), ScaledPixels(Find(1)->shown.bitmap, 90, 60));

    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("scalemode"), Num(0)}})}).code, 0);
    EXPECT_EQ(s.autoscale, 0);
    EXPECT_EQ(s.scaleX, 1.0);
    EXPECT_EQ(display->window->framebuffer->width, 30);
    EXPECT_EQ(WindowPixels(display), picture);
}

TEST_F(DisplayScaling, FitScaleFillsTheUsableAreaLessTheFrame) {
    platform::testing::SetScreenSize({1280, 1024});
    platform::testing::SetUsableArea({0, 20, 1280, 1004});
    platform::testing::SetFrameSizes({4, 20, 4, 4});
    qvDisplay* display = StartPatterned(
        640, 480,
        {{Str("scalemode"), Num(1)}, {Str("fitscale"), Num(1)}, {Str("keepproportions"), Num(1)}});
    const qvDisplaySettings& s = display->settings;
    EXPECT_EQ(std::vector<int32_t>({s.x, s.y, s.width, s.height}),
              (std::vector<int32_t>{0, 20, 1272, 980}));
    EXPECT_EQ(s.scaleWidth, 1272);
    EXPECT_EQ(s.scaleHeight, 954);
    EXPECT_EQ(std::vector<int32_t>(s.letterbox, s.letterbox + 4),
              (std::vector<int32_t>{0, 13, 0, 13}));
    EXPECT_EQ(display->window->framebuffer->width, 1272);
    EXPECT_EQ(display->window->framebuffer->height, 980);
    EXPECT_EQ(display->window->x, 0);
    EXPECT_EQ(display->window->y, 20);
}

// Regions the script gave in the picture's coordinates cover the same part of the picture in
// the scaled window.
TEST_F(DisplayScaling, GivenRegionsAreScaledIntoTheWindow) {
    qvDisplay* display =
        StartPatterned(40, 30,
                       {{Str("scalemode"), Num(1)},
                        {Str("scalewidth"), Num(100)},
                        {Str("scaleheight"), Num(60)},
                        {Str("keepproportions"), Num(1)},
                        {Str("dragregion"), List({Table({{Str("x"), Num(5)},
                                                         {Str("y"), Num(1)},
                                                         {Str("width"), Num(20)},
                                                         {Str("height"), Num(4)}})})}});
    const qvDisplayRegion& drag = display->settings.dragRegions.used[0];
    EXPECT_EQ(std::vector<int32_t>({drag.x, drag.y, drag.width, drag.height}),
              (std::vector<int32_t>{20, 2, 40, 8}));
    const qvDisplayRegion& supplied = display->settings.dragRegions.supplied[0];
    EXPECT_EQ(supplied.x, 5) << "the script's copy stays";
}

// A transition gets the old picture as it was composed and the new one, both at the size the
// new one is shown at; the window shows the old one until the transition draws.
TEST_F(DisplayScaling, DisplayBGPicWithGrabHandsBothPicturesToTheTransition) {
    qvDisplay* display = StartPatterned(30, 20, {});
    const std::vector<uint32_t> first = Pixels(Find(1)->shown.bitmap);
    ASSERT_EQ(Call("CreateBGPic", {Num(2), Num(60), Num(40), Num(0x2040F0)}).code, 0);
    qvDisplayBitMap *fresh = nullptr, *old = nullptr;
    ASSERT_EQ(scene::DisplayBGPicEx(L, {2, nullptr}, 0, 0, 1, &fresh, &old), 0);
    OwnedBitMap ownedFresh(fresh), ownedOld(old);
    EXPECT_EQ(display->settings.picture, Find(2));
    EXPECT_EQ(Pixels(fresh), std::vector<uint32_t>(60 * 40, Stored(0x2040F0)));
    std::vector<uint32_t> doubled;
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 60; ++x) doubled.push_back(first[size_t(y / 2) * 30 + x / 2]);
    }
    EXPECT_EQ(Pixels(old), doubled);
    EXPECT_EQ(WindowPixels(display), doubled);
}

// Memory running out at each allocation in turn while a scaled display resizes: the command
// fails with ERR_MEM, the display stays usable (its work bitmaps have the size its picture is
// shown at), nothing leaks (LeakSanitizer), and the same resize then succeeds.
class ScaledResizeFailures : public DisplayScaling {
protected:
    // With a layer, the layer keeps a display item with an image through every failure.
    void Sweep(int mode, const char* command, const std::vector<Arg>& args,
               bool withLayer = false) {
        qvDisplay* display = StartPatterned(30, 20,
                                            {{Str("scalemode"), Num(mode)},
                                             {Str("scalewidth"), Num(60)},
                                             {Str("scaleheight"), Num(40)},
                                             {Str("keepproportions"), Num(1)}});
        const qvLayer* layer = withLayer ? AddSixColourLayer(L, 5, 5) : nullptr;
        SetExitOnError(false);
        int failures = 0;
        for (uint64_t n = 1; n < 10000; ++n) {
            CallResult result;
            {
                AllocationFault fault(n, false);
                result = Call(command, args);
            }
            if (result.code == 0) break;
            ++failures;
            ASSERT_EQ(result.code, ERR_MEM) << n;
            const qvBGPic* picture = display->settings.picture;
            ASSERT_EQ(display->displayBitmap->width, picture->shownWidth) << n;
            ASSERT_EQ(display->compositionBitmap->height, picture->shownHeight) << n;
            ASSERT_EQ(display->state, DISPSTATE_OPEN) << n;
            if (layer != nullptr) {
                ASSERT_NE(layer->displayItem, nullptr) << n;
                ASSERT_NE(layer->displayItem->transformed.bitmap, nullptr) << n;
            }
        }
        EXPECT_GE(failures, 1);
        EXPECT_EQ(display->displayBitmap->width, display->settings.picture->shownWidth);
    }
};

const std::vector<Arg> kNewScaleSize = {
    Table({{Str("scalewidth"), Num(90)}, {Str("scaleheight"), Num(45)}})};

TEST_F(ScaledResizeFailures, AutoscaleToANewScaleSize) {
    Sweep(1, "SetDisplayAttributes", kNewScaleSize);
    EXPECT_EQ(Display(1)->settings.scaleWidth, 67) << "45 high at the picture's proportions";
    EXPECT_EQ(Display(1)->window->framebuffer->width, 90);
}

TEST_F(ScaledResizeFailures, LayerScalingToANewScaleSize) {
    Sweep(2, "SetDisplayAttributes", kNewScaleSize);
    EXPECT_EQ(Find(1)->shownWidth, 67) << "45 high at the picture's proportions";
}

TEST_F(ScaledResizeFailures, LayerScalingWithALayerToANewScaleSize) {
    Sweep(2, "SetDisplayAttributes", kNewScaleSize, true);
    const qvLayer* layer = GetLayerByIndex(Find(1), 1);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->displayItem->drawX, 11) << "made again at the new scale (5 x 67 / 30)";
}

TEST_F(ScaledResizeFailures, AutoscaleOfANewLogicalSize) {
    Sweep(1, "ChangeDisplaySize", {Num(50), Num(25)});
    EXPECT_EQ(Find(1)->width, 50);
}

TEST_F(ScaledResizeFailures, LayerScalingOfANewLogicalSize) {
    Sweep(2, "ChangeDisplaySize", {Num(50), Num(25)});
    EXPECT_EQ(Find(1)->width, 50);
}

TEST_F(ScaledResizeFailures, LayerScalingSwitchedOff) {
    Sweep(2, "SetDisplayAttributes", {Table({{Str("scalemode"), Num(0)}})});
    EXPECT_EQ(Display(1)->settings.layerScaling, 0);
    EXPECT_EQ(Display(1)->window->framebuffer->width, 30);
}

}  // namespace
}  // namespace qv::testing
