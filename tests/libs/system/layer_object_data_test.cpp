// The object data commands on layers of the current output picture: layers named by position
// or name, the data staying with its layer when others are inserted below it.
#include "runtime/errors.h"
#include "tests/libs/system/system_test_support.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::testing {
namespace {

using namespace qv::test;

class LayerObjectData : public SystemLib {
protected:
    LayerObjectData() {
        scene.AddLayer(L, Solid(4, 4, 0xFF0000), 0, 0);
        qvLayer* top = scene.AddLayer(L, Solid(4, 4, 0x00FF00), 8, 8);
        SetLayerNameString(top, "Top");
    }
    // The layers' data is released while the engine is still open.
    ~LayerObjectData() override { FreeAllBGPics(L); }

    static constexpr double kLayer = 22;
    SceneObjects objects;
    SceneDisplay scene{Solid(32, 24, 0x000080)};
};

TEST_F(LayerObjectData, NeedEnabledLayersAndAnExistingLayer) {
    scene.view.layersEnabled = false;
    EXPECT_EQ(Call("SetObjectData", {Num(kLayer), Num(1), Str("k"), Num(1)}).code, ERR_NOLAYERS);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(1), Str("k")}).code, ERR_NOLAYERS);
    EXPECT_EQ(Call("ClearObjectData", {Num(kLayer), Num(1)}).code, ERR_NOLAYERS);
    scene.view.layersEnabled = true;
    for (double position : {-1.0, 0.0, 3.0}) {
        EXPECT_EQ(Call("SetObjectData", {Num(kLayer), Num(position), Str("k"), Num(1)}).code,
                  ERR_LAYERRANGE)
            << position;
    }
    EXPECT_EQ(Call("ClearObjectData", {Num(kLayer), Num(3), Str("k")}).code, ERR_LAYERRANGE);
    CallResult unknown = Call("GetObjectData", {Num(kLayer), Str("nowhere"), Str("k")});
    EXPECT_EQ(unknown.code, ERR_FINDLAYER);
    EXPECT_TRUE(unknown.ended);
    EXPECT_EQ(Call("CopyObjectData", {Num(kLayer), Num(1), Num(kLayer), Num(3)}).code,
              ERR_LAYERRANGE);
}

TEST_F(LayerObjectData, SetGetCopyAndClear) {
    ASSERT_EQ(Call("SetObjectData", {Num(kLayer), Num(1), Str("k"), Str("bottom")}).code, 0);
    ASSERT_EQ(Call("SetObjectData", {Num(kLayer), Str("top"), Str("k"), Num(5)}).code, 0);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(1), Str("K")}).Text(), "bottom");
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(2), Str("k")}).Number(), 5);

    // The data belongs to the layer, not to its position.
    ASSERT_NE(scene.AddLayer(L, Solid(2, 2, 0xFFFFFF), 1, 1, nullptr, 1), nullptr);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(2), Str("k")}).Text(), "bottom");
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(1), Str("k")}).code, ERR_FINDOBJECTDATA);

    ASSERT_EQ(Call("SetObjectData", {Num(kLayer), Num(2), Str("only"), Num(7)}).code, 0);
    ASSERT_EQ(Call("CopyObjectData", {Num(kLayer), Num(2), Num(kLayer), Str("Top"), Num(0)}).code,
              0);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(3), Str("k")}).Number(), 5);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(3), Str("only")}).Number(), 7);

    ASSERT_EQ(Call("ClearObjectData", {Num(kLayer), Num(3), Str("k")}).code, 0);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(3), Str("k")}).code, ERR_FINDOBJECTDATA);
    EXPECT_EQ(Call("ClearObjectData", {Num(kLayer), Num(3), Str("k")}).code, ERR_FINDOBJECTDATA);
    ASSERT_EQ(Call("ClearObjectData", {Num(kLayer), Num(2)}).code, 0);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(2), Str("only")}).code, ERR_FINDOBJECTDATA);
    EXPECT_EQ(Call("GetObjectData", {Num(kLayer), Num(3), Str("only")}).Number(), 7);
}

}  // namespace
}  // namespace qv::testing
