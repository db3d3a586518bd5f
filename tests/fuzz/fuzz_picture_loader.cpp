// Picture files come from wherever an applet's author found them: any bytes must be decoded as
// the format they start as (PNG, JPEG, BMP, GIF, ILBM) or refused, without reading outside
// them; a decoded picture has every pixel written, and reading its header alone agrees on the
// size.
#include <cstddef>
#include <cstdint>

#include "engine/error_codes.h"
#include "platform/linux/memory.h"
#include "platform/linux/picture_loader.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures beyond a few megapixels only cost time here.
    qv::SetMemoryCap(64u << 20);
    qvPicture picture{};
    qvPictureFormat format{};
    const int code = qv::DecodePictureBytes({data, size}, &picture, &format);
    qv::fuzz::Check(code == 0 || code == ERR_MEM || code == ERR_LOADPICTURE);
    if (code == 0) {
        qv::fuzz::Check(picture.width >= 1 && picture.height >= 1 && picture.pixels != nullptr);
        volatile uint32_t sum = 0;
        const size_t count = size_t(picture.width) * size_t(picture.height);
        for (size_t i = 0; i < count; ++i) sum = sum + picture.pixels[i];
        FreeMemBlock(picture.pixels);
        qvPictureFormat header{};
        qv::fuzz::Check(qv::DecodePictureBytes({data, size}, nullptr, &header) == 0);
        qv::fuzz::Check(header.width == picture.width && header.height == picture.height);
    }
    qv::SetMemoryCap(0);
    return 0;
}
