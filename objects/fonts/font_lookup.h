// Font files found by name: installed TrueType faces through the list of scanned fonts, and
// Amiga bitmap fonts (".font" contents files) in the font folders.
#pragma once

#include <cstdint>
#include <string>

// The path of the font file to open for a full name (weight -1) or for a family with weight
// and slant, or empty when none matches. Scans first when there is no list. Bitmap fonts
// never match; with plainFileOnly neither do collection members and resource faces. A face
// inside a resource file comes with its base and length (else both 0). A collection member
// is copied into a temporary file first, whose name is returned with temporary set to 1:
// the caller deletes it when done.
std::string FindTrueTypeFont(const char* name, int weight, int slant, int plainFileOnly,
                             int64_t* resourceBase, int64_t* resourceLength, int* temporary);

// The first of these that opens, with ".font" appended to name unless it ends so: each font
// search path joined with it, the name itself, "Fonts/" and "FONTS:" joined with it. 1 with
// its path in path (1024 bytes), else 0.
int FindFontFile(const char* name, char* path);
