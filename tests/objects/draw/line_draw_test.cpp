// DrawLineEx and the Line command on a display over a headless window: which road a line
// takes, what it leaves in the display's bitmap, the window and the layers, and the
// redirected brush road.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <optional>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "media/video_display.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/lines.h"
#include "objects/scene_seam.h"
#include "platform/linux/memory.h"
#include "tests/objects/draw/draw_test_support.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

using namespace qv::draw;
using namespace qv::test;

constexpr int32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kRed = 0xFF0000;

// The output redirected into a brush of the test's: its bitmap, or an error.
class RedirectedOutput final : public objects::SceneSeam {
public:
    RedirectedOutput() { objects::SetSceneSeam(this); }
    ~RedirectedOutput() override { objects::SetSceneSeam(nullptr); }
    RedirectedOutput(const RedirectedOutput&) = delete;
    RedirectedOutput& operator=(const RedirectedOutput&) = delete;

    int FetchOutputBitmaps(qvVmState*, qvDisplayBitMap** out) override {
        *out = bitmap;
        return error;
    }
    qvDisplayBitMap* bitmap = nullptr;
    int error = 0;
};

class LineDrawing : public LibFixture {
protected:
    LineDrawing() : LibFixture(OpenLibraries<RegisterDrawLibrary>) { Fresh(); }
    ~LineDrawing() override {
        media::testing::SetVideoPlayingOn(nullptr);
        FreeDrawBuffers(L);
    }

    // A new display (one at a time: each frees every picture as it goes), layers off.
    SceneDisplay& Fresh() {
        display_.reset();
        display_.emplace(Solid(kWidth, kHeight, 0));
        display_->view.layersEnabled = false;
        return *display_;
    }
    SceneDisplay& Scene() { return *display_; }

    // The display bitmap as 255 where it holds the colour, else 0.
    cv::Mat Where(uint32_t colour) const {
        cv::Mat image(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                if (ReadBitMapPixel(display_->displayBitmap.get(), x, y) == colour) {
                    image.at<uint8_t>(y, x) = 255;
                }
            }
        }
        return image;
    }
    // The allocations one line costs: none on the direct road.
    uint64_t Allocations(const qvLineDesc& line, int* code) {
        const uint64_t before = GetMemoryStats().requests;
        *code = DrawLineEx(L, line, 0);
        return GetMemoryStats().requests - before;
    }
    qvLineDesc Desc(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                    int32_t thickness = 1) {
        return {x1,      y1,      x2,      y2, colour, thickness, GetDrawState(),
                nullptr, nullptr, nullptr, 0,  nullptr};
    }
    size_t LayerCount() const {
        size_t n = 0;
        scene::ForEachLayer(&display_->picture->layers, [&](qvLayer*) { ++n; });
        return n;
    }

    SceneObjects objects;
    std::optional<SceneDisplay> display_;
};

TEST_F(LineDrawing, RoadsByOutputAndStyle) {
    struct Case {
        const char* name;
        uint32_t colour;
        int32_t thickness;
        bool antialias, sprite, video;
        bool direct;
    };
    const Case cases[] = {
        {"thin and opaque", kRed, 1, false, false, false, true},
        {"transparent", 0x80FF0000, 1, false, false, false, false},
        {"anti-aliased", kRed, 1, true, false, false, false},
        {"thick", kRed, 3, false, false, false, false},
        {"under a sprite", kRed, 1, false, true, false, false},
        {"over a video", kRed, 1, false, false, true, false},
    };
    for (const Case& c : cases) {
        SceneDisplay& display = Fresh();
        if (c.sprite) display.AddSprite(1, 30, 0, 8, 8);
        media::testing::SetVideoPlayingOn(c.video ? display.Display() : nullptr);
        GetDrawState()->formStyle = c.antialias ? ANTIALIAS : NORMAL;
        int code = -1;
        const uint64_t allocations = Allocations(Desc(2, 5, 60, 5, c.colour, c.thickness), &code);
        EXPECT_EQ(code, 0) << c.name;
        EXPECT_EQ(allocations == 0, c.direct) << c.name;
        EXPECT_NE(ReadBitMapPixel(display.displayBitmap.get(), 20, 5), 0u) << c.name;
        EXPECT_FALSE(display.TakeWindowDamage().empty()) << c.name << ": the window follows";
        if (c.direct) {
            EXPECT_EQ(display.Window(), ReadPixels(display.displayBitmap.get(), kWidth, kHeight));
        }
    }
}

