// Sprites made from pictures: frames cut from one picture file (any format the picture loaders
// read, and GIF, whose animation gives one frame per image) or from another object's planes,
// with a mask per frame from a colour key or the picture's alpha channel kept per frame.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/library/neighbours.h"
#include "media/frame_cut.h"
#include "objects/brush.h"
#include "objects/cached_picture.h"
#include "objects/sprite/sprite.h"

namespace qv::sprites {

// What LoadSprite and a preloaded sprite ask for.
struct SpriteLoadOptions {
    qvFrameCut cut;
    uint32_t transparent = kNoTransparency;  // 0xRRGGBB keyed into a mask per frame
    bool loadAlpha = false;                  // the picture's alpha channel per frame
    PictureCacheFlags cache;
};

// The option table at index t: 0, or ERR_MASKNALPHA for a colour key with the alpha channel.
int ReadSpriteLoadOptions(qvVmState* L, int t, SpriteLoadOptions* out);

// A sprite under an automatic id of the frames of a picture file. 0 or an error with nothing
// made: the loaders', ERR_BADDIMENSIONS or ERR_COORDSRANGE for a cut that does not fit.
int LoadSpriteFile(qvVmState* L, const char* file, const SpriteLoadOptions& options,
                   qvSprite** out);

// An ARGB picture whose frames are cut, its alpha plane (or none) beside; with alphaAsMask the
// frames get a mask of the alpha plane's full pixels in its place.
struct PixelPicture {
    const uint32_t* pixels;
    int32_t width, height;
    const qvPlaneBitMap* alpha;
    bool alphaAsMask = false;
};
// A sprite under an automatic id of the frames of the cut: masks keyed out of the colour
// (unless kNoTransparency), the alpha plane cut with them. 0 or an error with nothing made.
int SpriteOfPixels(const PixelPicture& picture, const qvFrameCut& cut, uint32_t transparent,
                   qvSprite** out);

// A sprite under an automatic id of the frames of the cut of a picture's planes, its mask and
// alpha cut with them. 0 or an error with nothing made.
int SpriteOfPlanes(const gfx::PictureView& picture, const qvFrameCut& cut,
                   uint32_t transparentColour, qvSprite** out);

}  // namespace qv::sprites
