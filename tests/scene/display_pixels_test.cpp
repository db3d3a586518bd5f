// What the windows show: the picture pixel for pixel after opening, after DisplayBGPic and
// after a resize (in each screen format the suite runs in), the window's shape from the
// picture's mask, and a user's resize of a sizeable window.
#include "runtime/input_pump.h"
#include "scene/layers/compositor.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

using DisplayPixels = DisplayFixture;

TEST_F(DisplayPixels, TheWindowShowsThePictureAfterOpeningAndDisplayBGPic) {
    ASSERT_EQ(Call("CreateBGPic", {Num(1), Num(37), Num(21)}).code, 0);
    Patterned(Find(1));
    qvDisplay* display = Start({{Str("bgpic"), Num(1)}});
    EXPECT_EQ(WindowPixels(display), Pixels(Find(1)->shown.bitmap));

    ASSERT_EQ(Call("CreateGradientBGPic",
                   {Num(2), Num(2), Num(0xFF2000), Num(0x0010FF), Num(53), Num(29), Num(30)})
                  .code,
              0);
    ASSERT_EQ(Call("DisplayBGPic", {Num(2)}).code, 0);
    EXPECT_EQ(WindowPixels(display), Pixels(Find(2)->shown.bitmap));
    ASSERT_EQ(Call("DisplayBGPic", {Num(1)}).code, 0);
    EXPECT_EQ(WindowPixels(display), Pixels(Find(1)->shown.bitmap));
}

// Switching between a plain picture and one with a layer: the window shows each as composed,
// the display bitmap holds the plain picture, and a later partial refresh still composes.
class PictureSwitch : public DisplayFixture {
protected:
    // Pictures 1 (patterned) and 2 (a gradient), both 37x21.
    void MakePictures() {
        ASSERT_EQ(Call("CreateBGPic", {Num(1), Num(37), Num(21)}).code, 0);
        Patterned(Find(1));
        ASSERT_EQ(Call("CreateGradientBGPic",
                       {Num(2), Num(2), Num(0xFF2000), Num(0x0010FF), Num(37), Num(21), Num(30)})
                      .code,
                  0);
    }

    void Run(std::vector<std::pair<Arg, Arg>> options) {
        MakePictures();
        options.push_back({Str("bgpic"), Num(1)});
        qvDisplay* display = Start(std::move(options));
        const bool layered = display->layersEnabled != 0;
        if (layered) {
            ASSERT_EQ(AddSolidLayer(L, 5, 3, 9, 7, 0x00FF00), 0);
        }
        for (uint32_t id : {2u, 1u, 2u}) {
            SCOPED_TRACE(id);
            ASSERT_EQ(Call("DisplayBGPic", {Num(id)}).code, 0);
            EXPECT_EQ(WindowPixels(display), Recomposed(display, Find(id)));
            EXPECT_EQ(Pixels(display->displayBitmap), Pixels(Find(id)->shown.bitmap));
        }
        if (!layered) return;
        // Picture 2 is plain and shown: a new layer refreshes only its own rectangle.
        ASSERT_EQ(AddSolidLayer(L, 20, 10, 6, 6, 0x0000FF), 0);
        EXPECT_EQ(WindowPixels(display), Recomposed(display, Find(2)));
    }

    std::vector<uint32_t> Recomposed(qvDisplay* display, qvBGPic* picture) {
        OwnedBitMap fresh(AllocDisplayBitMap(picture->shownWidth, picture->shownHeight));
        Redraw(L, display, picture, fresh.get(), 0, 0, picture->shownWidth, picture->shownHeight, 0,
               0);
        return Pixels(fresh.get());
    }
};

TEST_F(PictureSwitch, WithoutLayers) {
    Run({});
}

TEST_F(PictureSwitch, WithLayers) {
    Run({{Str("layers"), Num(1)}});
}

// A new picture reaches the display bitmap and the window together with other changes (the
// window moved, a new title), and the display bitmap of a display without a window too.
TEST_F(PictureSwitch, WithOtherChangesAndWithoutAWindow) {
    MakePictures();
    qvDisplay* display = Start({{Str("bgpic"), Num(1)}});
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("bgpic"), Num(2)},
                                                   {Str("x"), Num(5)},
                                                   {Str("y"), Num(7)},
                                                   {Str("title"), Str("two")}})})
                  .code,
              0);
    EXPECT_EQ(WindowPixels(display), Pixels(Find(2)->shown.bitmap));
    EXPECT_EQ(Pixels(display->displayBitmap), Pixels(Find(2)->shown.bitmap));

    ASSERT_EQ(Call("CloseDisplay", {Num(1)}).code, 0);
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("bgpic"), Num(1)}})}).code, 0);
    EXPECT_EQ(Pixels(display->displayBitmap), Pixels(Find(1)->shown.bitmap));
    ASSERT_EQ(Call("OpenDisplay", {Num(1)}).code, 0);
    EXPECT_EQ(WindowPixels(display), Pixels(Find(1)->shown.bitmap));
}

