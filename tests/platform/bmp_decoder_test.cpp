// The BMP decoder on files built here byte by byte: every depth, both row orders, the OS/2
// header, bit-field masks with and without alpha; and the refusals: every cut of a good file,
// headers that do not hold together, and sizes the bytes cannot back.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/error_codes.h"
#include "platform/linux/bmp_decoder.h"
#include "platform/linux/memory.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes* b, uint32_t v) {
    b->push_back(uint8_t(v)), b->push_back(uint8_t(v >> 8));
}
void Put32(Bytes* b, uint32_t v) {
    Put16(b, v & 0xFFFF), Put16(b, v >> 16);
}

struct BmpSpec {
    uint32_t headerSize = 40;
    int32_t width = 0, height = 0;  // height < 0: top-down
    uint32_t bitsPerPixel = 24;
    uint32_t compression = 0;
    std::vector<uint32_t> masks;    // after a 40-byte header, or inside a larger one
    std::vector<uint32_t> colours;  // 0x00RRGGBB
    std::vector<Bytes> rows;        // as stored, padding included
};

Bytes Build(const BmpSpec& s) {
    Bytes info;
    Put32(&info, s.headerSize);
    if (s.headerSize == 12) {
        Put16(&info, uint32_t(s.width)), Put16(&info, uint32_t(s.height));
        Put16(&info, 1), Put16(&info, s.bitsPerPixel);
    } else {
        Put32(&info, uint32_t(s.width)), Put32(&info, uint32_t(s.height));
        Put16(&info, 1), Put16(&info, s.bitsPerPixel);
        Put32(&info, s.compression);
        for (int i = 0; i < 5; ++i) Put32(&info, 0);  // image size, resolution, colour counts
        for (uint32_t m : s.masks) Put32(&info, m);
        while (info.size() < s.headerSize) info.push_back(0);
    }
    Bytes table;
    for (uint32_t c : s.colours) {
        table.push_back(uint8_t(c)), table.push_back(uint8_t(c >> 8));
        table.push_back(uint8_t(c >> 16));
        if (s.headerSize != 12) table.push_back(0);
    }
    Bytes file = {'B', 'M'};
    size_t pixels = 14 + info.size() + table.size();
    size_t size = pixels;
    for (const Bytes& row : s.rows) size += row.size();
    Put32(&file, uint32_t(size)), Put32(&file, 0), Put32(&file, uint32_t(pixels));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), table.begin(), table.end());
    for (const Bytes& row : s.rows) file.insert(file.end(), row.begin(), row.end());
    return file;
}

struct Decoded {
    int code;
    qvPicture picture{};
    std::vector<uint32_t> pixels;
};

Decoded Decode(const Bytes& file) {
    Decoded d;
    qvPictureFormat format{};
    d.code = qv::DecodeBmp(file.data(), file.size(), &d.picture, &format);
    if (d.code == 0) {
        d.pixels.assign(d.picture.pixels,
                        d.picture.pixels + size_t(d.picture.width) * d.picture.height);
        FreeMemBlock(d.picture.pixels);
    }
    return d;
}

