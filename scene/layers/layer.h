// Layers: what drawing left on a background picture for the compositor to paint, bottom
// first. A layer remembers what it shows (an object by its id pair, or a drawing), where and
// with which style, and keeps up to three items: its geometry as the drawing command gave it
// (source), in the picture's coordinates with the layer's transform applied (picture) and
// scaled to the display by the layer scaling engine (display). Two or three of the roles may
// be one record; everything that frees items frees each distinct item once.
//
// Item kinds are records derived from qvLayerItem. Each frees its own images and owned
// arrays in its destructor and copies itself through Copy(), so the layer code never needs
// to know the shape of the items that the drawing libraries define.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "engine/vm.h"
#include "gfx/clip.h"
#include "gfx/clip_region.h"
#include "objects/draw_tags.h"
#include "objects/text/text_extent.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/memory.h"
#include "runtime/lists.h"
#include "runtime/objects.h"
#include "scene/layers/filter_table.h"

struct qvBGPic;

// A colour bitmap with its optional 1-bit mask and 8-bit alpha plane, owned by the item that
// holds it.
struct qvLayerImage {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = nullptr;
};

// The header every item starts with. Items live in blocks of the run-time allocator
// (qv::NewBlock) and are freed with FreeLayerItem.
struct qvLayerItem {
    qvLayerImage image;        // the drawing rendered at the item's size, or a snapshot
    qvLayerImage transformed;  // after the layer's transform
    qvLayerImage filtered;     // after the layer's filters
    qvLayerImage border;       // the border image
    qvPlaneBitMap* shadowPlane = nullptr;
    qvClipRegion* clipRegion = nullptr;  // limits where the item is painted, or none
    bool ownsClipRegion = false;         // a transformed copy made for this item
    int32_t x = 0, y = 0;                // as the drawing command gave them, in picture pixels
    int32_t width = 0, height = 0;       // of the content before transform and scaling
    int32_t drawX = 0, drawY = 0;        // where the item's image is painted
    int32_t anchoredX = 0, anchoredY = 0;
    int32_t drawWidth = 0, drawHeight = 0;
    int32_t borderDX = 0, borderDY = 0, borderWidth = 0, borderHeight = 0;

    qvLayerItem() = default;
    qvLayerItem& operator=(const qvLayerItem&) = delete;
    // Frees every image, the shadow plane and an owned clip region.
    virtual ~qvLayerItem();

    // A copy of the item's parameters for another role, its images and clip region cleared;
    // none when memory is short.
    virtual qvLayerItem* Copy() const;
    // Moves the end points a line item keeps (shape items override it).
    virtual void Translate(int32_t /*dx*/, int32_t /*dy*/) {}
    // Whether a border of the colour is all the item shows: an unfilled shape or path whose
    // outline has the border's colour (shape and path items override it).
    virtual bool HiddenUnderBorder(uint32_t /*borderColour*/) const { return false; }
    // The size the layer's transform refers to (its explicit size and its scale): the
    // content's own, which is the item's unless the drawing measured its tags against another
    // (a path's filled area, which its stroke overhangs).
    virtual void OwnSize(int32_t* ownWidth, int32_t* ownHeight) const {
        *ownWidth = width, *ownHeight = height;
    }

protected:
    // Copies every field; Copy() then clears what the copy must not share.
    qvLayerItem(const qvLayerItem&) = default;
    void ForgetImages();
    // The copy that make constructs in a fresh block, its images and clip region cleared;
    // none when memory is short.
    template <typename T, typename Make>
    static T* InBlock(Make make) {
        void* block = AllocMemBlock(sizeof(T), 0);
        if (block == nullptr) return nullptr;
        T* copy = make(block);
        copy->ForgetImages();
        return copy;
    }
};

// BRUSH, BRUSHPART and BGPICPART layers: the offset of the shown part inside the object.
struct qvImageItem : qvLayerItem {
    int32_t partX = 0, partY = 0;

    qvImageItem() = default;
    qvLayerItem* Copy() const override;

protected:
    qvImageItem(const qvImageItem&) = default;
};

// ANIM layers: the frame shown (from 0), the frame count and the anim code's own word.
struct qvAnimItem : qvLayerItem {
    int32_t frame = 0;
    int32_t frameCount = 0;
    int32_t animWord = 0;

