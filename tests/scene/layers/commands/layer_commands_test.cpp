// The short restyling commands through the style engine: their argument counts, the rows'
// place in the "layers" table, and what each stores; the filter arguments end to end.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/error_codes.h"
#include "runtime/exports.h"
#include "scene/layers/filter_table.h"
#include "tests/scene/layers/commands/layer_commands_fixture.h"

namespace qv::testing {
namespace {

using LayerCommandsTest = LayerCommandsFixture;

TEST_F(LayerCommandsTest, TheLayersTableListsItsRowsInThePublishedOrder) {
    const std::vector<std::string> published = {"Undo",
                                                "EnableLayers",
                                                "DisableLayers",
                                                "SwapLayers",
                                                "InsertLayer",
                                                "ShowLayer",
                                                "HideLayer",
                                                "RemoveLayer",
                                                "SetLayerTransparency",
                                                "SetLayerLight",
                                                "SetLayerTint",
                                                "AddMove",
                                                "ClearMove",
                                                "DoMove",
                                                "FreeLayers",
                                                "NextFrame",
                                                "SetLayerName",
                                                "Collision",
                                                "DumpLayers",
                                                "ScaleLayer",
                                                "RotateLayer",
                                                "SetLayerStyle",
                                                "GetLayerStyle",
                                                "TransformLayer",
                                                "SetLayerAnchor",
                                                "LayerExists",
                                                "SetLayerZPos",
                                                "TranslateLayer",
                                                "SelectLayer",
                                                "CreateLayer",
                                                "ModifyLayerFrames",
                                                "GetLayerAtPos",
                                                "SetLayerShadow",
                                                "SetLayerFilter",
                                                "SetLayerBorder",
                                                "LayerToFront",
                                                "LayerToBack"};
    std::vector<std::string> rows;
    for (const CommandTable& table : RegisteredCommandTables()) {
        if (std::strcmp(table.libraryName, "layers") != 0) continue;
        for (const qvCommandEntry* row = table.rows; row->name != nullptr; ++row) {
            rows.push_back(row->name);
        }
    }
    EXPECT_EQ(rows, published);
}

TEST_F(LayerCommandsTest, ArgumentCountsAreCheckedFirst) {
    const struct {
        const char* command;
        int min, max;
    } cases[] = {
        {"SetLayerFilter", 2, 2}, {"SetLayerAnchor", 3, 3},       {"TransformLayer", 5, 6},
        {"RotateLayer", 2, 3},    {"ScaleLayer", 3, 4},           {"SetLayerTint", 3, 3},
        {"SetLayerLight", 3, 3},  {"SetLayerTransparency", 2, 2}, {"NextFrame", 1, 4},
        {"DoMove", 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        // Layer 5 does not exist: only the count may be refused.
        EXPECT_EQ(Call(c.command, std::vector<Arg>(size_t(c.min) - 1, Num(5))).code,
                  ERR_MISSINGPARAMTR);
        EXPECT_EQ(Call(c.command, std::vector<Arg>(size_t(c.max) + 1, Num(5))).code,
                  ERR_TOOMANYARGS);
    }
}

TEST_F(LayerCommandsTest, SetLayerFilterClearsEverySlotWithZeroOrNilAndRefusesOtherNumbers) {
    Stack(1);
    ASSERT_EQ(
        Call("SetLayerFilter", {Num(1), Table({{Num(0), Table({{Str("name"), Str("invert")}})},
                                               {Num(1), Table({{Str("name"), Str("xflip")}})}})})
            .code,
        0);
    ASSERT_EQ(Call("SetLayerTint", {Num(1), Num(0x00FF00), Num(90)}).code, 0);
    EXPECT_EQ(At(1)->filters[kFilterInvert].enabled, 1);
    EXPECT_EQ(At(1)->movingFilter, 1);
    EXPECT_EQ(Call("SetLayerFilter", {Num(1), Num(1)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SetLayerFilter", {Num(1), Str("blur")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(At(1)->filters[kFilterTint].enabled, 1);

    ASSERT_EQ(Call("SetLayerFilter", {Num(1), Num(0)}).code, 0);
    for (const qvLayerFilter& slot : At(1)->filters) EXPECT_EQ(slot.enabled, 0);
    EXPECT_EQ(At(1)->movingFilter, 0);
    ASSERT_EQ(Call("SetLayerTint", {Num(1), Num(0x00FF00), Num(90)}).code, 0);
    ASSERT_EQ(Call("SetLayerFilter", {Num(1), Nil()}).code, 0);
    EXPECT_EQ(At(1)->filters[kFilterTint].enabled, 0);
    ExpectWindowRecomposed();
}

TEST_F(LayerCommandsTest, TintAndLightShareOneHandler) {
    Stack(1);
    for (const char* command : {"SetLayerTint", "SetLayerLight"}) {
        SCOPED_TRACE(command);
        ASSERT_EQ(Call(command, {Num(1), Num(0xFF0000), Num(0)}).code, 0);
        const qvLayerFilter& tint = At(1)->filters[kFilterTint];
        EXPECT_EQ(uint32_t(tint.ints[0]), 0xFF0000u);
        EXPECT_EQ(tint.enabled, 0);
        ASSERT_EQ(Call(command, {Num(1), Num(0x0000FF), Num(300)}).code, 0);
        EXPECT_EQ(At(1)->filters[kFilterTint].ints[1], 255);
        EXPECT_EQ(At(1)->filters[kFilterTint].enabled, 1);
    }
}

TEST_F(LayerCommandsTest, TransformCommandsStoreWhatTheEngineReads) {
    Stack(1);
    ASSERT_EQ(Call("RotateLayer", {Num(1), Num(725)}).code, 0);
    EXPECT_EQ(At(1)->transform.rotate, 5);
    ASSERT_EQ(Call("RotateLayer", {Num(1), Num(30), Num(1)}).code, 0);
    EXPECT_EQ(At(1)->transform.smoothscale, 1);

    ASSERT_EQ(Call("ScaleLayer", {Num(1), Num(0), Num(100)}).code, 0);
    EXPECT_EQ(At(1)->transform.height, 100);
    EXPECT_EQ(Call("ScaleLayer", {Num(1), Num(-1), Num(10)}).code, ERR_BADDIMENSIONS);

    EXPECT_EQ(Call("TransformLayer", {Num(1), Num(0), Num(0), Num(0), Num(1)}).code,
              ERR_WRONGUSAGE);
    ASSERT_EQ(Call("TransformLayer", {Num(1), Num(1), Num(0.5), Num(0), Num(2), Num(0)}).code, 0);
    EXPECT_EQ(At(1)->transform.transformInput[1], 0.5);
    EXPECT_EQ(At(1)->transform.transformInput[3], 2.0);

    ASSERT_EQ(Call("SetLayerAnchor", {Num(1), Num(0.5), Num(1)}).code, 0);
    EXPECT_EQ(At(1)->anchorX, 0.5);
    EXPECT_EQ(At(1)->anchorY, 1.0);

    ASSERT_EQ(Call("SetLayerTransparency", {Num(1), Num(300)}).code, 0);
    EXPECT_EQ(At(1)->transparency, 255u);
    EXPECT_EQ(Call("RotateLayer", {Num(2), Num(5)}).code, ERR_LAYERRANGE);
    ExpectWindowRecomposed();
}

TEST_F(LayerCommandsTest, FilterArgumentsAreStoredAsGivenAndClampedWhenApplied) {
    Stack(2);
    const auto filter = [](const char* name, std::vector<Arg> args) {
        std::vector<std::pair<Arg, Arg>> entries;
        for (size_t i = 0; i < args.size(); ++i) entries.push_back({Num(double(i)), args[i]});
        return Table({{Str("name"), Str(name)}, {Str("args"), Table(entries)}});
    };
    ASSERT_EQ(Call("SetLayerFilter", {Num(1), Table({{Num(0), filter("pixelate", {Num(0)})},
                                                     {Num(1), filter("blur", {Num(-5)})},
                                                     {Num(2), filter("modulate", {Num(-50)})}})})
                  .code,
              0);
    EXPECT_EQ(At(1)->filters[kFilterPixelate].ints[0], 0);
    EXPECT_EQ(At(1)->filters[kFilterBlur].reals[0], -5.0f);
    ASSERT_EQ(
        Call("SetLayerFilter", {Num(2), Table({{Num(0), filter("solarize", {Num(999)})}})}).code,
        0);
    EXPECT_EQ(At(2)->filters[kFilterSolarize].ints[0], 999);
    Shown();  // composes the filtered layers
    ExpectWindowRecomposed();

    EXPECT_EQ(
        Call("SetLayerFilter", {Num(2), Table({{Num(0), filter("sepiatone", {Str("101%")})}})})
            .code,
        ERR_PERCENTFORMAT);
    ASSERT_EQ(Call("SetLayerFilter", {Num(2), Table({{Num(0), Table({{Str("name"), Str("solarize")},
                                                                     {Str("disable"), Num(1)}})}})})
                  .code,
              0);
    EXPECT_EQ(At(2)->filters[kFilterSolarize].enabled, 0);
    EXPECT_EQ(At(2)->filters[kFilterSolarize].ints[0], 999);
}

}  // namespace
}  // namespace qv::testing
