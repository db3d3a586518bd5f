// The layer filters: their names (a name's index is its slot in every filter table), the
// arguments each takes with their defaults, the slot record, and the reader of the "filters"
// field that drawing tags and layer styles share.
#pragma once

#include <cstdint>

#include "engine/vm.h"

// One filter slot: an enabled byte, a priority byte (higher runs first), then the integer and
// the single-precision arguments in the order the filter takes them.
struct qvLayerFilter {
    uint8_t enabled;
    uint8_t priority;
    int32_t ints[4];
    float reals[4];
};
static_assert(sizeof(qvLayerFilter) == 36);

inline constexpr int kLayerFilterCount = 20;

inline constexpr const char* qvLayerFilterNames[kLayerFilterCount] = {
    "blur",     "charcoal", "contrast",   "edge",        "emboss",   "gamma",     "grayscale",
    "invert",   "modulate", "monochrome", "oilpaint",    "pixelate", "sepiatone", "sharpen",
    "solarize", "swirl",    "tint",       "waterripple", "xflip",    "yflip"};

namespace qv {

// The slots by name.
enum LayerFilterSlot : int {
    kFilterBlur,
    kFilterCharcoal,
    kFilterContrast,
    kFilterEdge,
    kFilterEmboss,
    kFilterGamma,
    kFilterGrayscale,
    kFilterInvert,
    kFilterModulate,
    kFilterMonochrome,
    kFilterOilPaint,
    kFilterPixelate,
    kFilterSepia,
    kFilterSharpen,
    kFilterSolarize,
    kFilterSwirl,
    kFilterTint,  // also the layer tint: integer 0 the colour 0xRRGGBB, integer 1 the level
    kFilterWaterRipple,
    kFilterXFlip,
    kFilterYFlip,
};

// Argument kinds: an integer, a level (an integer given as a number or as a percentage of
// 255), a real. A filter's kinds end at the first kNoArgument.
enum FilterArgumentKind : uint8_t {
    kNoArgument = 0,
    kIntegerArgument = 1,
    kLevelArgument = 2,
    kRealArgument = 3,
};

struct FilterArguments {
    FilterArgumentKind kinds[6];
    double defaults[6];
};

extern const FilterArguments kLayerFilterArguments[kLayerFilterCount];

// Whether an enabled filter moves pixels (pixelate, swirl, water ripple and the flips).
bool AnyMovingFilter(const qvLayerFilter slots[kLayerFilterCount]);
bool AnyFilterEnabled(const qvLayerFilter slots[kLayerFilterCount]);

}  // namespace qv

// Reads the field "filters" of the option table at t into the slots. It is a list (from index
// 0 up to the first nil) of tables {name, disable, priority, args}; the slot a name selects
// is switched off by a non-zero "disable" (its arguments stay), else switched on with the
// priority (clamped to 0..255, 0 when absent) and the arguments "args" gives, the rest taking
// the filter's defaults. Slots not named keep their state. *found (when given) is set to 1
// when the field is present. Returns 0, ERR_TABEXPECTED2 (the field, an entry or "args" is
// not a table), ERR_NOFILTERNAME (an entry without a name; its index as message argument),
// ERR_STRTABLEARG or ERR_UNKNOWNFILTER (with the name); a number that is not one raises
// ERR_NUMTABLEARG, a malformed level ERR_PERCENTFORMAT.
int ParseLayerFilters(qvVmState* L, int t, qvLayerFilter slots[kLayerFilterCount], int* found);
