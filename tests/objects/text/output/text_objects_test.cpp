// Text objects: made, shown, copied, freed while a layer shows them (orphans), scaled by
// rendering again, rotated, locked, and looked up by unknown ids.
#include "gfx/blit_frontends.h"
#include "platform/linux/memory.h"
#include "scene/layers/dirty_rects.h"
#include "tests/objects/text/output/output_fixture.h"

namespace qv::testing {
namespace {

using TextObjects = TextOutputFixture;

qvTextObject* Object(qvVmState* L, uint32_t id, int flags = 0) {
    qvTextObject* object = nullptr;
    FindTextObject(L, {id, nullptr}, &object, flags);
    return object;
}

size_t ObjectCount() {
    size_t count = 0;
    for (qvObjectHeader* h = *TextObjectList(); h != nullptr; h = h->next) ++count;
    return count;
}

TEST_F(TextObjects, CreateDisplayAndCopy) {
    Start();
    UseTopaz();
    SetExitOnError(false);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("Hello")}).code, 0);
    const qvTextObject* one = Object(L, 1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->header.type, 8u);
    EXPECT_EQ(one->width, 40);
    EXPECT_EQ(one->height, 9);
    EXPECT_EQ(one->baseWidth, 40);
    EXPECT_STREQ(one->layout->text, "Hello");

    // Shown without layers, it is what TextOut draws there.
    ASSERT_EQ(Call("DisplayTextObject", {Num(1), Num(30), Num(40)}).code, 0);
    const std::vector<uint32_t> shown = Window();
    ASSERT_EQ(Call("CreateBGPic", {Num(9), Num(320), Num(200), Num(0)}).code, 0);
    ASSERT_EQ(Call("DisplayBGPic", {Num(9)}).code, 0);
    ASSERT_EQ(Call("TextOut", {Num(30), Num(40), Str("Hello")}).code, 0);
    EXPECT_EQ(Window(), shown);

    // An automatic id comes back as the handle; a copy has its own planes.
    const CallResult automatic = Call("CopyTextObject", {Num(1), Nil()});
    ASSERT_EQ(automatic.code, 0);
    ASSERT_EQ(automatic.results.size(), 1u);
    EXPECT_EQ(automatic.results[0].type, VM_TLIGHTUSERDATA);
    ASSERT_EQ(Call("CopyTextObject", {Num(1), Num(2)}).code, 0);
    const qvTextObject* two = Object(L, 2);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(two->bitmap, one->bitmap);
    EXPECT_NE(two->layout, one->layout);
    EXPECT_EQ(Pixels(two->bitmap), Pixels(one->bitmap));
    EXPECT_EQ(two->offsetX, one->offsetX);
    EXPECT_EQ(Call("CopyTextObject", {Num(1), Num(1)}).code, ERR_WRONGUSAGE);
    // A copy onto an existing id replaces that object.
    ASSERT_EQ(Call("CreateTextObject", {Num(3), Str("Other")}).code, 0);
    ASSERT_EQ(Call("CopyTextObject", {Num(1), Num(3)}).code, 0);
    EXPECT_STREQ(Object(L, 3)->layout->text, "Hello");
    EXPECT_EQ(ObjectCount(), 4u);
}

// ATTRFONTNAME of a font object, of the display's current font and of a text object is the
// font's own name (a TrueType face's family and style), not the file it was opened from.
TEST_F(TextObjects, FontNamesAreTheFontsOwn) {
    Start();
    const std::string vera = "/usr/share/fonts/truetype/ttf-bitstream-vera/";
    struct Case {
        std::string asked;
        int32_t engine;
        const char* name;
    };
    const Case cases[] = {{vera + "Vera.ttf", 0, "Bitstream Vera Sans"},
                          {vera + "VeraBd.ttf", 4, "Bitstream Vera Sans Bold"},
                          {":::default_bitmap", 0, "topaz"}};
    for (const Case& c : cases) {
        const Arg options = Table({{Str("engine"), Num(c.engine)}});
        ASSERT_EQ(Call("OpenFont", {Num(1), Str(c.asked), Num(8), options}).code, 0) << c.asked;
        ASSERT_EQ(Call("SetFont", {Str(c.asked), Num(8), options}).code, 0) << c.asked;
        ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("x")}).code, 0) << c.asked;
        for (int32_t type : {43, 21, 8}) {
            EXPECT_EQ(Call("GetAttribute", {Num(type), Num(1), Num(32)}).Text(), c.name)
                << c.asked << " " << type;
        }
    }
}

