// Opening a font by name and pixel size, by one of two engines: the native engine (request
// 0) opens the built-in "topaz" at 8 pixels, bitmap fonts linked into the applet and every
// other name through the platform's font engine; the built-in engine (request 4) opens
// TrueType and OpenType faces through FreeType.
#pragma once

#include <cstdint>

#include "objects/fonts/font.h"

enum : int {
    QV_FONTREQUEST_NATIVE = 0,
    QV_FONTREQUEST_INBUILT = 4,
};

// Opens name at size into a new font in *font (the default font itself for "topaz" at 8 on
// the native engine). With linked set, a ":::chunk" name is a font linked into the applet:
// its header tells a bitmap font from an outline font, and the font data follow it; a
// TrueType or OpenType file linked as a plain file (its name ends in ".ttf" or ".otf") has no
// header and opens as the same file on disk. 0; ERR_MEM; ERR_READFILE (the name as argument)
// when a linked font's header cannot be read or does not fit its chunk; ERR_OPENFONT with
// "Cannot open font NAME with size SIZE!" as its whole message for anything else that fails,
// a size below 1 and an unknown request. Messages name the font shown (none: name), the name
// the script gave rather than the virtual path it was resolved to.
int OpenFontByName(const char* name, int32_t size, int engine, int cache, int linked, qvFont** font,
                   const char* shown = nullptr);
