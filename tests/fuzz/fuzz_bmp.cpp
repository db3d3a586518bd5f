// BMP files come from wherever the applet's author found them: any bytes must be refused or
// decoded without reading outside them, and a decoded picture has every pixel written.
#include <cstddef>
#include <cstdint>

#include "platform/linux/bmp_decoder.h"
#include "platform/linux/memory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures beyond a few megapixels only cost time here.
    qv::SetMemoryCap(64u << 20);
    qvPicture picture{};
    qvPictureFormat format{};
    if (qv::DecodeBmp(data, size, &picture, &format) == 0) {
        volatile uint32_t sum = 0;
        const size_t count = size_t(picture.width) * size_t(picture.height);
        for (size_t i = 0; i < count; ++i) sum = sum + picture.pixels[i];
        FreeMemBlock(picture.pixels);
    }
    qv::SetMemoryCap(0);
    return 0;
}