TEST_F(TextObjects, RefusalsAndUnknownIds) {
    Start();
    SetExitOnError(false);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("locked")}).code, 0);
    Object(L, 1)->lockCount = 1;
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
    };
    static char nowhere;
    const Case cases[] = {
        {"FreeTextObject", {Num(1)}, ERR_LOCKEDOBJ},
        {"ScaleTextObject", {Num(1), Num(10), Num(10)}, ERR_LOCKEDOBJ},
        {"RotateTextObject", {Num(1), Num(90)}, ERR_LOCKEDOBJ},
        {"CreateTextObject", {Num(1), Str("again")}, ERR_LOCKEDOBJ},
        {"FreeTextObject", {Num(7)}, ERR_FINDTEXTOBJECT},
        {"DisplayTextObject", {Num(7), Num(0), Num(0)}, ERR_FINDTEXTOBJECT},
        {"FreeTextObject", {LightUserdata(&nowhere)}, ERR_FINDARRAY},
        {"CopyTextObject", {LightUserdata(&nowhere), Num(2)}, ERR_FINDARRAY},
        {"CreateTextObject", {Num(2), Str("x"), Num(-90000), Num(-1)}, ERR_WRONGUSAGE},
        {"CreateTextObject",
         {Num(2), Str("x"), Table({{Str("encoding"), Num(5)}})},
         ERR_WRONGUSAGE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call(c.command, c.args).code, c.code) << c.command;
    }
    EXPECT_STREQ(Object(L, 1)->layout->text, "locked");
    Object(L, 1)->lockCount = 0;
}

// The object under the id goes only once the new one is laid out, so a text that fails keeps
// it; a locked one refuses its replacement.
TEST_F(TextObjects, AFailingReplacementKeepsTheObjectUnderTheId) {
    Start();
    SetExitOnError(false);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("Hello")}).code, 0);
    EXPECT_EQ(Call("CreateTextObject", {Num(1), Str("a]b")}).code, ERR_TEXTSYNTAX);
    ASSERT_NE(Object(L, 1), nullptr);
    EXPECT_STREQ(Object(L, 1)->layout->text, "Hello");
    EXPECT_EQ(Call("DisplayTextObject", {Num(1), Num(0), Num(0)}).code, 0);
    EXPECT_EQ(ObjectCount(), 1u);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("Hello")}).code, 0);
    EXPECT_EQ(ObjectCount(), 1u);
    Object(L, 1)->lockCount = 1;
    EXPECT_EQ(Call("CreateTextObject", {Num(1), Str("a]b")}).code, ERR_LOCKEDOBJ);
    EXPECT_STREQ(Object(L, 1)->layout->text, "Hello");
    Object(L, 1)->lockCount = 0;
}

// Memory running out anywhere in a replacement under a used id keeps the object of that id as
// GetAttribute reads it (its text, or its font's name); once the replacement is made, the new
// object answers and the old one is gone.
TEST_F(TextObjects, AReplacementShortOfMemoryKeepsTheOldObject) {
    Start();
    UseTopaz();
    SetExitOnError(false);
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int32_t type, attribute;  // #TEXTOBJECT #ATTRTEXT, #FONT #ATTRFONTNAME
        const char *kept, *made;
    };
    const Case cases[] = {
        {"CreateTextObject", {Num(1), Str("made")}, 8, 36, "kept", "made"},
        {"CopyTextObject", {Num(2), Num(1)}, 8, 36, "kept", "copied"},
        {"OpenFont",
         {Num(1), Str(":::default_sans"), Num(12)},
         43,
         32,
         "topaz",
         "Bitstream Vera Sans"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("kept")}).code, 0);
        ASSERT_EQ(Call("CreateTextObject", {Num(2), Str("copied")}).code, 0);
        ASSERT_EQ(Call("OpenFont", {Num(1), Str(":::default_bitmap"), Num(8)}).code, 0);
        const auto read = [&] {
            return Call("GetAttribute", {Num(c.type), Num(1), Num(c.attribute)});
        };
        int failures = 0;
        for (uint64_t n = 1; n < 5000; ++n) {
            CallResult result;
            {
                AllocationFault fault(n, false);
                result = Call(c.command, c.args);
            }
            if (result.code == 0) break;
            ++failures;
            ASSERT_EQ(result.code, ERR_MEM) << c.command << " " << n;
            EXPECT_EQ(read().Text(), c.kept) << c.command << " " << n;
        }
        EXPECT_GT(failures, 0) << c.command;
        EXPECT_EQ(read().Text(), c.made) << c.command;
        EXPECT_EQ(ObjectCount(), 2u) << c.command;
    }
}

