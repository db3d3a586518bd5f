// The style rows of brush, brush part, anim and text-object layers: their keys read into the
// working copies, the flags and cache kinds they set, retypes, and their GetLayerStyle keys.
#include "objects/text/text_objects.h"
#include "tests/scene/layers/style/style_rows_fixture.h"

namespace qv::testing {
namespace {

using ObjectStyleRows = StyleRowsFixture;

// Layer 1 shows brush 1 (4 x 3) at (5, 6); brush 2 is 6 x 5.
class BrushStyleRows : public StyleRowsFixture {
protected:
    BrushStyleRows() {
        Plain(1, 4, 3, 0xFF0000);
        Plain(2, 6, 5, 0x00FF00);
        EXPECT_EQ(Call("DisplayBrush", {Num(1), Num(5), Num(6)}).code, 0);
    }
};

TEST_F(BrushStyleRows, AnIdTakesTheNewBrushAndItsSize) {
    StyleWork none;
    ASSERT_EQ(Read(1, Table({}), &none), 0);
    EXPECT_FALSE(none.work.rebuild);
    EXPECT_EQ(none.work.cacheKinds, 0);

    StyleWork s;
    ASSERT_EQ(Read(1, Table({{Str("id"), Num(2)}}), &s), 0);
    EXPECT_TRUE(s.work.rebuild);
    EXPECT_EQ(s.work.cacheKinds, QV_CACHE_BRUSHES);
    EXPECT_EQ(s.work.layer.objectId.number, 2u);
    EXPECT_EQ(s.work.layer.type, uint32_t(gfx::kTypeBrush));
    EXPECT_EQ(s.work.item->width, 6);
    EXPECT_EQ(s.work.item->height, 5);
    EXPECT_EQ(s.work.item->x, 5);

    StyleWork missing;
    EXPECT_EQ(Read(1, Table({{Str("id"), Num(99)}}), &missing), ERR_FINDBRUSH);
}

// Part keys make a brush layer a brush part; the part is cut to the brush.
TEST_F(BrushStyleRows, PartKeysMakeABrushPartCutToTheBrush) {
    struct Case {
        int32_t x, y, width, height;
        int code;
        int32_t itemWidth, itemHeight;
    } cases[] = {
        {1, 1, 2, 2, 0, 2, 2},
        {1, 1, 10, 10, 0, 3, 2},  // cut to what is left of the brush
        {3, 2, 0, 0, 0, 1, 1},    // no size: to the brush's edge
        {4, 0, 1, 1, ERR_COORDSRANGE, 0, 0},
        {0, 3, 1, 1, ERR_COORDSRANGE, 0, 0},
        {-1, 0, 1, 1, ERR_NEGCOORDS, 0, 0},
        {0, 0, -2, 1, ERR_WRONGUSAGE, 0, 0},
    };
    for (const Case& c : cases) {
        StyleWork s;
        const int code = Read(1,
                              Table({{Str("partx"), Num(c.x)},
                                     {Str("party"), Num(c.y)},
                                     {Str("partwidth"), Num(c.width)},
                                     {Str("partheight"), Num(c.height)}}),
                              &s);
        EXPECT_EQ(code, c.code) << c.x << "," << c.y;
        EXPECT_EQ(s.work.layer.type, uint32_t(gfx::kTypeBrushPart));
        if (c.code != 0) continue;
        EXPECT_TRUE(s.work.rebuild);
        EXPECT_EQ(s.ItemAs<qvImageItem>()->partX, c.x);
        EXPECT_EQ(s.work.item->width, c.itemWidth) << c.x << "," << c.y;
        EXPECT_EQ(s.work.item->height, c.itemHeight) << c.x << "," << c.y;
    }
}

// A brush part keeps its part when only another key (here a new brush) is given.
TEST_F(BrushStyleRows, ABrushPartKeepsItsPartAndGivesItsKeys) {
    ASSERT_EQ(
        Call("DisplayBrushPart", {Num(2), Num(2), Num(1), Num(0), Num(0), Num(3), Num(4)}).code, 0);
    const qvLayer* part = Layer(2);
    ASSERT_EQ(part->type, uint32_t(gfx::kTypeBrushPart));
    const Value style = Style(2);
    EXPECT_EQ(NumberAt(style, "id"), 2);
    EXPECT_EQ(NumberAt(style, "partx"), 2);
    EXPECT_EQ(NumberAt(style, "party"), 1);
    EXPECT_EQ(NumberAt(style, "partwidth"), 3);
    EXPECT_EQ(NumberAt(style, "partheight"), 4);

    StyleWork s;
    ASSERT_EQ(Read(2, Table({{Str("id"), Num(1)}}), &s), 0);
    EXPECT_EQ(s.ItemAs<qvImageItem>()->partX, 2);
    EXPECT_EQ(s.ItemAs<qvImageItem>()->partY, 1);
    EXPECT_EQ(s.work.item->width, 2);  // brush 1 is 4 wide
    EXPECT_EQ(s.work.item->height, 2);
}

// Layer 1 shows anim 9 (3 frames of 5 x 4).
class AnimStyleRows : public StyleRowsFixture {
protected:
    AnimStyleRows() {
        MakeAnim(9, 5, 4, 3);
        MakeAnim(10, 7, 2, 2);
        EXPECT_EQ(Call("InsertLayer", {Num(1), Num(gfx::kTypeAnim), Num(9), Num(3), Num(2)}).code,
                  0);
    }
    qvAnimItem* Shown() { return static_cast<qvAnimItem*>(Layer(1)->sourceItem); }
};

TEST_F(AnimStyleRows, FrameKeysStepWrapAndCheckTheRange) {
    struct Case {
        int32_t shown, key;
        int code;
        int32_t frame;
    } cases[] = {
        {0, 0, 0, 1},
        {2, 0, 0, 0},  // 0 is the next frame, after the last the first
        {0, -1, 0, 2},
        {1, 1, 0, 0},
        {0, 3, 0, 2},
        {0, 4, ERR_ANIMFRAME, 0},
        {0, -2, ERR_ANIMFRAME, 0},
    };
    for (const Case& c : cases) {
        Shown()->frame = c.shown;
        StyleWork s;
        EXPECT_EQ(Read(1, Table({{Str("frame"), Num(c.key)}}), &s), c.code) << c.key;
        if (c.code != 0) continue;
        EXPECT_TRUE(s.work.rebuild);
        EXPECT_EQ(s.ItemAs<qvAnimItem>()->frame, c.frame) << c.shown << " " << c.key;
    }
    Shown()->frame = 1;
    EXPECT_EQ(NumberAt(Style(1), "frame"), 2);
    EXPECT_EQ(NumberAt(Style(1), "id"), 9);
}

// A new anim is looked up at once: its frame count and size, shown from its first frame, and
// a frame key in the same table counts the new anim's frames.
TEST_F(AnimStyleRows, AnIdIsLookedUpAtOnce) {
    Shown()->frame = 2;
    StyleWork s;
    ASSERT_EQ(Read(1, Table({{Str("id"), Num(10)}, {Str("frame"), Num(-1)}}), &s), 0);
    EXPECT_EQ(s.work.layer.objectId.number, 10u);
    EXPECT_EQ(s.work.cacheKinds, QV_CACHE_ANIMS);
    const qvAnimItem* item = s.ItemAs<qvAnimItem>();
    EXPECT_EQ(item->frameCount, 2);
    EXPECT_EQ(item->frame, 1);
    EXPECT_EQ(item->width, 7);
    EXPECT_EQ(item->height, 2);
    StyleWork missing;
    EXPECT_EQ(Read(1, Table({{Str("id"), Num(11)}}), &missing), ERR_FINDANIM);
    StyleWork beyond;
    EXPECT_EQ(Read(1, Table({{Str("id"), Num(10)}, {Str("frame"), Num(3)}}), &beyond),
              ERR_ANIMFRAME);
}

// A retype needs the id and keeps only the old position; a layer of the type itself does not.
TEST_F(ObjectStyleRows, ARetypeNeedsTheId) {
    Plain(1, 4, 3, 0xFF0000);
    MakeAnim(9, 5, 4, 3);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("Hi")}).code, 0);
    ASSERT_EQ(Call("TextOut", {Num(7), Num(8), Str("text")}).code, 0);
    struct Case {
        uint32_t type;
        uint32_t id;
        int cacheKind;
    } cases[] = {
        {gfx::kTypeBrush, 1, QV_CACHE_BRUSHES},
        {gfx::kTypeBrushPart, 1, QV_CACHE_BRUSHES},
        {gfx::kTypeAnim, 9, QV_CACHE_ANIMS},
        {gfx::kTypeTextObject, 1, QV_CACHE_TEXTOBJECTS},
    };
    qvTextObject* object = nullptr;
    ASSERT_EQ(FindTextObject(L, {1, nullptr}, &object, 0), 0);
    for (const Case& c : cases) {
        StyleWork without;
        EXPECT_EQ(Read(1, Table({{Str("hidden"), Num(1)}}), &without, c.type), ERR_MISSINGPARAMTR)
            << c.type;
        StyleWork s;
        ASSERT_EQ(Read(1, Table({{Str("id"), Num(c.id)}}), &s, c.type), 0) << c.type;
        EXPECT_TRUE(s.work.rebuild);
        EXPECT_EQ(s.work.cacheKinds, c.cacheKind);
        EXPECT_EQ(s.work.item->x, 7);
        EXPECT_EQ(s.work.item->y, 8);
        EXPECT_GT(s.work.item->width, 0);
    }
    StyleWork textObject;
    ASSERT_EQ(Read(1, Table({{Str("id"), Num(1)}}), &textObject, gfx::kTypeTextObject), 0);
    EXPECT_EQ(textObject.work.item->width, object->width);
    EXPECT_EQ(textObject.work.item->height, object->height);
}

TEST_F(ObjectStyleRows, ATextObjectLayerTakesAnotherObject) {
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("Hi")}).code, 0);
    ASSERT_EQ(Call("CreateTextObject", {Num(2), Str("A longer one")}).code, 0);
    ASSERT_EQ(Call("DisplayTextObject", {Num(1), Num(3), Num(4)}).code, 0);
    ASSERT_EQ(Layer(1)->type, uint32_t(gfx::kTypeTextObject));
    EXPECT_EQ(NumberAt(Style(1), "id"), 1);
    qvTextObject* second = nullptr;
    ASSERT_EQ(FindTextObject(L, {2, nullptr}, &second, 0), 0);
    StyleWork s;
    ASSERT_EQ(Read(1, Table({{Str("id"), Num(2)}}), &s), 0);
    EXPECT_EQ(s.work.layer.objectId.number, 2u);
    EXPECT_EQ(s.work.item->width, second->width);
    EXPECT_EQ(s.work.cacheKinds, QV_CACHE_TEXTOBJECTS);
    StyleWork missing;
    EXPECT_NE(Read(1, Table({{Str("id"), Num(3)}}), &missing), 0);
}

}  // namespace
}  // namespace qv::testing
