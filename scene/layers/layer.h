// Layers: what drawing left on a background picture for the compositor to paint, bottom
// first. A layer shows an object by its id pair and keeps up to three items (its geometry in
// source, picture and display coordinates), two or three of which may be one record.
//
// These are the fields that the picture list reads: the links, what the layer shows and the
// clip region of each item; the layer code adds the rest of both records.
#pragma once

#include <array>
#include <cstdint>

#include "engine/vm.h"
#include "gfx/clip_region.h"
#include "objects/text/text_extent.h"
#include "runtime/lists.h"
#include "runtime/objects.h"

struct qvBGPic;

struct qvLayerItem {
    qvClipRegion* clipRegion;  // limits where the item is painted, or none
};

struct qvLayer {
    qvListNode node;
    uint32_t type;          // the object type shown; kTypeNoObject while the layer goes
    qvObjectId objectId;    // what it shows now: a private copy's id once detached
    qvObjectId creationId;  // what it was made with
    qvLayerItem* sourceItem;
    qvLayerItem* pictureItem;
    qvLayerItem* displayItem;
};

// The item of a text drawn by TextOut or Print, and the request of every text layout: what
// the text is, in which style, where, and the line breaks a layout recorded so that a redraw
// repeats them.
struct qvTextRender {
    qvLayerItem item;
    qvTextStyle style;
    char* text;  // owned copy
    int32_t alignment;
    int32_t cursorX, cursorY;
    int32_t leftMargin;
    int32_t rightMargin;  // the wrap width for TextOut and text objects
    int32_t tabs[32];
    int32_t tabCount;
    int32_t* wordBreaks;  // owned: the numbers of the words a line break comes before
    int32_t wordBreakCount;
    int32_t* tabResults;  // owned: per tab character the stop it went to, or -1 for a break
    int32_t tabResultCount;
    int32_t encoding;  // 0 ISO-8859-1, 1 UTF-8
};

// A copy with its own text and tables (allocated with one entry more than they hold) that
// shares no image or clip region with the source; none when memory runs out.
qvTextRender* NewTextRenderRecord(const qvTextRender* source);
// Frees the record with its text and tables; none is allowed.
void FreeTextRender(qvTextRender* record);

// Frees every layer of the picture with its items (each distinct item once) and empties
// the list.
void FreeLayerList(qvVmState* L, qvBGPic* picture);

namespace qv::scene {

// Calls visit for each layer of the list, bottom first; visit may free the layer it gets.
template <typename Visit>
void ForEachLayer(qvList* layers, Visit visit) {
    for (qvListNode* node = layers->head; node->succ != nullptr;) {
        qvListNode* next = node->succ;
        visit(reinterpret_cast<qvLayer*>(node));
        node = next;
    }
}

// The layer's distinct items, the rest none.
std::array<qvLayerItem*, 3> DistinctItems(const qvLayer* layer);

}  // namespace qv::scene
