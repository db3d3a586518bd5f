// The display list's answers to the code built before it: the blits and the display refresh
// (gfx::BlitHost, whose Redraw is the compositor's), the picture list (BGPicHost), the layers
// (DisplaySeam), the text library (TextDisplayHost), the input pump (DisplayInput) and the
// graphics library (the display half of gfx::Neighbours).
#pragma once

#include "gfx/library/neighbours.h"

namespace qv::scene {

// Installs the blits', the pictures', the layers', the text's and the input pump's hosts;
// RemoveDisplayHosts puts the hosts of "no display" back.
void InstallDisplayHosts();
void RemoveDisplayHosts();

// The graphics library's questions about displays: their pointer and hidden flag, the span
// of the active clip region, and the current picture as shown (the event library answers for
// their handler slots). The player joins it with the other subsystems' answers into the one
// object it installs.
class DisplayNeighbours : public virtual gfx::Neighbours {
public:
    qvPointer* DisplayPointer(const qvDisplay* display) override;
    void SetDisplayPointer(qvDisplay* display, qvPointer* pointer) override;
    void SetPointerHidden(qvDisplay* display, bool hidden) override;
    bool PointerShown(const qvPointer* pointer) override;
    // The current display's text margins: text wraps within the clip region.
    void SetOutputSpan(int32_t left, int32_t right) override;
    int RenderBGPicBitmap(qvVmState* L, qvDisplayBitMap** bitmap, int32_t* width,
                          int32_t* height) override;
};

}  // namespace qv::scene
