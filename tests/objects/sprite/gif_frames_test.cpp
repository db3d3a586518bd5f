// The GIF reader of sprite loading: images composed over the frames before them as their
// disposal methods say (kept, cleared, restored), interlaced rows in place, images that reach
// past the screen cut, and bytes cut short or not a GIF refused without reading past them.
// giflib's encoder writes the files.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/error_codes.h"
#include "media/gif_frames.h"

namespace qv::testing {
namespace {

constexpr uint32_t kClear = 0, kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;
constexpr int kScreen = 8;

// One image of a file: a rectangle filled with a colour index (0 is clear), how it goes.
struct GifImage {
    int left, top, width, height, index;
    int disposal;
    bool interlaced = false;
};

int WriteToVector(GifFileType* gif, const GifByteType* data, int size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(gif->UserData);
    bytes->insert(bytes->end(), data, data + size);
    return size;
}

std::vector<uint8_t> EncodeGif(const std::vector<GifImage>& images) {
    std::vector<uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, WriteToVector, &error);
    const GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    EXPECT_EQ(EGifPutScreenDesc(gif, kScreen, kScreen, 2, 0, map), GIF_OK);
    for (const GifImage& image : images) {
        const GraphicsControlBlock control{image.disposal, false, 0, 0};
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension), GIF_OK);
        EXPECT_EQ(EGifPutImageDesc(gif, image.left, image.top, image.width, image.height,
                                   image.interlaced, nullptr),
                  GIF_OK);
        // Interlaced rows are written in pass order; a row's first pixel tells its number.
        std::vector<GifPixelType> row(size_t(image.width), GifPixelType(image.index));
        for (int y = 0; y < image.height; ++y) {
            row[0] = GifPixelType(image.interlaced ? 1 + y % 3 : image.index);
            EXPECT_EQ(EGifPutLine(gif, row.data(), image.width), GIF_OK);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes;
}

uint32_t At(const qvGifFrames& gif, size_t frame, int x, int y) {
    return gif.frames[frame].get()[size_t(y) * size_t(gif.width) + size_t(x)];
}

TEST(GifFrames, ImagesComposeAsTheirDisposalSays) {
    const std::vector<uint8_t> bytes = EncodeGif({
        {0, 0, 8, 8, 1, DISPOSE_DO_NOT},      // red all over, kept
        {0, 0, 2, 2, 2, DISPOSE_PREVIOUS},    // a green corner, then the red again
        {6, 0, 2, 2, 3, DISPOSE_BACKGROUND},  // a blue corner, then cleared
        {4, 4, 8, 8, 2, DISPOSE_DO_NOT},      // green reaching past the screen: cut
        {0, 0, 1, 1, 0, DISPOSE_DO_NOT},      // clear pixels leave what is under them
    });
    qvGifFrames gif;
    ASSERT_EQ(DecodeGifFrames(bytes, &gif), 0);
    ASSERT_EQ(gif.frames.size(), 5u);
    EXPECT_EQ(gif.width, kScreen);
    struct Probe {
        size_t frame;
        int x, y;
        uint32_t argb;
    };
    const Probe probes[] = {
        {0, 0, 0, kRed}, {0, 7, 7, kRed},  {1, 1, 1, kGreen}, {1, 2, 2, kRed},
        {2, 1, 1, kRed}, {2, 7, 1, kBlue}, {3, 7, 7, kGreen}, {3, 7, 1, kClear},
        {3, 3, 3, kRed}, {4, 0, 0, kRed},  {4, 6, 6, kGreen}, {4, 6, 0, kClear},
    };
    for (const Probe& p : probes) {
        EXPECT_EQ(At(gif, p.frame, p.x, p.y), p.argb) << p.frame << ": " << p.x << "," << p.y;
    }
    EXPECT_TRUE(gif.transparent);
}

TEST(GifFrames, InterlacedRowsLandInPlace) {
    const std::vector<uint8_t> bytes = EncodeGif({{0, 0, 8, 8, 1, DISPOSE_DO_NOT, true}});
    qvGifFrames gif;
    ASSERT_EQ(DecodeGifFrames(bytes, &gif), 0);
    // Rows come in the order 0, 4, 2, 6, 1, 3, 5, 7; the k-th written carries index 1 + k % 3.
    const int order[8] = {0, 4, 2, 6, 1, 3, 5, 7};
    const uint32_t byIndex[4] = {kClear, kRed, kGreen, kBlue};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(At(gif, 0, 0, order[k]), byIndex[1 + k % 3]) << k;
    EXPECT_FALSE(gif.transparent);
}

// Every cut of a file ends in a refusal or in whole frames of the screen's size.
TEST(GifFrames, BytesCutShortOrForeignAreRefused) {
    const std::vector<uint8_t> bytes = EncodeGif({
        {0, 0, 8, 8, 1, DISPOSE_DO_NOT},
        {2, 2, 4, 4, 2, DISPOSE_BACKGROUND, true},
    });
    for (size_t length = 0; length < bytes.size(); ++length) {
        qvGifFrames gif;
        const int code = DecodeGifFrames({bytes.data(), length}, &gif);
        if (code != 0) {
            EXPECT_EQ(code, ERR_LOADPICTURE) << length;
            EXPECT_TRUE(gif.frames.empty()) << length;
            continue;
        }
        EXPECT_FALSE(gif.frames.empty()) << length;
        EXPECT_EQ(gif.width, kScreen) << length;
    }
    const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    qvGifFrames gif;
    EXPECT_EQ(DecodeGifFrames(png, &gif), ERR_LOADPICTURE);
    std::vector<uint8_t> empty = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(DecodeGifFrames(empty, &gif), ERR_LOADPICTURE) << "a screen of no size";
}

}  // namespace
}  // namespace qv::testing
