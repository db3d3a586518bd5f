// What the layer code reads of the display records beyond the blits' view of a display
// (gfx/blit_host.h: the output target type, the display and composition bitmaps, the
// window): the pictures behind the current output and a display, the display's dirty
// rectangles and its layer scaling. The display subsystem installs its answers; until then
// there is no output picture and no display scales.
#pragma once

#include <cstdint>

struct qvBGPic;
struct qvDisplay;
struct qvRectList;

namespace qv::scene {

// A display's scale factors (its scaled size over the logical size of the picture it shows)
// and whether the layer scaling engine is in force with a scaled size.
struct DisplayScale {
    double x = 1.0, y = 1.0;
    bool layerScaling = false;
    bool smooth = false;  // the display scales smoothly
};

class DisplaySeam {
public:
    virtual ~DisplaySeam() = default;

    // The picture drawing goes to on the current display: the one it shows, or the
    // pseudo-picture of a redirection; none without a display.
    virtual qvBGPic* OutputPicture() { return nullptr; }
    // The picture the display shows; none for none.
    virtual qvBGPic* ShownPicture(const qvDisplay*) { return nullptr; }
    // The display's dirty rectangles; none for none.
    virtual qvRectList* DirtyRects(qvDisplay*) { return nullptr; }
    virtual DisplayScale Scale(const qvDisplay*) { return {}; }
    // Makes *display current with *picture as the output picture, handing back the display
    // and the output picture that were current (a rebuild of another display's layers).
    virtual void SwapCurrent(qvDisplay** /*display*/, qvBGPic** /*picture*/) {}
    // The picture's shown set becomes its scaled set at its logical size (the parts of its
    // own freed); with reallocate the display's work bitmaps are made again for it. 0 or
    // ERR_MEM.
    virtual int ShowUnscaled(qvDisplay* /*display*/, qvBGPic* /*picture*/, int /*reallocate*/) {
        return 0;
    }
};

// The installed seam, or the defaults; nullptr restores the defaults.
DisplaySeam& LayerDisplays();
void SetDisplaySeam(DisplaySeam* seam);

}  // namespace qv::scene
