// DistortBitmap with a random method, argument count and arguments (NaN, infinities and
// 1e300 among them) on small pictures with a mask, an alpha plane or neither: every call
// stays inside its exact-size buffers (AddressSanitizer) and returns a code of its own, and
// a result has a size that a bitmap can have. Memory is capped at 8 MB: a control point near
// the horizon can ask for an output of gigapixels, which is allowed but takes minutes to fill.
#include <cstdint>
#include <cstdlib>

#include "engine/error_codes.h"
#include "gfx/distort.h"
#include "platform/linux/memory.h"
#include "tests/fuzz/gfx_fuzz_input.h"

namespace {
const bool kCapped = [] {
    qv::SetMemoryCap(size_t(8) << 20);
    return true;
}();
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::fuzz::GfxInput in(data, size);
    const int32_t methods[] = {QV_DISTORT_PERSPECTIVE, QV_DISTORT_ARC, QV_DISTORT_POLAR,
                               QV_DISTORT_BARREL, int32_t(in.Pick(20))};
    const int32_t method = methods[in.Pick(5)];
    const uint32_t format = in.Pick(QV_FMT_COUNT);
    const int32_t width = in.Between(0, 24), height = in.Between(0, 24);
    qv::OwnedBitMap source(qv::AllocBitMapInFormat(width, height, format, false));
    if (!source) return 0;
    qv::OwnedPlane mask, alpha;
    if (in.Pick(3) == 0) mask.reset(AllocMaskBitMap(source.get(), width, height, 1));
    if (in.Pick(3) == 0) alpha.reset(AllocAlphaBitMap(width, height, 1));
    double arguments[16];
    const int32_t count = in.Pick(4) == 0 ? 16 : in.Between(0, 11);
    const double scale = in.Pick(2) == 0 ? 2 : 60;
    for (double& a : arguments) a = in.Real(scale);
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *outMask = nullptr, *outAlpha = nullptr;
    int32_t outWidth = 0, outHeight = 0;
    const int code = DistortBitmap(source.get(), mask.get(), alpha.get(), width, height, method,
                                   count, arguments, int(in.Pick(2)), &bitmap, &outMask, &outAlpha,
                                   &outWidth, &outHeight);
    const bool sane =
        code == 0 ? bitmap != nullptr && (outMask == nullptr) != (outAlpha == nullptr) &&
                        outWidth >= 1 && outWidth <= 32768 && outHeight >= 1 && outHeight <= 32768
                  : code == ERR_WRONGUSAGE || code == ERR_MEM;
    FreeDisplayBitMap(bitmap);
    FreePlaneBitMap(outMask);
    FreePlaneBitMap(outAlpha);
    if (!sane) std::abort();
    return 0;
}
