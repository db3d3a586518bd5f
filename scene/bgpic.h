// Background pictures (object type BGPIC 1): the canvas a display shows and the owner of what
// is placed on it (its layer list, on-screen sprites and buttons). The picture list keeps
// pictures in creation order; lookups by id give a layer that shows a picture a private copy
// before the picture changes, and a freed picture that something still shows stays in the
// list as an orphan until nothing does. The same record shape is the pseudo-picture through
// which drawing is redirected.
//
// Pictures made while the applet's resources are preloaded keep their decoded ARGB image
// (the image handle) and get their bitmaps when the first display opens (RebuildBGPics).
// Gradient, textured and vector-format pictures are vector sources: scaling makes them
// again at the new size rather than stretching them.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/clip_region.h"
#include "gfx/gradient.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/blocks.h"
#include "runtime/image_handles.h"
#include "runtime/lists.h"
#include "runtime/objects.h"

struct qvBGPicButton;
struct qvLayer;
struct qvSprite;

// A sprite shown on a picture; list order is drawing order.
struct qvSpriteInstance {
    qvSpriteInstance* next;
    qvObjectId id;
    int32_t x, y;
    int32_t width, height;  // when placed
    int32_t frame;          // 1 to the frame count
    qvSprite* sprite;
    qvClipRegion* clipRegion;  // the output picture's when placed, or none
};

// A colour bitmap with its optional 1-bit mask and 8-bit alpha plane.
struct qvBGPicSet {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
};

// Fill styles (the FILL* constants).
enum : int32_t {
    QV_FILL_NONE = 0,
    QV_FILL_COLOUR = 1,
    QV_FILL_GRADIENT = 2,
    QV_FILL_TEXTURE = 3,
};

// How a picture is filled: behind a transparent loaded picture, or all of a gradient or
// textured one (made again at every new size).
struct qvBGPicFill {
    int32_t style;
    uint32_t colour;  // 0xRRGGBB
    qvGradient gradient;
    qvObjectId textureBrush;
    qvDisplayBitMap* texture;  // a private copy of the brush's bitmap, owned
    int32_t textureX, textureY;
};

struct qvBGPic {
    qvObjectHeader header;
    qvImageHandle* image;  // the decoded picture the bitmaps are made from, or none
    // The set drawn and composed, the set scaled for the display and the set made from the
    // source; a part may be the same bitmap as in another set.
    qvBGPicSet shown;
    qvBGPicSet scaled;
    qvBGPicSet base;
    int32_t shownWidth, shownHeight;
    int32_t width, height;  // the coordinate space of drawing, the size a display takes
    int32_t baseWidth, baseHeight;
    int32_t alphaMode;          // 1 when the picture brought its alpha channel
    int32_t transparentColour;  // 0xRRGGBB keyed out at conversion, -1 for none
    qvARGB* palette;            // 256 colours from the loader, owned, or none
    qvList layers;              // qvLayer records, bottom first
    qvSpriteInstance* sprites;
    int32_t locked;  // changes are refused while asynchronous drawing uses the picture
    int32_t orphan;  // freed by the script or a private copy: only its layers reach it
    qvBGPicButton* buttons;
    // Output redirection (pseudo-pictures only).
    int32_t outputKind;
    int32_t outputFrame;
    void* outputObject;
    int32_t outputWriteBack;
    int32_t outputSelection, outputCombo;  // the selection mode and combo flag of the selector
    int32_t outputFetched;                 // the object's planes were fetched since the selection
    int32_t transitionTarget;              // a running asynchronous drawing object draws into it
    qvClipRegion* clipRegion;              // in force for drawing into the picture, or none
    qvBGPicFill fill;
    int32_t vector;  // scaling makes the picture again from its image handle or its fill
};

// Flags of GetBGPic.
enum : int {
    QV_BGPIC_MODIFY = 1,   // the caller changes the picture: refuse a locked one, copy-on-write
    QV_BGPIC_ORPHANS = 2,  // orphans are found too
    QV_BGPIC_NOCOPY = 4,   // with QV_BGPIC_MODIFY: no copy for the layers
};