TEST_F(LineDrawing, TheDirectRoadClipsToTheDrawingArea) {
    int code = -1;
    EXPECT_EQ(Allocations(Desc(-2000000000, 0, 2000000000, 5, kRed), &code), 0u);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(cv::countNonZero(Where(kRed).row(2)), kWidth) << "y 2.5 where x is 0 and 63";
    // Wholly outside: nothing, and no error.
    EXPECT_EQ(DrawLineEx(L, Desc(-50, -3, 200, -1, 0x00FF00), 0), 0);
    EXPECT_EQ(cv::countNonZero(Where(0x00FF00)), 0);
    // Equal ends: one pixel; a clip region's rectangle bounds the area.
    EXPECT_EQ(DrawLineEx(L, Desc(10, 40, 10, 40, 0x0000FF), 0), 0);
    EXPECT_EQ(cv::countNonZero(Where(0x0000FF)), 1);
    EXPECT_EQ(ReadBitMapPixel(Scene().displayBitmap.get(), 10, 40), 0x0000FFu);
    qvClipRegion region{};
    region.x = 20, region.y = 0, region.width = 10, region.height = kHeight;
    Scene().output->clipRegion = &region;
    EXPECT_EQ(DrawLineEx(L, Desc(0, 30, 63, 30, 0xFFFF00), 0), 0);
    Scene().output->clipRegion = nullptr;
    EXPECT_EQ(cv::countNonZero(Where(0xFFFF00)), 10);
    EXPECT_EQ(ReadBitMapPixel(Scene().displayBitmap.get(), 20, 30), 0xFFFF00u);
}

TEST_F(LineDrawing, AHugeAntialiasedLineIsOutOfMemoryAndLeaksNothing) {
    GetDrawState()->formStyle = ANTIALIAS;
    EXPECT_EQ(Call("Line", {Num(-2e9), Num(0), Num(2e9), Num(5), Num(kRed)}).code, ERR_MEM);
    const size_t live = GetMemoryStats().liveBlocks;
    EXPECT_EQ(DrawLineEx(L, Desc(-2000000000, 0, 2000000000, 5, kRed), 0), ERR_MEM);
    EXPECT_EQ(GetMemoryStats().liveBlocks, live);
    EXPECT_EQ(cv::countNonZero(Where(kRed)), 0);
}

TEST_F(LineDrawing, ThickLinesAreOpenCvLines) {
    struct Case {
        double given;
        int used;
    };
    for (const Case& c : {Case{0, 1}, {-3, 1}, {8, 8}, {100, 64}}) {
        SceneDisplay& display = Fresh();
        ASSERT_EQ(
            Call("Line", {Num(5), Num(40), Num(50), Num(12), Num(0xFFFFFF), Num(c.given)}).code, 0);
        // OpenCV's thick lines depend on where the image ends: drawn as in the line's own
        // image (its box grown by the thickness), then cut to the display.
        const int grow = c.used > 1 ? c.used : 0, shift = c.used > 1 ? c.used >> 1 : 0;
        cv::Mat own(29 + grow, 46 + grow, CV_8UC1, cv::Scalar(0));
        cv::line(own, {shift, 28 + shift}, {45 + shift, shift}, cv::Scalar(255), c.used,
                 cv::LINE_8);
        cv::Mat expected(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
        for (int y = 0; y < own.rows; ++y) {
            for (int x = 0; x < own.cols; ++x) {
                const int dx = 5 - shift + x, dy = 12 - shift + y;
                if (dx >= 0 && dy >= 0 && dx < kWidth && dy < kHeight) {
                    expected.at<uint8_t>(dy, dx) = own.at<uint8_t>(y, x);
                }
            }
        }
        cv::Mat actual(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                if (ReadBitMapPixel(display.displayBitmap.get(), x, y) != 0) {
                    actual.at<uint8_t>(y, x) = 255;
                }
            }
        }
        EXPECT_TRUE(SameImage(expected, actual)) << "thickness " << c.given;
    }
}

