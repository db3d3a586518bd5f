// Clipboard pictures: brushes go out as IFF ILBM with a mask plane (and their alpha bytes) and
// come back as new brushes; a picture the bounded reader refuses is the clipboard's other kind.
#include "platform/linux/memory.h"
#include "tests/objects/support/clipboard_fixture.h"

namespace qv::testing {
namespace {

using Clipboard = ClipboardFixture;

// A brush of 13 x 3 whose pixels tell their place, with the mask or alpha plane asked for.
qvBrush* Pattern(uint32_t id, bool mask, bool alpha) {
    qvBrush* brush = nullptr;
    EXPECT_EQ(CreateBrushBitmaps({id, nullptr}, 13, 3, 0, mask, alpha, true, false, &brush), 0);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 13; ++x) {
            PlotPixel(brush->bitmap, x, y, uint32_t(x) * 0x130000 + uint32_t(y) * 0x5000 + 0x99);
            if (mask) PlotPixel(brush->mask, x, y, (x + y) % 3 == 0 ? 1 : 0);
            if (alpha) brush->alpha->plane[y * brush->alpha->bytesPerRow + x] = uint8_t(x * 20 * y);
        }
    }
    return brush;
}

bool Shown(const qvBrush* brush, int32_t x, int32_t y) {
    if (brush->mask != nullptr) return ReadBitMapPixel(brush->mask, x, y) != 0;
    if (brush->alpha != nullptr) return brush->alpha->plane[y * brush->alpha->bytesPerRow + x] != 0;
    return true;
}

TEST_F(Clipboard, BrushesRoundTripWithTheirVisiblePixels) {
    const struct { bool mask, alpha; } cases[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mask " << c.mask << " alpha " << c.alpha);
        FreeAllBrushes(L);
        const qvBrush* source = Pattern(4, c.mask, c.alpha);
        ASSERT_EQ(Call("SetClipboard", {Num(2), Num(4)}).code, 0);
        EXPECT_EQ(Call("PeekClipboard").Number(), 2);
        const std::string form = ReadFile(Store());
        EXPECT_EQ(uint8_t(form[29]), c.mask || c.alpha ? 1 : 0) << "BMHD masking";
        qvBrush* copy = nullptr;
        ASSERT_EQ(Get(&copy), 2);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->header.handle, copy) << "an automatic id";
        EXPECT_EQ(copy->width, 13);
        EXPECT_EQ(copy->height, 3);
        // The alpha channel comes back whole, not as a mask.
        ASSERT_EQ(copy->alpha != nullptr, c.alpha);
        ASSERT_EQ(copy->mask != nullptr, c.mask);
        EXPECT_EQ(copy->transparentColour, copy->mask ? kMaskWithoutKey : kNoTransparency);
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 13; ++x) {
                EXPECT_EQ(ReadBitMapPixel(copy->bitmap, x, y),
                          ReadBitMapPixel(source->bitmap, x, y));
                EXPECT_EQ(Shown(copy, x, y), Shown(source, x, y)) << x << "," << y;
                if (c.alpha) {
                    EXPECT_EQ(copy->alpha->plane[y * copy->alpha->bytesPerRow + x],
                              source->alpha->plane[y * source->alpha->bytesPerRow + x])
                        << x << "," << y;
                }
            }
        }
    }
}

TEST_F(Clipboard, BrushesThatCannotGoOut) {
    qvBrush* hardware = Pattern(1, false, false);
    hardware->hardware = 1;
    EXPECT_EQ(Call("SetClipboard", {Num(2), Num(1)}).code, ERR_HWBRUSH);
    CallResult missing = Call("SetClipboard", {Num(2), Num(5)});
    EXPECT_EQ(missing.code, ERR_FINDBRUSH);
    EXPECT_EQ(missing.errorNumber, 5u);
    EXPECT_EQ(Call("PeekClipboard").Number(), 0) << "nothing written";
}

// Bytes of a FORM, built by hand.
std::string BE(uint32_t v, int n) {
    std::string out;
    for (int i = n - 1; i >= 0; --i) out.push_back(char(v >> (8 * i)));
    return out;
}

std::string Chunk(const std::string& id, const std::string& data) {
    return id + BE(uint32_t(data.size()), 4) + data + (data.size() % 2 ? std::string(1, '\0') : "");
}

