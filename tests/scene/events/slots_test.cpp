// InstallEventHandler: the slots it fills, the user-data rules, and what it keeps in step:
// close reporting, the window's drop target and clipboard hook, the fire task's tick and the
// published sound attributes.
#include <string>

#include "platform/linux/timers.h"
#include "platform/linux/video/headless.h"
#include "scene/events/event_neighbours.h"
#include "scene/events/event_slots.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

using events::GlobalEventSlots;
using gfx::kDisplayEventCount;
using gfx::kDisplayEventNames;
using gfx::kGlobalEventCount;
using gfx::kGlobalEventNames;

class Slots : public EventFixture {
protected:
    qvEventHandler& DisplaySlot(int slot) { return display->handlers[slot]; }
    qvEventHandler& GlobalSlot(int slot) { return GlobalEventSlots()[slot]; }

    // The user data of a slot as text ("-" for none).
    std::string UserDataOf(const qvEventHandler& slot) {
        if (slot.userData == -1) return "-";
        VmRawGetI(L, VM_REGISTRYINDEX, slot.userData);
        std::string text = VmToString(L, -1) != nullptr ? VmToString(L, -1) : "?";
        VmSetTop(L, -2);
        return text;
    }
};

TEST_F(Slots, EachNameFillsItsOwnSlotAndOnlyInLowerCase) {
    for (int i = 0; i < kDisplayEventCount + kGlobalEventCount; ++i) {
        const bool isDisplay = i < kDisplayEventCount;
        const std::string name =
            isDisplay ? kDisplayEventNames[i] : kGlobalEventNames[i - kDisplayEventCount];
        SCOPED_TRACE(name);
        qvEventHandler& slot = isDisplay ? DisplaySlot(i) : GlobalSlot(i - kDisplayEventCount);
        std::string capitalised = name;
        capitalised[0] = static_cast<char>(capitalised[0] - 'a' + 'A');
        ASSERT_EQ(Install({{capitalised, Handler()}}).code, 0);
        EXPECT_EQ(slot.function, -1) << "names match exactly";
        ASSERT_EQ(Install({{name, Handler()}}).code, 0);
        EXPECT_NE(slot.function, -1);
        int filled = 0;
        for (const qvEventHandler& s : display->handlers) filled += s.function != -1;
        for (int g = 0; g < kGlobalEventCount; ++g) filled += GlobalSlot(g).function != -1;
        EXPECT_EQ(filled, 1) << "no other slot changed";
        ASSERT_EQ(Install({{name, Num(0)}}).code, 0);
        EXPECT_EQ(slot.function, -1);
    }
}

TEST_F(Slots, AnEmptyTableChangesNoSlotButRecomputesWhatFollowsFromThem) {
    display->closeReporting = true;
    StartFireTask(L, 1);
    ASSERT_EQ(Install({}).code, 0);
    EXPECT_FALSE(display->closeReporting);
    EXPECT_EQ(FireTaskUsers(), 1) << "the tick is started and stopped by changes only";
    for (uint32_t tag : {13u, 14u, 19u, 24u}) EXPECT_EQ(PublishedAttribute(tag), 0) << tag;

    ASSERT_EQ(Install({{"closewindow", Handler()},
                       {"onsampleloop", Handler()},
                       {"onmusicend", Handler()},
                       {"onvideoend", Handler()}})
                  .code,
              0);
    display->closeReporting = false;
    ASSERT_EQ(Install({}).code, 0);
    EXPECT_TRUE(display->closeReporting);
    EXPECT_NE(DisplaySlot(events::kCloseWindow).function, -1);
    const std::pair<uint32_t, int32_t> expected[] = {{13, 1}, {14, 0}, {19, 1}, {24, 1}};
    for (auto [tag, value] : expected) EXPECT_EQ(PublishedAttribute(tag), value) << tag;
}

// The table's fields are taken in slot order; the refused one comes last of all.
TEST_F(Slots, ANumberRemovesAndAValueOfAnotherTypeIsRefusedBeforeAnythingChanges) {
    ASSERT_EQ(Install({{"onkeydown", Handler()}, {"onmouseup", Handler()}}).code, 0);
    const int32_t mouseUp = DisplaySlot(events::kOnMouseUp).function;
    ASSERT_EQ(Install({{"onkeydown", Num(0)}}).code, 0);
    EXPECT_EQ(DisplaySlot(events::kOnKeyDown).function, -1);
    EXPECT_EQ(DisplaySlot(events::kOnMouseUp).function, mouseUp) << "other slots are kept";

    const int refs = LiveRefs();
    struct Case {
        const char* name;
        Arg value;
    };
    const Case refused[] = {
        {"boolean false", Bool(false)}, {"a string", Str("handler")}, {"a table", Table({})}};
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        const CallResult r = Install({{"onkeyup", Handler()},
                                      {"closewindow", Handler()},
                                      {"onconnect", Handler()},
                                      {"fillmusicbuffer", c.value}});
        EXPECT_EQ(r.code, ERR_FUNCEXPECTED);
        EXPECT_EQ(DisplaySlot(events::kOnKeyUp).function, -1);
        EXPECT_EQ(DisplaySlot(events::kCloseWindow).function, -1);
        EXPECT_FALSE(display->closeReporting);
        EXPECT_EQ(GlobalSlot(events::kOnConnect).function, -1);
        EXPECT_EQ(FireTaskUsers(), 0);
        EXPECT_EQ(LiveRefs(), refs) << "no reference stays behind";
    }
    EXPECT_EQ(Call("InstallEventHandler", {Str("onkeydown")}).code, ERR_TABEXPECTED);
    EXPECT_EQ(Call("InstallEventHandler", {}).code, ERR_MISSINGPARAMTR);
}

