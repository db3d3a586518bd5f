// What the scene reads of the objects that layers and sprites show, whose libraries are built
// over the scene: the images of brushes, anim frames and text objects, sprite frames, where
// an object keeps its mask and alpha plane, the collection of orphans that no layer shows any
// more, and the buttons attached to layers. One table for the scene; the object libraries
// (or the player for them) install theirs, tests install fakes. The defaults find nothing.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/library/neighbours.h"
#include "runtime/objects.h"

struct qvBGPic;
struct qvImageHandle;
struct qvLayer;
struct qvSpriteInstance;

namespace qv::scene {

class ObjectHooks {
public:
    virtual ~ObjectHooks() = default;

    // The planes and size of a brush, orphans included, and the image handle it was made
    // from (none for a plain bitmap brush). 0 or the lookup error.
    virtual int BrushImage(qvVmState* L, qvObjectId id, gfx::PictureView* out,
                           qvImageHandle** source);
    // The planes of frame (from 0) of an anim, at the anim's size; 0 or the lookup error.
    virtual int AnimFrame(qvVmState* L, qvObjectId id, int32_t frame, gfx::PictureView* out);
    // A text object's rendered planes; 0 or the lookup error.
    virtual int TextObjectImage(qvVmState* L, qvObjectId id, gfx::PictureView* out);
    // The planes of frame (from 0) of the sprite a picture shows; false when there are none.
    virtual bool SpriteFrame(const qvSpriteInstance&, int32_t /*frame*/, gfx::PictureView*) {
        return false;
    }
    // Where a brush (type BRUSH) or an anim frame (type ANIM) keeps its mask and alpha
    // plane; false when the object is not found.
    virtual bool PlaneSlots(uint32_t /*type*/, qvObjectId, int32_t /*frame*/,
                            qvPlaneBitMap*** /*mask*/, qvPlaneBitMap*** /*alpha*/) {
        return false;
    }
    // Frees the orphaned brushes, anims and text objects that no layer shows any more.
    virtual void FreeOrphanBrushes(qvVmState*) {}
    virtual void FreeOrphanAnims(qvVmState*) {}
    virtual void FreeOrphanTextObjects(qvVmState*) {}
    // Frees the first button of the picture that is attached to the layer.
    virtual void FreeButtonOfLayer(qvVmState*, qvBGPic*, const qvLayer*) {}
    // Attaches the picture's buttons of one layer to another that replaces it.
    virtual void MoveButtons(qvBGPic*, const qvLayer* /*from*/, qvLayer* /*to*/) {}

    // Drawing into layers (LayerToImage). A new brush of width x height made of the planes
    // under an automatic id, which goes to *id; the planes become the brush's only on
    // success. 0 or the maker's error.
    virtual int AddLayerBrush(qvVmState* L, qvDisplayBitMap* bitmap, qvPlaneBitMap* mask,
                              qvPlaneBitMap* alpha, int32_t width, int32_t height, qvObjectId* id);
    // The brush a BRUSH or BRUSHPART layer shows made the layer's own: unless it is already
    // a private copy that no other layer shows, the layer is given a copy (its object id
    // becomes the copy's). Its planes and size; 0 or the lookup's or the copy's error.
    virtual int PrivateLayerBrush(qvVmState* L, qvLayer* layer, gfx::PictureView* out);
    // The same for an ANIM layer (a copy of all its frames); the planes of frame (from 0) at
    // the anim's size.
    virtual int PrivateLayerAnim(qvVmState* L, qvLayer* layer, int32_t frame,
                                 gfx::PictureView* out);

    // The object selector: drawing on the current display goes into an object (type 1 a
    // background picture, 22 a layer) with selection mode 0 (pixels) or 1 (pixels, mask and
    // alpha); frame (from 1) names the frame of an anim layer, else it is 0.
    virtual int SelectOutputObject(qvVmState* L, uint32_t type, qvObjectId id, int32_t selMode,
                                   int32_t combo, int32_t frame);
};

// The installed hooks, or the defaults; nullptr restores the defaults.
ObjectHooks& Objects();
void SetObjectHooks(ObjectHooks* hooks);

}  // namespace qv::scene