TEST(BmpDecoder, EveryDepthAndRowOrder) {
    const uint32_t o = 0xFF000000;  // opaque
    const struct {
        const char* name;
        BmpSpec spec;
        std::vector<uint32_t> want;  // top row first
    } cases[] = {
        {"1 bit, bottom-up",
         {40, 10, 2, 1, 0, {}, {0x000000, 0xFF8000}, {{0xAA, 0x80, 0, 0}, {0x01, 0x40, 0, 0}}},
         {o, o,          o, o,          o, o,          o, 0xFFFF8000, o, 0xFFFF8000, 0xFFFF8000,
          o, 0xFFFF8000, o, 0xFFFF8000, o, 0xFFFF8000, o, 0xFFFF8000, o}},
        {"4 bit, top-down",
         {40,
          3,
          -2,
          4,
          0,
          {},
          {0x112233, 0x445566, 0x778899},
          {{0x01, 0x20, 0, 0}, {0x22, 0x10, 0, 0}}},
         {0xFF112233, 0xFF445566, 0xFF778899, 0xFF778899, 0xFF778899, 0xFF445566}},
        {"8 bit, an index beyond the table is black",
         {40, 2, 1, 8, 0, {}, {0xABCDEF}, {{0, 7, 0, 0}}},
         {0xFFABCDEF, 0xFF000000}},
        {"24 bit", {40, 2, 1, 24, 0, {}, {}, {{1, 2, 3, 4, 5, 6, 0, 0}}}, {0xFF030201, 0xFF060504}},
        {"32 bit without masks ignores the fourth byte",
         {40, 1, 1, 32, 0, {}, {}, {{1, 2, 3, 99}}},
         {0xFF030201}},
        {"16 bit 5-5-5", {40, 1, 1, 16, 0, {}, {}, {{0xFF, 0x7F, 0, 0}}}, {0xFFFFFFFF}},
        {"16 bit 5-6-5 masks",
         {40, 2, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, {}, {{0x1F, 0xF8, 0xE0, 0x07}}},
         {0xFFFF0000 | 0xFF, 0xFF00FF00}},
        {"32 bit V4 header with an alpha mask",
         {108,
          2,
          1,
          32,
          3,
          {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
          {},
          {{1, 2, 3, 0x80, 4, 5, 6, 0}}},
         {0x80030201, 0x00060504}},
        {"OS/2 header, 8 bit",
         {12, 2, 1, 8, 0, {}, {0x010203, 0x040506}, {{1, 0, 0, 0}}},
         {0xFF040506, 0xFF010203}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = Decode(Build(c.spec));
        ASSERT_EQ(d.code, 0);
        EXPECT_EQ(d.picture.width, c.spec.width);
        EXPECT_EQ(d.picture.height, std::abs(c.spec.height));
        EXPECT_EQ(d.pixels, c.want);
    }
}

TEST(BmpDecoder, AlphaIsReportedOnlyWithAnAlphaMask) {
    BmpSpec spec{108, 1, 1, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {}, {{1, 2, 3, 4}}};
    EXPECT_EQ(Decode(Build(spec)).picture.hasAlpha, 1u);
    spec.masks[3] = 0;
    EXPECT_EQ(Decode(Build(spec)).picture.hasAlpha, 0u);
}

TEST(BmpDecoder, EveryCutOfAGoodFileIsRefused) {
    const Bytes file =
        Build({40,
               5,
               3,
               8,
               0,
               {},
               {1, 2, 3},
               {{0, 1, 2, 0, 0, 0, 0, 0}, {2, 1, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0, 0}}});
    ASSERT_EQ(Decode(file).code, 0);
    for (size_t size = 0; size < file.size(); ++size) {
        qvPicture picture{};
        qvPictureFormat format{};
        EXPECT_EQ(qv::DecodeBmp(file.data(), size, &picture, &format), ERR_LOADPICTURE) << size;
    }
}

TEST(BmpDecoder, HeadersThatDoNotHoldTogetherAreRefused) {
    const BmpSpec good{40, 2,  2,  24,
                       0,  {}, {}, {{1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 1, 2, 3, 0, 0}}};
    ASSERT_EQ(Decode(Build(good)).code, 0);
    const struct {
        const char* name;
        void (*change)(BmpSpec*);
    } cases[] = {
        {"width 0", [](BmpSpec* s) { s->width = 0; }},
        {"negative width", [](BmpSpec* s) { s->width = -2; }},
        {"height 0", [](BmpSpec* s) { s->height = 0; }},
        {"7 bits", [](BmpSpec* s) { s->bitsPerPixel = 7; }},
        {"run-length compression", [](BmpSpec* s) { s->compression = 1; }},
        {"masks on 24 bits", [](BmpSpec* s) { s->compression = 3; }},
        {"header of 20 bytes", [](BmpSpec* s) { s->headerSize = 20; }},
        {"header of 200 bytes", [](BmpSpec* s) { s->headerSize = 200; }},
        // Sizes that the rows cannot back are refused before any pixel is allocated.
        {"a wide picture in a few bytes", [](BmpSpec* s) { s->width = 2000000000; }},
        {"a tall picture in a few bytes", [](BmpSpec* s) { s->height = -2000000000; }},
        {"the tallest height", [](BmpSpec* s) { s->height = INT32_MIN; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BmpSpec spec = good;
        c.change(&spec);
        const uint64_t requests = qv::GetMemoryStats().requests;
        EXPECT_EQ(Decode(Build(spec)).code, ERR_LOADPICTURE);
        EXPECT_EQ(qv::GetMemoryStats().requests, requests);
    }
    // Pixels said to start beyond the end of the file.
    Bytes file = Build(good);
    file[10] = 0xFF, file[11] = 0xFF;
    EXPECT_EQ(Decode(file).code, ERR_LOADPICTURE);
    file[0] = 'P';
    EXPECT_FALSE(qv::IsBmp(file.data(), file.size()));
}

}  // namespace