// The handle of a clone made for the layers that show an object; 0 or an error code.
using qvCloneForLayers = int (*)(qvVmState* L, void* object, void** cloneHandle);

namespace qv::scene {

// What the picture list asks of the displays and the buttons. The display subsystem installs
// its answers; until then there is no display.
class BGPicHost {
public:
    virtual ~BGPicHost() = default;
    // Whether a display of the list shows the picture, whatever the display's state.
    virtual bool ShownByDisplay(const qvBGPic*) { return false; }
    // Whether drawing goes into the picture with this id pair: the current display's output
    // picture, or the picture whose bitmap, mask or alpha channel is selected as output.
    virtual bool DrawingInto(qvObjectId) { return false; }
    // The picture the current display shows; none without a display.
    virtual qvBGPic* CurrentDisplayPicture() { return nullptr; }
    // Shows the rectangle of the current display's picture again.
    virtual void RefreshRect(qvVmState*, int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                             int32_t /*height*/) {}
};

// The installed host, or one without displays; nullptr restores that one.
BGPicHost& Host();
void SetBGPicHost(BGPicHost* host);

// Frees a picture's buttons with their script references. The event side installs it and it
// stays to the end of the run: at shutdown the pictures go after the displays' hosts.
using FreeButtonsHook = void (*)(qvVmState* L, qvBGPic* picture);
void SetFreeButtons(FreeButtonsHook hook);
FreeButtonsHook InstalledFreeButtons();

// The head of the picture list (registered with the object registry).
qvObjectHeader** BGPicList();

// What a new picture is made of; owned here until AddBGPic takes it.
struct BGPicParts {
    OwnedBitMap bitmap;
    OwnedPlane mask;
    OwnedPlane alpha;
    ImageHandleRef image;
    BlockPtr<qvARGB> palette;
    int32_t width = 0, height = 0;
    int32_t vector = 0;
    int32_t alphaMode = 0;
    int32_t transparentColour = -1;
    qvBGPicFill fill{};  // its texture is owned here too

    BGPicParts() = default;
    ~BGPicParts() { FreeDisplayBitMap(fill.texture); }
    BGPicParts(const BGPicParts&) = delete;
    BGPicParts& operator=(const BGPicParts&) = delete;
};

// The id pair that asks AddBGPic for an automatic id.
inline qvObjectId AutomaticId() {
    static char marker;
    return {0, &marker};
}

}  // namespace qv::scene

// Appends a picture made of parts, whose every set is the given bitmap, mask and alpha and
// whose every size is parts' size. An automatic id (a handle in *id) becomes the record's
// address, in the record and in *id. 0 with the parts taken, or ERR_MEM with them untouched.
int AddBGPic(qvObjectId* id, qv::scene::BGPicParts* parts, qvBGPic** out);

// The picture with the id pair (QV_BGPIC_* flags); 0 with *out set, or ERR_FINDARRAY for a
// handle, ERR_FINDBGPIC with the number as message argument, ERR_LOCKEDOBJ, or the error of
// the copy for the layers (nothing changed then), with *out cleared.
int GetBGPic(qvVmState* L, qvObjectId id, qvBGPic** out, int flags);

// Copy-on-write of a picture about to change: layers that show it are given a copy (an
// orphan) to show instead. 0 or the copy's error, with nothing changed.
int DetachBGPic(qvVmState* L, qvBGPic* picture);

// Frees the picture with the id pair, or keeps it as an orphan while a layer or a display
// shows it. ERR_MODIFYABGPIC while drawing goes into it and ERR_LOCKEDOBJ always end it; a
// missing picture is an error only with report.
int FreeBGPicById(qvVmState* L, qvObjectId id, int report);

// Frees what the picture holds (not the record): layers, image handle, bitmaps, palette,
// texture, buttons, sprites and script references.
void FreeBGPicContents(qvVmState* L, qvBGPic* picture);
// Frees the scaled and shown sets where they are not the base set's parts (each part once).
void FreeScaledBGPicBitmaps(qvBGPic* picture);
// Shutdown: every picture.
void FreeAllBGPics(qvVmState* L);
// Frees the orphans that no layer, no display and no drawing reaches any more.
void FreeOrphanBGPics(qvVmState* L);

