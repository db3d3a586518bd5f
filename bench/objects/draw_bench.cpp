// Shapes and lines of the drawing library beside OpenCV and cairo, single-threaded, into a
// full-HD bitmap of format 10 (A8R8G8B8). Ours includes everything a shape costs on the road
// a one-colour shape blitted once takes: the outline and geometry, the coverage, and its
// strength painted straight into the frame; the peers draw the same points into the frame.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "gfx/blit_frontends.h"
#include "gfx/kernels/frontend_kernels.h"
#include "objects/draw/coverage.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/lines.h"
#include "objects/draw/shape_geometry.h"

namespace {

using namespace qv::bench;
using namespace qv::draw;

constexpr int32_t kRadius = 200, kCircleX = 700, kCircleY = 300;
constexpr uint32_t kColour = 0x3080C0;

struct Frame {
    Frame() : bitmap(RandomBitMap(QV_FMT_A8R8G8B8, 5)) {}
    cv::Mat Mat() const {
        return cv::Mat(kHeight, kWidth, CV_8UC4, bitmap->pixels, size_t(bitmap->rowLength) * 4);
    }
    Owned<qvDisplayBitMap> bitmap;
};

struct Cairo {
    explicit Cairo(const Frame& frame)
        : surface(cairo_image_surface_create_for_data(frame.bitmap->pixels, CAIRO_FORMAT_ARGB32,
                                                      kWidth, kHeight,
                                                      frame.bitmap->rowLength * 4)),
          cr(cairo_create(surface)) {
        cairo_set_source_rgb(cr, 0x30 / 255.0, 0x80 / 255.0, 0xC0 / 255.0);
    }
    ~Cairo() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    cairo_surface_t* surface;
    cairo_t* cr;
};

// The circle of radius 200 through our geometry: its points for the peers too.
class Circle {
public:
    explicit Circle(bool antialias) {
        AllocShapeWork(&work_);
        ResetDrawState(&state_);
        state_.fillStyle = FILLCOLOR;
        state_.formStyle = antialias ? ANTIALIAS : NORMAL;
    }
    ~Circle() { FreeShapeWork(&work_); }

