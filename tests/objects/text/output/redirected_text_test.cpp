// Text drawn while the output is redirected into an object: TextOut, Print and text objects
// go into the bitmap the output lends (fetched through the objects' seam, here a fake), the
// window is left alone, and a refused fetch (a locked brush) is the command's error.
#include "gfx/blit_host.h"
#include "objects/scene_seam.h"
#include "tests/objects/text/output/output_fixture.h"

namespace qv::testing {
namespace {

// The output redirected into a bitmap of the test's, or refused with an error.
class RedirectedOutput final : public objects::SceneSeam {
public:
    explicit RedirectedOutput(qvDisplay* display)
        : display_(display), previous_(&objects::Scene()) {
        objects::SetSceneSeam(this);
        display_->outputType = gfx::kTargetBrush;
    }
    ~RedirectedOutput() override {
        display_->outputType = gfx::kTargetDisplay;
        objects::SetSceneSeam(previous_);
    }
    RedirectedOutput(const RedirectedOutput&) = delete;
    RedirectedOutput& operator=(const RedirectedOutput&) = delete;

    int FetchOutputBitmaps(qvVmState*, qvDisplayBitMap** out) override {
        ++fetches;
        *out = bitmap.get();
        return error;
    }

    OwnedBitMap bitmap{AllocDisplayBitMap(320, 200)};
    int error = 0;
    int fetches = 0;

private:
    qvDisplay* display_;
    objects::SceneSeam* previous_;
};

bool Inked(const std::vector<uint32_t>& pixels) {
    for (const uint32_t p : pixels) {
        if ((p & 0xFFFFFF) != 0) return true;
    }
    return false;
}

using RedirectedText = TextOutputFixture;

TEST_F(RedirectedText, TextGoesIntoTheLentBitmapOrFailsWithTheFetch) {
    Start();
    UseTopaz();
    SetExitOnError(false);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("object")}).code, 0);
    struct Case {
        const char* command;
        std::vector<Arg> args;
    };
    const Case cases[] = {
        {"TextOut", {Num(10), Num(20), Str("plain")}},
        {"TextOut", {Num(10), Num(20), Str("[b]tagged[/b]")}},
        {"Print", {Str("printed")}},
        {"DisplayTextObject", {Num(1), Num(10), Num(20)}},
    };
    const std::vector<uint32_t> window = Window();
    for (const Case& c : cases) {
        for (const int error : {0, int(ERR_LOCKEDOBJ)}) {
            RedirectedOutput output(Current());
            RectFill(output.bitmap.get(), 0, 0, 320, 200, 0);
            output.error = error;
            EXPECT_EQ(Call(c.command, c.args).code, error) << c.command;
            EXPECT_EQ(output.fetches, 1) << c.command;
            EXPECT_EQ(Inked(Pixels(output.bitmap.get())), error == 0) << c.command << " " << error;
            EXPECT_EQ(Window(), window) << c.command << " " << error;
        }
    }
}

}  // namespace
}  // namespace qv::testing
