// The style row of VECTORPATH layers: the path id and the size it brings, the dash pattern
// (refused, emptied or copied), the retype items, and GetLayerStyle's keys of the row.
#include <gtest/gtest.h>

#include <optional>

#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/vector/path_render.h"
#include "platform/linux/blocks.h"
#include "scene/layers/layers_library.h"
#include "tests/objects/draw/style_rows/style_row_support.h"
#include "tests/objects/vector/vector_test_support.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::testing {
namespace {

using namespace qv::test;

constexpr uint32_t kVectorPath = gfx::kTypeVectorPath;

class PathStyleRow : public LibFixture {
protected:
    PathStyleRow()
        : LibFixture(OpenLibraries<RegisterDrawLibrary, RegisterVectorGraphicsLibrary,
                                   RegisterLayersLibrary>) {
        UseVectorBackend(&kCairoBackend);
        display_.emplace(Solid(120, 100, 0));
        ResetDrawState(GetDrawState());
        Path(1, 30, 20);
        Path(2, 50, 10);
        EXPECT_EQ(Call("DrawPath", {Num(1), Num(10), Num(10), Num(0xFF0000)}).code, 0);
        layer_ = Top();
    }
    ~PathStyleRow() override {
        display_.reset();
        FreeAllPaths(L);
        UseVectorBackend(nullptr);
        FreeDrawBuffers(L);
    }

    // A path of one stroke from (0, 0) to (dx, dy).
    void Path(double id, double dx, double dy) {
        ASSERT_EQ(Call("StartPath", {Num(id)}).code, 0);
        ASSERT_EQ(Call("MoveTo", {Num(id), Num(0), Num(0)}).code, 0);
        ASSERT_EQ(Call("LineTo", {Num(id), Num(dx), Num(dy)}).code, 0);
    }
    qvLayer* Top() const { return reinterpret_cast<qvLayer*>(display_->picture->layers.tailPred); }
    int Read(StyleWork& work, std::vector<std::pair<Arg, Arg>> keys) {
        return ReadRow(*this, work, Table(std::move(keys)));
    }

    SceneObjects objects;
    std::optional<SceneDisplay> display_;
    qvLayer* layer_ = nullptr;
};

TEST_F(PathStyleRow, DashesAreCopiedRefusedOrEmptied) {
    const struct {
        Arg dashes;
        int code;
        std::vector<double> stored;  // after a success
    } cases[] = {
        {List({Num(4), Num(2.5)}), 0, {4, 2.5}},
        {List({}), 0, {}},
        {List({Num(0), Num(0)}), 0, {}},
        {List({Num(0), Num(3)}), 0, {0, 3}},
        {List({Num(4), Num(-1)}), ERR_WRONGUSAGE, {}},
        {List({Num(4), Str("x")}), ERR_NUMTABLEARG, {}},
        {Str("4 2"), ERR_TABEXPECTED, {}},
    };
    for (const auto& c : cases) {
        StyleWork work(L, layer_, kVectorPath);
        auto& item = work.As<qvPathItem>();
        ASSERT_EQ(item.SetDashes(std::vector<double>{7, 7, 7}.data(), 3), 0);
        item.dashOffset = 1;
        ASSERT_EQ(Read(work, {{Str("dashoffset"), Num(5)}, {Str("dashes"), c.dashes}}), c.code);
        if (c.code != 0) {
            EXPECT_EQ(item.dashCount, 3) << "kept";
            continue;
        }
        EXPECT_TRUE(work.work.rebuild);
        ASSERT_EQ(item.dashCount, int32_t(c.stored.size()));
        for (size_t i = 0; i < c.stored.size(); ++i) EXPECT_EQ(item.dashes[i], c.stored[i]);
        EXPECT_EQ(item.dashOffset, c.stored.empty() ? 0 : 5) << "no pattern, no offset";
    }
}

TEST_F(PathStyleRow, IdBringsThePathAndItsSize) {
    StyleWork work(L, layer_, kVectorPath);
    ASSERT_EQ(Read(work, {{Str("id"), Num(2)}, {Str("linecap"), Num(1)}}), 0);
    const auto& item = work.As<qvPathItem>();
    EXPECT_TRUE(work.work.pathId);
    EXPECT_TRUE(work.work.rebuild);
    EXPECT_EQ(work.work.layer.objectId.number, 2u);
    EXPECT_EQ(item.cap, 1);
    EXPECT_NEAR(item.width, 51, 2);
    EXPECT_NEAR(item.height, 11, 2);
    ASSERT_EQ(Call("FreePath", {Num(2)}).code, 0);
    EXPECT_NE(item.segments, nullptr) << "the item owns its stream";

    StyleWork missing(L, layer_, kVectorPath);
    EXPECT_EQ(Read(missing, {{Str("id"), Num(9)}}), ERR_FINDPATH);
}

TEST_F(PathStyleRow, RetypeItemsTakeTheOldColourAndStyle) {
    // A brush needs the id; a box gives its style and colour; a text layer its colour.
    qvLayer* brush = display_->AddLayer(L, Solid(4, 4, 0xFF), 30, 40);
    StyleWork noId(L, brush, kVectorPath);
    EXPECT_EQ(Read(noId, {{Str("color"), Num(0xFF)}}), ERR_MISSINGPARAMTR);
    StyleWork fromBrush(L, brush, kVectorPath);
    ASSERT_EQ(Read(fromBrush, {{Str("id"), Num(1)}}), 0);
    EXPECT_EQ(fromBrush.As<qvPathItem>().x, 30);
    EXPECT_EQ(fromBrush.As<qvPathItem>().dashCount, 0);

    GetDrawState()->fillStyle = draw::FILLCOLOR;
    ASSERT_EQ(Call("Box", {Num(5), Num(5), Num(10), Num(10), Num(0x00FF00)}).code, 0);
    GetDrawState()->fillStyle = draw::FILLNONE;
    StyleWork fromBox(L, Top(), kVectorPath);
    EXPECT_EQ(fromBox.As<qvPathItem>().colour, 0x00FF00u);
    EXPECT_EQ(fromBox.As<qvPathItem>().drawState.fillStyle, draw::FILLCOLOR);

    qvLayer text = *brush;
    text.type = gfx::kTypePrint;
    auto* render = NewBlock<qvTextRender>();
    ASSERT_NE(render, nullptr);
    render->style.colour = 0x123456;
    text.sourceItem = render;
    StyleWork fromText(L, &text, kVectorPath);
    EXPECT_EQ(fromText.As<qvPathItem>().colour, 0x123456u);
    FreeLayerItem(render);
}

TEST_F(PathStyleRow, GetLayerStyleGivesTheDashesFromIndexZero) {
    ASSERT_EQ(Call("SetDash", {Num(2), Num(6), Num(3)}).code, 0);
    ASSERT_EQ(Call("DrawPath", {Num(1), Num(10), Num(10), Num(0xFF)}).code, 0);
    const CallResult result = Call("GetLayerStyle", {Num(2)});
    ASSERT_EQ(result.code, 0);
    const Value& style = result.results.at(0);
    const Value* dashes = style.Field("dashes");
    ASSERT_NE(dashes, nullptr);
    ASSERT_NE(dashes->At(0), nullptr);
    EXPECT_EQ(dashes->At(0)->number, 6);
    EXPECT_EQ(dashes->At(1)->number, 3);
    EXPECT_EQ(style.Field("dashoffset")->number, 2);
    EXPECT_EQ(style.Field("color")->number, 0xFF);
}

}  // namespace
}  // namespace qv::testing
