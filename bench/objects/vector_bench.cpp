// Vector paths beside cairo. T5c: building a path of 10 000 segments (a move, then lines and
// cubic curves) with AddPointSegment (what MoveTo, LineTo and CurveTo append with), beside the same
// path built in a cairo context. T5a and T5b: a path drawn whole (measured, rasterised,
// coloured and blitted) onto a 400 x 400 display of format 10, beside cairo drawing it into an
// ARGB32 surface; the -be rows time the back end's rasterisation alone.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "objects/draw/draw_state.h"
#include "objects/vector/path_list.h"
#include "objects/vector/path_render.h"
#include "objects/vector/vector_backend.h"
#include "platform/linux/testing.h"
#include "plugins/vectorgraphics/cairo_backend.h"
#include "tests/scene/support/layer_scene.h"

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

constexpr int kSide = 400;

// The star of T5a: 200 points alternating between two radii.
std::vector<double> StarPoints() {
    std::vector<double> p;
    for (int i = 0; i < 200; ++i) {
        const double r = i % 2 == 0 ? 190 : 80, a = i * std::numbers::pi / 100;
        p.push_back(200 + r * std::cos(a));
        p.push_back(200 + r * std::sin(a));
    }
    return p;
}

// The curve of T5b: 100 cubic segments winding across the picture.
std::vector<double> CurvePoints() {
    std::vector<double> p;
    for (int i = 0; i <= 300; ++i) {
        const double t = i / 300.0;
        p.push_back(20 + 360 * t);
        p.push_back(200 + 150 * std::sin(t * 6 * std::numbers::pi) * (i % 3 == 0 ? 1 : 1.2));
    }
    return p;
}

// A path with the star (closed) or the curve in the library's stream.
qvPath* BuildPath(bool star) {
    qvPath* path = qv::NewPath(2, false);
    const qvObjectId id{2, nullptr};
    const std::vector<double> p = star ? StarPoints() : CurvePoints();
    qv::AddPointSegment(id, QV_PATH_MOVETO, 0, {p.data(), 2});
    if (star) {
        for (size_t i = 2; i < p.size(); i += 2) {
            qv::AddPointSegment(id, QV_PATH_LINETO, 0, {p.data() + i, 2});
        }
        qv::AddPathSegment(id, QV_PATH_CLOSE, {});
    } else {
        for (size_t i = 2; i + 6 <= p.size(); i += 6) {
            qv::AddPointSegment(id, QV_PATH_CURVETO, 0, {p.data() + i, 6});
        }
    }
    return path;
}

void BackendOurs(benchmark::State& state, bool star) {
    qvPath* path = BuildPath(star);
    std::vector<uint8_t> plane(kSide * kSide);
    const qvPathStrokeStyle style{
        QV_JOIN_ROUND, QV_CAP_BUTT, QV_FILLRULE_WINDING, 1, 0, nullptr, 0};
    qvPathDrawRequest r{};
    r.stream = path->segments;
    r.length = qv::UsedBytes(*path);
    r.style = &style;
    r.fill = star ? 1 : 0;
    r.strokeWidth = 5;
    r.plane = plane.data();
    r.bytesPerRow = kSide;
    r.width = kSide;
    r.height = kSide;
    for (auto _ : state) {
        std::fill(plane.begin(), plane.end(), 0);
        qv::vectorgraphics::DrawPath(&r);
        benchmark::DoNotOptimize(plane.data());
    }
    qv::FreePath(nullptr, path);
}

void BackendPeer(benchmark::State& state, bool star) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSide, kSide);
    cairo_t* cr = cairo_create(surface);
    const std::vector<double> p = star ? StarPoints() : CurvePoints();
    for (auto _ : state) {
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        cairo_set_source_rgb(cr, 1, 0.5, 0);
        cairo_move_to(cr, p[0], p[1]);
        if (star) {
            for (size_t i = 2; i < p.size(); i += 2) cairo_line_to(cr, p[i], p[i + 1]);
            cairo_close_path(cr);
            cairo_fill(cr);
        } else {
            for (size_t i = 2; i + 6 <= p.size(); i += 6) {
                cairo_curve_to(cr, p[i], p[i + 1], p[i + 2], p[i + 3], p[i + 4], p[i + 5]);
            }
            cairo_set_line_width(cr, 5);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            cairo_stroke(cr);
        }
        cairo_surface_flush(surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

// What DrawPath does after the lookup: RenderPath of the path's item onto a display without
// layers, the star filled anti-aliased, the curve stroked at width 5 with round joins.
void DrawOnDisplay(benchmark::State& state, bool star) {
    qv::platform::testing::ScopedScreenFormat screen(QV_FMT_A8R8G8B8);
    qv::test::SceneDisplay scene(qv::test::Solid(kSide, kSide, 0));
    scene.view.layersEnabled = false;
    const qv::VectorBackend backend = {
        qv::vectorgraphics::GetPathExtents,   qv::vectorgraphics::DrawPath,
        qv::vectorgraphics::TranslatePath,    qv::vectorgraphics::GetCurrentPoint,
        qv::vectorgraphics::CreateVectorFont, qv::vectorgraphics::FreeVectorFont};
    qv::UseVectorBackend(&backend);
    qvPath* path = BuildPath(star);
    qvPathItem item;
    item.segments = path->segments;
    item.length = qv::UsedBytes(*path);
    item.join = QV_JOIN_ROUND;
    ResetDrawState(&item.drawState);
    item.drawState.fillStyle = star ? qv::draw::FILLCOLOR : qv::draw::FILLNONE;
    item.drawState.formStyle = qv::draw::ANTIALIAS;
    item.drawState.lineWidth = 5;
    item.colour = 0xFF8000;
    qvPathRenderCall call{};
    for (auto _ : state) {
        item.placeByExtents = true;
        if (RenderPath(nullptr, &item, call) != 0) state.SkipWithError("RenderPath failed");
        benchmark::ClobberMemory();
    }
    qv::FreePath(nullptr, path);
    qv::UseVectorBackend(nullptr);
}

BENCHMARK(T5cOurs)->Name("T5c:append_10000_segments/ours");
BENCHMARK(T5cPeer)->Name("T5c:append_10000_segments/peer");
BENCHMARK_CAPTURE(BackendOurs, star, true)->Name("T5a-be:star_fill_200_points_aa/ours");
BENCHMARK_CAPTURE(BackendPeer, star, true)->Name("T5a-be:star_fill_200_points_aa/peer");
BENCHMARK_CAPTURE(BackendOurs, curve, false)->Name("T5b-be:stroke_5_round_100_curves/ours");
BENCHMARK_CAPTURE(BackendPeer, curve, false)->Name("T5b-be:stroke_5_round_100_curves/peer");
BENCHMARK_CAPTURE(DrawOnDisplay, star, true)->Name("T5a:star_fill_200_points_aa/ours");
BENCHMARK_CAPTURE(BackendPeer, star, true)->Name("T5a:star_fill_200_points_aa/peer");
BENCHMARK_CAPTURE(DrawOnDisplay, curve, false)->Name("T5b:stroke_5_round_100_curves/ours");
BENCHMARK_CAPTURE(BackendPeer, curve, false)->Name("T5b:stroke_5_round_100_curves/peer");
