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
