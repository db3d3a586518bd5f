// The platform's font engine as the front end sees it: bitmap fonts the platform opened and
// draws (the platform-rendered flag) and its outline fonts (engine 3). This build has no
// platform font engine yet: every call answers 0 and draws nothing.
#pragma once

#include <cstdint>

#include "objects/fonts/font.h"

int MeasureOutlineText(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                       qvTextExtent* extent);
int RenderFontTextPlatform(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                           const char* text, int32_t length, uint32_t style, int utf8,
                           const qvTextClip& clip, int64_t pen);
int32_t GetOutlineKerning(qvFont* font, const char* pair, int32_t length, int utf8);
void SetOutlineFontSize(qvFont* font, double scaleX, double scaleY);
int OutlineStyleSupported(qvFont* font, uint32_t style);
void ClosePlatformFont(qvFont* font);
// The system's disk-font library: 0 or an error.
int OpenDiskfontLibrary();
void CloseDiskfontLibrary();
