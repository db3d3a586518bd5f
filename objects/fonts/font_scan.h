// The fonts installed on the system and in the script's font folders: the font search paths
// that scripts add, and the list of scanned fonts that lookups by family name and the font
// listing read. The list is built by the first scan and lives until FreeTrueTypeFontList.
//
// A scan reads every font search path in the order added, then "FONTS:_TrueType", "FONTS:"
// and "Fonts". Linux distributions install fonts one folder per package, so the two "FONTS:"
// folders are read with their subfolders down to three levels; the others are read flat.
// Directory entries come in byte order of their names, so a scan gives the same list every
// time.
#pragma once

#include <cstdint>

#include "objects/fonts/sfnt_names.h"

// One face found by a scan; one block holds the node and its strings.
struct qvScannedFont {
    qvScannedFont* next;
    const char* fullName;  // family, then a blank and the style when there is one
    const char* family;
    const char* file;
    int32_t weight;        // from the style words: 80 when none matches
    int32_t slant;         // 0 when none matches
    int64_t resourceBase;  // a face inside a resource font file; else 0
    int64_t resourceLength;
    int64_t memberOffset;  // a collection member's table directory; else 0
    uint32_t bitmapFont;   // an Amiga bitmap ".font"
    const uint8_t* sizes;  // a bitmap font's distinct pixel sizes (low 8 bits), in file order
    int32_t sizeCount;
};

// A directory added by AddFontPath: its full name.
struct qvFontPath {
    qvFontPath* next;
    const char* path;
};

// Builds the list unless it exists. With noVariants 0 a face of a regular-like style also
// gets a node named by its family alone. Unreadable folders and files are skipped; 0, or
// ERR_MEM with no list left.
int ScanTrueTypeFonts(int noVariants);
// The list, or none before a scan.
const qvScannedFont* ScannedFonts();
// Frees the list; the next lookup scans again.
void FreeTrueTypeFontList();

// Appends a path (compared by the caller); 0 or ERR_MEM.
int AddFontSearchPath(const char* fullName);
// The paths in the order added.
const qvFontPath* FontSearchPaths();
void FreeFontSearchPaths();

namespace qv::fonts {

// Weight and slant of a style, word by word ("Bold Italic": 200 and 100); words that no
// weight or slant names are ignored.
void StyleWeightSlant(const char* style, int32_t* weight, int32_t* slant);
// Whether a style is "regular", "plain", "normal", "book" or "roman" in any letter case.
bool IsRegularLikeStyle(const char* style);

// Adds the nodes of one font file, of the kind its name ends in (".font", ".ttf", ".otf",
// ".ttc", ".dfont"), to the list, recording path as its file. 0 or ERR_MEM.
int ScanFontFile(FontBytes& bytes, const char* path, int noVariants);

}  // namespace qv::fonts
