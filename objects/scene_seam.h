// What the object code reads of displays, their output and their layers that the graphics
// library's neighbour interface does not carry. Output redirection, the display subsystem and
// the layer list install their implementation; until they do, drawing is never redirected
// into an object, no display scales its layers or double-buffers on the hardware path, and
// layers cannot be enabled (tests install fakes).
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/library/neighbours.h"
#include "objects/draw_tags.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"

struct qvBGPic;

namespace qv::objects {

// The layer scaling of the current display: its factors, its scaled size and the size of the
// picture it shows.
struct DisplayScaling {
    double scaleX, scaleY;
    int32_t scaledWidth, scaledHeight;
    int32_t pictureWidth, pictureHeight;
};

// A layer that shows a picture object (a brush, a brush part, a picture part or an animation
// frame) on the current output picture, as the display engine hands it to the layer list.
struct ObjectLayer {
    qvBGPic* target;  // the picture the layer goes to; none: the current output picture
    int32_t kind;     // BRUSH, BRUSHPART, BGPICPART or ANIM
    qvObjectId id;
    int32_t frame;
    int32_t srcX, srcY;  // the part of the object shown
    int32_t x, y, width, height;
    const qvDrawTransform* transform;
    qvDrawStyle* style;  // the layer list writes a clamped insert position back
    // Planes made for the layer (a transformed frame, a snapshot of a picture part), handed
    // over with the call whatever its result; none: the layer shows the object itself.
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t insertPosition;  // a layer position, or -1: the style decides
    int flags;
};

// A rectangle of a picture's planes.
struct PicturePart {
    gfx::PictureView planes;
    int32_t x, y, width, height;
};

class SceneSeam {
public:
    virtual ~SceneSeam() = default;

    // While the current display draws into an object's pixels, mask or alpha channel: true,
    // with the object type and id pair that its output record names.
    virtual bool RedirectedOutput(uint32_t* /*type*/, qvObjectId* /*id*/) { return false; }
    // Ends a redirection: drawing goes to the display again. 0 or an error code.
    virtual int EndRedirection(qvVmState*) { return 0; }
    // The bitmap drawing goes into: none for the display itself, else the redirected output's,
    // whose planes are made current first (copy-on-write of the target, a missing mask or
    // alpha channel made) unless they are since the selection. 0 or an error code.
    virtual int FetchOutputBitmaps(qvVmState*, qvDisplayBitMap** bitmap) {
        *bitmap = nullptr;
        return 0;
    }
    // True with the factors while the current display scales its layers.
    virtual bool LayerScaling(DisplayScaling* /*out*/) { return false; }
    // Whether the current display double-buffers into a compositing bitmap, where hardware
    // brushes may be drawn.
    virtual bool HardwareDoubleBuffering() { return false; }
    // Records a rectangle drawn while the current display double-buffers, for the next flip.
    virtual void AddDirtyRect(qvVmState*, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                              int32_t /*height*/) {}

    // --- Layers ---
    // Adds the layer; 0 or an error code (the planes handed over are freed either way).
    virtual int AddObjectLayer(qvVmState*, const ObjectLayer& layer);
    // Makes the picture of an existing layer again under a transform. 0 or an error code.
    virtual int RenderLayerAgain(qvVmState*, void* /*layer*/, const qvDrawTransform*) {
        return ERR_NOLAYERS;
    }
    // What the layer that argument idx names (a position or a name) in the current output
    // picture shows now, of an animation layer its frame (from 1). 0 or an error code.
    virtual int LayerPicture(qvVmState*, int /*idx*/, int32_t /*frame*/, PicturePart*) {
        return ERR_NOLAYERS;
    }
    // Whether composing the rectangle of the current display's picture gives the bitmap's
    // pixels from (srcX, srcY): its top layer alone shows them there, opaque.
    virtual bool TopLayerShowsAlone(qvVmState*, const qvDisplayBitMap* /*bitmap*/, int32_t /*srcX*/,
                                    int32_t /*srcY*/, int32_t /*x*/, int32_t /*y*/,
                                    int32_t /*width*/, int32_t /*height*/) {
        return false;
    }
    // Re-applies a layer's transform to the size of the object it is inserted for again.
    virtual void ApplyLayerTransform(qvDrawTransform*, int32_t /*width*/, int32_t /*height*/) {}
};

// The installed seam, or the defaults; nullptr restores the defaults.
SceneSeam& Scene();
void SetSceneSeam(SceneSeam* seam);

}  // namespace qv::objects