    qvAnimItem() = default;
    qvLayerItem* Copy() const override;

protected:
    qvAnimItem(const qvAnimItem&) = default;
};

inline constexpr int kTextTabStops = 32;

// What a text layout is asked to lay out and render: the text, its style, where, and the line
// breaks and tab results a first layout recorded so that a redraw (at another scale) repeats
// them. A plain record: a layout of Print, TextOut or a text object may lend it a text and
// tables that stay the caller's; a text layer's item (qvTextRender) owns its own.
struct qvTextParams {
    qvTextStyle style{};
    char* text = nullptr;  // NUL-terminated
    int32_t alignment = 0;
    int32_t cursorX = 0, cursorY = 0;
    int32_t leftMargin = 0, rightMargin = 0;  // the right margin is the wrap width
    int32_t tabs[kTextTabStops] = {};
    int32_t tabCount = 0;
    int32_t* wordBreaks = nullptr;  // the words before which a line breaks
    int32_t wordBreakCount = 0;
    int32_t* tabResults = nullptr;  // the tab stop each tab of a Print text used, or -1
    int32_t tabResultCount = 0;
    int32_t encoding = 0;  // 0 ISO-8859-1, 1 UTF-8
};

// TEXTOUT and PRINT layers: the item with the parameters its text was rendered with. It owns
// its text and tables (blocks), which go with it.
struct qvTextRender : qvLayerItem, qvTextParams {
    bool tagsOff = false;  // laid out with the tags off, as a redraw must lay it out again

    qvTextRender() = default;
    ~qvTextRender() override;
    qvLayerItem* Copy() const override;

protected:
    qvTextRender(const qvTextRender&) = default;
};

// A copy of a text render record with its own text and tables (each table with room for one
// entry more than it holds) and no images or clip region; none when memory is short (nothing
// is left behind).
qvTextRender* NewTextRenderRecord(const qvTextRender* source);
// Frees the record with its images, text and tables; none is allowed.
void FreeTextRender(qvTextRender* render);

inline constexpr int kLayerNameLength = 255;
inline constexpr int kLayerGroupSize = 256;

struct qvLayer {
    qvListNode node;
    uint32_t type;          // the object type shown; NOOBJECT while the layer goes
    qvObjectId objectId;    // what it shows now: a private copy's id once detached
    qvObjectId creationId;  // what it was made with
    int32_t hidden;
    int32_t deferred;  // added while drawing went into the picture the display shows
    uint32_t transparency;
    char* name;  // a block, at most kLayerNameLength characters; none when unnamed
    char group[kLayerGroupSize];
    int32_t refreshHold;      // non-zero: restyling leaves the repaint to whoever set it
    int32_t displayRebuild;   // a display rebuild keeps the transformed buffers
    int32_t noClipTransform;  // the clip region is not transformed with the layer
    qvDrawTransform transform;
    double anchorX, anchorY;
    qvShadowBlock shadow;
    uint32_t shadowFade;  // 0, or 1 + the factor (of 255) the shadow's opacity is scaled by
    qvBorderBlock border;
    uint32_t borderFade;
    qvLayerFilter filters[kLayerFilterCount];
    int32_t movingFilter;  // an active filter moves pixels
    qvObjectDataEntry* references;
    qvLayerItem* sourceItem;
    qvLayerItem* pictureItem;
    qvLayerItem* displayItem;
};

