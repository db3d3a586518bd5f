// The platform's picture loader: what it decodes, what it refuses, and files it reads
// through the file layer's virtual names. (Every format the picture saver writes is loaded
// again in tests/gfx/saved_pictures_load_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "media/picture_writers.h"
#include "platform/linux/files.h"
#include "platform/linux/memory.h"
#include "platform/linux/picture_loader.h"
#include "tests/platform/file_test_support.h"
#include "tests/platform/picture_test_support.h"

namespace {

using qv::testing::Bytes;
using qv::testing::ReadBytes;
using qv::testing::ScratchDir;

TEST(PictureLoader, DecodesPngWithAndWithoutAlpha) {
    ScratchDir dir;
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        std::vector<uint32_t> pixels = qv::testing::PatternPixels(7, 5, alpha);
        ASSERT_TRUE(qv::testing::WritePng(dir / "p.png", 7, 5, pixels, alpha));
        qvPicture* picture = nullptr;
        ASSERT_EQ(LoadPictureDT((dir / "p.png").c_str(), &picture), 0);
        EXPECT_EQ(picture->width, 7);
        EXPECT_EQ(picture->height, 5);
        EXPECT_EQ(picture->hasAlpha, alpha ? 1u : 0u);
        EXPECT_EQ(std::vector<uint32_t>(picture->pixels, picture->pixels + 35), pixels);
        FreePictureDT(picture);
        qvPictureFormat format{};
        ASSERT_EQ(IdentifyPictureDT((dir / "p.png").c_str(), &format), 0);
        EXPECT_EQ(format.width, 7);
        EXPECT_EQ(format.height, 5);
        EXPECT_EQ(format.depth, alpha ? 32 : 24);
    }
}

