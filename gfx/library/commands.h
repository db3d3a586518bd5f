// The handlers of the "graphics" library that live outside their subsystems' own headers.
#pragma once

#include "engine/vm.h"

int Red(qvVmState* L);
int Green(qvVmState* L);
int Blue(qvVmState* L);
int RGB(qvVmState* L);
int ARGB(qvVmState* L);
int MixRGB(qvVmState* L);
int GetRealColor(qvVmState* L);
int GetPen(qvVmState* L);
int GetRandomColor(qvVmState* L);
int VWait(qvVmState* L);
int SetFPSLimit(qvVmState* L);
int GetFPSLimit(qvVmState* L);
int IsPicture(qvVmState* L);
int SaveSnapshot(qvVmState* L);
int DumpVideoTime(qvVmState* L);
int SetDrawTagsDefault(qvVmState* L);

namespace qv::gfx {

// The colours of GetRandomColor as 0xRGB, widened to 0xRRGGBB by repeating each nibble.
int32_t RandomColorCount();
uint32_t RandomColorAt(int32_t index);

// The default draw tags: made at registration, freed at shutdown. 0 or ERR_MEM.
int InitDrawTagDefaults();
void FreeDrawTagDefaults();

}  // namespace qv::gfx
