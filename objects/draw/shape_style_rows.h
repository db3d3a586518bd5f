// The style engine's rows of the shape layer types (BOX, CIRCLE, ELLIPSE, LINE, POLYGON, ARC):
// how SetLayerStyle reads their geometry and GetLayerStyle reports it.
#pragma once

#include "engine/vm.h"
#include "objects/draw/shape_records.h"
#include "scene/layers/style_rows.h"

namespace qv::draw {

// The keys shape and path layers share: "color", then the form, fill, gradient and texture
// keys into the item's draw state (the shadow and border switches into the working layer).
// Each key asks for a rebuild. 0 or the form-style reader's error.
int ReadShapeColourAndForm(qvVmState* L, int t, scene::LayerStyleWork* work, qvShapeItem* item);
// Their GetLayerStyle keys: "color" and the form keys.
void PushShapeColourAndForm(qvVmState* L, const qvShapeItem& item);

// Installs the rows of the six shape types.
void InstallShapeStyleRows();

}  // namespace qv::draw
