#include "plugins/vectorgraphics/path_builder.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "plugins/vectorgraphics/outline_text.h"
#include "plugins/vectorgraphics/segment_reader.h"

namespace qv::vectorgraphics {
namespace {

// Radii below this make an arc a point: cairo refuses a scale by (almost) zero.
constexpr double kMinimumRadius = 1e-6;

double Finite(double v) {
    return std::isfinite(v) ? v : 0.0;
}

double Coordinate(double v) {
    return std::clamp(Finite(v), -kCoordinateLimit, kCoordinateLimit);
}

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

void EnsureCurrentPoint(cairo_t* cr) {
    if (!cairo_has_current_point(cr)) cairo_move_to(cr, 0, 0);
}

void AddPoints(cairo_t* cr, const Segment& s) {
    const double* n = s.numbers;
    double p[6];
    for (int i = 0; i < 6; ++i) p[i] = Coordinate(n[i]);
    switch (s.code) {
        case QV_PATH_MOVETO:
            if (s.Relative() && cairo_has_current_point(cr)) {
                cairo_rel_move_to(cr, p[0], p[1]);
            } else {
                cairo_move_to(cr, p[0], p[1]);
            }
            break;
        case QV_PATH_LINETO:
            if (s.Relative()) {
                EnsureCurrentPoint(cr);
                cairo_rel_line_to(cr, p[0], p[1]);
            } else {
                cairo_line_to(cr, p[0], p[1]);
            }
            break;
        default:
            if (s.Relative()) {
                EnsureCurrentPoint(cr);
                cairo_rel_curve_to(cr, p[0], p[1], p[2], p[3], p[4], p[5]);
            } else {
                cairo_curve_to(cr, p[0], p[1], p[2], p[3], p[4], p[5]);
            }
            break;
    }
}

// An arc covers at most one full turn; a span against the direction wraps into one turn, as
// cairo's own arcs do.
void AddArc(cairo_t* cr, const Segment& s) {
    const double cx = Coordinate(s.numbers[0]), cy = Coordinate(s.numbers[1]);
    const double rx = std::fabs(Coordinate(s.numbers[2]));
    const double ry = std::fabs(Coordinate(s.numbers[3]));
    const double start = Finite(s.numbers[4]), end = Finite(s.numbers[5]);
    const bool clockwise = s.ints[0] != 0;
    double span = Finite(clockwise ? end - start : start - end);
    if (span < 0) span = std::fmod(span, 360.0) + 360.0;
    span = std::min(span, 360.0);
    const double a1 = Radians(std::fmod(start, 360.0));
    const double a2 = a1 + Radians(clockwise ? span : -span);
    if (rx < kMinimumRadius || ry < kMinimumRadius) {
        cairo_line_to(cr, cx, cy);
        return;
    }
    auto arc = clockwise ? cairo_arc : cairo_arc_negative;
    if (rx == ry) {
        arc(cr, cx, cy, rx, a1, a2);
        return;
    }
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_scale(cr, rx, ry);
    arc(cr, 0, 0, 1, a1, a2);
    cairo_restore(cr);
}

// A quarter circle from a1 to a2 degrees around (cx, cy); a sharp corner for radius 0.
void AddCorner(cairo_t* cr, double cx, double cy, double r, double a1, double a2) {
    if (r > 0) {
        cairo_arc(cr, cx, cy, r, Radians(a1), Radians(a2));
    } else {
        cairo_line_to(cr, cx, cy);
    }
}

// Corners a, b, c, d are top-left, bottom-left, bottom-right and top-right; each rounds with
// min(width, height) / 2 x level / 100. The outline runs clockwise from the top edge.
void AddBox(cairo_t* cr, const Segment& s) {
    double x = Coordinate(s.numbers[0]), y = Coordinate(s.numbers[1]);
    double w = Coordinate(s.numbers[2]), h = Coordinate(s.numbers[3]);
    if (w < 0) x += w, w = -w;
    if (h < 0) y += h, h = -h;
    double r[4];
    for (int i = 0; i < 4; ++i) r[i] = std::min(w, h) / 2 * std::clamp(s.ints[i], 0, 100) / 100.0;
    cairo_move_to(cr, x + r[0], y);
    AddCorner(cr, x + w - r[3], y + r[3], r[3], -90, 0);
    AddCorner(cr, x + w - r[2], y + h - r[2], r[2], 0, 90);
    AddCorner(cr, x + r[1], y + h - r[1], r[1], 90, 180);
    AddCorner(cr, x + r[0], y + r[0], r[0], 180, 270);
    cairo_close_path(cr);
}

}  // namespace

bool BuildPath(cairo_t* cr, const uint8_t* stream, size_t length) {
    if (stream == nullptr && length != 0) return false;
    SegmentReader reader(stream, length);
    Segment s;
    while (reader.Next(&s)) {
        switch (s.code) {
            case QV_PATH_NEWSUBPATH:
                cairo_new_sub_path(cr);
                break;
            case QV_PATH_CLOSE:
                cairo_close_path(cr);
                break;
            case QV_PATH_ARC:
                AddArc(cr, s);
                break;
            case QV_PATH_BOX:
                AddBox(cr, s);
                break;
            case QV_PATH_TEXT:
                if (!AddTextOutlines(cr, static_cast<uint32_t>(s.ints[0]), s.ints[1], s.text)) {
                    return false;
                }
                break;
            default:
                AddPoints(cr, s);
                break;
        }
    }
    return !reader.Failed();
}

}  // namespace qv::vectorgraphics
