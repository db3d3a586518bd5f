// Vector paths beside cairo. T5c: building a path of 10 000 segments (a move, then lines and
// cubic curves) with AddPointSegment (what MoveTo, LineTo and CurveTo append with), beside the same
// path built in a cairo context.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include "objects/vector/path_list.h"

namespace {

constexpr int kSegments = 10000;

// The points, computed once for both sides.
struct Points {
    double x[kSegments + 2], y[kSegments + 2];
    Points() {
        for (int i = 0; i < kSegments + 2; ++i) {
            x[i] = (i * 37) % 400 + 0.5;
            y[i] = (i * 91) % 400 + 0.25;
        }
    }
};
const Points points;

double X(int i) {
    return points.x[i];
}
double Y(int i) {
    return points.y[i];
}

void T5cOurs(benchmark::State& state) {
    for (auto _ : state) {
        qvPath* path = qv::NewPath(1, false);
        const qvObjectId id{1, nullptr};
        const double move[] = {X(0), Y(0)};
        qv::AddPointSegment(id, QV_PATH_MOVETO, 0, move);
        for (int i = 1; i < kSegments; ++i) {
            if (i % 4 != 0) {
                const double line[] = {X(i), Y(i)};
                qv::AddPointSegment(id, QV_PATH_LINETO, 0, line);
            } else {
                const double curve[] = {X(i), Y(i), X(i + 1), Y(i + 1), X(i + 2), Y(i + 2)};
                qv::AddPointSegment(id, QV_PATH_CURVETO, 0, curve);
            }
        }
        benchmark::DoNotOptimize(path->end);
        qv::FreePath(nullptr, path);
    }
}

void T5cPeer(benchmark::State& state) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
    cairo_t* cr = cairo_create(surface);
    for (auto _ : state) {
        cairo_new_path(cr);
        cairo_move_to(cr, X(0), Y(0));
        for (int i = 1; i < kSegments; ++i) {
            if (i % 4 != 0) {
                cairo_line_to(cr, X(i), Y(i));
            } else {
                cairo_curve_to(cr, X(i), Y(i), X(i + 1), Y(i + 1), X(i + 2), Y(i + 2));
            }
        }
        benchmark::DoNotOptimize(cairo_has_current_point(cr));
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

}  // namespace

BENCHMARK(T5cOurs)->Name("T5c:append_10000_segments/ours");
BENCHMARK(T5cPeer)->Name("T5c:append_10000_segments/peer");