TEST_F(LineDrawing, ARotatedThickLineKeepsItsWidth) {
    ASSERT_EQ(Call("Line", {Num(20), Num(24), Num(40), Num(24), Num(kRed), Num(8), Num(90)}).code,
              0);
    const cv::Mat turned = Where(kRed);
    cv::Mat columns;
    cv::reduce(turned, columns, 0, cv::REDUCE_MAX);
    EXPECT_EQ(cv::countNonZero(columns), 9) << "8 wide, as cv::line draws thickness 8";
    cv::Mat rows;
    cv::reduce(turned, rows, 1, cv::REDUCE_MAX);
    EXPECT_GE(cv::countNonZero(rows), 21) << "and 21 long";
}

TEST_F(LineDrawing, WithLayersEachLineIsALineLayerKeepingItsEnds) {
    Scene().view.layersEnabled = true;
    ASSERT_EQ(Call("Line", {Num(4), Num(30), Num(44), Num(10), Num(kRed), Num(1), Num(90)}).code,
              0);
    ASSERT_EQ(Call("Line", {Num(1), Num(1), Num(9), Num(1), Num(0x00FF00)}).code, 0);
    ASSERT_EQ(LayerCount(), 2u);
    auto* layer = reinterpret_cast<qvLayer*>(Scene().picture->layers.head);
    EXPECT_EQ(layer->type, uint32_t(LINE));
    const auto* item = static_cast<const qvShapeItem*>(layer->sourceItem);
    EXPECT_EQ((std::vector{item->x1, item->y1, item->x2, item->y2}),
              (std::vector<int32_t>{4, 30, 44, 10}))
        << "the ends before the turn";
    EXPECT_EQ((std::vector{item->x, item->y, item->width, item->height}),
              (std::vector<int32_t>{4, 10, 41, 21}));
    EXPECT_EQ(item->colour, kRed);
    EXPECT_EQ(item->thickness, 1);
    EXPECT_NE(layer->transform.matrix[1], 0) << "the layer keeps the turn";
    // A plain line on top is on the window at once, as the compositor shows it.
    EXPECT_EQ(Scene().Window(), Scene().Recomposed(L));
    EXPECT_EQ(ReadBitMapPixel(Scene().window->framebuffer, 5, 1), 0x00FF00u);
    EXPECT_EQ(ReadBitMapPixel(Scene().displayBitmap.get(), 5, 1), 0u) << "the picture stays";
}

TEST_F(LineDrawing, LayersAreReplacedOrUpdatedInPlace) {
    Scene().view.layersEnabled = true;
    ASSERT_EQ(DrawLineEx(L, Desc(0, 0, 9, 0, kRed), 0), 0);
    ASSERT_EQ(DrawLineEx(L, Desc(0, 5, 9, 5, kRed), 0), 0);
    qvLineDesc redraw = Desc(0, 20, 9, 20, 0x00FF00);
    redraw.insertPosition = 1;
    ASSERT_EQ(DrawLineEx(L, redraw, QV_DRAW_REDRAW), 0);
    ASSERT_EQ(LayerCount(), 2u);
    auto* bottom = reinterpret_cast<qvLayer*>(Scene().picture->layers.head);
    EXPECT_EQ(static_cast<const qvShapeItem*>(bottom->sourceItem)->y1, 20) << "replaced";
    qvLineDesc inPlace = Desc(0, 30, 19, 30, 0x0000FF);
    inPlace.layer = bottom;
    ASSERT_EQ(DrawLineEx(L, inPlace, QV_DRAW_INPLACE), 0);
    EXPECT_EQ(LayerCount(), 2u);
    EXPECT_EQ(bottom->displayItem->drawWidth, 20);
    EXPECT_EQ(ReadBitMapPixel(bottom->displayItem->image.bitmap, 15, 0), 0x0000FFu);
    EXPECT_EQ(ReadBitMapPixel(Scene().window->framebuffer, 15, 30), 0x0000FFu) << "refreshed";
}

