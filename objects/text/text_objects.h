// Text objects (object type TEXTOBJECT 8): a text rendered once into a bitmap with a mask or
// an alpha plane, kept under an id, shown directly or as layers, scaled and rotated by
// rendering its layout again (so outline text stays sharp). A text object that layers show
// when it is freed stays as an orphan for them until no layer shows it.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw_tags.h"
#include "runtime/objects.h"
#include "scene/layers/layer.h"

struct qvTextObject {
    qvObjectHeader header;
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;   // or none
    qvPlaneBitMap* alpha;  // or none
    int32_t width, height;
    int32_t baseWidth, baseHeight;  // as created: the base of scaling and of the drawing tags
    int32_t offsetX, offsetY;       // the bitmap's top-left from the text's position (<= 0)
    int32_t lockCount;
    int32_t orphan;
    qvTextRender* layout;  // the record that produced it, owned
    qvDrawTransform transform;
    int32_t scaledWidth, scaledHeight;
    int32_t rotation;  // degrees, the remainder of the angle by 360 with its sign
};

// Flags of FindTextObject.
enum : int {
    QV_TEXTOBJECT_MODIFY = 1,   // refuse a locked object; layers showing it get a copy first
    QV_TEXTOBJECT_ORPHANS = 2,  // orphans are found too
    QV_TEXTOBJECT_NOCOPY = 4,   // with MODIFY: no copy for the layers
};

// 0 with the object, else ERR_FINDARRAY (automatic id), ERR_FINDTEXTOBJECT (with the
// number), ERR_LOCKEDOBJ or the copy's error.
int FindTextObject(qvVmState* L, qvObjectId id, qvTextObject** out, int flags);

// Shows an object at (x, y) (position constants resolved against its size) on the current
// output: as a TEXTOBJECT layer with layers on, else blitted. transform none reads the
// drawing tags of argument 4. Flags as RenderText's; with 1 or 8 a layer is added and nothing
// drawn here, with 4 the layer code draws it.
int DisplayTextObjectEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y,
                        const qvDrawTransform* transform, int flags);

// A TEXTOBJECT layer for the transition and movement code; its item keeps (x, y) and the
// layout's size. AddLayer's result.
int AddTextObjectLayer(qvVmState* L, qvTextObject* object, int32_t x, int32_t y, int32_t width,
                       int32_t height, const qvDrawTransform* transform, qvDrawStyle* style,
                       int flags);

// Frees the object, or keeps it as an orphan while layers show it. Not found is an error
// only with report; a locked object is ERR_LOCKEDOBJ.
int FreeTextObjectEx(qvVmState* L, qvObjectId id, bool report);

// Frees the orphans that no layer shows any more.
void FreeOrphanTextObjects(qvVmState* L);
// Shutdown: every text object.
void FreeTextObjects(qvVmState* L);
