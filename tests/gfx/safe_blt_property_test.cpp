// SafeBlt over random cases of every format: rectangles partly or wholly outside,
// negative positions, usable sizes beyond the bitmaps, all flags, regions with and without
// a shape, planes present or not. Nothing may be written outside a buffer, and without
// sprites the result must equal the naive reference. tests/fuzz/fuzz_safe_blt.cpp feeds
// the same generator from the fuzzer's bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

#include "tests/gfx/support.h"
#include "tests/gfx/support/blit_cases.h"

namespace {

using qv::test::BlitCase;

constexpr int kCases = 100000;

std::string Describe(const BlitCase& c) {
    std::ostringstream text;
    text << "format " << c.format << ", source " << c.sourceWidth << "x" << c.sourceHeight
         << ", display " << c.displayWidth << "x" << c.displayHeight << ", blit (" << c.sx << ","
         << c.sy << ") -> (" << c.dx << "," << c.dy << ") " << c.width << "x" << c.height
         << ", sizes " << c.argSourceWidth << "x" << c.argSourceHeight << " / " << c.argDestWidth
         << "x" << c.argDestHeight << ", flags " << c.flags << ", dest " << c.destGiven << ", mask "
         << c.hasMask << ", alpha " << c.hasAlpha << ", region " << c.regionKind << " ("
         << c.regionX << "," << c.regionY << " " << c.regionWidth << "x" << c.regionHeight
         << ", mask " << c.regionMaskWidth << "x" << c.regionMaskHeight << "), display open "
         << c.displayOpen << ", output " << c.outputType << ", layers " << c.layers
         << ", target planes " << c.targetMask << c.targetAlpha << ", mask mode " << c.maskMode
         << ", intensity " << c.intensity << ", combine " << c.alphaCombine << ", seed "
         << c.contentSeed;
    return text.str();
}

// Each per-format run of the suite explores other cases.
uint32_t Seed() {
    const char* format = std::getenv("QV_SCREEN_FORMAT");
    return 0x5AFE + (format != nullptr ? uint32_t(std::atoi(format)) : 0);
}

TEST(SafeBltProperty, RandomBlitsStayInsideAndMatchTheReference) {
    std::mt19937 random(Seed());
    auto pick = [&](uint32_t n) {
        return std::uniform_int_distribution<uint32_t>(0, n - 1)(random);
    };
    for (int n = 0; n < kCases; ++n) {
        const BlitCase c = qv::test::MakeBlitCase(pick);
        const std::string failure = qv::test::CheckBlitCase(c);
        ASSERT_EQ(failure, "") << "case " << n << ": " << Describe(c);
    }
}

}  // namespace
