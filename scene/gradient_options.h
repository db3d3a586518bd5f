// The gradient options of scripts, read into a qvGradient: the keys of option tables
// ("gradientstyle", ..., "gradientcolors") and the table argument of the gradient commands
// ("centerx", ..., "colors"), whose style, colours and angle come as arguments before it.
// Colour stops are tables {colour, position, colour, position, ...} from index 0.
#pragma once

#include "engine/vm.h"
#include "gfx/gradient.h"

namespace qv::scene {

// The field names of one spelling.
struct GradientKeys {
    const char* centreX;
    const char* centreY;
    const char* balance;
    const char* border;
    const char* colours;
};

inline constexpr GradientKeys kGradientTagKeys = {
    "gradientcenterx", "gradientcentery", "gradientbalance", "gradientborder", "gradientcolors"};
inline constexpr GradientKeys kGradientOptionKeys = {"centerx", "centery", "balance", "border",
                                                     "colors"};

}  // namespace qv::scene

// Reads the fields of table t into the gradient: for the radial and conical styles the
// centre, balance and border (each 0 to 1, else ERR_WRONGUSAGE), then the colour stops:
// ERR_TABEXPECTED2 when they are no table, ERR_INTERNAL for a 65th stop, ERR_NUMTABLEARG
// (naming the field) for a value that is no number, ERR_MISSINGPARAMTR for a colour without
// its position, ERR_WRONGUSAGE for a position outside 0 to 1 or a single stop. 0 or the code.
int BuildGradientStops(qvVmState* L, int t, qvGradient* gradient,
                       const qv::scene::GradientKeys& keys);

// The gradient keys of option table t: "gradientstyle" (LINEAR, RADIAL or CONICAL, else
// ERR_WRONGUSAGE), "gradientstartcolor", "gradientendcolor", "gradientangle" and the fields of
// BuildGradientStops. 0 or an error code.
int ParseGradientTags(qvVmState* L, int t, qvGradient* gradient);

// The arguments after a gradient command's colours, the style already stored: style 1 is
// linear at 90 degrees and style 0 linear at 0 degrees; LINEAR and CONICAL take the angle
// argument at angleIdx (default 0); RADIAL reads none. The argument after the angle's place,
// when given, is the table of BuildGradientStops. 0, or ERR_WRONGUSAGE for another style.
int ParseGradientOptions(qvVmState* L, qvGradient* gradient, int angleIdx);
