// What the object code reads of displays and their output that the graphics library's
// neighbour interface does not carry. Output redirection and the display subsystem install
// their implementation; until they do, drawing is never redirected into an object and no
// display scales its layers (tests install fakes).
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"

namespace qv::objects {

// The layer scaling of the current display: its factors, its scaled size and the size of the
// picture it shows.
struct DisplayScaling {
    double scaleX, scaleY;
    int32_t scaledWidth, scaledHeight;
    int32_t pictureWidth, pictureHeight;
};

class SceneSeam {
public:
    virtual ~SceneSeam() = default;

    // While the current display draws into an object's pixels, mask or alpha channel: true,
    // with the object type and id pair that its output record names.
    virtual bool RedirectedOutput(uint32_t* /*type*/, qvObjectId* /*id*/) { return false; }
    // The bitmap drawing goes into: none for the display itself, else the redirected output's,
    // whose planes are made current first (copy-on-write of the target, a missing mask or
    // alpha channel made) unless they are since the selection. 0 or an error code.
    virtual int FetchOutputBitmaps(qvVmState*, qvDisplayBitMap** bitmap) {
        *bitmap = nullptr;
        return 0;
    }
    // True with the factors while the current display scales its layers.
    virtual bool LayerScaling(DisplayScaling* /*out*/) { return false; }
};

// The installed seam, or the defaults; nullptr restores the defaults.
SceneSeam& Scene();
void SetSceneSeam(SceneSeam* seam);

}  // namespace qv::objects
