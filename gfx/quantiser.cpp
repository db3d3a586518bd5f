#include "gfx/quantiser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "gfx/kernels/rows.h"
#include "platform/linux/memory.h"

namespace qv {
namespace {

// Histogram cells: red and blue in 32 steps of 8, green in 64 steps of 4.
constexpr int kRedCells = 32, kGreenCells = 64, kBlueCells = 32;
// Weights of the colour distance per component.
constexpr int kRedScale = 2, kGreenScale = 3, kBlueScale = 1;
// The inverse colour map is filled per box of 4 x 8 x 4 cells.
constexpr int kBoxRed = 4, kBoxGreen = 8, kBoxBlue = 4;

// Counts per cell in the first pass (saturating at 65535); afterwards the inverse colour
// map: 0 not yet known, else palette index + 1.
struct Histogram {
    uint16_t cells[kRedCells][kGreenCells][kBlueCells];
};

struct Box {
    int32_t rmin, rmax, gmin, gmax, bmin, bmax;  // cells, inclusive
    int64_t volume;
    int64_t colours;  // non-empty cells
};

struct Palette {
    int32_t count;
    int32_t red[256], green[256], blue[256];
};

struct BlockDeleter {
    void operator()(void* block) const { FreeMemBlock(block); }
};
template <typename T>
using Block = std::unique_ptr<T[], BlockDeleter>;

template <typename T>
Block<T> Allocate(size_t count) {
    return Block<T>(static_cast<T*>(AllocMemBlock(count * sizeof(T), 1)));
}

constexpr uint32_t RedCell(uint32_t rgb) {
    return rgb >> 19;
}
constexpr uint32_t GreenCell(uint32_t rgb) {
    return (rgb >> 10) & 63;
}
constexpr uint32_t BlueCell(uint32_t rgb) {
    return (rgb >> 3) & 31;
}

// Cell centres.
constexpr int32_t RedCentre(int32_t cell) {
    return cell * 8 + 4;
}
constexpr int32_t GreenCentre(int32_t cell) {
    return cell * 4 + 2;
}
constexpr int32_t BlueCentre(int32_t cell) {
    return cell * 8 + 4;
}

// Calls fn(r, g, b, count) for every cell of the box.
template <typename Fn>
void ForEachCell(const Histogram& h, const Box& b, Fn&& fn) {
    for (int32_t r = b.rmin; r <= b.rmax; ++r) {
        for (int32_t g = b.gmin; g <= b.gmax; ++g) {
            for (int32_t bl = b.bmin; bl <= b.bmax; ++bl) fn(r, g, bl, h.cells[r][g][bl]);
        }
    }
}

// Any counted cell in the box.
bool BoxUsed(const Histogram& h, const Box& b) {
    bool used = false;
    ForEachCell(h, b, [&](int32_t, int32_t, int32_t, uint16_t n) { used |= n != 0; });
    return used;
}

// Moves each bound inward while its face is empty (red min, red max, green min, green max,
// blue min, blue max), then measures volume and colour count. A box without counted cells
// keeps its bounds.
void ShrinkBox(const Histogram& h, Box& box) {
    auto face = [&](int32_t Box::*lo, int32_t Box::*hi, int32_t c) {
        Box f = box;
        f.*lo = f.*hi = c;
        return BoxUsed(h, f);
    };
    auto shrink = [&](int32_t Box::*lo, int32_t Box::*hi) {
        if (box.*hi <= box.*lo) return;
        for (int32_t c = box.*lo; c <= box.*hi; ++c) {
            if (face(lo, hi, c)) {
                box.*lo = c;
                break;
            }
        }
        for (int32_t c = box.*hi; c >= box.*lo; --c) {
            if (face(lo, hi, c)) {
                box.*hi = c;
                break;
            }
        }
    };
    shrink(&Box::rmin, &Box::rmax);
    shrink(&Box::gmin, &Box::gmax);
    shrink(&Box::bmin, &Box::bmax);
    const int64_t dr = int64_t(box.rmax - box.rmin) * 8 * kRedScale;
    const int64_t dg = int64_t(box.gmax - box.gmin) * 4 * kGreenScale;
    const int64_t db = int64_t(box.bmax - box.bmin) * 8 * kBlueScale;
    box.volume = dr * dr + dg * dg + db * db;
    box.colours = 0;
    ForEachCell(h, box, [&](int32_t, int32_t, int32_t, uint16_t n) { box.colours += n != 0; });
}

// The earlier box wins ties; a choice needs a value above 0.
Box* BiggestColourCount(Box* boxes, int32_t count) {
    Box* which = nullptr;
    int64_t most = 0;
    for (Box* b = boxes; b != boxes + count; ++b) {
        if (b->colours > most && b->volume > 0) which = b, most = b->colours;
    }
    return which;
}

Box* BiggestVolume(Box* boxes, int32_t count) {
    Box* which = nullptr;
    int64_t most = 0;
    for (Box* b = boxes; b != boxes + count; ++b) {
        if (b->volume > most) which = b, most = b->volume;
    }
    return which;
}

// Splits boxes until there are wanted ones or none qualifies; returns their number.
int32_t MedianCut(const Histogram& h, Box* boxes, int32_t wanted) {
    boxes[0] = {0, kRedCells - 1, 0, kGreenCells - 1, 0, kBlueCells - 1, 0, 0};
    ShrinkBox(h, boxes[0]);
    int32_t count = 1;
    while (count < wanted) {
        Box* b1 =
            count * 2 <= wanted ? BiggestColourCount(boxes, count) : BiggestVolume(boxes, count);
        if (b1 == nullptr) break;
        Box& b2 = boxes[count];
        b2 = *b1;
        // The longest weighted side; ties go to green, then red.
        const int32_t dr = (b1->rmax - b1->rmin) * 8 * kRedScale;
        const int32_t dg = (b1->gmax - b1->gmin) * 4 * kGreenScale;
        const int32_t db = (b1->bmax - b1->bmin) * 8 * kBlueScale;
        int32_t Box::*lo = &Box::gmin;
        int32_t Box::*hi = &Box::gmax;
        if (dr > dg) lo = &Box::rmin, hi = &Box::rmax;
        if (db > std::max(dr, dg)) lo = &Box::bmin, hi = &Box::bmax;
        const int32_t middle = ((*b1).*lo + (*b1).*hi) / 2;
        (*b1).*hi = middle;
        b2.*lo = middle + 1;
        ShrinkBox(h, *b1);
        ShrinkBox(h, b2);
        ++count;
    }
    return count;
}

// The count-weighted mean of the box's cell centres; white for a box without pixels. Sums in
// 64 bits: a box of more than 8.5 million pixels passes 32 bits.
void BoxColour(const Histogram& h, const Box& box, Palette& palette, int32_t i) {
    int64_t total = 0, red = 0, green = 0, blue = 0;
    ForEachCell(h, box, [&](int32_t r, int32_t g, int32_t b, uint16_t n) {
        total += n;
        red += int64_t(n) * RedCentre(r);
        green += int64_t(n) * GreenCentre(g);
        blue += int64_t(n) * BlueCentre(b);
    });
    if (total == 0) {
        palette.red[i] = palette.green[i] = palette.blue[i] = 255;
        return;
    }
    palette.red[i] = int32_t((red + total / 2) / total);
    palette.green[i] = int32_t((green + total / 2) / total);
    palette.blue[i] = int32_t((blue + total / 2) / total);
}

// The smallest and largest weighted squared distance of x from the centres lo..hi.
void AxisDistance(int32_t x, int32_t lo, int32_t hi, int32_t scale, int32_t& nearest,
                  int32_t& farthest) {
    int32_t near = 0, far;
    if (x < lo) {
        near = (x - lo) * scale, far = (x - hi) * scale;
    } else if (x > hi) {
        near = (x - hi) * scale, far = (x - lo) * scale;
    } else {
        far = (x <= (lo + hi) >> 1 ? x - hi : x - lo) * scale;
    }
    nearest += near * near;
    farthest += far * far;
}

// The palette colours that can be the nearest to some cell of the update box whose first
// cell centre is (r, g, b): those whose smallest distance is at most the smallest largest
// distance. Returns their number.
int32_t NearbyColours(const Palette& p, int32_t r, int32_t g, int32_t b, uint8_t* candidates) {
    constexpr int32_t kRedSpan = (kBoxRed - 1) * 8, kGreenSpan = (kBoxGreen - 1) * 4,
                      kBlueSpan = (kBoxBlue - 1) * 8;
    int32_t nearest[256];
    int32_t bound = 0x7FFFFFFF;
    for (int32_t i = 0; i < p.count; ++i) {
        int32_t farthest = 0;
        nearest[i] = 0;
        AxisDistance(p.red[i], r, r + kRedSpan, kRedScale, nearest[i], farthest);
        AxisDistance(p.green[i], g, g + kGreenSpan, kGreenScale, nearest[i], farthest);
        AxisDistance(p.blue[i], b, b + kBlueSpan, kBlueScale, nearest[i], farthest);
        bound = std::min(bound, farthest);
    }
    int32_t n = 0;
    for (int32_t i = 0; i < p.count; ++i) {
        if (nearest[i] <= bound) candidates[n++] = uint8_t(i);
    }
    return n;
}

// The nearest candidate for each cell of the update box (the earlier one on equal
// distance), walking the squared distances by increments along each axis.
void BestColours(const Palette& p, int32_t r, int32_t g, int32_t b, const uint8_t* candidates,
                 int32_t n, uint8_t (&best)[kBoxRed * kBoxGreen * kBoxBlue]) {
    constexpr int32_t kStepR = 8 * kRedScale, kStepG = 4 * kGreenScale, kStepB = 8 * kBlueScale;
    int32_t bestDistance[kBoxRed * kBoxGreen * kBoxBlue];
    std::fill(std::begin(bestDistance), std::end(bestDistance), 0x7FFFFFFF);
    for (int32_t k = 0; k < n; ++k) {
        const int32_t c = candidates[k];
        int32_t incR = (r - p.red[c]) * kRedScale, incG = (g - p.green[c]) * kGreenScale,
                incB = (b - p.blue[c]) * kBlueScale;
        int32_t distR = incR * incR + incG * incG + incB * incB;
        incR = incR * 2 * kStepR + kStepR * kStepR;
        incG = incG * 2 * kStepG + kStepG * kStepG;
        incB = incB * 2 * kStepB + kStepB * kStepB;
        int32_t cell = 0;
        for (int32_t ir = 0, xr = incR; ir < kBoxRed; ++ir) {
            for (int32_t ig = 0, distG = distR, xg = incG; ig < kBoxGreen; ++ig) {
                for (int32_t ib = 0, distB = distG, xb = incB; ib < kBoxBlue; ++ib, ++cell) {
                    if (distB < bestDistance[cell])
                        bestDistance[cell] = distB, best[cell] = uint8_t(c);
                    distB += xb, xb += 2 * kStepB * kStepB;
                }
                distG += xg, xg += 2 * kStepG * kStepG;
            }
            distR += xr, xr += 2 * kStepR * kStepR;
        }
    }
}

// Fills the inverse map for the update box that holds cell (r, g, b).
void FillInverseMap(Histogram& h, const Palette& p, uint32_t r, uint32_t g, uint32_t b) {
    const auto r0 = int32_t(r & ~uint32_t(kBoxRed - 1)), g0 = int32_t(g & ~uint32_t(kBoxGreen - 1)),
               b0 = int32_t(b & ~uint32_t(kBoxBlue - 1));
    uint8_t candidates[256];
    uint8_t best[kBoxRed * kBoxGreen * kBoxBlue];
    const int32_t n = NearbyColours(p, RedCentre(r0), GreenCentre(g0), BlueCentre(b0), candidates);
    BestColours(p, RedCentre(r0), GreenCentre(g0), BlueCentre(b0), candidates, n, best);
    const uint8_t* next = best;
    for (int32_t ir = 0; ir < kBoxRed; ++ir) {
        for (int32_t ig = 0; ig < kBoxGreen; ++ig) {
            for (int32_t ib = 0; ib < kBoxBlue; ++ib) {
                h.cells[r0 + ir][g0 + ig][b0 + ib] = uint16_t(*next++ + 1);
            }
        }
    }
}

uint8_t Nearest(Histogram& h, const Palette& p, uint32_t r, uint32_t g, uint32_t b) {
    uint16_t& cell = h.cells[r][g][b];
    if (cell == 0) FillInverseMap(h, p, r, g, b);
    return uint8_t(cell - 1);
}

// Dithering errors of magnitude 0-15 pass, 16-47 are halved above 16, larger ones become 32.
constexpr std::array<int16_t, 511> kErrorLimit = [] {
    std::array<int16_t, 511> table{};
    for (int32_t in = 0; in <= 255; ++in) {
        const int32_t out = in < 16 ? in : in < 48 ? 16 + (in - 16) / 2 : 32;
        table[255 + in] = int16_t(out);
        table[255 - in] = int16_t(-out);
    }
    return table;
}();

struct Pass {
    const qvQuantizeRequest& request;
    Histogram& histogram;
    Palette& palette;
    uint32_t key;  // the transparent colour, or QV_NO_TRANSPARENT
    uint8_t keyIndex;
};

template <typename F>
uint32_t ReadPixel(const qvQuantizeRequest& q, int32_t x, int32_t y) {
    return F::Unpack(LoadPixel(PixelAt(q.pixels, q.rowLength, F::bytes, x, y), F::bytes));
}

// Calls fn(x, 0x00RRGGBB) for the pixels of row y from left to right.
template <typename F, typename Fn>
void ForEachInRow(const qvQuantizeRequest& q, int32_t y, Fn&& fn) {
    const uint8_t* p = PixelAt(q.pixels, q.rowLength, F::bytes, 0, y);
    for (int32_t x = 0; x < q.width; ++x, p += F::bytes) fn(x, F::Unpack(LoadPixel(p, F::bytes)));
}

template <typename F>
void CountColours(const qvQuantizeRequest& q, Histogram& h, uint32_t key) {
    for (int32_t y = 0; y < q.height; ++y) {
        ForEachInRow<F>(q, y, [&](int32_t, uint32_t rgb) {
            if (rgb == key) return;
            uint16_t& cell = h.cells[RedCell(rgb)][GreenCell(rgb)][BlueCell(rgb)];
            if (cell != 0xFFFF) ++cell;
        });
    }
}

template <typename F>
void MapPixels(const Pass& s) {
    const qvQuantizeRequest& q = s.request;
    for (int32_t y = 0; y < q.height; ++y) {
        uint8_t* out = q.indices + ptrdiff_t(y) * q.width;
        ForEachInRow<F>(q, y, [&](int32_t x, uint32_t rgb) {
            out[x] = rgb == s.key ? s.keyIndex
                                  : Nearest(s.histogram, s.palette, RedCell(rgb), GreenCell(rgb),
                                            BlueCell(rgb));
        });
    }
}

// Serpentine Floyd-Steinberg: errors in sixteenths, 7 to the next pixel, 3, 5 and 1 to the
// row below (behind, same column, ahead). errors holds width + 2 cells of three; cell x + 1
// belongs to column x.
template <typename F>
void DitherPixels(const Pass& s, int16_t* errors) {
    const qvQuantizeRequest& q = s.request;
    const int32_t* colours[3] = {s.palette.red, s.palette.green, s.palette.blue};
    for (int32_t y = 0; y < q.height; ++y) {
        const bool odd = (y & 1) != 0;
        const int32_t dir = odd ? -1 : 1;
        int32_t x = odd ? q.width - 1 : 0;
        int16_t* cell = errors + (odd ? q.width + 1 : 0) * 3;
        uint8_t* out = q.indices + ptrdiff_t(y) * q.width;
        int32_t carried[3] = {}, below[3] = {}, behind[3] = {};
        for (int32_t n = q.width; n > 0; --n, x += dir, cell += dir * 3) {
            const uint32_t rgb = ReadPixel<F>(q, x, y);
            if (rgb == s.key) {
                out[x] = s.keyIndex;
                cell[0] = cell[1] = cell[2] = 0;
                continue;
            }
            const int32_t value[3] = {int32_t(rgb >> 16), int32_t((rgb >> 8) & 255),
                                      int32_t(rgb & 255)};
            int32_t v[3];
            for (int c = 0; c < 3; ++c) {
                const int32_t error = (carried[c] + cell[dir * 3 + c] + 8) >> 4;
                v[c] = std::clamp(value[c] + kErrorLimit[255 + error], 0, 255);
            }
            const uint8_t index = Nearest(s.histogram, s.palette, uint32_t(v[0]) >> 3,
                                          uint32_t(v[1]) >> 2, uint32_t(v[2]) >> 3);
            out[x] = index;
            for (int c = 0; c < 3; ++c) {
                const int32_t e = v[c] - colours[c][index];
                cell[c] = int16_t(behind[c] + e * 3);
                behind[c] = below[c] + e * 5;
                below[c] = e;
                carried[c] = e * 7;
            }
        }
        for (int c = 0; c < 3; ++c) cell[c] = int16_t(behind[c]);
    }
}

bool Malformed(const qvQuantizeRequest* q) {
    return q == nullptr || q->pixels == nullptr || q->indices == nullptr || q->palette == nullptr ||
           q->width < 0 || q->height < 0 || BytesPerPixel(q->format) == 0 ||
           BytesPerPixel(q->format) != q->bytesPerPixel;
}

}  // namespace
}  // namespace qv

