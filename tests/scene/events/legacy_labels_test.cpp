// The legacy label model: listings in label_listings/ whose labels the dispatcher jumps to,
// each run once with the input the test queues for it; a label the script lacks, close
// reporting and WhileMouseOn inside a handler.
#include <string>

#include "runtime/key_table.h"
#include "scene/events/event_library.h"
#include "scene/events/legacy_labels.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

HostEvent Button(int button, bool down, int32_t x, int32_t y) {
    HostEvent e{};
    e.kind = HostEventKind::kButton, e.button = button, e.down = down, e.x = x, e.y = y;
    return e;
}

HostEvent Key(uint32_t code, bool down) {
    HostEvent e{};
    e.kind = HostEventKind::kKey, e.key = code, e.down = down;
    return e;
}

class LegacyLabels : public EventFixture {
protected:
    std::string Run(const char* listing) {
        return CheckListing(SourceDir() / "tests/scene/events/label_listings" / listing);
    }
};

TEST_F(LegacyLabels, AClickInAnyButtonJumpsToTheAllLabel) {
    Input(Button(0, true, 60, 10));
    Pump();
    EXPECT_EQ(Run("click_all.qvs"), "");
}

TEST_F(LegacyLabels, WhileMouseOnEntersAClickLabelFoundWhileItWaits) {
    display->facts.mouseX = display->facts.mouseY = 10;
    InputAt(NowMs() + 50, Button(0, true, 10, 10));
    EXPECT_EQ(Run("hover_and_click.qvs"), "");
}

TEST_F(LegacyLabels, AKeyLabelAndWhileKeyDown) {
    Input(Key(KeyCode("ESC"), true));
    Pump();
    InputAt(NowMs() + 40, Key(KeyCode("ESC"), false));
    EXPECT_EQ(Run("key_label.qvs"), "");
}

TEST_F(LegacyLabels, AClickWithoutItsLabelStaysForTheHandlers) {
    ASSERT_EQ(Call("CreateButton", {Num(5), Num(0), Num(0), Num(49), Num(49)}).code, 0);
    ASSERT_EQ(Install({{"onmousedown", Handler()}}).code, 0);
    Input(Button(0, true, 10, 10));
    Pump();
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
}

TEST_F(LegacyLabels, EnableEventOfCloseWindowOnlySetsCloseReporting) {
    display->closeReporting = false;
    ASSERT_EQ(Call("EnableEvent", {Num(10)}).code, 0);
    EXPECT_TRUE(display->closeReporting);
    ASSERT_EQ(Call("DisableEvent", {Num(10)}).code, 0);
    EXPECT_FALSE(display->closeReporting);
}

TEST_F(LegacyLabels, WhileMouseOnInsideAHandlerIsRefused) {
    int code = -1;
    ASSERT_EQ(Call("SetTimeout", {Nil(), Native([&code](qvVmState* S) {
                                      VmPushString(S, "whilemouseon");
                                      VmGetTable(S, VM_GLOBALSINDEX);
                                      code = VmPCall(S, 0, 0, 0);
                                      return 0;
                                  }),
                                  Num(1)})
                  .code,
              0);
    EXPECT_EQ(ActionOf(Wait()), "Timeout");
    EXPECT_EQ(code, ERR_WRONGUSAGE);
}

}  // namespace
}  // namespace qv::testing
