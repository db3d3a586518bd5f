// The handlers of the "text" library's commands.
#pragma once

#include "engine/vm.h"
#include "objects/text/render_text.h"

// Text state (text_state_commands.cpp).
int SetFontColor(qvVmState* L);
int SetFontStyle(qvVmState* L);
int SetDefaultEncoding(qvVmState* L);
int Locate(qvVmState* L);
int SetMargins(qvVmState* L);
int AddTab(qvVmState* L);
int ResetTabs(qvVmState* L);
int TextWidth(qvVmState* L);
int TextHeight(qvVmState* L);
int TextExtent(qvVmState* L);
int GetKerningPair(qvVmState* L);

// Fonts (font_commands.cpp).
int SetFont(qvVmState* L);
int OpenFont(qvVmState* L);
int UseFont(qvVmState* L);
int CloseFont(qvVmState* L);
int FreeGlyphCache(qvVmState* L);
int AddFontPath(qvVmState* L);
int GetAvailableFonts(qvVmState* L);

// Text output (output_commands.cpp).
int Print(qvVmState* L);
int NPrint(qvVmState* L);
int TextOut(qvVmState* L);
int InKeyStr(qvVmState* L);
// The Print engine: the text at the current display's cursor, which follows it; with tagsOff
// brackets are text. 0, ERR_FINDDISPLAY without a display, or RenderText's error.
int PrintText(qvVmState* L, const char* text, bool tagsOff);

// Shared by the output commands and the text objects. A layout record from the text defaults
// for the text, which stays the caller's.
void FillFromDefaults(qvTextParams* record, const char* text);
// The layout keys of the option table at t ("align", "wordwrap", "encoding", "color" and,
// with wordWrapTable, "wordwraptable"); 0 or ReadWordWrapTable's error.
int ReadLayoutOptions(qvVmState* L, int t, qvBorrowedTextRender* record, bool wordWrapTable);
inline bool ValidTextEncoding(int32_t encoding) {
    return encoding == 0 || encoding == 1;
}

// Text objects (text_objects.cpp).
int CreateTextObject(qvVmState* L);
int DisplayTextObject(qvVmState* L);
int FreeTextObject(qvVmState* L);
int ScaleTextObject(qvVmState* L);
int CopyTextObject(qvVmState* L);
int RotateTextObject(qvVmState* L);
