// ScaleBitmap, TransformBitmap and RenderGradient on sizes, matrices and gradient records
// drawn from the fuzzer's bytes: every call must stay inside its buffers (AddressSanitizer
// watches the exact-size bitmaps, canaries the gradient's guarded rows) and return a code of
// its own.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/error_codes.h"
#include "gfx/gradient.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "tests/fuzz/gfx_fuzz_input.h"
#include "tests/gfx/support/guarded_bitmap.h"
#include "tests/gfx/support/outputs.h"

namespace {

using Input = qv::fuzz::GfxInput;

// Ordinary values mostly, and now and then one that breaks arithmetic.
double Real(Input& in) {
    static constexpr double kOdd[] = {0,
                                      -0.0,
                                      1e-7,
                                      1e-13,
                                      1e6,
                                      1e300,
                                      std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN()};
    if (in.Pick(8) == 0) return kOdd[in.Pick(8)];
    return (int32_t(in.Pick(4001)) - 2000) / 1000.0;
}

bool Known(int code) {
    return code == 0 || code == ERR_MEM || code == ERR_LOCKBMAP || code == ERR_BADDIMENSIONS ||
           code == ERR_COORDSRANGE || code == ERR_PIXELFORMAT;
}

struct Picture {
    Picture(Input& in, uint32_t format, int32_t width, int32_t height)
        : bitmap(qv::AllocBitMapInFormat(width, height, format, false)) {
        if (in.Pick(3) == 0) mask.reset(AllocMaskBitMap(bitmap.get(), width, height, 1));
        if (in.Pick(3) == 0) alpha.reset(AllocAlphaBitMap(width, height, 1));
    }
    qv::OwnedBitMap bitmap;
    qv::OwnedPlane mask, alpha;
};

void Scale(Input& in, Picture& p) {
    const int32_t x = in.Between(-2, 8), y = in.Between(-2, 8);
    const int32_t sw = in.Between(-1, 40), sh = in.Between(-1, 40);
    const int32_t dw = in.Between(-1, 96), dh = in.Between(-1, 96);
    const int smooth = int(in.Pick(2));
    qv::test::Outputs out;
    int code;
    if (in.Pick(4) == 0) {
        qv::OwnedBitMap dest(
            qv::AllocBitMapInFormat(in.Between(0, 96), in.Between(0, 96), p.bitmap->format, false));
        code = ScaleBitmap(p.bitmap.get(), p.mask.get(), p.alpha.get(), x, y, dest.get(), sw, sh,
                           dw, dh, smooth, &out.bitmap, &out.mask, &out.alpha);
    } else {
        code = ScaleBitmap(p.bitmap.get(), p.mask.get(), p.alpha.get(), x, y, nullptr, sw, sh, dw,
                           dh, smooth, &out.bitmap, &out.mask, &out.alpha);
    }
    if (!Known(code)) std::abort();
}

void Transform(Input& in, Picture& p) {
    double matrix[4];
    for (double& m : matrix) m = Real(in);
    const int32_t x = in.Between(-2, 8), y = in.Between(-2, 8);
    const int32_t w = in.Between(-1, 40), h = in.Between(-1, 40);
    qv::test::Outputs out;
    int32_t width = 0, height = 0;
    const int code =
        TransformBitmap(p.bitmap.get(), p.mask.get(), p.alpha.get(), x, y, w, h, matrix,
                        int(in.Pick(2)), &out.bitmap, &out.mask, &out.alpha, &width, &height);
    if (!Known(code) || (code == 0 && (width < 1 || height < 1))) std::abort();
}

void Gradient(Input& in, uint32_t format) {
    qvGradient g;
    g.style = in.Between(0, 5);
    g.startColour = in.Pick(0x1000000), g.endColour = in.Pick(0x1000000);
    g.angle = in.Pick(4) == 0 ? int32_t(in.Pick(0xFFFFFFFF)) : in.Between(-720, 720);
    g.stopCount = in.Between(-2, 70);
    for (auto& stop : g.stops) stop = {in.Pick(0x1000000), Real(in)};
    g.centreX = Real(in), g.centreY = Real(in), g.balance = Real(in), g.border = Real(in);
    const int32_t width = in.Between(1, 48), height = in.Between(1, 48);
    qv::test::GuardedBitMap guarded(width, height, format);
    const int32_t x = in.Between(0, width - 1), y = in.Between(0, height - 1);
    RenderGradient({guarded.get()->pixels, guarded.get()->bytesPerPixel, format, x, y,
                    in.Between(-1, width - x), in.Between(-1, height - y), guarded.get()->rowLength,
                    &g});
    if (!guarded.rows().GuardsIntact() || !guarded.rows().PaddingIntact()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint32_t operation = in.Pick(3);
    const uint32_t format = in.Pick(QV_FMT_COUNT);
    if (operation == 2) {
        Gradient(in, format);
        return 0;
    }
    Picture picture(in, format, in.Between(1, 32), in.Between(1, 32));
    if (!picture.bitmap) return 0;
    if (operation == 0) {
        Scale(in, picture);
    } else {
        Transform(in, picture);
    }
    return 0;
}