// A layer keeps showing a freed object, whose id is free again; the orphan goes when the
// layer goes.
TEST_F(TextObjects, FreedWhileShownTheObjectStaysForItsLayer) {
    Start();
    UseTopaz();
    Current()->layersEnabled = 1;
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("kept")}).code, 0);
    ASSERT_EQ(Call("DisplayTextObject", {Num(1), Num(10), Num(20)}).code, 0);
    ASSERT_EQ(LayerCount(), 1);
    EXPECT_EQ(Layer(1)->type, uint32_t(gfx::kTypeTextObject));
    EXPECT_EQ(Layer(1)->sourceItem->drawX, 10);
    const std::vector<uint32_t> shown = Window();
    ASSERT_EQ(Call("FreeTextObject", {Num(1)}).code, 0);
    EXPECT_EQ(Object(L, 1), nullptr);
    ASSERT_EQ(ObjectCount(), 1u);
    const auto* orphan = reinterpret_cast<const qvTextObject*>(*TextObjectList());
    EXPECT_EQ(orphan->orphan, 1);
    EXPECT_EQ(Layer(1)->objectId.handle, orphan);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("new")}).code, 0);
    EXPECT_EQ(ObjectCount(), 2u);
    // The layer still paints the orphan's picture.
    RefreshDisplayArea(L, 0, 0, 320, 200);
    EXPECT_EQ(Window(), shown);
    RemoveLayerRecord(L, Layer(1), 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(ObjectCount(), 1u);
    EXPECT_STREQ(Object(L, 1)->layout->text, "new");
}

// Changing an object that a layer shows gives the layer a copy first.
TEST_F(TextObjects, ScalingAShownObjectLeavesTheLayerItsPicture) {
    Start();
    UseTopaz();
    Current()->layersEnabled = 1;
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("copy")}).code, 0);
    ASSERT_EQ(Call("DisplayTextObject", {Num(1), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("ScaleTextObject", {Num(1), Num(64), Num(18)}).code, 0);
    ASSERT_EQ(ObjectCount(), 2u);
    const auto* copy = static_cast<const qvTextObject*>(Layer(1)->objectId.handle);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->orphan, 1);
    EXPECT_EQ(copy->width, 32);
    EXPECT_EQ(Object(L, 1)->width, 64);
}

// Scaling renders the text again: 200 % of edged Vera equals Vera rendered at twice the size
// with twice the edge.
// Rotation turns the picture, and only a whole turn keeps the offsets.
TEST_F(TextObjects, ScaleAndRotateRenderAgain) {
    Start();
    UseVera(14);
    ASSERT_EQ(Call("SetFontStyle", {Num(16)}).code, 0);
    ASSERT_EQ(Call("SetFontStyle", {Num(64), Num(0xFF0000), Num(1)}).code, 0);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("Wavy")}).code, 0);
    qvTextObject* object = Object(L, 1);
    const int32_t offsetX = object->offsetX, offsetY = object->offsetY;
    EXPECT_LT(offsetX, 0) << "the edge reaches left of the text";
    ASSERT_EQ(Call("ScaleTextObject", {Num(1), Str("200%"), Num(KEEPASPRAT)}).code, 0);
    EXPECT_EQ(object->scaledWidth, 2 * object->baseWidth);
    // The reference: the font and the edge at twice their size.
    ASSERT_EQ(Call("SetFontStyle", {Num(64), Num(0xFF0000), Num(2)}).code, 0);
    SetFontSize(GetDefaultFont(), 2, 2);
    const int code = Call("CreateTextObject", {Num(2), Str("Wavy")}).code;
    SetFontSize(GetDefaultFont(), 1, 1);
    ASSERT_EQ(code, 0);
    const qvTextObject* twice = Object(L, 2);
    ASSERT_EQ(object->width, twice->width);
    ASSERT_EQ(object->height, twice->height);
    EXPECT_EQ(Pixels(object->bitmap), Pixels(twice->bitmap));
    EXPECT_EQ(object->offsetX, twice->offsetX);

    struct Case {
        double angle;
        int32_t stored;
        bool offsetsKept;
    };
    const Case cases[] = {{90, 90, false}, {360, 0, true}, {-90, -90, false}, {450, 90, false}};
    ASSERT_EQ(Call("ScaleTextObject", {Num(1), Str("100%"), Str("100%")}).code, 0);
    for (const Case& c : cases) {
        ASSERT_EQ(Call("RotateTextObject", {Num(1), Num(c.angle)}).code, 0);
        EXPECT_EQ(object->rotation, c.stored) << c.angle;
        if (c.offsetsKept) {
            EXPECT_EQ(object->offsetX, offsetX) << c.angle;
            EXPECT_EQ(object->offsetY, offsetY) << c.angle;
        } else {
            EXPECT_EQ(object->offsetX, 0) << c.angle;
            EXPECT_EQ(object->offsetY, 0) << c.angle;
            EXPECT_EQ(object->width, object->baseHeight) << c.angle;
            EXPECT_EQ(object->height, object->baseWidth) << c.angle;
        }
    }
}

}  // namespace
}  // namespace qv::testing
