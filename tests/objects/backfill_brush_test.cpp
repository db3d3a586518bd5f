// The backfill kinds that start from a brush: a texture tiles a copy of the declared brush, a
// picture draws it (loaded quietly from a file, keyed, scaled on request) on the colour or
// gradient at the declared position, and a brush that cannot be made leaves nothing behind.
#include <memory>

#include "gfx/gradient.h"
#include "runtime/runtime_state.h"
#include "scene/bgpic.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

constexpr int32_t kWidth = 40, kHeight = 30;
constexpr uint32_t kRed = 0xF80000, kBlue = 0x0000F8, kBack = 0x336699;

class BackfillBrushTest : public BrushDisplayFixture {
protected:
    BackfillBrushTest()
        : header_(std::make_unique<qvScriptHeader>()),
          options_(std::make_unique<qvStartupOptions>()) {
        SetDisplayDefaults(header_.get(), options_.get());
        SetRegistryPointer(L, "applet", header_.get());
        platform::testing::SetScreenSize({kWidth, kHeight});
        qvBackfill& b = Backfill();
        b.startColour = int32_t(kBack);
        b.coverTitleBar = 1;
    }
    ~BackfillBrushTest() override { SetRegistryPointer(L, "applet", nullptr); }

    qvBackfill& Backfill() { return header_->display.backfill; }

    int StartUp() {
        EXPECT_EQ(Call("CreateDisplay",
                       {Num(1), Table({{Str("width"), Num(8)}, {Str("height"), Num(8)}})})
                      .code,
                  0);
        return OpenFirstDisplay(L, header_.get(), options_.get());
    }

    // The backfill display's picture, read row by row.
    static std::vector<uint32_t> Shown() {
        const qvDisplay* head = scene::FirstDisplay();
        if (head == nullptr || head->settings.private1 == 0) return {};
        EXPECT_EQ(WindowPixels(head), Pixels(head->settings.picture->shown.bitmap));
        return Pixels(head->settings.picture->shown.bitmap);
    }

    // The background with a 2 x 2 checkered brush of red and blue (blue hidden when masked)
    // at (x, y).
    static std::vector<uint32_t> CheckerAt(int32_t x, int32_t y, bool masked) {
        std::vector<uint32_t> pixels(size_t(kWidth) * kHeight, Stored(kBack));
        for (int32_t j = 0; j < 2; ++j) {
            for (int32_t i = 0; i < 2; ++i) {
                if (masked && (i + j) % 2 != 0) continue;
                pixels[size_t(y + j) * kWidth + x + i] = Stored((i + j) % 2 == 0 ? kRed : kBlue);
            }
        }
        return pixels;
    }

    void Checker(uint32_t id, bool masked) {
        MakeBrush(id, 2, 2, {kRed, kBlue, kBlue, kRed},
                  masked ? std::vector<uint8_t>{1, 0, 0, 1} : std::vector<uint8_t>{});
    }

private:
    std::unique_ptr<qvScriptHeader> header_;
    std::unique_ptr<qvStartupOptions> options_;
};

TEST_F(BackfillBrushTest, TextureTilesACopyOfTheBrush) {
    Checker(7, false);
    Backfill().mode = 3;
    Backfill().brushId = 7;
    ASSERT_EQ(StartUp(), 0);
    std::vector<uint32_t> expected;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            expected.push_back(Stored((x + y) % 2 == 0 ? kRed : kBlue));
        }
    }
    EXPECT_EQ(Shown(), expected);
    // The script's brush stays its own: freeing it leaves the backfill's copy.
    EXPECT_EQ(Call("FreeBrush", {Num(7)}).code, 0);
    EXPECT_NE(scene::Displays().backfillBrush, nullptr);
}

struct PictureCase {
    const char* name;
    int32_t x, y;  // declared; CENTER when not given
    bool masked;
    int32_t left, top;  // where the brush lands
};

