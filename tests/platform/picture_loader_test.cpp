// The platform's picture loader: what it decodes, what it refuses, and files it reads
// through the file layer's virtual names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/error_codes.h"
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

TEST(PictureLoader, RefusesWhatItCannotRead) {
    ScratchDir dir;
    ASSERT_TRUE(qv::testing::WritePng(dir / "whole.png", 9, 9,
                                      qv::testing::PatternPixels(9, 9, true), true));
    Bytes whole = ReadBytes(dir / "whole.png");
    Bytes truncated(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
    Bytes jpegHeader = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'};
    const std::pair<const char*, Bytes> files[] = {
        {"text.png", qv::testing::ToBytes("just text")},
        {"empty.png", {}},
        {"truncated.png", truncated},
        {"header.jpg", jpegHeader},
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
