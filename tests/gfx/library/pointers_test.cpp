// Pointer images and the pointer commands over the headless pointer back end: hot spots,
// sources, the video recorder's flags, and a shown pointer that the script frees.
#include "gfx/library/pointers.h"
#include "gfx/library/platform_pointer.h"
#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

class Pointers : public GraphicsLib {
protected:
    Pointers() {
        scene.AddBrush(1, 16, 8, 0x336699, true);
        window = scene.OpenWindow(640, 480);
    }
    ~Pointers() override { ForgetHeadlessPointer(window); }
    qvPointer* Find(uint32_t id) {
        qvPointer* p = nullptr;
        gfx::FindPointer({id, nullptr}, &p);
        return p;
    }
    qvPlatformDisplay* window = nullptr;
};

TEST_F(Pointers, HotSpotsAreCentredOrCut) {
    struct Case {
        double x, y;
        int32_t hotX, hotY;
    };
    for (const Case& c : {Case{-1, -1, 8, 4}, {100, 100, 15, 7}, {3, 2, 3, 2}, {16, 8, 15, 7}}) {
        ASSERT_EQ(Call("CreatePointer", {Num(1), Num(3), Num(1), Num(c.x), Num(c.y)}).code, 0);
        const qvPointer* p = Find(1);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->hotX, c.hotX) << c.x;
        EXPECT_EQ(p->hotY, c.hotY) << c.y;
        EXPECT_EQ(p->object->hotX, c.hotX);
    }
    EXPECT_EQ(Call("GetAttribute", {Num(36), Nil(), Num(60)}).Number(), 1) << "replaced";
}

TEST_F(Pointers, TheImageTakesItsAlphaFromTheMask) {
    ASSERT_EQ(Call("CreatePointer", {Num(1), Num(3), Num(1), Num(0), Num(0)}).code, 0);
    const qvPlatformPointer* object = Find(1)->object;
    ASSERT_NE(object->image, nullptr);
    EXPECT_EQ(object->width, 16);
    EXPECT_EQ(object->image[2] >> 24, 0xFFu) << "inside the mask";
    EXPECT_EQ(object->image[12] >> 24, 0u) << "outside the mask";
    EXPECT_EQ(Call("GetAttribute", {Num(36), Num(1), Num(9)}).Number(), STDPTR_CUSTOM);
    EXPECT_EQ(Call("GetAttribute", {Num(36), Num(1), Num(0)}).Number(), 16);
}

TEST_F(Pointers, SourcesAndTheirErrors) {
    ASSERT_EQ(Call("CreatePointer", {Num(2), Num(36), Num(1)}).code, 0);
    EXPECT_EQ(Find(2)->kind, STDPTR_BUSY);
    EXPECT_EQ(Call("CreatePointer", {Num(2), Num(36), Num(2)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CreatePointer", {Num(2), Num(36), Num(-1)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CreatePointer", {Num(2), Num(99), Num(1)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CreatePointer", {Num(2), Num(3), Num(9)}).code, ERR_FINDBRUSH);
    EXPECT_EQ(Call("CreatePointer", {Num(2), Num(32), Num(9)}).code, ERR_FINDSPRITE);

    scene.spriteFrames = 3;
    for (double frame : {0.0, 4.0}) {
        EXPECT_EQ(Call("CreatePointer", {Num(3), Num(32), Num(1), Num(frame)}).code, ERR_ANIMFRAME)
            << frame;
    }
    ASSERT_EQ(Call("CreatePointer", {Num(3), Num(32), Num(1), Num(3)}).code, 0);
    EXPECT_EQ(scene.spriteFrameAsked, 2);
    CallResult automatic = Call("CreatePointer", {Nil(), Num(32), Num(1)});
    ASSERT_EQ(automatic.code, 0);
    EXPECT_EQ(scene.spriteFrameAsked, 0) << "frame 1 by default";
    EXPECT_EQ(automatic.results[0].type, VM_TLIGHTUSERDATA);
    EXPECT_EQ(Call("FreePointer", {Num(7)}).code, ERR_FINDPOINTER);
    EXPECT_EQ(Call("SetPointer", {Num(7)}).code, ERR_FINDPOINTER);
}

TEST_F(Pointers, TheWindowIsToldWhatTheScriptDoes) {
    ASSERT_EQ(Call("CreatePointer", {Num(1), Num(3), Num(1), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("SetPointer", {Num(1)}).code, 0);
    const WindowPointerState* state = HeadlessPointerOf(window);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->pointer, Find(1)->object);
    EXPECT_EQ(state->kind, STDPTR_CUSTOM);
    EXPECT_EQ(scene.shownPointer, Find(1));

    ASSERT_EQ(Call("HidePointer").code, 0);
    EXPECT_TRUE(state->hidden);
    EXPECT_TRUE(scene.pointerHidden);
    ASSERT_EQ(Call("ShowPointer").code, 0);
    EXPECT_FALSE(state->hidden);
    EXPECT_FALSE(scene.pointerHidden);

    // Centred by the shown pointer's size.
    ASSERT_EQ(Call("MovePointer", {Num(-100000), Num(-100000)}).code, 0);
    EXPECT_EQ(state->mouseX, 312);
    EXPECT_EQ(state->mouseY, 236);
}

TEST_F(Pointers, WhileAVideoDumpRecordsOnlyItsFlagsChange) {
    ASSERT_EQ(Call("CreatePointer", {Num(1), Num(36), Num(1)}).code, 0);
    scene.recording = true;
    VideoDumpState().pointerVisible = true;
    ASSERT_EQ(Call("HidePointer").code, 0);
    EXPECT_FALSE(VideoDumpState().pointerVisible);
    ASSERT_EQ(Call("SetPointer", {Num(1)}).code, 0);
    EXPECT_EQ(VideoDumpState().pointerKind, STDPTR_BUSY);
    ASSERT_EQ(Call("MovePointer", {Num(10), Num(10)}).code, 0);
    ASSERT_EQ(Call("ShowPointer").code, 0);
    EXPECT_TRUE(VideoDumpState().pointerVisible);
    EXPECT_EQ(HeadlessPointerOf(window), nullptr) << "the window was told nothing";
    EXPECT_FALSE(scene.pointerHidden);
    EXPECT_EQ(scene.shownPointer, nullptr);
    VideoDumpState() = {};
}

TEST_F(Pointers, AFreedPointerLivesWhileItIsShown) {
    ASSERT_EQ(Call("CreatePointer", {Num(1), Num(3), Num(1), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("SetPointer", {Num(1)}).code, 0);
    const qvPlatformPointer* shown = Find(1)->object;
    ASSERT_EQ(Call("FreePointer", {Num(1)}).code, 0);
    EXPECT_EQ(Find(1), nullptr) << "the id is gone at once";
    EXPECT_EQ(Call("SetPointer", {Num(1)}).code, ERR_FINDPOINTER);
    EXPECT_EQ(Call("GetAttribute", {Num(36), Nil(), Num(60)}).Number(), 0);
    // The window still shows the image, which must still be readable.
    EXPECT_EQ(HeadlessPointerOf(window)->pointer, shown);
    EXPECT_EQ(shown->image[0] >> 24, 0xFFu);

    ASSERT_EQ(Call("CreatePointer", {Num(2), Num(36), Num(0)}).code, 0);
    ASSERT_EQ(Call("SetPointer", {Num(2)}).code, 0);
    EXPECT_EQ(HeadlessPointerOf(window)->pointer, Find(2)->object);
    // The kept record is freed now; LeakSanitizer and the address checks watch over it.
}

}  // namespace
}  // namespace qv::testing
