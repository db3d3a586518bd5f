// The quantiser against libjpeg's two-pass quantiser: three test pictures are compressed by
// cjpeg (quality 95, no chroma subsampling) and decoded by djpeg; our quantiser turns the
// decoded RGB bytes into the same palette, in the same order, and the same index for every
// pixel as djpeg -colors N writes into a GIF (read back through PIL), with and without
// Floyd-Steinberg dithering.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx/quantiser.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/rgb_files.h"

namespace {

using qv::test::RgbPicture;

constexpr int kColours[] = {8, 16, 64, 256};
constexpr const char* kDither[] = {"none", "fs"};

struct Reference {
    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
};

// gif_to_raw.py's output: count, palette, indices.
Reference ReadRaw(const std::string& path) {
    const std::vector<uint8_t> data = qv::test::ReadBytes(path);
    Reference r;
    if (data.size() < 4) return r;
    uint32_t count;
    std::memcpy(&count, data.data(), 4);
    if (data.size() < 4 + size_t(count) * 3) return r;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = &data[4 + i * 3];
        r.palette.push_back(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
    r.indices.assign(data.begin() + 4 + count * 3, data.end());
    return r;
}

TEST(QuantiserOracle, MatchesLibjpegTwoPassQuantiser) {
    QV_REQUIRE_TOOL("/usr/bin/cjpeg");
    QV_REQUIRE_TOOL("/usr/bin/djpeg");
    QV_REQUIRE_TOOL("/usr/bin/python3");
    const std::string dir = qv::test::ScratchDir();
    const int32_t sizes[][2] = {{160, 120}, {127, 93}, {200, 150}};
    std::string gifs;
    for (int kind = 0; kind < 3; ++kind) {
        const std::string base = dir + "/picture" + std::to_string(kind);
        ASSERT_TRUE(qv::test::WritePpm(qv::test::TestPicture(kind, sizes[kind][0], sizes[kind][1]),
                                       base + ".ppm"));
        ASSERT_TRUE(qv::test::Run("/usr/bin/cjpeg -quality 95 -sample 1x1 " + base + ".ppm > " +
                                  base + ".jpg && /usr/bin/djpeg -ppm " + base + ".jpg > " + base +
                                  ".decoded.ppm"));
        for (int colours : kColours) {
            for (const char* dither : kDither) {
                const std::string gif =
                    base + "_" + std::to_string(colours) + "_" + dither + ".gif";
                ASSERT_TRUE(qv::test::Run("/usr/bin/djpeg -colors " + std::to_string(colours) +
                                          " -dither " + dither + " -gif " + base + ".jpg > " +
                                          gif));
                gifs += " " + gif;
            }
        }
    }
    ASSERT_TRUE(
        qv::test::Run("/usr/bin/python3 " + qv::test::GfxTestFile("scripts/gif_to_raw.py") + gifs));

    for (int kind = 0; kind < 3; ++kind) {
        const std::string base = dir + "/picture" + std::to_string(kind);
        const RgbPicture decoded = qv::test::ReadPpm(base + ".decoded.ppm");
        ASSERT_EQ(decoded.width, sizes[kind][0]);
        for (int colours : kColours) {
            for (const char* dither : kDither) {
                SCOPED_TRACE("picture " + std::to_string(kind) + ", " + std::to_string(colours) +
                             " colours, dither " + dither);
                const Reference ref =
                    ReadRaw(base + "_" + std::to_string(colours) + "_" + dither + ".gif.raw");
                std::vector<uint8_t> indices(decoded.rgb.size() / 3);
                uint32_t palette[256];
                qvQuantizeRequest q{decoded.rgb.data(),
                                    QV_FMT_R8G8B8,
                                    3,
                                    decoded.width,
                                    decoded.height,
                                    decoded.width,
                                    indices.data(),
                                    palette,
                                    colours,
                                    QV_NO_TRANSPARENT,
                                    0,
                                    std::string(dither) == "fs"};
                ASSERT_EQ(QuantizeBitmap(&q), 1);
                ASSERT_LE(size_t(q.colourCount), ref.palette.size());
                for (size_t i = 0; i < ref.palette.size(); ++i) {
                    // The GIF pads its palette to a power of two with black.
                    const uint32_t expected = ref.palette[i];
                    EXPECT_EQ(i < size_t(q.colourCount) ? palette[i] : 0u, expected)
                        << "entry " << i;
                }
                ASSERT_EQ(indices.size(), ref.indices.size());
                for (size_t i = 0; i < indices.size(); ++i) {
                    ASSERT_EQ(indices[i], ref.indices[i])
                        << "pixel " << i % decoded.width << "," << i / decoded.width;
                }
            }
        }
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
