// The option table of CreateDisplay and SetDisplayAttributes: its errors, the regions and their
// defaults, percentages of the scale size, and what a change of attributes does to the window.
#include "runtime/errors.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

using DisplayOptions = DisplayFixture;

Arg Region(int32_t x, int32_t y, int32_t width, int32_t height) {
    return Table({{Str("x"), Num(x)},
                  {Str("y"), Num(y)},
                  {Str("width"), Num(width)},
                  {Str("height"), Num(height)}});
}

std::vector<Arg> Regions(int count) {
    std::vector<Arg> rows;
    for (int i = 0; i < count; ++i) rows.push_back(Region(i, 0, 1, 1));
    return rows;
}

struct BadOption {
    const char* name;
    std::vector<std::pair<Arg, Arg>> options;
    int code;
};

class BadOptions : public DisplayOptions, public ::testing::WithParamInterface<BadOption> {};

TEST_P(BadOptions, AreRefusedWithTheirCode) {
    Start();
    SetExitOnError(false);
    const size_t displays = DisplayCount(), pictures = PictureCount();
    EXPECT_EQ(Call("CreateDisplay", {Num(2), Table(GetParam().options)}).code, GetParam().code);
    EXPECT_EQ(DisplayCount(), displays);
    EXPECT_EQ(PictureCount(), pictures);
    const std::string title = Display(1)->settings.title;
    EXPECT_EQ(Call("SetDisplayAttributes", {Table(GetParam().options)}).code, GetParam().code);
    EXPECT_EQ(Display(1)->settings.title, title);
}

const std::string kLongTitle(256, 't');

INSTANTIATE_TEST_SUITE_P(
    Options, BadOptions,
    ::testing::Values(
        BadOption{"scalewidth0", {{Str("scalewidth"), Num(0)}}, ERR_WRONGUSAGE},
        BadOption{"scaleheight0", {{Str("scaleheight"), Num(0)}}, ERR_WRONGUSAGE},
        // A percentage that makes less than one pixel, or more than 32768.
        BadOption{
            "scaletiny", {{Str("width"), Num(50)}, {Str("scalewidth"), Num(-1)}}, ERR_WRONGUSAGE},
        BadOption{"scalehuge", {{Str("scaleheight"), Num(-2000000000)}}, ERR_WRONGUSAGE},
        BadOption{"scalemode", {{Str("scalemode"), Num(3)}}, ERR_WRONGUSAGE},
        BadOption{"width", {{Str("width"), Num(0)}}, ERR_WRONGUSAGE},
        BadOption{"height", {{Str("height"), Num(-1)}}, ERR_WRONGUSAGE},
        BadOption{"fillstyle", {{Str("fillstyle"), Num(4)}}, ERR_WRONGUSAGE},
        BadOption{"title", {{Str("title"), Str(kLongTitle)}}, ERR_WRONGUSAGE},
        BadOption{"regiontype",
                  {{Str("dragregion"), List({Table({{Str("type"), Num(15)},
                                                    {Str("x"), Num(0)},
                                                    {Str("y"), Num(0)},
                                                    {Str("width"), Num(1)},
                                                    {Str("height"), Num(1)}})})}},
                  ERR_WRONGUSAGE},
        BadOption{"regionx", {{Str("sizeregion"), List({Region(-1, 0, 5, 5)})}}, ERR_WRONGUSAGE},
        BadOption{"regionwidth", {{Str("dragregion"), List({Region(0, 0, 0, 5)})}}, ERR_WRONGUSAGE},
        BadOption{"regionmissing",
                  {{Str("dragregion"), List({Table({{Str("x"), Num(1)}, {Str("y"), Num(1)}})})}},
                  ERR_MISSINGPARAMTR},
        BadOption{"regionnotable", {{Str("dragregion"), Num(5)}}, ERR_TABEXPECTED},
        BadOption{"rownotable", {{Str("sizeregion"), List({Num(5)})}}, ERR_TABEXPECTED},
        BadOption{"regions65", {{Str("dragregion"), List(Regions(65))}}, ERR_INTERNAL},
        BadOption{"picture", {{Str("bgpic"), Num(77)}}, ERR_FINDBGPIC},
        BadOption{"gradient",
                  {{Str("fillstyle"), Num(2)}, {Str("gradientstyle"), Num(9)}},
                  ERR_WRONGUSAGE}),
    [](const auto& info) { return CaseName(info.index, info.param.name); });

TEST_F(DisplayOptions, RegionsGetDefaultsAndAreCutToTheDisplay) {
    qvDisplay* display = Start({{Str("width"), Num(100)}, {Str("height"), Num(80)}});
    const qvDisplayRegions& drag = display->settings.dragRegions;
    const qvDisplayRegions& size = display->settings.sizeRegions;
    ASSERT_EQ(drag.count, 1);
    EXPECT_EQ(drag.given, 0);
    EXPECT_EQ(std::vector<int32_t>(
                  {drag.used[0].x, drag.used[0].y, drag.used[0].width, drag.used[0].height}),
              std::vector<int32_t>({0, 0, 100, 15}));
    EXPECT_EQ(std::vector<int32_t>(
                  {size.used[0].x, size.used[0].y, size.used[0].width, size.used[0].height}),
              std::vector<int32_t>({90, 70, 10, 10}));

    // Past the right edge a region is cut; at or beyond it, it moves to the last column.
    ASSERT_EQ(Call("SetDisplayAttributes",
                   {Table({{Str("dragregion"), List({Region(90, 0, 30, 5), Region(100, 79, 4, 4),
                                                     Region(150, 200, 1, 1)})}})})
                  .code,
              0);
    ASSERT_EQ(drag.count, 3);
    EXPECT_EQ(drag.given, 1);
    const int32_t expected[3][4] = {{90, 0, 10, 5}, {99, 79, 1, 1}, {99, 79, 1, 1}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const qvDisplayRegion& r = drag.used[i];
        EXPECT_EQ(std::vector<int32_t>({r.x, r.y, r.width, r.height}),
                  std::vector<int32_t>(expected[i], expected[i] + 4));
    }
    EXPECT_EQ(drag.supplied[1].x, 100) << "the script's copy stays as given";

    // A 65th row refuses the whole list: the regions stay as they were.
    SetExitOnError(false);
    EXPECT_EQ(Call("SetDisplayAttributes", {Table({{Str("dragregion"), List(Regions(65))}})}).code,
              ERR_INTERNAL);
    EXPECT_EQ(drag.count, 3);
    EXPECT_EQ(drag.supplied[0].x, 90);
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("dragregion"), List(Regions(64))}})}).code,
              0);
    EXPECT_EQ(drag.count, 64);
}

