// The platform's blits: conversions between formats, clipping against every bitmap
// involved, the mask operations and the null-destination reports.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "platform/linux/bitmap.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::AsStored;
using qv::test::BitMapPtr;
using qv::test::PlanePtr;
using qv::test::RandomBitMap;
using qv::test::RandomRawBitMap;
using qv::test::Snapshot;

PlanePtr RandomMask(int32_t width, int32_t height, uint32_t seed) {
    PlanePtr mask(AllocMaskBitMap(nullptr, width, height, 0));
    std::mt19937 random(seed);
    for (int32_t i = 0; i < mask->bytesPerRow * height; ++i) mask->plane[i] = uint8_t(random());
    return mask;
}

TEST(PlatformBlit, BltBitMapConvertsBetweenEveryPairOfFormats) {
    for (uint32_t from = 0; from < QV_FMT_COUNT; ++from) {
        BitMapPtr source = RandomBitMap(9, 4, from, from);
        for (uint32_t to = 0; to < QV_FMT_COUNT; ++to) {
            BitMapPtr dest = RandomBitMap(9, 4, 99, to);
            const auto before = Snapshot(dest.get());
            BltBitMap(source.get(), 1, 1, dest.get(), 2, 0, 7, 3);
            for (int32_t y = 0; y < 4; ++y) {
                for (int32_t x = 0; x < 9; ++x) {
                    bool inside = x >= 2 && y < 3;
                    uint32_t expected =
                        inside ? AsStored(to, ReadBitMapPixel(source.get(), x - 1, y + 1))
                               : before[y * 9 + x];
                    ASSERT_EQ(ReadBitMapPixel(dest.get(), x, y), expected)
                        << from << "->" << to << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(PlatformBlit, ThirtyTwoBitConversionsKeepTheDestinationAlpha) {
    BitMapPtr source(qv::AllocBitMapInFormat(1, 1, QV_FMT_A8R8G8B8, false));
    BitMapPtr dest(qv::AllocBitMapInFormat(1, 1, QV_FMT_B8G8R8A8, false));
    *reinterpret_cast<uint32_t*>(source->pixels) = 0x80123456;
    *reinterpret_cast<uint32_t*>(dest->pixels) = 0xFFFFFF5A;
    BltBitMap(source.get(), 0, 0, dest.get(), 0, 0, 1, 1);
    EXPECT_EQ(*reinterpret_cast<uint32_t*>(dest->pixels), 0x5634125Au);
}

TEST(PlatformBlit, MaskedBlitsConvertToo) {
    const uint32_t pairs[][2] = {{10, 10}, {10, 11}, {10, 12}, {10, 4}, {0, 10}, {8, 9}, {13, 2}};
    for (const auto& pair : pairs) {
        BitMapPtr source = RandomBitMap(20, 3, 1, pair[0]);
        BitMapPtr dest = RandomBitMap(20, 3, 2, pair[1]);
        PlanePtr mask = RandomMask(20, 3, 3);
        const auto before = Snapshot(dest.get());
        BltMask(source.get(), 3, 1, dest.get(), 0, 0, 17, 2, mask.get());
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 20; ++x) {
                bool inside = x < 17 && y < 2 && ReadBitMapPixel(mask.get(), x + 3, y + 1);
                uint32_t expected =
                    inside ? AsStored(pair[1], ReadBitMapPixel(source.get(), x + 3, y + 1))
                           : before[y * 20 + x];
                ASSERT_EQ(ReadBitMapPixel(dest.get(), x, y), expected)
                    << pair[0] << "->" << pair[1] << " at " << x << "," << y;
            }
        }
    }
}

// The reference of every clipped operation: pixel (x, y) of the destination is drawn when
// some (i, j) of the requested rectangle maps to it and the source position is valid.
struct Request {
    int32_t sx, sy, dx, dy, width, height;
};

template <typename SourceValid, typename Expected>
void ExpectClipped(const qvDisplayBitMap* dest, const std::vector<uint32_t>& before,
                   const Request& r, SourceValid valid, Expected expected) {
    for (int32_t y = 0; y < dest->height; ++y) {
        for (int32_t x = 0; x < dest->width; ++x) {
            int64_t i = int64_t(x) - r.dx, j = int64_t(y) - r.dy;
            bool drawn =
                i >= 0 && j >= 0 && i < r.width && j < r.height && valid(r.sx + i, r.sy + j);
            uint32_t want = drawn ? expected(r.sx + i, r.sy + j) : before[y * dest->width + x];
            ASSERT_EQ(ReadBitMapPixel(dest, x, y), want)
                << "request " << r.sx << "," << r.sy << " -> " << r.dx << "," << r.dy << " "
                << r.width << "x" << r.height << " at " << x << "," << y;
        }
    }
}

std::vector<Request> RandomRequests() {
    std::vector<Request> requests = {
        {0, 0, -10, 0, 50, 5},     // negative destination x: source advances
        {-3, -2, 0, 0, 8, 8},      // negative source position
        {5, 5, 25, 10, 100, 100},  // beyond the right and bottom edges
        {0, 0, INT32_MAX - 2, 0, 8, 8},
        {INT32_MIN, 0, 0, 0, INT32_MAX, 4},
        {2, 2, 3, 3, 0, 5},
        {2, 2, 3, 3, 5, -5},
    };
    std::mt19937 random(77);
    std::uniform_int_distribution<int32_t> coordinate(-20, 40), size(-2, 45);
    for (int i = 0; i < 150; ++i) {
        requests.push_back({coordinate(random), coordinate(random), coordinate(random),
                            coordinate(random), size(random), size(random)});
    }
    return requests;
}

TEST(PlatformBlit, RectanglesAreCutToEveryBitMap) {
    const uint32_t format = qv::ScreenFormat();
    BitMapPtr source = RandomBitMap(23, 17, 5, format);
    PlanePtr mask = RandomMask(19, 15, 6);  // smaller than the source: it cuts too
    const int64_t maskWidth = int64_t(mask->bytesPerRow) * 8;
    auto inSource = [&](int64_t x, int64_t y) { return x >= 0 && y >= 0 && x < 23 && y < 17; };
    auto sourcePixel = [&](int64_t x, int64_t y) {
        return ReadBitMapPixel(source.get(), int32_t(x), int32_t(y));
    };
    const uint32_t pen = AsStored(format, 0x3C5A7E);
    for (const Request& r : RandomRequests()) {
        BitMapPtr dest = RandomBitMap(31, 13, 8, format);
        auto before = Snapshot(dest.get());
        BltBitMap(source.get(), r.sx, r.sy, dest.get(), r.dx, r.dy, r.width, r.height);
        ExpectClipped(dest.get(), before, r, inSource, sourcePixel);

        before = Snapshot(dest.get());
        BltMask(source.get(), r.sx, r.sy, dest.get(), r.dx, r.dy, r.width, r.height, mask.get());
        ExpectClipped(
            dest.get(), before, r,
            [&](int64_t x, int64_t y) {
                return inSource(x, y) && x < maskWidth && y < mask->height &&
                       ReadBitMapPixel(mask.get(), int32_t(x), int32_t(y));
            },
            sourcePixel);

        before = Snapshot(dest.get());
        BltTemplate(mask.get(), r.sx, r.sy, dest.get(), r.dx, r.dy, r.width, r.height, 0x3C5A7E);
        ExpectClipped(
            dest.get(), before, r,
            [&](int64_t x, int64_t y) {
                return x >= 0 && y >= 0 && x < maskWidth && y < mask->height &&
                       ReadBitMapPixel(mask.get(), int32_t(x), int32_t(y));
            },
            [&](int64_t, int64_t) { return pen; });

        before = Snapshot(dest.get());
        RectFill(dest.get(), r.dx, r.dy, r.width, r.height, 0x3C5A7E);
        ExpectClipped(
            dest.get(), before, {r.dx, r.dy, r.dx, r.dy, r.width, r.height},
            [](int64_t, int64_t) { return true; }, [&](int64_t, int64_t) { return pen; });
    }
}

TEST(PlatformBlit, CopiesOntoItselfInEveryDirection) {
    const int32_t shifts[][2] = {{1, 1}, {-1, -1}, {3, 0}, {-3, 0}, {0, 2}, {0, -2}};
    for (const auto& shift : shifts) {
        BitMapPtr bitmap = RandomBitMap(12, 9, 10);
        const auto before = Snapshot(bitmap.get());
        BltBitMap(bitmap.get(), 4, 3, bitmap.get(), 4 + shift[0], 3 + shift[1], 5, 4);
        for (int32_t j = 0; j < 4; ++j) {
            for (int32_t i = 0; i < 5; ++i) {
                ASSERT_EQ(ReadBitMapPixel(bitmap.get(), 4 + shift[0] + i, 3 + shift[1] + j),
                          before[(3 + j) * 12 + 4 + i])
                    << shift[0] << "," << shift[1];
            }
        }
    }
}

TEST(PlatformBlit, MissingDestinationsAreReported) {
    BitMapPtr source(AllocDisplayBitMap(4, 4));
    PlanePtr mask(AllocMaskBitMap(nullptr, 4, 4, 1));
    qv::DebugCapture capture;
    BltBitMap(source.get(), 0, 0, nullptr, 0, 0, 4, 4);
    BltMask(source.get(), 0, 0, nullptr, 0, 0, 4, 4, mask.get());
    BltTemplate(mask.get(), 0, 0, nullptr, 0, 0, 4, 4, 0);
    RectFill(nullptr, 0, 0, 4, 4, 0);
    EXPECT_EQ(capture.Text(),
              "ERROR! BLTBITMAP() CALLED WITH DST=NULL!"
              "ERROR! BLTMASK() CALLED WITH DST=NULL!\n"
              "ERROR! BLTTEMPLATE() CALLED WITH DST=NULL!"
              "ERROR! RECTFILL() CALLED WITH DST=NULL!");
    capture.Clear();
    BltBitMap(nullptr, 0, 0, source.get(), 0, 0, 4, 4);  // no source: nothing, quietly
    CopyWholeBitMap(source.get(), nullptr, 4, 4);
    EXPECT_EQ(capture.Text(), "");
}

TEST(PlatformBlit, CopyWholeBitMapCopiesFromTheOrigin) {
    BitMapPtr source = RandomBitMap(6, 4, 11);
    BitMapPtr dest = RandomBitMap(6, 4, 12);
    CopyWholeBitMap(source.get(), dest.get(), 6, 4);
    EXPECT_TRUE(qv::test::SameBitMap(dest.get(), source.get()));
}

bool Bit(const qvPlaneBitMap* mask, int64_t x, int64_t y) {
    return ReadBitMapPixel(mask, int32_t(x), int32_t(y)) != 0;
}

TEST(PlatformBlit, CombineMaskRectModes) {
    const std::function<bool(bool, bool)> modes[] = {
        [](bool s, bool d) { return d || s; }, [](bool s, bool d) { return d && !s; },
        [](bool s, bool) { return s; },        [](bool s, bool d) { return d != s; },
        [](bool s, bool d) { return d && s; }, [](bool s, bool d) { return d || s; },
        [](bool, bool d) { return d; },
    };
    PlanePtr source = RandomMask(37, 6, 20);
    const Request requests[] = {{0, 0, 0, 0, 37, 6},
                                {3, 1, 9, 2, 21, 3},
                                {7, 0, 1, 5, 30, 4},
                                {-4, -1, 2, 0, 12, 4},
                                {5, 2, 30, 1, 40, 40}};
    for (int mode = 0; mode < 7; ++mode) {
        for (const Request& r : requests) {
            PlanePtr dest = RandomMask(37, 6, 21);
            PlanePtr before = RandomMask(37, 6, 21);
            CombineMaskRect(source.get(), r.sx, r.sy, dest.get(), r.dx, r.dy, r.width, r.height,
                            mode);
            for (int64_t y = 0; y < 6; ++y) {
                for (int64_t x = 0; x < dest->bytesPerRow * 8; ++x) {
                    int64_t sx = r.sx + x - r.dx, sy = r.sy + y - r.dy;
                    bool inside = x >= r.dx && y >= r.dy && x < r.dx + r.width &&
                                  y < r.dy + r.height && sx >= 0 && sy >= 0 &&
                                  sx < source->bytesPerRow * 8 && sy < 6;
                    bool old = Bit(before.get(), x, y);
                    bool expected = inside ? modes[mode](Bit(source.get(), sx, sy), old) : old;
                    ASSERT_EQ(Bit(dest.get(), x, y), expected)
                        << "mode " << mode << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(PlatformBlit, VanillaCopyIntoAPoisonedMaskIsExact) {
    PlanePtr source = RandomMask(29, 5, 30);
    PlanePtr dest(AllocMaskBitMap(nullptr, 29, 5, 0));  // poisoned, not cleared
    CombineMaskRect(source.get(), 0, 0, dest.get(), 0, 0, 29, 5, 2);
    for (int64_t y = 0; y < 5; ++y) {
        for (int64_t x = 0; x < 29; ++x) ASSERT_EQ(Bit(dest.get(), x, y), Bit(source.get(), x, y));
    }
}

TEST(PlatformBlit, FillMaskRectModes) {
    const std::function<bool(bool)> modes[] = {
        [](bool) { return true; },  [](bool) { return false; }, [](bool) { return true; },
        [](bool d) { return !d; },  [](bool d) { return d; },   [](bool) { return true; },
        [](bool) { return false; },
    };
    const Request rects[] = {{0, 0, 0, 0, 40, 4},
                             {0, 0, 3, 1, 11, 2},
                             {0, 0, 9, 0, 1, 4},
                             {0, 0, -5, -5, 12, 7},
                             {0, 0, 30, 2, 100, 100}};
    for (int mode = 0; mode < 7; ++mode) {
        for (const Request& r : rects) {
            PlanePtr mask = RandomMask(40, 4, 40), before = RandomMask(40, 4, 40);
            FillMaskRect(mask.get(), r.dx, r.dy, r.width, r.height, mode);
            for (int64_t y = 0; y < 4; ++y) {
                for (int64_t x = 0; x < mask->bytesPerRow * 8; ++x) {
                    bool inside =
                        x >= r.dx && y >= r.dy && x < r.dx + r.width && y < r.dy + r.height;
                    bool old = Bit(before.get(), x, y);
                    ASSERT_EQ(Bit(mask.get(), x, y), inside ? modes[mode](old) : old)
                        << "mode " << mode << " at " << x << "," << y;
                }
            }
        }
    }
}

// The pixels' bytes, row by row (not the padding after a row).
std::vector<uint8_t> Bytes(const qvDisplayBitMap* bitmap) {
    std::vector<uint8_t> bytes;
    const size_t rowBytes = size_t(bitmap->width) * bitmap->bytesPerPixel;
    for (int32_t y = 0; y < bitmap->height; ++y) {
        const uint8_t* row = bitmap->pixels + size_t(y) * bitmap->rowLength * bitmap->bytesPerPixel;
        bytes.insert(bytes.end(), row, row + rowBytes);
    }
    return bytes;
}

// BltBitMapTwice leaves every byte of both destinations as the two blits it stands for do:
// in one pass (row tails of every length around the wide steps, 2-, 3- and 4-byte pixels,
// rectangles touching the second's far edges) and where it falls back (formats that differ,
// rectangles that reach past a bitmap or start before it, the source as a destination).
TEST(PlatformBlit, BltBitMapTwiceDoesWhatTwoBlitsDo) {
    struct Case {
        uint32_t sourceFormat, firstFormat, secondFormat;
        int32_t dx, dy, width, height;
    };
    std::vector<Case> cases;
    for (uint32_t format : {QV_FMT_A8R8G8B8, QV_FMT_R5G6B5, QV_FMT_R8G8B8}) {
        for (int32_t width : {1, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100}) {
            cases.push_back({format, format, format, 3, 2, width, 5});
        }
        cases.push_back({format, format, format, 0, 0, 100, 9});   // the second's far edges
        cases.push_back({format, format, format, 60, 4, 50, 6});   // past the second's right
        cases.push_back({format, format, format, -3, -1, 20, 4});  // before its top left
        cases.push_back({format, format, format, 1, 1, 110, 3});   // wider than the source
    }
    cases.push_back({QV_FMT_A8R8G8B8, QV_FMT_R5G6B5, QV_FMT_A8R8G8B8, 2, 2, 40, 4});
    cases.push_back({QV_FMT_A8R8G8B8, QV_FMT_A8R8G8B8, QV_FMT_B8G8R8A8, 2, 2, 40, 4});
    for (const Case& c : cases) {
        BitMapPtr source = RandomRawBitMap(105, 9, 1, c.sourceFormat);
        BitMapPtr first = RandomRawBitMap(100, 9, 2, c.firstFormat);
        BitMapPtr second = RandomRawBitMap(100, 9, 3, c.secondFormat);
        BitMapPtr firstByTwo = RandomRawBitMap(100, 9, 2, c.firstFormat);
        BitMapPtr secondByTwo = RandomRawBitMap(100, 9, 3, c.secondFormat);
        BltBitMapTwice(source.get(), first.get(), second.get(), c.dx, c.dy, c.width, c.height);
        BltBitMap(source.get(), 0, 0, firstByTwo.get(), 0, 0, c.width, c.height);
        BltBitMap(firstByTwo.get(), 0, 0, secondByTwo.get(), c.dx, c.dy, c.width, c.height);
        ASSERT_EQ(Bytes(first.get()), Bytes(firstByTwo.get()))
            << c.sourceFormat << " " << c.width << " at " << c.dx << "," << c.dy;
        ASSERT_EQ(Bytes(second.get()), Bytes(secondByTwo.get()))
            << c.sourceFormat << " " << c.width << " at " << c.dx << "," << c.dy;
    }
    // The source as the first destination: the second still gets the source's pixels.
    BitMapPtr source = RandomRawBitMap(20, 4, 4, QV_FMT_A8R8G8B8);
    BitMapPtr second = RandomRawBitMap(20, 4, 5, QV_FMT_A8R8G8B8);
    BltBitMapTwice(source.get(), source.get(), second.get(), 0, 0, 20, 4);
    EXPECT_EQ(Bytes(second.get()), Bytes(source.get()));
}

}  // namespace
