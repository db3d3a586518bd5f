// The "text" command library: its registration with the constants and the text defaults, the
// services other libraries read (the defaults, the current font, the default encoding), and
// its shutdown. Fonts and font objects are font_cache.h; the text cursor of a display is
// text_display.h; measuring is text_extent.h; text output is render_text.h and text objects
// text_objects.h.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/fonts/font.h"
#include "objects/text/text_extent.h"
#include "runtime/objects.h"

enum : int { QV_ENCODING_ISO8859_1 = 0, QV_ENCODING_UTF8 = 1 };

// Sets the defaults, registers the commands, constants and object lists, and opens the
// default font as the current font; 0 or an error, which ends start-up.
int RegisterTextLibrary(qvVmState* L);
// Shutdown: the text objects, the font objects, the cached fonts, the font search paths,
// then the default fonts of the font front end.
void FreeAllTextObjects(qvVmState* L);

// The text defaults that every text operation starts from.
qvTextStyle* GetTextDefaults();
// The current font.
qvFont* GetDefaultFont();
// Shadow and edge size to 1..64, a shadow direction outside 0..7 to south-east (3).
void ClampFontStyle(qvTextStyle* style);
// The encoding of every text command that names none: QV_ENCODING_*.
int GetDefaultEncoding();
void SetDefaultEncodingValue(int encoding);
// The font becomes current, with the style flags back to NORMAL.
void MakeFontCurrent(qvFont* font);

// The text-object list, registered with the object registry.
qvObjectHeader** TextObjectList();
