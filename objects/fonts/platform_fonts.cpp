#include "objects/fonts/platform_fonts.h"

int MeasureOutlineText(qvFont*, const char*, int32_t, uint32_t, int, qvTextExtent*) {
    return 0;
}

int RenderFontTextPlatform(qvFont*, const qvTextTarget&, int32_t, int32_t, const char*, int32_t,
                           uint32_t, int, const qvTextClip&, int64_t) {
    return 0;
}

int32_t GetOutlineKerning(qvFont*, const char*, int32_t, int) {
    return 0;
}

void SetOutlineFontSize(qvFont*, double, double) {}

int OutlineStyleSupported(qvFont*, uint32_t) {
    return 0;
}

void ClosePlatformFont(qvFont*) {}

int OpenDiskfontLibrary() {
    return 0;
}

void CloseDiskfontLibrary() {}
