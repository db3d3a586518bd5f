// InKeyStr with keys injected through the headless back end: the filters, the length limit,
// backspace, Return on an empty line, password echo, the refusals of a display that cannot
// take input, and a close request that ends the input.
#include "gfx/blit_host.h"
#include "platform/linux/video/driver.h"
#include "tests/objects/text/output/output_fixture.h"

namespace qv::testing {
namespace {

using InKeyStrTest = TextOutputFixture;

constexpr uint32_t kBackspace = 271, kReturn = 274, kEnter = 273, kSpace = 276, kTab = 272;

void Type(const std::vector<uint32_t>& keys) {
    for (uint32_t key : keys) {
        for (bool down : {true, false}) {
            HostEvent event{};
            event.kind = HostEventKind::kKey;
            event.window = scene::Displays().current->window->number;
            event.down = down;
            event.key = key;
            ASSERT_TRUE(platform::testing::InjectHostEvent(event));
        }
    }
}

std::vector<uint32_t> Keys(std::string_view text) {
    std::vector<uint32_t> keys;
    for (char c : text) keys.push_back(uint8_t(c));
    return keys;
}

TEST_F(InKeyStrTest, FiltersLimitAndBackspace) {
    Start();
    UseTopaz();
    struct Case {
        const char* what;
        int32_t filter;
        int32_t maxLength;
        std::vector<uint32_t> keys;
        std::string typed;
    };
    auto concat = [](std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {"numerical", 3, 0, concat(Keys("1a 2b3"), {kReturn}), "123"},
        {"limit", 3, 3, concat(Keys("1234"), {kBackspace, '5', '6', kEnter}), "125"},
        {"backspace on nothing", 0, 0, {kBackspace, 'x', kReturn}, "x"},
        {"all", 0, 0, concat(Keys("a B!"), {kTab, kSpace, 0xE9, 0x07, 300, kReturn}), "a B!  \xE9"},
        {"alphanumerical", 1, 0, concat(Keys("a1-_ Z"), {kReturn}), "a1 Z"},
        {"alphabetical", 2, 0, concat(Keys("a1 Z\xE4"), {kReturn}), "a Z\xE4"},
        {"hexadecimal", 4, 0, concat(Keys("0fFgx 9"), {kReturn}), "0fF9"},
        {"unknown filter", 9, 0, concat(Keys("abc"), {kReturn}), ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Call("Locate", {Num(16), Num(24)}).code, 0);
        Type(c.keys);
        const CallResult result = Call("InKeyStr", {Num(c.filter), Num(c.maxLength)});
        ASSERT_EQ(result.code, 0) << c.what;
        EXPECT_EQ(result.Text(), c.typed) << c.what;
        EXPECT_EQ(LayerCount(), 0) << c.what << ": the echo layers are gone";
        EXPECT_EQ(Current()->layersEnabled, 0) << c.what;
        const int32_t width = int32_t(Call("TextWidth", {Str(c.typed)}).Number());
        EXPECT_EQ(Current()->text.x, 16 + width) << c.what;
        EXPECT_EQ(Current()->text.y, 24) << c.what;
    }
}

// The final text stands where the input started, as Print puts it; a password shows stars.
TEST_F(InKeyStrTest, TheInputIsPrintedAgainAtItsStart) {
    Start();
    UseTopaz();
    struct Case {
        bool password;
        const char* shown;
    };
    for (const Case& c : {Case{false, "ab"}, Case{true, "**"}}) {
        ASSERT_EQ(Call("CreateBGPic", {Num(9), Num(320), Num(200), Num(0)}).code, 0);
        ASSERT_EQ(Call("DisplayBGPic", {Num(9)}).code, 0);
        ASSERT_EQ(Call("Locate", {Num(40), Num(8)}).code, 0);
        Type({'a', 'x', kBackspace, 'b', kReturn});
        const CallResult result = Call("InKeyStr", {Num(0), Num(0), Num(c.password ? 1 : 0)});
        ASSERT_EQ(result.code, 0);
        EXPECT_EQ(result.Text(), "ab");
        const std::vector<uint32_t> typed = Window();
        ASSERT_EQ(Call("CreateBGPic", {Num(9), Num(320), Num(200), Num(0)}).code, 0);
        ASSERT_EQ(Call("DisplayBGPic", {Num(9)}).code, 0);
        ASSERT_EQ(Call("TextOut", {Num(40), Num(8), Str(c.shown)}).code, 0);
        EXPECT_EQ(Window(), typed) << c.shown;
    }
}

// Return on an empty line, also after typing and deleting everything, leaves the cursor
// where the input started and nothing on the display, with the layers on or off.
TEST_F(InKeyStrTest, ReturnOnAnEmptyLineLeavesTheCursor) {
    Start();
    UseTopaz();
    for (int32_t layers : {0, 1}) {
        for (const std::vector<uint32_t>& keys :
             {std::vector<uint32_t>{kReturn}, {'a', 'b', kBackspace, kBackspace, kEnter}}) {
            Current()->layersEnabled = layers;
            ASSERT_EQ(Call("Locate", {Num(33), Num(44)}).code, 0);
            const int before = LayerCount();
            Type(keys);
            const CallResult result = Call("InKeyStr", {Num(0)});
            ASSERT_EQ(result.code, 0);
            EXPECT_EQ(result.Text(), "");
            EXPECT_EQ(Current()->text.x, 33) << "layers " << layers << ", keys " << keys.size();
            EXPECT_EQ(Current()->text.y, 44) << "layers " << layers << ", keys " << keys.size();
            EXPECT_EQ(LayerCount(), before) << "layers " << layers << ", keys " << keys.size();
            EXPECT_EQ(Current()->layersEnabled, layers);
        }
    }
}

TEST_F(InKeyStrTest, ACloseRequestEndsTheInput) {
    Start();
    Type(Keys("hi"));
    HostEvent close{};
    close.kind = HostEventKind::kClose;
    close.window = Current()->window->number;
    ASSERT_TRUE(platform::testing::InjectHostEvent(close));
    const CallResult result = Call("InKeyStr", {Num(0)});
    EXPECT_TRUE(result.aborted);
}

TEST_F(InKeyStrTest, DisplaysThatCannotTakeInputAreRefused) {
    Start();
    SetExitOnError(false);
    struct Case {
        int32_t outputType;
        int32_t doubleBuffer;
        int code;
    };
    const Case cases[] = {
        {gfx::kTargetBGPic, 0, ERR_SELECTBG},
        {gfx::kTargetMask, 0, ERR_SELECTMASK},
        {gfx::kTargetAlphaChannel, 0, ERR_SELECTALPHACHANNEL},
        {gfx::kTargetBrush, 1, ERR_ENDDOUBLEBUFFER},
        {gfx::kTargetBrush, 0, ERR_SELECTBRUSH},
    };
    for (const Case& c : cases) {
        Current()->outputType = c.outputType;
        Current()->doubleBufferOutput = c.doubleBuffer;
        EXPECT_EQ(Call("InKeyStr", {Num(0)}).code, c.code) << c.outputType;
    }
    Current()->outputType = gfx::kTargetDisplay;
    Current()->doubleBufferOutput = 0;
    ASSERT_EQ(Call("CloseDisplay", {Num(1)}).code, 0);
    EXPECT_EQ(Call("InKeyStr", {Num(0)}).code, ERR_CLOSEDDISPDRAW);
}

}  // namespace
}  // namespace qv::testing
