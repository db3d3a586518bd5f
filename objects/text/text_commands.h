// The handlers of the "text" library's commands.
#pragma once

#include "engine/vm.h"

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
