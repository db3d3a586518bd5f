// The "filters" field of drawing tags and layer styles, and the filter pass's order.
#include <cstring>
#include <functional>

#include "scene/layers/filter_pass.h"
#include "scene/layers/filter_table.h"
#include "tests/objects/support/object_fixture.h"

namespace qv::testing {
namespace {

struct Read {
    int code = 0;
    int found = 0;
    qvLayerFilter slots[kLayerFilterCount]{};
};

class LayerFilters : public ObjectFixture {
protected:
    // Parses {filters = value} over slots that start as given.
    Read Parse(const Arg& value, const qvLayerFilter* start = nullptr) {
        Read r;
        if (start != nullptr) std::memcpy(r.slots, start, sizeof r.slots);
        Define("parsefilters", [&](qvVmState* L) {
            r.code = ParseLayerFilters(L, 1, r.slots, &r.found);
            return 0;
        });
        const CallResult call = Call("parsefilters", {Table({{Str("filters"), value}})});
        if (call.code != 0) r.code = call.code;
        errorText = call.errorText;
        return r;
    }
    Arg Filter(std::vector<std::pair<Arg, Arg>> fields) { return Table(std::move(fields)); }

    std::string errorText;
};

TEST_F(LayerFilters, EntriesSwitchSlotsWithTheirArguments) {
    const struct {
        const char* what;
        Arg filters;
        std::function<void(const Read&)> check;
    } cases[] = {
        {"defaults", List({Filter({{Str("name"), Str("WATERRIPPLE")}})}),
         [](const Read& r) {
             const qvLayerFilter& f = r.slots[kFilterWaterRipple];
             EXPECT_EQ(f.enabled, 1);
             EXPECT_EQ(f.priority, 0);
             EXPECT_EQ(f.ints[0], 32);
             EXPECT_EQ(f.ints[1], 1);
             EXPECT_EQ(f.ints[2], 0);
             EXPECT_EQ(f.reals[0], 0.5f);
             EXPECT_EQ(f.reals[1], 0.5f);
         }},
        {"given and defaults",
         List({Filter({{Str("name"), Str("tint")},
                       {Str("priority"), Num(300)},
                       {Str("args"), List({Num(0x00FF00)})}})}),
         [](const Read& r) {
             const qvLayerFilter& f = r.slots[kFilterTint];
             EXPECT_EQ(f.ints[0], 0x00FF00);
             EXPECT_EQ(f.ints[1], 128);
             EXPECT_EQ(f.priority, 255);
         }},
        {"levels and surplus",
         List({Filter({{Str("name"), Str("solarize")}, {Str("args"), List({Str("50%"), Num(7)})}}),
               Filter({{Str("name"), Str("gamma")}, {Str("args"), List({Num(0.5)})}})}),
         [](const Read& r) {
             EXPECT_EQ(r.slots[kFilterSolarize].ints[0], 127);
             EXPECT_EQ(r.slots[kFilterSolarize].ints[1], 0);
             EXPECT_EQ(r.slots[kFilterGamma].reals[0], 0.5f);
             EXPECT_EQ(r.slots[kFilterGamma].reals[2], 1.0f);
         }},
        {"empty list", List({}), [](const Read& r) { EXPECT_FALSE(AnyFilterEnabled(r.slots)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Read r = Parse(c.filters);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.found, 1);
        c.check(r);
    }
}

TEST_F(LayerFilters, DisableKeepsTheArgumentsAndOtherSlotsKeepTheirState) {
    qvLayerFilter start[kLayerFilterCount]{};
    start[kFilterBlur] = {1, 9, {}, {3.0f}};
    start[kFilterInvert] = {1, 2, {}, {}};
    const Read r = Parse(List({Filter({{Str("name"), Str("blur")},
                                       {Str("disable"), Num(1)},
                                       {Str("args"), List({Num(8)})}})}),
                         start);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.slots[kFilterBlur].enabled, 0);
    EXPECT_EQ(r.slots[kFilterBlur].reals[0], 3.0f);
    EXPECT_EQ(r.slots[kFilterBlur].priority, 9);
    EXPECT_EQ(r.slots[kFilterInvert].enabled, 1);
    EXPECT_FALSE(AnyMovingFilter(r.slots));
    start[kFilterYFlip].enabled = 1;
    EXPECT_TRUE(AnyMovingFilter(start));
}

TEST_F(LayerFilters, MalformedListsAndTheirErrors) {
    const struct {
        const char* what;
        Arg filters;
        int code;
        const char* text;
    } cases[] = {
        {"not a table", Num(1), ERR_TABEXPECTED2, "filters"},
        {"an entry not a table", List({Num(1)}), ERR_TABEXPECTED2, "filters"},
        {"no name", List({Filter({{Str("name"), Str("blur")}}), Filter({})}), ERR_NOFILTERNAME,
         "1"},
        {"a name not a string", List({Filter({{Str("name"), Num(3)}})}), ERR_STRTABLEARG, "name"},
        {"an unknown name", List({Filter({{Str("name"), Str("glow")}})}), ERR_UNKNOWNFILTER,
         "glow"},
        {"args not a table", List({Filter({{Str("name"), Str("blur")}, {Str("args"), Num(2)}})}),
         ERR_TABEXPECTED2, "args"},
        {"an argument not a number",
         List({Filter({{Str("name"), Str("blur")}, {Str("args"), List({Str("x")})}})}),
         ERR_NUMTABLEARG, "args"},
        {"a level above 100%",
         List({Filter({{Str("name"), Str("sepiatone")}, {Str("args"), List({Str("120%")})}})}),
         ERR_PERCENTFORMAT, ""},
        {"disable not a number",
         List({Filter({{Str("name"), Str("blur")}, {Str("disable"), Str("yes")}})}),
         ERR_NUMTABLEARG, "disable"},
        {"a priority not a number",
         List({Filter({{Str("name"), Str("blur")}, {Str("priority"), Str("high")}})}),
         ERR_NUMTABLEARG, "priority"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Parse(c.filters).code, c.code);
        if (*c.text != '\0') {
            EXPECT_EQ(errorText, c.text);
        }
    }
}

// The parser returns its errors to the command, which passes them on: with errors off the
// script goes on after a number field that holds no number.
TEST_F(LayerFilters, NumberFieldsThatAreNoNumbersAreReturned) {
    const qvLayerFilter blur{1, 7, {}, {3.0f}};
    const struct {
        const char* what;
        std::vector<std::pair<Arg, Arg>> entry;
        const char* field;
    } cases[] = {
        {"disable", {{Str("disable"), Str("yes")}}, "disable"},
        {"priority", {{Str("priority"), Table({})}}, "priority"},
        {"a real argument", {{Str("args"), List({Str("wide")})}}, "args"},
        {"an integer argument", {{Str("args"), List({Str("x")})}}, "args"},
    };
    SetExitOnError(false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<Arg, Arg>> entry = c.entry;
        const bool integer = std::string(c.what) == "an integer argument";
        entry.emplace_back(Str("name"), Str(integer ? "pixelate" : "blur"));
        qvLayerFilter slots[kLayerFilterCount]{};
        slots[kFilterBlur] = blur;
        int code = 0;
        Define("filtercode", [&](qvVmState* L) {
            code = ParseLayerFilters(L, 1, slots, nullptr);
            return code;
        });
        const CallResult r =
            Call("filtercode", {Table({{Str("filters"), List({Filter(std::move(entry))})}})});
        EXPECT_EQ(code, ERR_NUMTABLEARG);
        EXPECT_EQ(r.code, ERR_NUMTABLEARG);
        EXPECT_FALSE(r.ended);
        EXPECT_EQ(r.errorText, c.field);
        const qvLayerFilter& kept = slots[kFilterBlur];
        EXPECT_EQ(kept.enabled, 1);
        EXPECT_EQ(kept.priority, 7);
        EXPECT_EQ(kept.reals[0], 3.0f) << "the slot keeps its argument";
        EXPECT_EQ(slots[kFilterPixelate].enabled, 0);
    }
}

// Filters run by descending priority, equal priorities in slot order: a full tint to white
// and an invert give white or black by their order.
TEST(FilterPass, PriorityThenSlotOrder) {
    const struct {
        int tintPriority, invertPriority;
        uint32_t result;
    } cases[] = {{0, 0, 0xFFFFFF}, {10, 200, 0xFFFFFF}, {200, 10, 0x000000}, {5, 5, 0xFFFFFF}};
    for (const auto& c : cases) {
        OwnedBitMap bitmap(AllocDisplayBitMap(3, 3));
        RectFill(bitmap.get(), 0, 0, 3, 3, 0x204060);
        qvLayerFilter slots[kLayerFilterCount]{};
        slots[kFilterTint] = {1, uint8_t(c.tintPriority), {0xFFFFFF, 256}, {}};
        slots[kFilterInvert] = {1, uint8_t(c.invertPriority), {}, {}};
        EXPECT_EQ(ApplyLayerFilters(slots, bitmap.get(), nullptr, nullptr, 3, 3), 0);
        EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 1, 1), Stored(c.result))
            << c.tintPriority << " " << c.invertPriority;
    }
}

TEST(FilterPass, MovingFiltersCarryTheirPlanes) {
    OwnedBitMap bitmap(AllocDisplayBitMap(4, 1));
    RectFill(bitmap.get(), 0, 0, 4, 1, 0);
    PlotPixel(bitmap.get(), 0, 0, 0xFFFFFF);
    OwnedPlane mask(AllocMaskBitMap(nullptr, 4, 1, 1));
    PlotPixel(mask.get(), 0, 0, 0);
    qvLayerFilter slots[kLayerFilterCount]{};
    slots[kFilterXFlip].enabled = 1;
    EXPECT_EQ(ApplyLayerFilters(slots, bitmap.get(), mask.get(), nullptr, 4, 1), 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 3, 0), Stored(0xFFFFFF));
    EXPECT_EQ(ReadBitMapPixel(mask.get(), 3, 0), 1u);
    EXPECT_EQ(ReadBitMapPixel(mask.get(), 0, 0), 0u);
}

// The modulate filter's arguments are percentages: its defaults leave the picture alone.
TEST(FilterPass, ModulateDefaultsChangeNothing) {
    OwnedBitMap bitmap(AllocDisplayBitMap(2, 2));
    RectFill(bitmap.get(), 0, 0, 2, 2, 0x336699);
    const uint32_t before = ReadBitMapPixel(bitmap.get(), 1, 1);
    qvLayerFilter slots[kLayerFilterCount]{};
    slots[kFilterModulate] = {1, 0, {}, {100, 100, 100}};
    EXPECT_EQ(ApplyLayerFilters(slots, bitmap.get(), nullptr, nullptr, 2, 2), 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 1, 1), before);
    slots[kFilterModulate].reals[0] = 50;
    ApplyLayerFilters(slots, bitmap.get(), nullptr, nullptr, 2, 2);
    EXPECT_NE(ReadBitMapPixel(bitmap.get(), 1, 1), before);
}

}  // namespace
}  // namespace qv::testing