TEST_F(DisplayOptions, NegativeScaleSizesArePercentages) {
    Start();
    struct Case {
        int32_t width, scaleWidth, expected;
    };
    const Case cases[] = {{640, -50, 320}, {640, -100, 640}, {3, -50, 1}, {200, 300, 300}};
    int id = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scaleWidth);
        ASSERT_EQ(Call("CreateDisplay", {Num(id), Table({{Str("width"), Num(c.width)},
                                                         {Str("scalemode"), Num(1)},
                                                         {Str("scalewidth"), Num(c.scaleWidth)},
                                                         {Str("scaleheight"), Num(-100)}})})
                      .code,
                  0);
        EXPECT_EQ(Display(id)->settings.scaleWidth, c.expected);
        EXPECT_EQ(Display(id)->settings.autoscale, 1);
        ++id;
    }
}

TEST_F(DisplayOptions, AScriptResizeMustFitTheScreen) {
    platform::testing::SetScreenSize({640, 480});
    qvDisplay* display = Start({{Str("width"), Num(320)}, {Str("height"), Num(200)}});
    SetExitOnError(false);
    const CallResult result = Call("ChangeDisplaySize", {Num(800), Num(600)});
    EXPECT_EQ(result.code, ERR_DISPLAYSIZE);
    EXPECT_EQ(result.errorText, "800x600");
    char text[256];
    FormatErrorMessage(ERR_DISPLAYSIZE, text, sizeof text);
    EXPECT_STREQ(text, "Unable to change display size to 800x600 !");
    EXPECT_EQ(display->settings.width, 320);
    EXPECT_EQ(display->settings.picture->width, 320);
    EXPECT_EQ(display->window->framebuffer->width, 320);
    EXPECT_EQ(Call("SetDisplayAttributes", {Table({{Str("height"), Num(481)}})}).code,
              ERR_DISPLAYSIZE);
    // A display that does not fit cannot open either.
    ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("width"), Num(641)}})}).code, 0);
    EXPECT_EQ(Call("OpenDisplay", {Num(2)}).code, ERR_DISPLAYSIZE);
    EXPECT_EQ(Display(2)->state, DISPSTATE_CLOSED);
}

// A change of a flag the window opens with opens it again; taking the frame away keeps the
// inner area where it was.
TEST_F(DisplayOptions, FrameFlagsReopenTheWindow) {
    platform::testing::SetFrameSizes({4, 20, 4, 4});
    qvDisplay* display = Start({{Str("x"), Num(100)},
                                {Str("y"), Num(100)},
                                {Str("width"), Num(64)},
                                {Str("height"), Num(32)}});
    ClearLog();
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("borderless"), Bool(true)}})}).code, 0);
    std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "close 1");
    EXPECT_EQ(log[1], "open 2 104,120 64x32 flags=0x1 title=Quorvella shape=0");
    ClearLog();
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("borderless"), Bool(false)}})}).code, 0);
    log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "open 3 100,100 64x32 flags=0x0 title=Quorvella shape=0");
    // Other changes keep the window.
    ClearLog();
    ASSERT_EQ(
        Call("SetDisplayAttributes",
             {Table({{Str("title"), Str("T")}, {Str("nomodeswitch"), Num(1)}, {Str("x"), Num(5)}})})
            .code,
        0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"place 3 5,100 64x32", "title 3 T"}));
    EXPECT_EQ(display->settings.flags, uint32_t(scene::kFlagNoModeSwitch));
}

TEST_F(DisplayOptions, ANewSizeResizesTheWindowInPlace) {
    platform::testing::SetScreenSize({1000, 800});
    qvDisplay* display = Start({{Str("x"), Num(10)},
                                {Str("y"), Num(10)},
                                {Str("width"), Num(64)},
                                {Str("height"), Num(32)},
                                {Str("color"), Num(0x102030)}});
    ClearLog();
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("width"), Num(100)}})}).code, 0);
    EXPECT_EQ(Log().front(), "place 1 10,10 100x32");
    EXPECT_EQ(display->settings.picture->width, 100);
    EXPECT_EQ(ReadBitMapPixel(display->window->framebuffer, 99, 31), Stored(0x102030));
    // A side given as KEEPASPRAT follows the other one in proportion.
    ASSERT_EQ(Call("SetDisplayAttributes",
                   {Table({{Str("width"), Num(100000)}, {Str("height"), Num(64)}})})
                  .code,
              0);
    EXPECT_EQ(display->settings.width, 200);
    EXPECT_EQ(display->window->framebuffer->width, 200);
}

}  // namespace
}  // namespace qv::testing
