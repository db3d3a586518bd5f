// Picture saving: an ARGB pixel array (or a bitmap with its mask or alpha plane) written as
// BMP, PNG, JPEG, GIF or IFF ILBM, or handed to the first saver plugin of its format code.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"
#include "platform/linux/bitmap.h"

enum : int32_t {
    IMGFMT_BMP = 0,
    IMGFMT_PNG = 1,
    IMGFMT_JPEG = 2,
    IMGFMT_GIF = 3,
    IMGFMT_ILBM = 4,
};

// No transparent colour (the script's NOCOLOR).
inline constexpr uint32_t QV_NOCOLOR = 0xFFFFFFFF;

// Writes width x height ARGB pixels (rows packed) to file. alpha: the alpha bytes carry the
// picture's transparency (mask or alpha plane). transparent: 0xRRGGBB kept as a colour of
// its own in palettes, or QV_NOCOLOR. quality applies to JPEG, colours (2..256) and dither
// to GIF and indexed savers. Returns 0, ERR_MEM, ERR_WRITEFILE (file name stored as message
// argument; nothing is left behind), ERR_WRONGUSAGE (a BMP above 4 GiB or a size the format
// cannot hold), ERR_UNKNOWNIMGOUT, ERR_SAVEIMAGE or the writer's error. The pixels stay the
// caller's.
int SavePicture(int32_t format, const qvARGB* pixels, int32_t width, int32_t height,
                const char* file, uint32_t transparent, int alpha, int32_t quality, int32_t colours,
                int dither);

// The bitmap as ARGB (FreeMemBlock), or none when memory is short. With a mask and
// alphaFromMask, alpha is 0xFF where the mask is set and 0 elsewhere; with a mask and no
// flag, or with an alpha plane whose byte is 0, a hidden pixel becomes (colour & 0xFFFFFF)
// with alpha 0; an alpha plane's bytes become the alpha bytes; without either, alpha is 0xFF.
qvARGB* BitmapToPixelArray(const qvDisplayBitMap* bitmap, int32_t width, int32_t height,
                           const qvPlaneBitMap* mask, const qvPlaneBitMap* alphaPlane,
                           uint32_t colour, int alphaFromMask);

// BitmapToPixelArray (masked areas take the colour), then SavePicture with the alpha flag
// set when a mask or alpha plane is given.
int SaveBitmap(int32_t format, const qvDisplayBitMap* bitmap, int32_t width, int32_t height,
               const char* file, const qvPlaneBitMap* mask, uint32_t colour,
               const qvPlaneBitMap* alphaPlane, int32_t quality, int32_t colours, int dither);

namespace qv {

// One save, as SavePicture receives it.
struct PictureSave {
    int32_t format;
    const qvARGB* pixels;
    int32_t width;
    int32_t height;
    const char* file;
    uint32_t transparent;
    int alpha;
    int32_t quality;
    int32_t colours;
    int dither;
};

// A picture reduced to palette indices as GIF files and indexed savers get it.
class QuantisedPicture {
public:
    QuantisedPicture() = default;
    ~QuantisedPicture();
    QuantisedPicture(const QuantisedPicture&) = delete;
    QuantisedPicture& operator=(const QuantisedPicture&) = delete;

    // At most save.colours (clamped to 2..256) entries. With the alpha flag the last entry is
    // reserved for the pixels of alpha 0 and becomes the transparent index; otherwise a given
    // transparent colour keeps an entry of its own but nothing is declared transparent, so
    // that a real colour is never lost. 0 or ERR_MEM.
    int Make(const PictureSave& save);

    uint8_t* indices = nullptr;  // width x height
    uint32_t palette[256] = {};
    int32_t count = 0;
    int32_t transparentIndex = -1;
};

// The first saver plugin whose format code is save.format: 0, ERR_UNKNOWNIMGOUT when there is
// none, ERR_SAVEIMAGE when it fails, or ERR_MEM.
int SaveWithPlugin(const PictureSave& save);

}  // namespace qv