TEST_F(Slots, TheFireTickStartsWithTheFirstNetworkHandlerAndStopsWithTheLast) {
    struct Step {
        const char* field;
        bool install;
        int users;
    };
    const Step steps[] = {{"onconnect", true, 1},        {"onreceivedata", true, 1},
                          {"onconnect", false, 1},       {"ondisconnect", true, 1},
                          {"onreceivedata", false, 1},   {"ondisconnect", false, 0},
                          {"onreceiveudpdata", true, 1}, {"onreceiveudpdata", false, 0}};
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.field) + (s.install ? " on" : " off"));
        ASSERT_EQ(Install({{s.field, s.install ? Handler() : Num(0)}}).code, 0);
        EXPECT_EQ(FireTaskUsers(), s.users);
    }
}

TEST_F(Slots, UserDataIsSharedKeptAndDroppedByTheRules) {
    struct Step {
        const char* what;
        std::vector<std::pair<std::string, Arg>> fields;
        std::optional<Arg> userData;
        const char* keyDown;  // the slots' user data afterwards
        const char* keyUp;
    };
    const Step steps[] = {
        {"installed with user data", {{"onkeydown", Handler()}}, Str("A"), "A", "-"},
        {"another slot without", {{"onkeyup", Handler()}}, std::nullopt, "A", "-"},
        {"replaced without keeps it", {{"onkeydown", Handler()}}, std::nullopt, "A", "-"},
        {"removed without drops it", {{"onkeydown", Num(0)}}, std::nullopt, "-", "-"},
        {"one value for both",
         {{"onkeydown", Handler()}, {"onkeyup", Handler()}},
         Str("B"),
         "B",
         "B"},
        {"removed with user data keeps the new", {{"onkeyup", Num(0)}}, Str("C"), "B", "C"},
        {"nil as user data drops it", {{"onkeydown", Handler()}}, Nil(), "-", "C"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        ASSERT_EQ(Install(s.fields, s.userData).code, 0);
        EXPECT_EQ(UserDataOf(DisplaySlot(events::kOnKeyDown)), s.keyDown);
        EXPECT_EQ(UserDataOf(DisplaySlot(events::kOnKeyUp)), s.keyUp);
    }
    const qvEventHandler& down = DisplaySlot(events::kOnKeyDown);
    ASSERT_EQ(Install({{"onkeydown", Handler()}, {"onkeyup", Handler()}}, Str("D")).code, 0);
    EXPECT_NE(down.userData, DisplaySlot(events::kOnKeyUp).userData) << "one reference each";
}

TEST_F(Slots, TheWindowFollowsTheDropAndClipboardHandlers) {
    ASSERT_EQ(Install({{"ondropfile", Handler()}, {"clipboardchange", Handler()}}).code, 0);
    EXPECT_TRUE(display->window->dropTarget);
    EXPECT_TRUE(display->window->clipboardReports);
    const std::string on = "input " + std::to_string(display->window->number);
    const std::vector<std::string> log = platform::testing::OperationLog();
    EXPECT_NE(std::find(log.begin(), log.end(), on + " drop=1 clipboard=0"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), on + " drop=1 clipboard=1"), log.end());
    ASSERT_EQ(Install({{"ondropfile", Num(0)}, {"clipboardchange", Num(0)}}).code, 0);
    EXPECT_FALSE(display->window->dropTarget);
    EXPECT_FALSE(display->window->clipboardReports);

    display->open = false;  // a closed display keeps its drop registration as it is
    ASSERT_EQ(Install({{"ondropfile", Handler()}}).code, 0);
    EXPECT_FALSE(display->window->dropTarget);
}

TEST_F(Slots, WithoutACurrentDisplayOnlyTheGlobalSlotsFill) {
    displays.SetCurrent(nullptr);
    ASSERT_EQ(Install({{"onkeydown", Handler()}, {"onarexx", Handler()}}).code, 0);
    EXPECT_EQ(DisplaySlot(events::kOnKeyDown).function, -1);
    EXPECT_NE(GlobalSlot(events::kOnARexx).function, -1);
}

TEST_F(Slots, TheGraphicsLibraryReadsTheSlotsThroughItsNeighbours) {
    events::EventNeighbours neighbours;
    ASSERT_EQ(Install({{"onmousemove", Handler()}, {"onusermessage", Handler()}}).code, 0);
    EXPECT_EQ(neighbours.DisplayEventHandlers(display->record()), display->handlers);
    EXPECT_EQ(neighbours.DisplayEventHandlers(nullptr), nullptr);
    EXPECT_EQ(neighbours.GlobalEventHandlers()[events::kOnUserMessage].function,
              GlobalSlot(events::kOnUserMessage).function);
}

}  // namespace
}  // namespace qv::testing
