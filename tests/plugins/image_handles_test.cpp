// Image handles: counting, sizes, picture loading through the platform loader and through
// a picture plugin (which wins), alpha extraction and its failure, and renderings of a
// plugin's picture at another size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "runtime/image_handles.h"
#include "tests/plugins/plugin_test_support.h"

namespace {

using qv::testing::CopyInto;
using qv::testing::ErrorText;
using qv::testing::PatternPixels;
using qv::testing::ScratchDir;
using qv::testing::VariantPath;
using qv::testing::WritePng;

size_t LiveBlocks() {
    return qv::GetMemoryStats().liveBlocks;
}

class ImageHandles : public qv::testing::PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        opaque_ = PatternPixels(4, 3, false);
        translucent_ = PatternPixels(4, 3, true);
        ASSERT_TRUE(WritePng(dir_ / "opaque.png", 4, 3, opaque_, false));
        ASSERT_TRUE(WritePng(dir_ / "alpha.png", 4, 3, translucent_, true));
    }
    void TearDown() override {
        qv::SetPluginImageBuilder(nullptr);
        PluginTest::TearDown();
    }

    // Loads the picture-reader build of the test plugin.
    void LoadPictureReader() {
        ScratchDir plugins;
        CopyInto(VariantPath("picture"), plugins.path(), "picture.qvp");
        qv::testing::FdCapture out(1);
        ScanPluginDir(plugins.path().c_str());
        ASSERT_EQ(CountPlugins(), 1);
    }

    std::string Path(const char* name) const { return dir_ / name; }

    ScratchDir dir_;
    std::vector<uint32_t> opaque_;
    std::vector<uint32_t> translucent_;
};

TEST_F(ImageHandles, TheLastReleaseFrees) {
    size_t before = LiveBlocks();
    qvImageHandle* handle = NewImageHandle(3, 2);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GetImageHandleOwnsBuffer(handle), 1u);
    GetImageHandlePixels(handle)[5] = 0xFF00FF00;  // the buffer holds 3 x 2 pixels
    AddImageHandleRef(handle);
    AddImageHandleRef(handle);
    ReleaseImageHandle(handle);
    ReleaseImageHandle(handle);
    EXPECT_GT(LiveBlocks(), before);
    ReleaseImageHandle(handle);
    EXPECT_EQ(LiveBlocks(), before);
}

// Sizes are computed in 64 bits: 32768 x 32768 x 4 is 4 GiB, not 0.
TEST_F(ImageHandles, SizesNeverWrap) {
    for (auto [width, height] : {std::pair{0, 5}, {5, 0}, {-1, 5}, {5, -3}, {-32768, -32768}}) {
        EXPECT_EQ(NewImageHandle(width, height), nullptr) << width << " x " << height;
    }
    {
        qv::SetMemoryCap(size_t{1} << 30);
        EXPECT_EQ(NewImageHandle(32768, 32768), nullptr);
        qv::SetMemoryCap(0);
    }
    qvImageHandle* huge = NewImageHandle(32768, 32768);
    ASSERT_NE(huge, nullptr);
    GetImageHandlePixels(huge)[size_t{32768} * 32768 - 1] = 1;
    ReleaseImageHandle(huge);
    qv::AllocationFault fault(1, true);
    EXPECT_EQ(NewImageHandle(2, 2), nullptr);
}

TEST_F(ImageHandles, WithoutPicturePluginsThePlatformLoads) {
    qvLoadedPicture picture;
    ASSERT_EQ(LoadPluginPicture(Path("opaque.png").c_str(), 0, &picture), 0);
    EXPECT_EQ(picture.handle->loader, nullptr);
    EXPECT_EQ(GetImageHandleOwnsBuffer(picture.handle), 0u);
    EXPECT_EQ(picture.width, 4);
    EXPECT_EQ(picture.height, 3);
    EXPECT_EQ(picture.hasAlpha, 0u);
    EXPECT_EQ(picture.vector, 0u);
    EXPECT_EQ(picture.transparentColour, -1);
    EXPECT_EQ(picture.alpha, nullptr);
    std::vector<uint32_t> pixels(GetImageHandlePixels(picture.handle),
                                 GetImageHandlePixels(picture.handle) + 12);
    EXPECT_EQ(pixels, opaque_);
    ReleaseImageHandle(picture.handle);

    qvPictureFormat format;
    int vector = -1;
    ASSERT_TRUE(IdentifyPluginPicture(Path("alpha.png").c_str(), &format, &vector));
    EXPECT_EQ(format.width, 4);
    EXPECT_EQ(format.depth, 32);
    EXPECT_EQ(vector, 0);
}

TEST_F(ImageHandles, AlphaIsCopiedOutOfThePixels) {
    qvLoadedPicture picture;
    ASSERT_EQ(LoadPluginPicture(Path("alpha.png").c_str(), 1, &picture), 0);
    ASSERT_NE(picture.alpha, nullptr);
    EXPECT_EQ(picture.hasAlpha, 1u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(picture.alpha->plane[y * picture.alpha->bytesPerRow + x],
                      translucent_[y * 4 + x] >> 24);
        }
    }
    FreePlaneBitMap(picture.alpha);
    ReleaseImageHandle(picture.handle);
}