// Copy-on-write for any object: when a layer of any picture shows it (for a clip region:
// uses it), clone makes a copy with an automatic id, the layers that show the object are
// repointed to the copy (not for clip regions), and its handle goes to *cloneHandle (the
// caller marks the copy orphan). 0 without a layer (*cloneHandle untouched) or after the
// copy, else clone's error with nothing repointed.
int DetachObjectFromLayers(qvVmState* L, uint32_t type, qvObjectId id, qvCloneForLayers clone,
                           void* object, void** cloneHandle);
// Repoints every layer that shows the object to the orphan record (id 0, its address) and
// tells whether there was one; for a clip region (object the region), whether a layer
// uses it.
bool ObjectInUseByLayers(uint32_t type, qvObjectId id, void* orphan);
// The same test leaving one layer out, repointing nothing.
bool ObjectInUseByOtherLayers(uint32_t type, qvObjectId id, const void* object,
                              const qvLayer* layer);
// Removes a freed clip region from the items of every layer.
void ClearLayerClipRegionRefs(const qvClipRegion* region);
// Every listed picture whose active clip region is the region forgets it.
void ClearPictureClipRegionRefs(const qvClipRegion* region);
// The layers of all pictures.
int32_t CountAllLayers();
// Whether anything is composed over the picture: then it shows as more than its bitmap.
bool HasLayersOrSprites(const qvBGPic* picture);
// Whether the rectangle overlaps a sprite on the picture.
bool RectHitsSprite(const qvBGPic* picture, int32_t x, int32_t y, int32_t width, int32_t height);
// Removes a freed clip region from the sprites of the current display's picture and shows
// their union again.
void ClearSpriteClipRegionRefs(qvVmState* L, const qvClipRegion* region);

// Makes the bitmaps of every picture that has an image handle, or that has no bitmap but a
// fill (a display's own picture made while preloading), in list order, in the screen's
// format; the first error stops it, leaving the pictures before converted and the rest as
// they were. The handles are then released but a vector source's.
int RebuildBGPics(qvVmState* L);

// The bitmaps of a picture of width x height: from ARGB pixels (keyed by the transparent
// colour, -1 for none) and, with a fill whose style is not none behind a picture that has a
// mask or an alpha channel (*alpha in), or without pixels, a filled bitmap with the picture
// drawn through its mask or alpha onto it. A textured fill without its texture copies the
// texture brush's bitmap into fill first. *alpha stays the caller's unless it was drawn
// (then it is freed and none). 0, ERR_MEM, or the brush lookup's error, with nothing made.
int MakeBGPicImage(qvVmState* L, const qvARGB* pixels, qvBGPicFill* fill, int32_t transparent,
                   int32_t width, int32_t height, qvDisplayBitMap** bitmap, qvPlaneBitMap** mask,
                   qvPlaneBitMap** alpha);

// A copy of the picture with every part (the base and scaled bitmap sets as they share,
// palette, texture, script data, image handle) appended under *id (automatic ids as
// AddBGPic); the copy shows its scaled set, as a picture that no layer-scaled display shows.
// 0, or ERR_MEM with nothing made.
int CopyBGPicEx(qvVmState* L, const qvBGPic* picture, qvObjectId* id, qvBGPic** out);

// A new set of width x height from a picture's base set: scaled, or for a vector source
// made again from its fill or its image handle's loader. 0 or an error with nothing made.
int ScaleBGPicBitmaps(qvVmState* L, qvBGPic* picture, int32_t width, int32_t height, int smooth,
                      qvBGPicSet* out);
// The picture at width x height: its shown and scaled sets made anew from its base set
// (ScaleBGPicBitmaps), its shown and logical sizes the new size. 0 or an error with the
// picture unchanged.
int RescaleBGPic(qvVmState* L, qvBGPic* picture, int32_t width, int32_t height, int smooth);