// The names of the object types 0 to 56, as layer listings print them.
inline constexpr const char* qvObjectTypeNames[57] = {"",
                                                      "BGPIC",
                                                      "SAMPLE",
                                                      "BRUSH",
                                                      "ANIM",
                                                      "SNDMODULE",
                                                      "KEYDOWN",
                                                      "NOOBJECT",
                                                      "TEXTOBJECT",
                                                      "TEXTOUT",
                                                      "UNDO",
                                                      "PRINT",
                                                      "BRUSHPART",
                                                      "BGPICPART",
                                                      "BOX",
                                                      "CIRCLE",
                                                      "ELLIPSE",
                                                      "LINE",
                                                      "PLOT",
                                                      "MAINWINDOW",
                                                      "ANIMDISK",
                                                      "DISPLAY",
                                                      "LAYER",
                                                      "HIDEBRUSH",
                                                      "INSERTBRUSH",
                                                      "HIDELAYER",
                                                      "REMOVELAYER",
                                                      "POLYGON",
                                                      "MASK",
                                                      "NEXTFRAME",
                                                      "ALPHACHANNEL",
                                                      "ARC",
                                                      "SPRITE",
                                                      "MUSIC",
                                                      "NEXTFRAME2",
                                                      "CLIPREGION",
                                                      "POINTER",
                                                      "ASYNCDRAW",
                                                      "DOUBLEBUFFER",
                                                      "MEMORY",
                                                      "EVENTHANDLER",
                                                      "INTERVAL",
                                                      "TIMEOUT",
                                                      "FONT",
                                                      "FILE",
                                                      "DIRECTORY",
                                                      "X",
                                                      "X",
                                                      "X",
                                                      "VECTORPATH",
                                                      "VIDEO",
                                                      "MOVELIST",
                                                      "ANIMSTREAM",
                                                      "TIMER",
                                                      "CLIENT",
                                                      "SERVER",
                                                      "UDPOBJECT"};

// Flags of AddLayer.
enum : int {
    QV_ADDLAYER_HIDDEN = 1,
    QV_ADDLAYER_DISPLAYITEM = 2,  // also build the display item under layer scaling
    QV_ADDLAYER_CALLERREFRESH = 4,
    QV_ADDLAYER_REPLACE = 8,     // replace the layer at the insert position
    QV_ADDLAYER_NOREFRESH = 16,  // the caller repaints the replaced layer's and the new place
};

// Adds a layer showing type (id pair or none) to the current output picture, for an item
// the caller filled (a block of qv::NewBlock); x, y, width and height go into it, and so do
// the planes. transform and style (drawing tags; its "insertpos" is clamped in place) may be
// none. Insert position: -1 on top, 1 at the bottom, n >= 2 the n-th layer, 0 or beyond the
// count on top. The item and the planes are the layer's from the call on: on failure they
// are freed. 0, ERR_NOLAYERS (no output picture), ERR_MEM, or the name's or the cache's
// error.
int AddLayer(qvVmState* L, uint32_t type, const qvObjectId* id, int32_t x, int32_t y, int32_t width,
             int32_t height, const qvDrawTransform* transform, qvDrawStyle* style,
             qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, qvLayerItem* item,
             int32_t insertPos, int flags);
// A layer of a brush, a brush part or a picture part whose part starts at (partX, partY)
// inside the object (0 for whole brushes); the planes are a private snapshot or none.
// ERR_MEM when the item cannot be made (the planes are freed), else AddLayer's result.
int AddBrushLayer(qvVmState* L, uint32_t type, const qvObjectId* id, int32_t partX, int32_t partY,
                  int32_t x, int32_t y, int32_t width, int32_t height,
                  const qvDrawTransform* transform, qvDrawStyle* style, qvDisplayBitMap* bitmap,
                  qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t insertPos, int flags);

struct qvRectList;

// Unlinks and frees a layer with its button. Its bounds go to the out values (each may be none);
// unless noRefresh they are refreshed, or appended to list when one is given (refreshed at once
// when it cannot grow). Orphans of the kind it showed are collected afterwards.
void RemoveLayerRecord(qvVmState* L, qvLayer* layer, int noRefresh, int32_t* x, int32_t* y,
                       int32_t* width, int32_t* height, qvRectList* list);
// Frees every layer of the picture with the button attached to it (each distinct item once,
// whatever its type word says); with collect the orphans afterwards.
void FreeLayerList(qvVmState* L, qvBGPic* picture, bool collect = false);

// The n-th layer from the bottom (1-based), or none.
qvLayer* GetLayerByIndex(const qvBGPic* picture, int32_t n);
int32_t CountLayers(const qvBGPic* picture);
// The layer's 1-based position in the current output picture, or -1.
int32_t IndexOfLayer(const qvLayer* layer);
// The layer's 1-based position in the picture, or -1.
int32_t IndexOfLayer(const qvBGPic* picture, const qvLayer* layer);
// The position of the first named layer whose name equals name ignoring case, or 0.
int32_t IndexOfLayerByName(const qvBGPic* picture, const char* name);
bool LayerHasFilter(const qvLayer* layer);