TEST_F(ImageHandles, FailuresLeaveNothingAllocated) {
    size_t before = LiveBlocks();
    qvLoadedPicture picture;
    EXPECT_EQ(LoadPluginPicture(Path("opaque.png").c_str(), 1, &picture), ERR_NOALPHA);
    EXPECT_EQ(ErrorText(ERR_NOALPHA), "Picture opaque.png has no alpha channel!");
    EXPECT_EQ(picture.handle, nullptr);
    std::string text = dir_.Write("notes.png", qv::testing::ToBytes("plain text"));
    EXPECT_EQ(LoadPluginPicture(text.c_str(), 0, &picture), ERR_LOADPICTURE);
    EXPECT_EQ(ErrorText(ERR_LOADPICTURE), "Cannot load picture notes.png!");
    EXPECT_EQ(LoadPluginPicture(Path("missing.png").c_str(), 0, &picture), ERR_LOADPICTURE);
    // A failed allocation of the file layer reads as a file that cannot be opened.
    for (uint64_t n = 1; n <= 12; ++n) {
        qv::AllocationFault fault(n, false);
        int result = LoadPluginPicture(Path("alpha.png").c_str(), 1, &picture);
        if (result == 0) {
            FreePlaneBitMap(picture.alpha);
            ReleaseImageHandle(picture.handle);
        } else {
            EXPECT_TRUE(result == ERR_MEM || result == ERR_LOADPICTURE) << n << ": " << result;
        }
    }
    EXPECT_EQ(LiveBlocks(), before);
}

TEST_F(ImageHandles, PlatformPicturesCannotBeTransformed) {
    qvLoadedPicture picture;
    ASSERT_EQ(LoadPluginPicture(Path("opaque.png").c_str(), 0, &picture), 0);
    const double identity[4] = {1, 0, 0, 1};
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    EXPECT_EQ(
        TransformPluginImage(L, picture.handle, identity, 0, 0, 4, 3, 4, 3, &bitmap, &mask, &alpha),
        ERR_TFIMAGE);
    EXPECT_EQ(ErrorText(ERR_TFIMAGE), "Error transforming image!");
    ReleaseImageHandle(picture.handle);
}

TEST_F(ImageHandles, APictureReaderWinsOverThePlatform) {
    LoadPictureReader();
    qvLoadedPicture picture;
    ASSERT_EQ(LoadPluginPicture(Path("alpha.png").c_str(), 0, &picture), 0);
    EXPECT_EQ(picture.handle->loader, GetPluginFunctions(qv::Runtime().plugins->record));
    EXPECT_EQ(picture.vector, 1u);
    EXPECT_EQ(picture.hasAlpha, 1u);
    std::vector<uint32_t> pixels(GetImageHandlePixels(picture.handle),
                                 GetImageHandlePixels(picture.handle) + 12);
    EXPECT_EQ(pixels, translucent_);
    size_t before = LiveBlocks();
    AddImageHandleRef(picture.handle);
    ReleaseImageHandle(picture.handle);
    EXPECT_EQ(LiveBlocks(), before);
    // The plugin's own picture and pixels go back through "FreeImage", then the handle.
    ReleaseImageHandle(picture.handle);
    EXPECT_EQ(LiveBlocks(), before - 3);

    qvPictureFormat format;
    int vector = 0;
    ASSERT_TRUE(IdentifyPluginPicture(Path("opaque.png").c_str(), &format, &vector));
    EXPECT_EQ(vector, 1);
    EXPECT_EQ(format.width, 4);
    EXPECT_EQ(format.height, 3);
}

// What the fake builder received.
std::vector<uint32_t> builtPixels;

int FakeBuilder(qvVmState*, const uint32_t* pixels, int32_t width, int32_t height,
                qvDisplayBitMap** bitmap, qvPlaneBitMap** mask, qvPlaneBitMap** alpha) {
    builtPixels.assign(pixels, pixels + size_t(width) * height);
    *bitmap = nullptr;
    *mask = nullptr;
    *alpha = nullptr;
    return 0;
}

TEST_F(ImageHandles, VectorPicturesRenderAgainAtTheNewSize) {
    LoadPictureReader();
    qvLoadedPicture picture;
    ASSERT_EQ(LoadPluginPicture(Path("opaque.png").c_str(), 0, &picture), 0);
    const double doubled[4] = {2, 0, 0, 2};
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap *mask, *alpha;
    EXPECT_EQ(
        TransformPluginImage(L, picture.handle, doubled, 0, 0, 4, 3, 8, 6, &bitmap, &mask, &alpha),
        ERR_TFIMAGE);  // no image builder yet
    qv::SetPluginImageBuilder(FakeBuilder);
    ASSERT_EQ(
        TransformPluginImage(L, picture.handle, doubled, 0, 0, 4, 3, 8, 6, &bitmap, &mask, &alpha),
        0);
    ASSERT_EQ(builtPixels.size(), 48u);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(builtPixels[y * 8 + x], opaque_[(y / 2) * 4 + x / 2]);
    }
    const double flat[4] = {1, 1, 1, 1};
    EXPECT_EQ(
        TransformPluginImage(L, picture.handle, flat, 0, 0, 4, 3, 8, 6, &bitmap, &mask, &alpha),
        ERR_TFIMAGE);
    ReleaseImageHandle(picture.handle);
}

// A quarter turn maps the source box onto negative y; the shift back to the origin keeps
// every pixel, turned the way the bitmap transform turns them (x' = y, y' = 3 - x).
TEST_F(ImageHandles, VectorPicturesTurnWithTheirBoxAtTheOrigin) {
    LoadPictureReader();
    qvLoadedPicture picture;
    ASSERT_EQ(LoadPluginPicture(Path("opaque.png").c_str(), 0, &picture), 0);
    qv::SetPluginImageBuilder(FakeBuilder);
    const double quarter[4] = {0, -1, 1, 0};
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap *mask, *alpha;
    ASSERT_EQ(
        TransformPluginImage(L, picture.handle, quarter, 0, -4, 4, 3, 3, 4, &bitmap, &mask, &alpha),
        0);
    ASSERT_EQ(builtPixels.size(), 12u);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(builtPixels[y * 3 + x], opaque_[x * 4 + (3 - y)]);
    }
    ReleaseImageHandle(picture.handle);
}

}  // namespace
