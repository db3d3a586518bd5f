// The platform's font engine on Linux, which has no system font library of its own. A name
// that FindFontFile finds as a ".font" contents file is an Amiga bitmap font, read with
// LoadBitmapFont and drawn by the run-time itself (engine 1 or 2, not platform-rendered). Any
// other name is an outline font (engine 3): opened like a TrueType font of the built-in
// engine (a built-in face, a ".ttf"/".otf" or linked file, else an installed face found by
// FindTrueTypeFont) and measured, drawn, kerned and resized by the same code, without a
// glyph cache. The engine slants and emboldens itself, so it supports bold and italic.
#pragma once

#include <cstdint>

#include "objects/fonts/font.h"

// Non-zero when the font was opened into the record.
int OpenFontPlatform(const char* name, int32_t size, qvFont* font);
int MeasureOutlineText(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                       qvTextExtent* extent);
int ExtendOutlineTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style,
                            int utf8, qvMeasuredPrefix* prefix, qvTextExtent* extent);
int RenderFontTextPlatform(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                           const char* text, int32_t length, uint32_t style, int utf8,
                           const qvTextClip& clip, int64_t pen);
int32_t GetOutlineKerning(qvFont* font, const char* pair, int32_t length, int utf8);
void SetOutlineFontSize(qvFont* font, double scaleX, double scaleY);
// 1 for bold and italic.
int OutlineStyleSupported(qvFont* font, uint32_t style);
// Closes what the engine opened (the record itself stays the caller's).
void CloseFontRecord(qvFont* font);
// There is no disk-font library to open: 0.
int OpenDiskfontLibrary();
void CloseDiskfontLibrary();