    int Prepare(qvShapeDesc* desc) {
        *desc = qvShapeDesc{};
        desc->drawState = &state_;
        desc->type = CIRCLE, desc->width = desc->height = 2 * kRadius + 1;
        return PrepareShapeGeometry(work_, desc, ShapeTransform{});
    }
    std::vector<cv::Point> Points() {
        qvShapeDesc desc;
        Prepare(&desc);
        std::vector<cv::Point> points;
        for (int32_t i = 0; i < desc.fillCount; ++i) {
            points.emplace_back(desc.fillPoints[i].x + kCircleX, desc.fillPoints[i].y + kCircleY);
        }
        return points;
    }

private:
    qvShapeWork work_;
    qvDrawState state_{};
};

void OursCircle(benchmark::State& bench, bool antialias) {
    Frame frame;
    Circle circle(antialias);
    const int32_t margin = antialias ? 2 : 0;
    for (auto _ : bench) {
        qvShapeDesc desc;
        circle.Prepare(&desc);
        const int32_t w = desc.imageWidth + 2 * margin + antialias,
                      h = desc.imageHeight + 2 * margin + antialias;
        const qvShapeOutline outline{desc.fillPoints,
                                     desc.fillCount,
                                     desc.fillX + margin,
                                     desc.fillY + margin,
                                     desc.fillWidth,
                                     desc.fillHeight,
                                     true,
                                     1};
        qv::OwnedPlane strength;
        int32_t sx = 0, sy = 0;
        OneColourStrength(w, h, outline, {kColour, 0, antialias}, &strength, &sx, &sy);
        BltAlphaChannel(strength.get(), 0, 0, frame.bitmap.get(), kCircleX - margin + sx,
                        kCircleY - margin + sy, strength->width, strength->height, kColour,
                        QV_COVERAGE_BLEND, nullptr, 0, nullptr, 0, nullptr);
        benchmark::ClobberMemory();
    }
}

void OpenCvCircle(benchmark::State& bench, int lineType) {
    Frame frame;
    const std::vector<std::vector<cv::Point>> polygon = {Circle(lineType == cv::LINE_AA).Points()};
    cv::Mat image = frame.Mat();
    for (auto _ : bench) {
        cv::fillPoly(image, polygon, cv::Scalar(0xC0, 0x80, 0x30, 0xFF), lineType);
        benchmark::ClobberMemory();
    }
}

void CairoCircle(benchmark::State& bench) {
    Frame frame;
    const std::vector<cv::Point> points = Circle(true).Points();
    Cairo cairo(frame);
    for (auto _ : bench) {
        cairo_new_path(cairo.cr);
        for (const cv::Point& p : points) cairo_line_to(cairo.cr, p.x + 0.5, p.y + 0.5);
        cairo_close_path(cairo.cr);
        cairo_fill(cairo.cr);
        cairo_surface_flush(cairo.surface);
        benchmark::ClobberMemory();
    }
}

struct Segment {
    int32_t x1, y1, x2, y2;
};

std::vector<Segment> Segments(int count) {
    std::mt19937 random(43);
    std::uniform_int_distribution<int32_t> x(0, kWidth - 1), y(0, kHeight - 1);
    std::vector<Segment> segments;
    for (int i = 0; i < count; ++i)
        segments.push_back({x(random), y(random), x(random), y(random)});
    return segments;
}

// The brush road: one-pixel lines straight into a full-HD brush.
void OursThinLines(benchmark::State& bench, bool antialias) {
    Frame frame;
    const std::vector<Segment> segments = Segments(1000);
    const qvShapeTarget target{
        frame.bitmap.get(), nullptr, nullptr, kWidth, kHeight, nullptr, 0, 0};
    for (auto _ : bench) {
        for (const Segment& s : segments) {
            RenderShapeImage(target, qvLineSegment{s.x1, s.y1, s.x2, s.y2, 1},
                             {kColour, 0, antialias});
        }
        benchmark::ClobberMemory();
    }
}

void OpenCvLines(benchmark::State& bench, int count, int thickness, int lineType) {
    Frame frame;
    const std::vector<Segment> segments = Segments(count);
    cv::Mat image = frame.Mat();
    for (auto _ : bench) {
        for (const Segment& s : segments) {
            cv::line(image, {s.x1, s.y1}, {s.x2, s.y2}, cv::Scalar(0xC0, 0x80, 0x30, 0xFF),
                     thickness, lineType);
        }
        benchmark::ClobberMemory();
    }
}

void CairoLines(benchmark::State& bench, int count, double width) {
    Frame frame;
    const std::vector<Segment> segments = Segments(count);
    Cairo cairo(frame);
    cairo_set_line_width(cairo.cr, width);
    for (auto _ : bench) {
        for (const Segment& s : segments) {
            cairo_move_to(cairo.cr, s.x1 + 0.5, s.y1 + 0.5);
            cairo_line_to(cairo.cr, s.x2 + 0.5, s.y2 + 0.5);
            cairo_stroke(cairo.cr);
        }
        cairo_surface_flush(cairo.surface);
        benchmark::ClobberMemory();
    }
}

// The image road: each line into an image of its own, blitted through its alpha plane.
void OursThickLines(benchmark::State& bench) {
    Frame frame;
    const std::vector<Segment> segments = Segments(200);
    for (auto _ : bench) {
        for (const Segment& s : segments) {
            ShapeImage image;
            MakeLineImage(s.x1, s.y1, s.x2, s.y2, 8, kColour, true, &image, ImageUse::kBlittedOnce);
            BltAlphaBitmap(image.bitmap.get(), 0, 0, frame.bitmap.get(), image.x, image.y,
                           image.width, image.height, image.alpha.get());
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK_CAPTURE(OursCircle, a, false)->Name("O5a:filled circle r 200 vs cv::fillPoly/ours");
BENCHMARK_CAPTURE(OpenCvCircle, a, cv::LINE_8)
    ->Name("O5a:filled circle r 200 vs cv::fillPoly/peer");
BENCHMARK_CAPTURE(OursCircle, b, true)->Name("O5b:filled circle r 200 AA vs cv::fillPoly/ours");
BENCHMARK_CAPTURE(OpenCvCircle, b, cv::LINE_AA)
    ->Name("O5b:filled circle r 200 AA vs cv::fillPoly/peer");
BENCHMARK_CAPTURE(OursCircle, c, true)->Name("O5c:filled circle r 200 AA vs cairo fill/ours");
BENCHMARK(CairoCircle)->Name("O5c:filled circle r 200 AA vs cairo fill/peer");
BENCHMARK_CAPTURE(OursThinLines, d, false)->Name("O5d:1000 lines, brush road vs cv::line/ours");
BENCHMARK_CAPTURE(OpenCvLines, d, 1000, 1, cv::LINE_8)
    ->Name("O5d:1000 lines, brush road vs cv::line/peer");
BENCHMARK_CAPTURE(OursThinLines, e, true)->Name("O5e:1000 AA lines, brush road vs cv::line/ours");
BENCHMARK_CAPTURE(OpenCvLines, e, 1000, 1, cv::LINE_AA)
    ->Name("O5e:1000 AA lines, brush road vs cv::line/peer");
BENCHMARK_CAPTURE(OursThinLines, e2, true)
    ->Name("O5e2:1000 AA lines, brush road vs cairo stroke/ours");
BENCHMARK_CAPTURE(CairoLines, e2, 1000, 1.0)
    ->Name("O5e2:1000 AA lines, brush road vs cairo stroke/peer");
BENCHMARK(OursThickLines)->Name("O5f:200 AA lines of 8, image road vs cv::line/ours");
BENCHMARK_CAPTURE(OpenCvLines, f, 200, 8, cv::LINE_AA)
    ->Name("O5f:200 AA lines of 8, image road vs cv::line/peer");
BENCHMARK(OursThickLines)->Name("O5f2:200 AA lines of 8, image road vs cairo stroke/ours");
BENCHMARK_CAPTURE(CairoLines, f2, 200, 8.0)
    ->Name("O5f2:200 AA lines of 8, image road vs cairo stroke/peer");
