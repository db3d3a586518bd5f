// Clipboard pictures against netpbm: what SetClipboard writes decodes with ilbmtoppm to the
// brush's colours, and what ppmtoilbm writes (24 planes, a colour map, packed or not) comes
// back through GetClipboard exactly.
#include <random>
#include <sstream>
#include <vector>

#include "platform/linux/blocks.h"
#include "platform/linux/testing.h"
#include "tests/objects/support/clipboard_fixture.h"

namespace qv::testing {
namespace {

struct Rgb {
    int32_t width = 0, height = 0;
    std::string bytes;  // R, G, B per pixel
};

std::string PpmOf(const Rgb& picture) {
    return "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) +
           "\n255\n" + picture.bytes;
}

// A binary PPM of maxval 255; an empty picture when it is not one.
Rgb ParsePpm(const std::string& ppm) {
    std::istringstream in(ppm);
    std::string magic;
    int maxval = 0;
    Rgb picture;
    in >> magic >> picture.width >> picture.height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255 || !in) return {};
    picture.bytes = ppm.substr(size_t(in.tellg()));
    return picture;
}

Rgb RgbOfBrush(const qvBrush* brush) {
    Rgb picture{brush->width, brush->height, {}};
    BlockPtr<qvARGB> argb(ReadBitMapARGB(brush->bitmap, brush->width, brush->height));
    for (int32_t i = 0; i < brush->width * brush->height; ++i) {
        picture.bytes += char(argb.get()[i] >> 16);
        picture.bytes += char(argb.get()[i] >> 8);
        picture.bytes += char(argb.get()[i]);
    }
    return picture;
}

// Random colours from a palette of count, or of all colours with count 0.
Rgb RandomPicture(int32_t width, int32_t height, int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint32_t> palette(static_cast<size_t>(count));
    for (uint32_t& c : palette) c = random() & 0xFFFFFF;
    Rgb picture{width, height, {}};
    for (int32_t i = 0; i < width * height; ++i) {
        // Runs now and then, so that the packer has something to pack.
        const uint32_t c = count != 0 ? palette[random() % palette.size()] : random() & 0xFFFFFF;
        const int repeat = random() % 4 == 0 ? 5 : 1;
        for (int r = 0; r < repeat && i < width * height; ++r, ++i) {
            picture.bytes += char(c >> 16);
            picture.bytes += char(c >> 8);
            picture.bytes += char(c);
        }
        --i;
    }
    return picture;
}

class ClipboardOracle : public ClipboardFixture {
protected:
    platform::testing::ScopedScreenFormat format{QV_FMT_A8R8G8B8};
};

TEST_F(ClipboardOracle, IlbmtoppmDecodesWhatSetClipboardWrites) {
    QV_REQUIRE_TOOL("ilbmtoppm");
    // A brush with an alpha channel carries its alpha bytes in a chunk that ilbmtoppm skips.
    const struct {
        int32_t width, height;
        bool mask, alpha;
    } cases[] = {{1, 1, false, false},
                 {17, 5, true, false},
                 {333, 4, false, false},
                 {64, 3, true, false},
                 {19, 6, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.width << "x" << c.height << " mask " << c.mask << " alpha " << c.alpha);
        FreeAllBrushes(L);
        qvBrush* brush = NewBrush({1, nullptr}, c.width, c.height, 0, c.mask, c.alpha);
        const Rgb pattern = RandomPicture(c.width, c.height, 0, uint32_t(c.width));
        for (int32_t i = 0; i < c.width * c.height; ++i) {
            const auto* p = reinterpret_cast<const uint8_t*>(pattern.bytes.data()) + 3 * i;
            PlotPixel(brush->bitmap, i % c.width, i / c.width,
                      uint32_t(p[0]) << 16 | p[1] << 8 | p[2]);
            if (c.mask) PlotPixel(brush->mask, i % c.width, i / c.width, i % 3 == 0 ? 1 : 0);
            if (c.alpha)
                brush->alpha->plane[(i / c.width) * brush->alpha->bytesPerRow + i % c.width] =
                    uint8_t(i * 7);
        }
        ASSERT_EQ(Call("SetClipboard", {Num(2), Num(1)}).code, 0);
        const ToolRun run = RunTool("ilbmtoppm < '" + Store() + "' 2>/dev/null");
        ASSERT_EQ(run.status, 0);
        const Rgb decoded = ParsePpm(run.output);
        const Rgb expected = RgbOfBrush(brush);
        EXPECT_EQ(decoded.width, expected.width);
        EXPECT_EQ(decoded.height, expected.height);
        EXPECT_TRUE(decoded.bytes == expected.bytes);
    }
}

TEST_F(ClipboardOracle, PicturesOfPpmtoilbmReadBackExactly) {
    QV_REQUIRE_TOOL("ppmtoilbm");
    const struct {
        const char* options;
        int colours;
        int32_t width, height;
    } cases[] = {{"-24force", 0, 40, 7},
                 {"-24force -cmethod none", 0, 33, 3},
                 {"-maxplanes 8 -fixplanes 8", 200, 50, 6},
                 {"-maxplanes 8 -cmethod none", 100, 21, 4},
                 {"-maxplanes 4", 16, 300, 2},
                 {"-maxplanes 1", 2, 9, 9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        FreeAllBrushes(L);
        const Rgb picture = RandomPicture(c.width, c.height, c.colours, 7);
        const std::string ppm = Scratch("in.ppm");
        WriteFile(ppm, PpmOf(picture));
        ASSERT_EQ(RunTool(std::string("ppmtoilbm ") + c.options + " '" + ppm + "' > '" + Store() +
                          "' 2>/dev/null")
                      .status,
                  0);
        qvBrush* brush = nullptr;
        ASSERT_EQ(Get(&brush), 2);
        ASSERT_NE(brush, nullptr);
        EXPECT_EQ(brush->mask, nullptr);
        const Rgb read = RgbOfBrush(brush);
        EXPECT_EQ(read.width, c.width);
        EXPECT_EQ(read.height, c.height);
        EXPECT_TRUE(read.bytes == picture.bytes);
    }
}

}  // namespace
}  // namespace qv::testing
