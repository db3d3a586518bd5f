// Every format the picture saver writes loads again through the platform's picture loader, with
// the transparency the format can carry: PNG its alpha bytes, GIF the pixels of alpha 0, ILBM
// its mask plane and alpha bytes; BMP and JPEG come back opaque.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gfx/save_picture.h"
#include "platform/linux/picture_loader.h"
#include "tests/gfx/support/rgb_files.h"

namespace {

constexpr int32_t kWidth = 19, kHeight = 7;

// Colours the GIF quantiser keeps exactly (the centres of its cells), in stripes that JPEG
// keeps near; alpha 0, partial and full in turn.
std::vector<qvARGB> Pixels() {
    constexpr qvARGB kColours[] = {0xFC0204, 0x04FE04, 0x0402FC, 0x848284};
    constexpr qvARGB kAlphas[] = {0xFF000000, 0x00000000, 0x80000000, 0x01000000};
    std::vector<qvARGB> pixels;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x)
            pixels.push_back(kColours[(x / 8) % 4] | kAlphas[(x + y) % 4]);
    return pixels;
}

struct Case {
    int32_t format;
    int alpha;      // the alpha flag of the save
    bool hasAlpha;  // what the loaded picture answers
    // The alpha the loaded pixel has for the saved alpha a.
    uint32_t (*loadedAlpha)(uint32_t a);
    double tolerance;  // of the mean difference of a colour channel
};

uint32_t Opaque(uint32_t) {
    return 0xFF;
}
uint32_t Same(uint32_t a) {
    return a;
}
uint32_t ClearOrOpaque(uint32_t a) {
    return a == 0 ? 0 : 0xFF;
}

TEST(SavedPicturesLoad, EveryFormatWithItsTransparency) {
    const std::string dir = qv::test::ScratchDir();
    const std::vector<qvARGB> saved = Pixels();
    const Case cases[] = {
        {IMGFMT_BMP, 1, false, Opaque, 0},  {IMGFMT_PNG, 0, false, Opaque, 0},
        {IMGFMT_PNG, 1, true, Same, 0},     {IMGFMT_JPEG, 1, false, Opaque, 16},
        {IMGFMT_GIF, 0, false, Opaque, 0},  {IMGFMT_GIF, 1, true, ClearOrOpaque, 0},
        {IMGFMT_ILBM, 0, false, Opaque, 0}, {IMGFMT_ILBM, 1, true, Same, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << c.format << " alpha " << c.alpha);
        const std::string file = dir + "/p" + std::to_string(c.format) + std::to_string(c.alpha);
        ASSERT_EQ(SavePicture(c.format, saved.data(), kWidth, kHeight, file.c_str(), QV_NOCOLOR,
                              c.alpha, 95, 256, 0),
                  0);
        qvPictureFormat format{};
        ASSERT_EQ(IdentifyPictureDT(file.c_str(), &format), 0);
        EXPECT_EQ(format.width, kWidth);
        EXPECT_EQ(format.height, kHeight);
        qvPicture* loaded = nullptr;
        ASSERT_EQ(LoadPictureDT(file.c_str(), &loaded), 0);
        const std::unique_ptr<qvPicture, decltype(&FreePictureDT)> picture(loaded, FreePictureDT);
        ASSERT_EQ(picture->width, kWidth);
        ASSERT_EQ(picture->height, kHeight);
        EXPECT_EQ(picture->hasAlpha != 0, c.hasAlpha);
        double error = 0;
        for (size_t i = 0; i < saved.size(); ++i) {
            const qvARGB got = picture->pixels[i], want = saved[i];
            ASSERT_EQ(got >> 24, c.loadedAlpha(want >> 24)) << i;
            // A GIF's clear pixels carry no colour.
            if (got >> 24 == 0 && c.format == IMGFMT_GIF) continue;
            for (int shift : {0, 8, 16})
                error += std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF));
        }
        EXPECT_LE(error / double(saved.size() * 3), c.tolerance);
    }
}

}  // namespace
