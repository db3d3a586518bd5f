// Output redirection: drawing commands draw into the current output picture, normally the
// current display's picture. SelectBGPic redirects them into a background picture through
// its layers (changes are recorded as dirty rectangles and repainted together when the
// redirection ends); the object selector redirects them into an object's bitmaps through a
// pseudo-picture, a picture-shaped record that lends the object's planes. This is the
// pseudo-picture, the ending of any redirection, and the redirection into a picture.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"

struct qvBGPic;
struct qvDisplay;
struct qvRectList;

// Selection modes of SelectBGPic.
enum : int32_t {
    SELMODE_NORMAL = 0,
    SELMODE_COMBO = 1,
    SELMODE_LAYERS = 2,
};

// Fills a pseudo-picture for drawing into an object of the target kind (3 brush, 1 picture, 4
// anim, 22 layer): its id pair (none: 0), the object record, the frame (from 0), the object's
// planes as all three sets and its size as all three sizes. With clear the record is emptied
// first (its layer list made empty).
void FillOutputRecord(qvBGPic* record, int32_t kind, void* object, int32_t frame,
                      const qvObjectId* id, qvDisplayBitMap* bitmap, qvPlaneBitMap* mask,
                      qvPlaneBitMap* alpha, int32_t width, int32_t height, int clear);

// Ends any redirection of the display (the current one): its own output is current again,
// or its double buffer when one waits. A picture drawn into directly is made again from its
// drawn base set first (also when the double buffer waits). Drawing into the shown picture is
// repainted now (the merged dirty rectangles, or the whole picture when the list is whole)
// unless keepDirty; a layer drawn into is refreshed or rebuilt. Returns 0 or the error of the
// remake or the rebuild (the output is back all the same).
int SetOutputBGPic(qvVmState* L, qvDisplay* display, int keepDirty);

// The end of drawing into the shown picture through its layers: the layers added meanwhile
// show, and unless keepDirty the dirty rectangles (merged, or the whole picture when the list
// is whole) are repainted and the list emptied.
void RepaintRedirectedPicture(qvVmState* L, qvBGPic* picture, qvRectList* dirty, int keepDirty);

// The display hook: ends the redirection of a display that stops being current.
int EndDisplayRedirection(qvVmState* L, qvDisplay* display);

// The "bgpic" library's SelectBGPic(id [, mode [, combo]]) and EndSelect().
int SelectBGPic(qvVmState* L);
int EndSelect(qvVmState* L);