std::string Bmhd(uint32_t width, uint32_t height, int planes, int masking, int compression) {
    return Chunk("BMHD", BE(width, 2) + BE(height, 2) + BE(0, 4) + char(planes) + char(masking) +
                             char(compression) + '\0' + BE(0, 2) + "\x01\x01" + BE(width, 2) +
                             BE(height, 2));
}

std::string Form(const std::string& chunks) {
    return "FORM" + BE(uint32_t(4 + chunks.size()), 4) + "ILBM" + chunks;
}

// A 16 x 2 picture of 1 plane: the rows' bits are 0xF0F0 and 0x0FF0.
const std::string kCmap = Chunk("CMAP", std::string("\x00\x00\x00\xFF\x80\x10", 6));
const std::string kRows = std::string("\xF0\xF0\x0F\xF0", 4);

TEST_F(Clipboard, APaletteWithAMaskPlaneReadsBack) {
    // Each row: its plane, then the mask plane (the right half hidden).
    const std::string body = kRows.substr(0, 2) + std::string("\xFF\x00", 2) + kRows.substr(2, 2) +
                             std::string("\xFF\x00", 2);
    WriteFile(Store(), Form(Bmhd(16, 2, 1, 1, 0) + kCmap + Chunk("BODY", body)));
    qvBrush* brush = nullptr;
    ASSERT_EQ(Get(&brush), 2);
    ASSERT_NE(brush, nullptr);
    ASSERT_NE(brush->mask, nullptr);
    const uint16_t rows[2] = {0xF0F0, 0x0FF0};
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 16; ++x) {
            const bool set = (rows[y] >> (15 - x)) & 1;
            EXPECT_EQ(ReadBitMapPixel(brush->bitmap, x, y), set ? Stored(0xFF8010) : 0u);
            EXPECT_EQ(ReadBitMapPixel(brush->mask, x, y), x < 8 ? 1u : 0u);
        }
    }
}

TEST_F(Clipboard, AlphaBytesReadBackPackedOrNot) {
    // Row 0 fades in by 16 a pixel; row 1 is one run of 0x80 (ByteRun1: -15, 0x80).
    std::string plain;
    for (int x = 0; x < 16; ++x) plain.push_back(char(x * 16));
    const std::string packedRows = char(15) + plain + std::string("\xF1\x80", 2);
    plain += std::string(16, '\x80');
    const std::string packedBody = std::string("\x01\xF0\xF0\x01\x0F\xF0", 6);
    const struct {
        int compression;
        std::string alph, body;
    } cases[] = {{0, plain, kRows}, {1, packedRows, packedBody}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compression);
        FreeAllBrushes(L);
        WriteFile(Store(), Form(Bmhd(16, 2, 1, 0, c.compression) + kCmap + Chunk("ALPH", c.alph) +
                                Chunk("BODY", c.body)));
        qvBrush* brush = nullptr;
        ASSERT_EQ(Get(&brush), 2);
        ASSERT_NE(brush, nullptr);
        EXPECT_EQ(brush->mask, nullptr);
        ASSERT_NE(brush->alpha, nullptr);
        for (int32_t x = 0; x < 16; ++x) {
            EXPECT_EQ(brush->alpha->plane[x], x * 16) << x;
            EXPECT_EQ(brush->alpha->plane[brush->alpha->bytesPerRow + x], 0x80) << x;
            EXPECT_EQ(ReadBitMapPixel(brush->bitmap, x, 1),
                      (0x0FF0 >> (15 - x)) & 1 ? Stored(0xFF8010) : 0u);
        }
    }
}

