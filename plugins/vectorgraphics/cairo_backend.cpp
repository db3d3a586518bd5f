#include "plugins/vectorgraphics/cairo_backend.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "plugins/vectorgraphics/path_builder.h"
#include "plugins/vectorgraphics/segment_reader.h"

namespace qv::vectorgraphics {
namespace {

// cairo's largest image surface side.
constexpr int32_t kMaxSurfaceSide = 32767;
// Planes that cairo cannot take as they are are drawn through tiles of this side.
constexpr int32_t kTileSide = 2048;
// A dash pattern that would cut the path into more pieces than this is drawn solid: so fine
// a pattern shows as a line anyway, and dashing it would take time without bound.
constexpr double kMaxDashPieces = 1e6;

constexpr qvPathStrokeStyle kDefaultStyle{};

class Context {
public:
    explicit Context(cairo_surface_t* surface) : surface_(surface), cr_(cairo_create(surface)) {}
    ~Context() {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    cairo_t* cr() const { return cr_; }
    cairo_surface_t* surface() const { return surface_; }
    bool Ok() const { return cairo_status(cr_) == CAIRO_STATUS_SUCCESS; }

private:
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

// A context for measuring: nothing is ever drawn on it.
Context MeasuringContext() {
    return Context(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
}

double Finite(double v) {
    return std::isfinite(v) ? v : 0.0;
}

const qvPathStrokeStyle& StyleOf(const qvPathStrokeStyle* style) {
    return style != nullptr ? *style : kDefaultStyle;
}

cairo_line_join_t JoinOf(int32_t join) {
    return join == QV_JOIN_ROUND   ? CAIRO_LINE_JOIN_ROUND
           : join == QV_JOIN_BEVEL ? CAIRO_LINE_JOIN_BEVEL
                                   : CAIRO_LINE_JOIN_MITER;
}

cairo_line_cap_t CapOf(int32_t cap) {
    return cap == QV_CAP_ROUND    ? CAIRO_LINE_CAP_ROUND
           : cap == QV_CAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
                                  : CAIRO_LINE_CAP_BUTT;
}

cairo_fill_rule_t RuleOf(int32_t rule) {
    return rule == QV_FILLRULE_EVENODD ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING;
}

// The length of the current path's control polygons (never shorter than the path), in user
// space; infinite when cairo cannot copy the path.
double PathLength(cairo_t* cr) {
    std::unique_ptr<cairo_path_t, decltype(&cairo_path_destroy)> path(cairo_copy_path(cr),
                                                                      cairo_path_destroy);
    if (path->status != CAIRO_STATUS_SUCCESS) return INFINITY;
    double length = 0, x = 0, y = 0, startX = 0, startY = 0;
    auto to = [&](double nx, double ny) {
        length += std::hypot(nx - x, ny - y);
        x = nx, y = ny;
    };
    for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
        const cairo_path_data_t* d = &path->data[i];
        switch (d->header.type) {
            case CAIRO_PATH_MOVE_TO:
                x = startX = d[1].point.x, y = startY = d[1].point.y;
                break;
            case CAIRO_PATH_LINE_TO:
                to(d[1].point.x, d[1].point.y);
                break;
            case CAIRO_PATH_CURVE_TO:
                for (int p = 1; p <= 3; ++p) to(d[p].point.x, d[p].point.y);
                break;
            case CAIRO_PATH_CLOSE_PATH:
                to(startX, startY);
                break;
        }
    }
    return length;
}

// Dashes with a negative or non-finite length, or only zero lengths, are no pattern: the
// stroke is solid (cairo would refuse them and stop drawing altogether).
void ApplyDash(cairo_t* cr, const qvPathStrokeStyle& style) {
    if (style.dashCount <= 0 || style.dashes == nullptr) return;
    double sum = 0;
    for (int32_t i = 0; i < style.dashCount; ++i) {
        const double length = style.dashes[i];
        if (!std::isfinite(length) || length < 0) return;
        sum += length;
    }
    if (sum <= 0 || !std::isfinite(sum)) return;
    const double period = style.dashCount % 2 != 0 ? 2 * sum : sum;
    if (PathLength(cr) / period * style.dashCount > kMaxDashPieces) return;
    cairo_set_dash(cr, style.dashes, style.dashCount, Finite(style.dashOffset));
}

void ApplyStroke(cairo_t* cr, const qvPathStrokeStyle& style, double width) {
    cairo_set_line_width(cr, std::clamp(Finite(width), 0.0, kCoordinateLimit));
    cairo_set_line_join(cr, JoinOf(style.join));
    cairo_set_line_cap(cr, CapOf(style.cap));
    ApplyDash(cr, style);
}

// The request's matrix with its offsets subtracted; false when a number is not finite.
bool DeviceMatrix(const qvPathDrawRequest& r, cairo_matrix_t* m) {
    const double* v = r.matrix != nullptr ? r.matrix->m : nullptr;
    if (v != nullptr) {
        cairo_matrix_init(m, v[0], v[1], v[2], v[3], v[4], v[5]);
    } else {
        cairo_matrix_init_identity(m);
    }
    m->x0 -= r.offsetX;
    m->y0 -= r.offsetY;
    for (double e : {m->xx, m->yx, m->xy, m->yy, m->x0, m->y0}) {
        if (!std::isfinite(e)) return false;
    }
    return true;
}

bool Render(cairo_t* cr, const qvPathDrawRequest& r, const cairo_matrix_t& m) {
    const qvPathStrokeStyle& style = StyleOf(r.style);
    cairo_set_matrix(cr, &m);
    if (!BuildPath(cr, r.stream, r.length)) return false;
    cairo_set_antialias(cr, style.antiAlias != 0 ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
    if (r.fill != 0) {
        cairo_set_fill_rule(cr, RuleOf(style.fillRule));
        cairo_fill(cr);
    } else {
        ApplyStroke(cr, style, r.strokeWidth);
        cairo_stroke(cr);
    }
    return cairo_status(cr) == CAIRO_STATUS_SUCCESS;
}

// Whether cairo can draw into the plane as it is: rows of whole 32-bit words, and a size it
// takes.
bool PlaneSuitsCairo(const qvPathDrawRequest& r) {
    return reinterpret_cast<uintptr_t>(r.plane) % 4 == 0 && r.bytesPerRow % 4 == 0 &&
           r.width <= kMaxSurfaceSide && r.height <= kMaxSurfaceSide;
}

// Draws into one tile of the plane through a surface of our own: the plane's bytes go in
// first, so that drawing adds to them as it does in place.
bool RenderTile(const qvPathDrawRequest& r, cairo_matrix_t m, int32_t x, int32_t y, int32_t w,
                int32_t h) {
    Context tile(cairo_image_surface_create(CAIRO_FORMAT_A8, w, h));
    if (!tile.Ok()) return false;
    uint8_t* data = cairo_image_surface_get_data(tile.surface());
    const int stride = cairo_image_surface_get_stride(tile.surface());
    uint8_t* plane = r.plane + static_cast<size_t>(y) * r.bytesPerRow + x;
    cairo_surface_flush(tile.surface());
    for (int32_t row = 0; row < h; ++row) {
        std::memcpy(data + static_cast<size_t>(row) * stride, plane + row * size_t{r.bytesPerRow},
                    w);
    }
    cairo_surface_mark_dirty(tile.surface());
    m.x0 -= x;
    m.y0 -= y;
    if (!Render(tile.cr(), r, m)) return false;
    cairo_surface_flush(tile.surface());
    for (int32_t row = 0; row < h; ++row) {
        std::memcpy(plane + row * size_t{r.bytesPerRow}, data + static_cast<size_t>(row) * stride,
                    w);
    }
    return true;
}

}  // namespace

int GetPathExtents(qvPathExtentsRequest* r) {
    if (r == nullptr) return 0;
    Context c = MeasuringContext();
    if (!BuildPath(c.cr(), r->stream, r->length)) return 0;
    const qvPathStrokeStyle& style = StyleOf(r->style);
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    if (r->fill != 0) {
        cairo_set_fill_rule(c.cr(), RuleOf(style.fillRule));
        cairo_fill_extents(c.cr(), &x1, &y1, &x2, &y2);
    } else {
        ApplyStroke(c.cr(), style, r->lineWidth);
        cairo_stroke_extents(c.cr(), &x1, &y1, &x2, &y2);
    }
    if (!c.Ok()) return 0;
    // What covers no area has no extents, wherever it lies.
    if (!(x2 > x1 && y2 > y1)) {
        r->left = r->top = r->right = r->bottom = 0;
        return 1;
    }
    const double dx = Finite(r->translateX), dy = Finite(r->translateY);
    r->left = x1 + dx;
    r->top = y1 + dy;
    r->right = x2 + dx;
    r->bottom = y2 + dy;
    return 1;
}

int GetCurrentPoint(const uint8_t* stream, size_t length, const qvPathStrokeStyle*, double* x,
                    double* y) {
    if (x == nullptr || y == nullptr) return 0;
    Context c = MeasuringContext();
    if (!BuildPath(c.cr(), stream, length)) return 0;
    double px = 0, py = 0;
    if (cairo_has_current_point(c.cr())) cairo_get_current_point(c.cr(), &px, &py);
    if (!c.Ok()) return 0;
    *x = px;
    *y = py;
    return 1;
}

int TranslatePath(const qvPathTranslateRequest* r) {
    if (r == nullptr || !std::isfinite(r->dx) || !std::isfinite(r->dy)) return 0;
    if ((r->stream == nullptr && r->length != 0) || !StreamParses(r->stream, r->length)) return 0;
    SegmentReader reader(r->stream, r->length);
    Segment s;
    bool hasPoint = false;
    while (reader.Next(&s)) {
        int pairs = 0;
        switch (s.code) {
            case QV_PATH_MOVETO:
                // A relative move without a current point starts at the origin: it becomes
                // absolute. Other relative segments move with the point they start from.
                if (s.Relative() && !hasPoint) {
                    const int32_t absolute = 0;
                    std::memcpy(r->stream + s.offset + 4, &absolute, sizeof absolute);
                }
                pairs = s.Relative() && hasPoint ? 0 : 1;
                break;
            case QV_PATH_LINETO:
                pairs = s.Relative() ? 0 : 1;
                break;
            case QV_PATH_CURVETO:
                pairs = s.Relative() ? 0 : 3;
                break;
            case QV_PATH_ARC:
            case QV_PATH_BOX:
                pairs = 1;
                break;
        }
        for (int i = 0; i < pairs; ++i) {
            uint8_t* at = r->stream + s.numbersOffset + 16 * i;
            double point[2];
            std::memcpy(point, at, sizeof point);
            point[0] += r->dx;
            point[1] += r->dy;
            std::memcpy(at, point, sizeof point);
        }
        if (s.code != QV_PATH_CLOSE) hasPoint = s.code != QV_PATH_NEWSUBPATH;
    }
    return 1;
}

int DrawPath(const qvPathDrawRequest* r) {
    if (r == nullptr || r->plane == nullptr || r->width <= 0 || r->height <= 0 ||
        r->bytesPerRow < static_cast<uint32_t>(r->width)) {
        return 0;
    }
    cairo_matrix_t m;
    if (!DeviceMatrix(*r, &m)) return 0;
    if (cairo_matrix_t inverse = m; cairo_matrix_invert(&inverse) != CAIRO_STATUS_SUCCESS) {
        // A matrix that flattens the plane leaves nothing to cover.
        return StreamParses(r->stream, r->length) ? 1 : 0;
    }
    if (PlaneSuitsCairo(*r)) {
        Context c(cairo_image_surface_create_for_data(r->plane, CAIRO_FORMAT_A8, r->width,
                                                      r->height, static_cast<int>(r->bytesPerRow)));
        const bool drawn = c.Ok() && Render(c.cr(), *r, m);
        cairo_surface_flush(c.surface());
        return drawn ? 1 : 0;
    }
    for (int32_t y = 0; y < r->height; y += kTileSide) {
        for (int32_t x = 0; x < r->width; x += kTileSide) {
            if (!RenderTile(*r, m, x, y, std::min(kTileSide, r->width - x),
                            std::min(kTileSide, r->height - y))) {
                return 0;
            }
        }
    }
    return 1;
}

}  // namespace qv::vectorgraphics