// The layer argument idx as a position: a number as it is (the caller checks the range), a
// name looked up ignoring case. Raises ERR_FINDLAYER for a name no layer has and
// ERR_STRORNUM for another type.
int32_t FindLayerArg(qvVmState* L, int idx, const qvBGPic* picture);
// The layer argument of the commands that take a layer or a group. A number or a layer name
// selects one layer (*matchIndex -1, *group 0). A group name selects the member whose rank
// among the group's members equals *matchIndex, sets *group to 1 and *matchIndex to the next
// member's rank, or -1 after the last; callers start at 0 and loop until -1. 0, or
// ERR_LAYERRANGE, ERR_FINDLAYER (with the name) or ERR_STRORNUM.
int FindLayerOrGroup(qvVmState* L, int idx, const qvBGPic* picture, qvLayer** layer,
                     int32_t* matchIndex, int32_t* group);
// Names the layer: 0, ERR_NAMETOOLONG, ERR_NAMEUSED (the name or group name of a layer of
// the current output picture, ignoring case) or ERR_MEM, the old name kept on error. An
// empty name removes the name.
int SetLayerNameString(qvLayer* layer, const char* name);
// Where the object a brush, brush part, picture part or anim layer shows keeps its mask and
// alpha plane (the anim's for the frame); none for other layers.
void GetLayerMaskAlphaSlots(qvLayer* layer, int32_t frame, qvPlaneBitMap*** mask,
                            qvPlaneBitMap*** alpha);

// Item and cache release.
void FreeLayerImage(qvLayerImage* image);
void FreeLayerItem(qvLayerItem* item);
void FreeLayerItems(qvLayer* layer);
// The four images, the shadow plane and an owned clip region of an item.
void FreeLayerRender(qvLayerItem* item);
// The filtered image of one item, of every distinct item, the border images, the shadow
// planes.
void FreeRenderBitmaps(qvLayerItem* item);
void FreeLayerGeometryBitmaps(qvLayer* layer);
void FreeLayerBorderCache(qvLayer* layer);
void FreeLayerCaches(qvLayer* layer);
// The item's deep copy (the entry the path and shape layers use); none when memory is short.
qvLayerItem* CopyShapeRecord(const qvLayerItem* item);

// Kinds of FreeUnusedCaches: the orphans of brushes, anims, text objects and pictures that no
// layer shows are freed; unused orphaned clip regions always.
enum : int {
    QV_CACHE_BRUSHES = 1,
    QV_CACHE_ANIMS = 2,
    QV_CACHE_TEXTOBJECTS = 4,
    QV_CACHE_BGPICS = 8,
    QV_CACHE_ALL = 15,
};
void FreeUnusedCaches(qvVmState* L, int flags);

// Start-up of the layers: the work rectangle list (1024 entries) and the lookup of layer
// names for option tables. 0 or ERR_MEM.
int InitLayerLists();
// Exit: frees the work rectangle list.
void FreeLayerLists(qvVmState* L);

namespace qv::scene {

// Calls visit for each layer of the list, bottom first (from first when given); visit may
// free the layer it gets.
template <typename Visit>
void ForEachLayer(qvList* layers, Visit visit, qvLayer* first = nullptr) {
    for (qvListNode* node = first != nullptr ? &first->node : layers->head;
         node->succ != nullptr;) {
        qvListNode* next = node->succ;
        visit(reinterpret_cast<qvLayer*>(node));
        node = next;
    }
}

// The layer's distinct items, the rest none.
std::array<qvLayerItem*, 3> DistinctItems(const qvLayer* layer);

// How far an anchor (a fraction of the side) moves a side of that size: trunc(size x anchor).
inline int32_t AnchorShift(int32_t size, double anchor) {
    const double shift = std::trunc(size * anchor);
    return std::isfinite(shift) && std::fabs(shift) < 2e9 ? int32_t(shift) : 0;
}

// A position moved back by the anchor's shift, held within 32 bits (a position near -2^31
// stays at the limit rather than wrap to the far right).
inline int32_t Anchored(int32_t position, int32_t size, double anchor) {
    return qv::Saturate32(int64_t{position} - AnchorShift(size, anchor));
}

// The list the layer commands collect their rectangles in.
qvRectList* WorkRects();

}  // namespace qv::scene