TEST_F(Clipboard, MalformedPicturesAreAnotherKind) {
    const std::string good = Form(Bmhd(16, 2, 1, 0, 0) + kCmap + Chunk("BODY", kRows));
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"no body", Form(Bmhd(16, 2, 1, 0, 0) + kCmap)},
        {"a body too short", Form(Bmhd(16, 2, 1, 0, 0) + kCmap + Chunk("BODY", kRows.substr(1)))},
        {"no colour map", Form(Bmhd(16, 2, 1, 0, 0) + Chunk("BODY", kRows))},
        {"12 planes", Form(Bmhd(16, 2, 12, 0, 0) + kCmap + Chunk("BODY", kRows))},
        {"masking 2", Form(Bmhd(16, 2, 1, 2, 0) + kCmap + Chunk("BODY", kRows))},
        {"compression 2", Form(Bmhd(16, 2, 1, 0, 2) + kCmap + Chunk("BODY", kRows))},
        {"width 0", Form(Bmhd(0, 2, 1, 0, 0) + kCmap + Chunk("BODY", kRows))},
        {"a short header", Form(Chunk("BMHD", "\x00\x10") + kCmap + Chunk("BODY", kRows))},
        {"a truncated form", good.substr(0, good.size() - 1)},
        {"a chunk past the form", Form(Bmhd(16, 2, 1, 0, 0) + kCmap + "BODY" + BE(100, 4) + kRows)},
        {"a form size past the bytes", "FORM" + BE(0x7FFFFFF0, 4) + good.substr(8)},
        {"a run past its row", Form(Bmhd(16, 2, 1, 0, 1) + kCmap +
                                    Chunk("BODY", std::string("\xFD\x55\x01\x0F\xF0", 5)))},
        {"a body ending inside a run",
         Form(Bmhd(16, 1, 1, 0, 1) + kCmap + Chunk("BODY", std::string("\x01\x0F", 2)))},
        {"huge and nearly empty", Form(Bmhd(30000, 30000, 24, 0, 1) + Chunk("BODY", "\x80"))},
        {"hold-and-modify",
         Form(Bmhd(16, 2, 1, 0, 0) + kCmap + Chunk("CAMG", BE(0x800, 4)) + Chunk("BODY", kRows))},
        {"extra-halfbrite",
         Form(Bmhd(16, 2, 1, 0, 0) + kCmap + Chunk("CAMG", BE(0x80, 4)) + Chunk("BODY", kRows))},
        {"alpha bytes too short",
         Form(Bmhd(16, 2, 1, 0, 0) + kCmap + Chunk("ALPH", std::string(31, '\x40')) +
              Chunk("BODY", kRows))},
        {"an empty alpha chunk",
         Form(Bmhd(16, 2, 1, 0, 0) + kCmap + Chunk("ALPH", "") + Chunk("BODY", kRows))},
        {"an alpha run past its row",
         Form(Bmhd(16, 1, 1, 0, 1) + kCmap + Chunk("ALPH", std::string("\xEF\x40", 2)) +
              Chunk("BODY", std::string("\x01\x0F\xF0", 3)))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(Store(), c.bytes);
        qvBrush* brush = nullptr;
        EXPECT_EQ(Get(&brush), 4);
        EXPECT_EQ(*BrushList(), nullptr) << "no brush made";
    }
    WriteFile(Store(), good);
    qvBrush* brush = nullptr;
    EXPECT_EQ(Get(&brush), 2) << "the unbroken picture reads";
    // A plain display mode (high resolution, lace) is no obstacle.
    WriteFile(Store(), Form(Bmhd(16, 2, 1, 0, 0) + kCmap + Chunk("CAMG", BE(0x8004, 4)) +
                            Chunk("BODY", kRows)));
    EXPECT_EQ(Get(&brush), 2) << "a plain mode";
}

TEST_F(Clipboard, APictureBeyondAnyBitmapIsOutOfMemory) {
    // 40000 x 1 of one uncompressed plane.
    const std::string row(40000 / 8, '\xAA');
    WriteFile(Store(), Form(Bmhd(40000, 1, 1, 0, 0) + kCmap + Chunk("BODY", row)));
    EXPECT_EQ(Call("GetClipboard").code, ERR_MEM);
    EXPECT_EQ(*BrushList(), nullptr);
}

TEST_F(Clipboard, ReadingFailsCleanlyWhenMemoryRunsOut) {
    Pattern(2, true, false);
    ASSERT_EQ(Call("SetClipboard", {Num(2), Num(2)}).code, 0);
    for (uint64_t n = 1;; ++n) {
        // The calls leave the engine garbage of their own.
        VmCollectGarbage(L);
        const size_t blocks = GetMemoryStats().liveBlocks;
        CallResult r;
        {
            AllocationFault fault(n, false);
            r = Call("GetClipboard");
        }
        VmCollectGarbage(L);
        if (r.code == 0) {
            EXPECT_GT(n, 1u);
            break;
        }
        ASSERT_EQ(r.code, ERR_MEM) << n;
        EXPECT_EQ(GetMemoryStats().liveBlocks, blocks) << n;
        ASSERT_EQ((*BrushList())->next, nullptr) << n;
    }
}

}  // namespace
}  // namespace qv::testing