TEST_F(BackfillBrushTest, PictureDrawsTheBrushAtItsPositionThroughItsMask) {
    const PictureCase cases[] = {
        {"centred", gfx::CENTER, gfx::CENTER, false, 19, 14},
        {"placed and masked", 5, 9, true, 5, 9},
        {"from the right edge", gfx::RIGHT, 0, true, 38, 0},
    };
    for (const PictureCase& c : cases) {
        SCOPED_TRACE(c.name);
        Checker(2, c.masked);
        Backfill().mode = 4;
        Backfill().brushId = 2;
        Backfill().pictureX = c.x, Backfill().pictureY = c.y;
        ASSERT_EQ(StartUp(), 0);
        EXPECT_EQ(Shown(), CheckerAt(c.left, c.top, c.masked));
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        ASSERT_EQ(RegisterDisplayLibrary(L), 0);
    }
}

TEST_F(BackfillBrushTest, ScaledPictureCoversTheGradient) {
    Plain(3, 2, 2, kRed);
    Backfill().mode = 4;
    Backfill().brushId = 3;
    Backfill().endColour = 0xFF8000;  // both colours: a gradient under the brush
    Backfill().scalePicture = 1;
    ASSERT_EQ(StartUp(), 0);
    EXPECT_EQ(Shown(), std::vector<uint32_t>(size_t(kWidth) * kHeight, Stored(kRed)));
    // Unscaled, the gradient shows around the brush.
    CloseDisplayLibrary(L);
    FreeAllBGPics(L);
    ASSERT_EQ(RegisterDisplayLibrary(L), 0);
    Backfill().scalePicture = 0;
    ASSERT_EQ(StartUp(), 0);
    OwnedBitMap gradient(AllocDisplayBitMap(kWidth, kHeight));
    qvGradient g{};
    g.startColour = kBack, g.endColour = 0xFF8000;
    DrawGradient(gradient.get(), 0, 0, kWidth, kHeight, &g);
    std::vector<uint32_t> expected = Pixels(gradient.get());
    for (int32_t y = 14; y < 16; ++y) {
        for (int32_t x = 19; x < 21; ++x) expected[size_t(y) * kWidth + x] = Stored(kRed);
    }
    EXPECT_EQ(Shown(), expected);
}

TEST_F(BackfillBrushTest, PictureFileIsLoadedQuietlyAndKeyed) {
    Checker(1, false);
    const std::string file = TempDir() + "/checker.png";
    ASSERT_EQ(Call("SaveBrush", {Num(1), Str(file)}).code, 0);
    Backfill().mode = 4;
    std::snprintf(Backfill().brushFile, sizeof Backfill().brushFile, "%s", file.c_str());
    Backfill().transparentColour = int32_t(kBlue);
    Backfill().pictureX = 3, Backfill().pictureY = 4;
    const size_t before = DebugText().size();
    ASSERT_EQ(StartUp(), 0);
    EXPECT_EQ(Shown(), CheckerAt(3, 4, true));
    EXPECT_EQ(DebugText().find("Loading brush", before), std::string::npos);
}

TEST_F(BackfillBrushTest, ABrushThatCannotBeMadeLeavesNothing) {
    struct Case {
        const char* name;
        uint32_t mode;
        const char* file;
        int code;
    };
    const Case cases[] = {
        {"texture of a missing brush", 3, "", ERR_FINDBRUSH},
        {"picture of a missing brush", 4, "", ERR_FINDBRUSH},
        {"picture of a missing file", 4, "nothing-here.png", ERR_LOADPICTURE},
    };
    SetExitOnError(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Backfill().mode = c.mode;
        Backfill().brushId = 9;
        std::snprintf(Backfill().brushFile, sizeof Backfill().brushFile, "%s", c.file);
        EXPECT_EQ(StartUp(), c.code);
        EXPECT_EQ(scene::Displays().backfillBrush, nullptr);
        EXPECT_EQ(scene::Displays().backfillPicture, nullptr);
        EXPECT_EQ(*BrushList(), nullptr);
        CloseDisplayLibrary(L);
        ASSERT_EQ(RegisterDisplayLibrary(L), 0);
    }
}

}  // namespace
}  // namespace qv::testing
