// Memory running out at each allocation in turn while a display is made, opened and shown a
// new picture: the command fails with ERR_MEM, the displays keep their order, states and
// windows, no other window stays open, and nothing leaks (LeakSanitizer).
#include <functional>
#include <tuple>

#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

// The displays in list order with their id, state, picture and window, and the open windows.
struct DisplaysState {
    std::vector<std::tuple<const qvDisplay*, uint32_t, int32_t, const qvBGPic*, int32_t, int32_t>>
        displays;
    std::vector<const qvPlatformDisplay*> windows;
    bool operator==(const DisplaysState&) const = default;
};

DisplaysState Snapshot() {
    DisplaysState state;
    for (const qvDisplay* d = scene::FirstDisplay(); d != nullptr; d = scene::NextDisplay(d)) {
        const qvPlatformDisplay* w = d->window;
        state.displays.emplace_back(d, d->prefix.header.id, d->state, d->settings.picture,
                                    WindowIsOpen(w) ? w->framebuffer->width : 0,
                                    WindowIsOpen(w) ? w->framebuffer->height : 0);
    }
    for (const qvPlatformDisplay* w = OpenWindows(); w != nullptr; w = w->next) {
        state.windows.push_back(w);
    }
    return state;
}

class DisplayFailures : public DisplayFixture {
protected:
    // With display 1 open: setUp, then the command with the n-th allocation failing, for n =
    // 1, 2, ... until it succeeds; every failure must be ERR_MEM and change nothing. The
    // number of failures.
    int Sweep(const std::function<void()>& setUp, const char* command,
              const std::vector<Arg>& args) {
        Start({{Str("width"), Num(64)}, {Str("height"), Num(48)}});
        SetExitOnError(false);
        for (uint64_t n = 1; n < 10000; ++n) {
            setUp();
            const DisplaysState before = Snapshot();
            CallResult result;
            {
                AllocationFault fault(n, false);
                result = Call(command, args);
            }
            if (result.code == 0) return int(n - 1);
            EXPECT_EQ(result.code, ERR_MEM) << n;
            EXPECT_TRUE(Snapshot() == before) << n;
            if (HasFailure()) return int(n);
        }
        ADD_FAILURE() << "the command never succeeded";
        return 0;
    }
};

TEST_F(DisplayFailures, CreatingADisplay) {
    const std::vector<Arg> args = {
        Num(2), Table({{Str("fillstyle"), Num(2)},
                       {Str("gradientstartcolor"), Num(0xFF0000)},
                       {Str("width"), Num(33)},
                       {Str("dragregion"), List({Table({{Str("x"), Num(1)},
                                                        {Str("y"), Num(1)},
                                                        {Str("width"), Num(9)},
                                                        {Str("height"), Num(9)}})})},
                       {Str("title"), Str("Two")}})};
    // Display 2 exists each time: it is replaced only once the new one is complete.
    const int failures = Sweep(
        [this] {
            if (Display(2) == nullptr) {
                ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
            }
        },
        "CreateDisplay", args);
    EXPECT_GE(failures, 10);
    EXPECT_EQ(Display(2)->settings.width, 33);
    EXPECT_EQ(DisplayCount(), 2u);
}

TEST_F(DisplayFailures, OpeningADisplay) {
    const int failures = Sweep(
        [this] {
            if (Display(2) == nullptr) {
                ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("width"), Num(20)}})}).code,
                          0);
            }
        },
        "OpenDisplay", {Num(2)});
    EXPECT_GE(failures, 1);
    EXPECT_EQ(Display(2)->state, DISPSTATE_OPEN);
}

TEST_F(DisplayFailures, ShowingAPictureOfAnotherSize) {
    const int failures = Sweep(
        [this] {
            if (Find(3) == nullptr) {
                ASSERT_EQ(Call("CreateBGPic", {Num(3), Num(30), Num(20), Num(0x00FF00)}).code, 0);
            }
        },
        "DisplayBGPic", {Num(3)});
    EXPECT_GE(failures, 3);
    const qvDisplay* display = Display(1);
    EXPECT_EQ(display->settings.picture, Find(3));
    EXPECT_EQ(display->window->framebuffer->width, 30);
    EXPECT_EQ(WindowPixels(display), Pixels(Find(3)->shown.bitmap));
}

// A display that replaces a layer-scaled one and takes its picture over fits the picture from
// its logical size; each failure leaves the old display showing it at its own scale size.
TEST_F(DisplayFailures, ReplacingALayerScaledDisplayThatHandsItsPictureOver) {
    const auto shownSize = [this] {
        const qvBGPic* picture = Find(3);
        return std::pair{picture->shownWidth, picture->shownHeight};
    };
    const int failures = Sweep(
        [&] {
            if (Display(2) != nullptr) {
                EXPECT_EQ(shownSize(), std::pair(64, 48)) << "the old display's scale";
                return;
            }
            ASSERT_EQ(Call("CreateBGPic", {Num(3), Num(32), Num(24), Num(0x00FF00)}).code, 0);
            ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("bgpic"), Num(3)},
                                                            {Str("scalemode"), Num(2)},
                                                            {Str("scalewidth"), Num(64)},
                                                            {Str("scaleheight"), Num(48)}})})
                          .code,
                      0);
            ASSERT_EQ(shownSize(), std::pair(64, 48));
        },
        "CreateDisplay", {Num(2), Table({{Str("bgpic"), Num(3)}})});
    EXPECT_GE(failures, 1);
    EXPECT_EQ(Display(2)->settings.layerScaling, 0);
    EXPECT_EQ(Display(2)->settings.picture, Find(3));
    EXPECT_EQ(shownSize(), std::pair(32, 24));
}

}  // namespace
}  // namespace qv::testing