// A GIF of two images of 4 x 3: red with a clear top left pixel, then all green.
void WriteTwoImageGif(const std::string& path) {
    const uint32_t palette[2] = {0xFF0000, 0x00FF00};
    uint8_t first[12] = {1}, second[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    qv::OutputFile out;
    ASSERT_EQ(out.Open(path.c_str()), 0);
    qvGifWriter* writer = nullptr;
    ASSERT_EQ(BeginGifWriter(&out, 4, 3, &writer), 0);
    ASSERT_EQ(WriteGifFrame(writer, first, 4, 3, 0, palette, 2, 1, 10, 1), 0);
    ASSERT_EQ(WriteGifFrame(writer, second, 4, 3, 0, palette, 2, -1, 10, 1), 0);
    ASSERT_EQ(FinishGifWriter(writer), 0);
    ASSERT_EQ(out.Finish(), 0);
}

TEST(PictureLoader, TakesTheFirstImageOfAGif) {
    ScratchDir dir;
    WriteTwoImageGif(dir / "two.gif");
    qvPicture* picture = nullptr;
    ASSERT_EQ(LoadPictureDT((dir / "two.gif").c_str(), &picture), 0);
    EXPECT_EQ(picture->width, 4);
    EXPECT_EQ(picture->height, 3);
    EXPECT_EQ(picture->hasAlpha, 1u) << "a clear pixel";
    EXPECT_EQ(picture->pixels[0] >> 24, 0u);
    for (int i = 1; i < 12; ++i) EXPECT_EQ(picture->pixels[i], 0xFFFF0000u) << i;
    FreePictureDT(picture);
    qvPictureFormat format{};
    ASSERT_EQ(IdentifyPictureDT((dir / "two.gif").c_str(), &format), 0);
    EXPECT_EQ(format.width, 4);
    EXPECT_EQ(format.height, 3);
    EXPECT_EQ(format.depth, 1) << "a colour map of two entries";
}

// An ILBM's depth counts its planes, or 32 with alpha bytes; a mask plane alone is no depth.
TEST(PictureLoader, IdentifiesIlbmByItsHeader) {
    ScratchDir dir;
    const std::vector<uint32_t> pixels = qv::testing::PatternPixels(5, 3, true);
    const struct {
        IlbmTransparency keep;
        int32_t depth;
        uint32_t hasAlpha;
    } cases[] = {{IlbmTransparency::kNone, 24, 0},
                 {IlbmTransparency::kMask, 24, 1},
                 {IlbmTransparency::kMaskAndAlpha, 32, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.depth);
        uint8_t* form = nullptr;
        size_t size = 0;
        ASSERT_EQ(EncodeIlbm(pixels.data(), 5, 3, c.keep, &form, &size), 0);
        const std::string path = dir.Write("p.iff", Bytes(form, form + size));
        FreeMemBlock(form);
        qvPictureFormat format{};
        ASSERT_EQ(IdentifyPictureDT(path.c_str(), &format), 0);
        EXPECT_EQ(format.width, 5);
        EXPECT_EQ(format.height, 3);
        EXPECT_EQ(format.depth, c.depth);
        qvPicture* picture = nullptr;
        ASSERT_EQ(LoadPictureDT(path.c_str(), &picture), 0);
        EXPECT_EQ(picture->hasAlpha, c.hasAlpha);
        FreePictureDT(picture);
    }
}

TEST(PictureLoader, RefusesWhatItCannotRead) {
    ScratchDir dir;
    ASSERT_TRUE(qv::testing::WritePng(dir / "whole.png", 9, 9,
                                      qv::testing::PatternPixels(9, 9, true), true));
    Bytes whole = ReadBytes(dir / "whole.png");
    Bytes truncated(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
    Bytes jpegHeader = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'};
    WriteTwoImageGif(dir / "two.gif");
    const Bytes gif = ReadBytes(dir / "two.gif");
    // The screen and colour map, then the trailer: no image.
    Bytes noImage(gif.begin(), gif.begin() + 13 + 6);
    noImage.push_back(0x3B);
    // A form whose body lacks the mask plane that the header announces.
    const uint8_t maskedIlbm[] = {'F', 'O', 'R', 'M', 0,   0,   0,  56, 'I', 'L', 'B',  'M', 'B',
                                  'M', 'H', 'D', 0,   0,   0,   20, 0,  16,  0,   1,    0,   0,
                                  0,   0,   1,   1,   0,   0,   0,  0,  1,   1,   0,    16,  0,
                                  1,   'C', 'M', 'A', 'P', 0,   0,  0,  6,   0,   0,    0,   255,
                                  255, 255, 'B', 'O', 'D', 'Y', 0,  0,  0,   2,   0xF0, 0x0F};
    const std::pair<const char*, Bytes> files[] = {
        {"text.png", qv::testing::ToBytes("just text")},
        {"empty.png", {}},
        {"truncated.png", truncated},
        {"header.jpg", jpegHeader},
        {"screen.gif", Bytes(gif.begin(), gif.begin() + 13)},
        {"noimage.gif", noImage},
        {"short.iff", Bytes(std::begin(maskedIlbm), std::end(maskedIlbm))},
        {"nobody.iff", Bytes{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'I', 'L', 'B', 'M'}},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        std::string path = dir.Write(name, bytes);
        qvPicture* picture = reinterpret_cast<qvPicture*>(1);
        EXPECT_EQ(LoadPictureDT(path.c_str(), &picture), ERR_LOADPICTURE);
        EXPECT_EQ(picture, nullptr);
    }
    qvPicture* picture;
    qvPictureFormat format;
    EXPECT_EQ(LoadPictureDT((dir / "missing.png").c_str(), &picture), ERR_LOADPICTURE);
    EXPECT_EQ(IdentifyPictureDT((dir / "missing.png").c_str(), &format), ERR_LOADPICTURE);
}

TEST(PictureLoader, ReadsVirtualFilesAndReportsShortMemory) {
    ScratchDir dir;
    std::vector<uint32_t> pixels = qv::testing::PatternPixels(3, 2, false);
    ASSERT_TRUE(qv::testing::WritePng(dir / "p.png", 3, 2, pixels, false));
    Bytes bytes = ReadBytes(dir / "p.png");
    qv::ScopedMemoryWindow window(bytes.data(), bytes.size(), ":::test_picture");
    qvPicture* picture = nullptr;
    ASSERT_EQ(LoadPictureDT(":::test_picture", &picture), 0);
    EXPECT_EQ(std::vector<uint32_t>(picture->pixels, picture->pixels + 6), pixels);
    FreePictureDT(picture);

    size_t before = qv::GetMemoryStats().liveBlocks;
    int failures = 0;
    for (uint64_t n = 1; n <= 8; ++n) {
        qv::AllocationFault fault(n, false);
        int result = LoadPictureDT(":::test_picture", &picture);
        if (result == 0) {
            FreePictureDT(picture);
        } else {
            ++failures;
            EXPECT_TRUE(result == ERR_MEM || result == ERR_LOADPICTURE) << result;
        }
    }
    EXPECT_GT(failures, 0);
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before);
}

}  // namespace
