// Bitmap disk fonts come with applets from anywhere: any contents file and size file must be
// refused or loaded, and every code measured and drawn in every mode, without a read or
// write outside the files, the glyph strip or the destinations.
//
// Input: a flag byte (bit 0: a display is open, so colour fonts convert at once), the
// contents file's length (16 bits, big-endian), the contents file, then the size file. The
// contents file is ":::fuzz.font" and the size file ":::s", so an entry named "s" reaches it.
#include <cstddef>
#include <cstdint>

#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font.h"
#include "platform/linux/files.h"
#include "platform/linux/memory.h"
#include "runtime/runtime_state.h"

namespace {

void DrawEverything(qvFont* font) {
    char codes[256];
    for (int i = 0; i < 256; ++i) codes[i] = char(i);
    qvTextExtent extent;
    FontTextExtent(font, codes, 256, 0, 0, &extent);
    qv::OwnedBitMap bitmap(qv::AllocBitMapInFormat(96, 24, QV_FMT_A8R8G8B8, false));
    qv::OwnedPlane mask(AllocMaskBitMap(nullptr, 96, 24, 1));
    if (bitmap == nullptr || mask == nullptr) return;
    const qvTextClip clip{0, 0, 96, 24};
    for (int start = 0; start < 256; start += 16) {
        const int32_t x = start % 64 - 20, y = start / 64 - 2;
        RenderFontText(font, {bitmap.get(), nullptr}, x, y, codes + start, 16, 0, 0, clip,
                       0xFF8800);
        RenderFontText(font, {bitmap.get(), mask.get()}, x, y, codes + start, 16, 0, 0, clip,
                       kFontPenPlane);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t contentsLength = size_t(data[1]) << 8 | data[2];
    if (contentsLength > size - 3) return 0;
    const uint8_t* contents = data + 3;
    const int32_t pixels =
        contentsLength >= 4 + 258 ? int32_t(contents[260]) << 8 | contents[261] : 8;
    qv::SetMemoryCap(256 << 20);
    qv::Runtime().displayOpen = data[0] & 1;
    {
        qv::ScopedMemoryWindow contentsFile(contents, contentsLength, ":::fuzz.font");
        qv::ScopedMemoryWindow sizeFile(contents + contentsLength, size - 3 - contentsLength,
                                        ":::s");
        if (qvFont* font = NewFontRecord()) {
            if (LoadBitmapFont(":::fuzz.font", pixels, font, nullptr) != 0) {
                ConvertColourFontPixels(font);
                DrawEverything(font);
                FreeBitmapFont(font);
            }
            FreeFontRecord(font);
        }
    }
    qv::Runtime().displayOpen = 0;
    qv::SetMemoryCap(0);
    return 0;
}
