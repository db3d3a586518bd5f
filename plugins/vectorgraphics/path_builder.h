// Turns a segment stream into the current path of a cairo context: moves, lines and curves
// (relative ones from the current point, or from the origin when there is none), sub-paths,
// closes, arcs and ellipses in degrees (clockwise on the y-down screen), rounded boxes and
// outline text.
#pragma once

#include <cairo.h>

#include <cstddef>
#include <cstdint>

namespace qv::vectorgraphics {

// Coordinates beyond this are clamped (and NaN taken as 0): cairo keeps device coordinates in
// 24.8 fixed point.
inline constexpr double kCoordinateLimit = 4.0e6;

// Appends the stream's segments to the context's path; false when the stream does not parse
// or names an unknown vector font.
bool BuildPath(cairo_t* cr, const uint8_t* stream, size_t length);

}  // namespace qv::vectorgraphics
