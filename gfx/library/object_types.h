// Object types as scripts name them (the type constants of the "graphics" library) and as
// the object registry keeps them.
#pragma once

#include <cstdint>

namespace qv::gfx {

enum ObjectType : int32_t {
    kTypeBGPic = 1,
    kTypeSample = 2,
    kTypeBrush = 3,
    kTypeAnim = 4,
    kTypeNoObject = 7,  // a layer being removed, which the compositor skips
    kTypeTextObject = 8,
    kTypeTextOut = 9,
    kTypePrint = 11,
    kTypeBrushPart = 12,
    kTypeBGPicPart = 13,
    kTypeBox = 14,
    kTypeCircle = 15,
    kTypeEllipse = 16,
    kTypeLine = 17,
    kTypeDisplay = 21,
    kTypeLayer = 22,
    kTypePolygon = 27,
    kTypeMask = 28,
    kTypeAlphaChannel = 30,
    kTypeArc = 31,
    kTypeSprite = 32,
    kTypeMusic = 33,
    kTypeClipRegion = 35,
    kTypePointer = 36,
    kTypeAsyncDraw = 37,
    kTypeMemory = 39,
    kTypeEventHandler = 40,
    kTypeInterval = 41,
    kTypeTimeout = 42,
    kTypeFont = 43,
    kTypeFile = 44,
    kTypeDirectory = 45,
    kTypeVectorPath = 49,
    kTypeVideo = 50,
    kTypeMoveList = 51,
    kTypeAnimStream = 52,
    kTypeTimer = 53,
    kTypeClient = 54,
    kTypeServer = 55,
    kTypeUdpObject = 56,
};

// The box type of CreateClipRegion.
inline constexpr int32_t kClipRegionBox = 14;

}  // namespace qv::gfx