int QuantizeBitmap(qvQuantizeRequest* request) {
    using namespace qv;
    if (Malformed(request)) return 0;
    qvQuantizeRequest& q = *request;
    const bool keyed = q.transparent != QV_NO_TRANSPARENT;
    const bool reserve = keyed || q.extraEntry != 0;
    const int32_t wanted = std::clamp(q.colourCount, 1, reserve ? 255 : 256);
    auto histogram = Allocate<Histogram>(1);
    auto boxes = Allocate<Box>(size_t(wanted));
    auto palette = Allocate<Palette>(1);
    auto errors = q.dither != 0 ? Allocate<int16_t>((size_t(q.width) + 2) * 3) : nullptr;
    if (!histogram || !boxes || !palette || (q.dither != 0 && !errors)) return 0;

    const uint32_t key = keyed ? q.transparent & 0xFFFFFF : QV_NO_TRANSPARENT;
    Pass pass{q, histogram[0], palette[0], key, 0};
    VisitFormat(q.format, [&](auto f) { CountColours<decltype(f)>(q, pass.histogram, key); });
    pass.palette.count = MedianCut(pass.histogram, boxes.get(), wanted);
    for (int32_t i = 0; i < pass.palette.count; ++i) {
        BoxColour(pass.histogram, boxes[i], pass.palette, i);
    }
    pass.keyIndex = uint8_t(pass.palette.count);
    std::memset(&pass.histogram, 0, sizeof(Histogram));
    VisitFormat(q.format, [&](auto f) {
        if (q.dither != 0) {
            DitherPixels<decltype(f)>(pass, errors.get());
        } else {
            MapPixels<decltype(f)>(pass);
        }
    });

    const Palette& p = pass.palette;
    for (int32_t i = 0; i < p.count; ++i) {
        q.palette[i] = uint32_t(p.red[i] << 16 | p.green[i] << 8 | p.blue[i]);
    }
    q.colourCount = p.count;
    if (reserve) q.palette[q.colourCount++] = keyed ? key : 0;
    return 1;
}

int32_t QuantizeColors(const qvBitMapLock& lock, int32_t width, int32_t height, uint8_t* indices,
                       uint32_t* palette, int32_t wanted, int32_t dither) {
    if (width > lock.width || height > lock.height) return 0;
    qvQuantizeRequest request{
        lock.base, lock.format, lock.bytesPerPixel, width, height, lock.rowLength, indices,
        palette,   wanted,      QV_NO_TRANSPARENT,  0,     dither};
    return QuantizeBitmap(&request) != 0 ? request.colourCount : 0;
}
