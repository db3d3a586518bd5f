// The clipboard's pictures come from other programs: any bytes must decode into a picture
// or be refused, reading nothing outside them, and a picture decoded must encode and decode
// again to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/ilbm_reader.h"
#include "media/picture_writers.h"
#include "platform/linux/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvIlbmPicture picture;
    if (DecodeIlbm({data, size}, &picture) != 0) {
        if (picture.pixels != nullptr) __builtin_trap();
        return 0;
    }
    if (picture.width < 1 || picture.height < 1) __builtin_trap();
    const size_t count = size_t(picture.width) * size_t(picture.height);
    uint8_t* bytes = nullptr;
    size_t length = 0;
    const IlbmTransparency keep = picture.alpha    ? IlbmTransparency::kMaskAndAlpha
                                  : picture.masked ? IlbmTransparency::kMask
                                                   : IlbmTransparency::kNone;
    if (EncodeIlbm(picture.pixels, picture.width, picture.height, keep, &bytes, &length) == 0) {
        qvIlbmPicture again;
        if (DecodeIlbm({bytes, length}, &again) != 0) __builtin_trap();
        if (again.width != picture.width || again.height != picture.height ||
            std::memcmp(again.pixels, picture.pixels, count * 4) != 0) {
            __builtin_trap();
        }
        FreeMemBlock(again.pixels);
    }
    FreeMemBlock(bytes);
    FreeMemBlock(picture.pixels);
    return 0;
}