TEST_F(DisplayPixels, ADisplaysOwnPictureIsItsFill) {
    qvDisplay* plain = Start({{Str("color"), Num(0x336699)}, {Str("width"), Num(16)}});
    EXPECT_EQ(ReadBitMapPixel(plain->window->framebuffer, 0, 0), Stored(0x336699));
    EXPECT_EQ(ReadBitMapPixel(plain->window->framebuffer, 15, 479), Stored(0x336699));
    ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("fillstyle"), Num(2)},
                                                    {Str("gradientstartcolor"), Num(0xFF0000)},
                                                    {Str("gradientendcolor"), Num(0x0000FF)},
                                                    {Str("width"), Num(16)},
                                                    {Str("height"), Num(64)}})})
                  .code,
              0);
    ASSERT_EQ(Call("OpenDisplay", {Num(2)}).code, 0);
    qvDisplay* gradient = Display(2);
    const qvDisplayBitMap* shown = gradient->window->framebuffer;
    EXPECT_GT(ReadBitMapPixel(shown, 0, 0) >> 16, 0xC0u) << "red at the start";
    EXPECT_GT(ReadBitMapPixel(shown, 15, 63) & 0xFF, 0xC0u) << "blue at the end";
    EXPECT_EQ(WindowPixels(gradient), Pixels(gradient->settings.picture->shown.bitmap));
    EXPECT_EQ(gradient->settings.picture->vector, 1) << "drawn again at a new size";
}

TEST_F(DisplayPixels, AResizedDisplayShowsItsRescaledPicture) {
    ASSERT_EQ(Call("CreateBGPic", {Num(1), Num(40), Num(30)}).code, 0);
    Patterned(Find(1));
    qvDisplay* display = Start({{Str("bgpic"), Num(1)}});
    ASSERT_EQ(Call("ChangeDisplaySize", {Num(80), Num(45)}).code, 0);
    const qvBGPic* picture = display->settings.picture;
    EXPECT_EQ(picture->width, 80);
    EXPECT_EQ(picture->shownHeight, 45);
    EXPECT_EQ(WindowPixels(display), Pixels(picture->shown.bitmap));
    EXPECT_EQ(Pixels(display->displayBitmap), Pixels(picture->shown.bitmap));
}

TEST_F(DisplayPixels, AShapedWindowHasThePicturesMask) {
    qvDisplay* display = Start();
    ASSERT_EQ(Call("CreateBGPic", {Num(2), Num(41), Num(31), Num(0xABCDEF)}).code, 0);
    qvBGPic* picture = Find(2);
    qvPlaneBitMap* mask = AllocMaskBitMap(nullptr, 41, 31, 1);
    for (int32_t y = 0; y < 31; ++y) {
        for (int32_t x = 0; x < 41; ++x) {
            if ((x - 20) * (x - 20) + (y - 15) * (y - 15) <= 144) PlotPixel(mask, x, y, 0);
        }
    }
    picture->base.mask = picture->scaled.mask = picture->shown.mask = mask;
    ClearLog();
    ASSERT_EQ(Call("DisplayBGPic", {Num(2)}).code, 0);
    // The shape changes: the window opens again.
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "close 1");
    EXPECT_EQ(log[1].substr(0, 7), "open 2 ");
    EXPECT_NE(log[1].find("shape=1"), std::string::npos);
    const qvPlaneBitMap* shape = display->window->shape;
    ASSERT_NE(shape, nullptr);
    for (int32_t y = 0; y < 31; ++y) {
        for (int32_t x = 0; x < 41; ++x) {
            ASSERT_EQ(ReadBitMapPixel(shape, x, y), ReadBitMapPixel(mask, x, y)) << x << "," << y;
        }
    }
}

TEST_F(DisplayPixels, AUserResizeOfASizeableWindowFitsThePicture) {
    ASSERT_EQ(Call("CreateBGPic", {Num(1), Num(40), Num(30)}).code, 0);
    Patterned(Find(1));
    qvDisplay* display = Start({{Str("bgpic"), Num(1)}, {Str("sizeable"), Num(1)}});
    ASSERT_EQ(PumpEvents(L), 0);  // the start-up's activation of the display
    HostEvent event{};
    event.kind = HostEventKind::kResized;
    event.window = display->window->number;
    event.x = 60, event.y = 50;
    ASSERT_TRUE(platform::testing::InjectHostEvent(event));
    TakeEvents();
    ASSERT_EQ(PumpEvents(L), 0);
    EXPECT_EQ(display->settings.width, 60);
    EXPECT_EQ(display->settings.picture->height, 50);
    EXPECT_EQ(display->window->framebuffer->width, 60);
    EXPECT_EQ(WindowPixels(display), Pixels(display->settings.picture->shown.bitmap));
    const std::vector<QueuedEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, QV_EVENT_SIZEWINDOW);
}

}  // namespace
}  // namespace qv::testing
