// The layer list's side of the object display engine: the layers that show brushes, brush
// parts and picture parts, made again under a new transform, and the picture a layer shows
// read back for a new brush. The display library's scene seam answers through these.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/scene_seam.h"

struct qvLayer;

namespace qv::scene {

// A layer of the current output picture for the object; the planes handed over are the
// layer's (freed on failure). 0, ERR_NOLAYERS, ERR_MEM or the layer list's error.
int AddObjectLayer(qvVmState* L, const objects::ObjectLayer& layer);
// The layer's picture made again under the transform, which becomes the layer's; the layer
// keeps its transform and picture on failure. 0 or the error of the render.
int RenderObjectLayerAgain(qvVmState* L, qvLayer* layer, const qvDrawTransform* transform);
// The part of its planes that the layer named by argument idx shows now, with its transform
// and filters; frame (from 1) chooses an animation layer's frame. 0, ERR_LAYERRANGE or the
// error of the layer's object; a bad name or argument type is raised.
int ObjectLayerPicture(qvVmState* L, int idx, int32_t frame, objects::PicturePart* out);

}  // namespace qv::scene