TEST_F(LineDrawing, TagsAndArguments) {
    struct Case {
        std::vector<Arg> extra;  // after x1, y1, x2, y2
        int code;
        int rows;  // rows the horizontal line covers
    };
    const Case cases[] = {
        {{Num(kRed), Table({{Str("thickness"), Num(5)}})}, 0, 6},  // as cv::line draws 5
        // A table brings its own rotation: the number after it turns nothing.
        {{Num(kRed), Table({{Str("thickness"), Num(5)}}), Num(90)}, 0, 6},
        {{Num(kRed), Nil(), Num(90)}, 0, 1},  // no rotation
        {{Num(kRed), Table({{Str("anchorx"), Num(2)}})}, ERR_WRONGUSAGE, 0},
        {{Num(kRed), Num(3)}, 0, 4},
    };
    for (const Case& c : cases) {
        SceneDisplay& display = Fresh();
        std::vector<Arg> args = {Num(10), Num(20), Num(30), Num(20)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(Call("Line", args).code, c.code);
        int rows = 0;
        for (int32_t y = 0; y < kHeight; ++y) {
            rows += ReadBitMapPixel(display.displayBitmap.get(), 20, y) == kRed;
        }
        EXPECT_EQ(rows, c.rows) << c.extra.size() << " arguments after the ends";
    }
    // Each end is a point: RIGHT is the last column.
    ASSERT_EQ(Call("Line", {Num(gfx::RIGHT), Num(0), Num(gfx::RIGHT), Num(47), Num(0x00FF00)}).code,
              0);
    EXPECT_EQ(ReadBitMapPixel(Scene().displayBitmap.get(), kWidth - 1, 7), 0x00FF00u);
}

TEST_F(LineDrawing, TheBrushRoadPaintsTheRedirectedPlanes) {
    RedirectedOutput output;
    TestImage brush(20, 10, false);
    output.bitmap = brush.bitmap.get();
    Scene().view.outputType = gfx::kTargetBrush;
    Scene().view.targetMask = brush.mask.get();
    Scene().output->width = 20, Scene().output->height = 10;
    EXPECT_EQ(DrawLineEx(L, Desc(0, 4, 19, 4, kRed), 0), 0);
    EXPECT_EQ(cv::countNonZero(brush.Plane().row(4)), 20);
    EXPECT_EQ(ReadBitMapPixel(brush.bitmap.get(), 7, 4), kRed);
    EXPECT_EQ(cv::countNonZero(Where(kRed)), 0) << "not on the display";
    // A mask alone takes the mask mode; an alpha channel alone the alpha value.
    Scene().view.outputType = gfx::kTargetMask;
    gfx::Graphics().maskMode = gfx::kMaskInvisible;
    ASSERT_EQ(DrawLineEx(L, Desc(0, 4, 9, 4, 0), 0), 0);
    EXPECT_EQ(cv::countNonZero(brush.Plane().row(4)), 10);
    TestImage alpha(20, 10, true);
    Scene().view.outputType = gfx::kTargetAlphaChannel;
    Scene().view.targetMask = nullptr, Scene().view.targetAlpha = alpha.alpha.get();
    gfx::Graphics().alphaIntensity = 77;
    GetDrawState()->formStyle = ANTIALIAS;
    ASSERT_EQ(DrawLineEx(L, Desc(0, 2, 19, 7, 0), 0), 0);
    double lowest = 0, highest = 0;
    cv::minMaxLoc(alpha.Plane(), &lowest, &highest);
    EXPECT_EQ(highest, 77) << "a value other than -1 draws without soft edges";
    EXPECT_EQ(cv::countNonZero(alpha.Plane() == 77), cv::countNonZero(alpha.Plane()));
    gfx::Graphics().alphaIntensity = gfx::kAlphaVanillaCopy;
    ASSERT_EQ(DrawLineEx(L, Desc(0, 9, 19, 3, 0), 0), 0);
    EXPECT_GT(cv::countNonZero((alpha.Plane() > 0) & (alpha.Plane() < 255)), 4) << "soft edges";
    gfx::Graphics().maskMode = gfx::kMaskVisible;
    gfx::Graphics().alphaIntensity = 128;
    // A thick line goes through an image into the brush; a failed fetch is returned.
    Scene().view.outputType = gfx::kTargetBrush;
    Scene().view.targetAlpha = nullptr;
    GetDrawState()->formStyle = NORMAL;
    ASSERT_EQ(DrawLineEx(L, Desc(2, 0, 2, 9, 0x00FF00, 3), 0), 0);
    EXPECT_EQ(ReadBitMapPixel(brush.bitmap.get(), 3, 5), 0x00FF00u);
    output.error = ERR_LOCKEDOBJ;
    EXPECT_EQ(DrawLineEx(L, Desc(0, 0, 5, 5, kRed), 0), ERR_LOCKEDOBJ);
}

}  // namespace
}  // namespace qv::testing
