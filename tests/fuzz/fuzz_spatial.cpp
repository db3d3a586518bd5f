// The spatial filters with random radii, sigmas, angles, phases, wavelengths and centres on
// small pictures with their planes: every call finishes, stays inside its exact-size buffers
// (AddressSanitizer) and returns a code of its own.
#include <cstdint>
#include <cstdlib>

#include "engine/error_codes.h"
#include "gfx/spatial_filters.h"
#include "tests/fuzz/gfx_fuzz_input.h"

namespace {

int Filter(qv::fuzz::GfxInput& in, qvDisplayBitMap* b, qvPlaneBitMap* mask, qvPlaneBitMap* alpha,
           int32_t width, int32_t height) {
    switch (in.Pick(7)) {
        case 0:
            return PixelateBitmap(b, mask, alpha, width, height, in.Between(-2, 40));
        case 1:
            return OilPaintBitmap(b, width, height, in.Real(6));
        case 2: {
            const double wavelength = in.Real(30), amplitude = in.Real(4), phase = in.Real(10);
            return WaterRippleBitmap(b, mask, alpha, width, height, wavelength, amplitude, phase,
                                     in.Real(1), in.Real(1));
        }
        case 3:
            return SwirlBitmap(b, mask, alpha, width, height, in.Real(720));
        case 4: {
            const int32_t types[] = {98, 101, 103, 115, in.Between(0, 200)};
            const int32_t type = types[in.Pick(5)];
            const double radius = in.Real(8), sigma = in.Real(4);
            return ConvolveBitmap(type, in.Pick(4) == 0 ? nullptr : b, alpha, width, height,
                                  nullptr, radius, sigma);
        }
        case 5: {
            const double radius = in.Real(6);
            return CharcoalBitmap(b, alpha, width, height, radius, in.Real(3));
        }
        default: {
            const int32_t x = in.Between(-4, 30), y = in.Between(-4, 30);
            const int32_t w = in.Between(-2, 30), h = in.Between(-2, 30);
            const int hard = int(in.Pick(2)), second = int(in.Pick(2));
            const double radius = in.Real(10);
            FreePlaneBitMap(MakeShadowPlane(alpha, mask, x, y, w, h, uint8_t(in.Pick(256)), hard,
                                            second, radius, in.Real(4)));
            return 0;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::fuzz::GfxInput in(data, size);
    const uint32_t format = in.Pick(QV_FMT_COUNT);
    const int32_t width = in.Between(1, 24), height = in.Between(1, 24);
    qv::OwnedBitMap bitmap(qv::AllocBitMapInFormat(width, height, format, false));
    if (!bitmap) return 0;
    qv::OwnedPlane mask, alpha;
    if (in.Pick(3) == 0) mask.reset(AllocMaskBitMap(bitmap.get(), width, height, 1));
    if (in.Pick(3) == 0) alpha.reset(AllocAlphaBitMap(width, height, 1));
    // Sizes past the picture are cut to it.
    const int32_t w = in.Between(-1, width + 3), h = in.Between(-1, height + 3);
    const int code = Filter(in, bitmap.get(), mask.get(), alpha.get(), w, h);
    if (code != 0 && code != ERR_MEM && code != ERR_LOCKBMAP) std::abort();
    return 0;
}
