// Sprites (object type 32): multi-frame images shown above a background picture without
// changing it. The sprite record and list, the on-screen records that pictures keep
// (scene/bgpic.h), their placing and removal with the refresh of only the rectangles they
// touched, freeing, copying, scaling and flipping of frames, and the conversion of preloaded
// frame pixels. A linked sprite owns no frames: it shows the frames of its sources in turn.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/vm.h"
#include "gfx/library/neighbours.h"
#include "gfx/scale.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"
#include "scene/bgpic.h"

struct qvSprite {
    qvObjectHeader header;  // type 32, id pair, data list, next
    int32_t width, height;  // of every frame
    int32_t frameCount;
    int32_t locked;              // raised while something moves the sprite; changes are refused
    int32_t orphan;              // invisible to lookups
    qvSprite** sources;          // null-terminated, for a linked sprite; else none
    uint32_t transparentColour;  // 0xRRGGBB keyed out at conversion, 0xFFFFFFFF for none
    qvDisplayBitMap** bitmaps;   // frameCount entries each (ordinary sprites)
    qvPlaneBitMap** masks;
    qvPlaneBitMap** alphas;
    qvARGB** pixels;  // preloaded frames until RebuildSprites converts them
};

// Flags of GetSprite.
enum : int {
    QV_SPRITE_UNLOCKED = 1,  // a locked sprite is ERR_LOCKEDOBJ
    QV_SPRITE_ORPHANS = 2,
};

// The frames handed to AddSprite; the arrays (frameCount entries, any may be none) and what
// they hold become the sprite's when it is made.
struct qvSpriteFrames {
    qvARGB** pixels;
    qvDisplayBitMap** bitmaps;
    qvPlaneBitMap** masks;
    qvPlaneBitMap** alphas;
    int32_t frameCount;
};

// Appends a sprite; an automatic id (a handle in *id) becomes the record's address. sources
// (null-terminated, copied) makes a linked sprite, whose frame count is their sum. 0, or
// ERR_MEM with the frames left to the caller.
int AddSprite(qvObjectId* id, int32_t width, int32_t height, const qvSpriteFrames& frames,
              uint32_t transparentColour, qvSprite* const* sources, qvSprite** out);
// The planes of frame index (from 0) of an object whose frames a new sprite copies (a mask or
// alpha plane may be none; no bitmap leaves the frame empty). 0 or an error code.
using SpriteFrameReader = std::function<int(int32_t index, qvDisplayBitMap** bitmap,
                                            qvPlaneBitMap** mask, qvPlaneBitMap** alpha)>;
// Appends an ordinary sprite of width x height with copies of frameCount frames that read
// answers. 0, or the first error with nothing made.
int AddSpriteOfFrames(qvObjectId* id, int32_t width, int32_t height, int32_t frameCount,
                      uint32_t transparentColour, const SpriteFrameReader& read, qvSprite** out);
// Makes the planes of frame index (from 0) for a new sprite, which takes them. 0 or an error.
using SpriteFrameMaker = std::function<int(int32_t index, qv::gfx::NewPicture* out)>;
// Appends an ordinary sprite of width x height with frameCount frames that make makes. 0, or
// the first error with nothing made.
int AddSpriteOfNewFrames(qvObjectId* id, int32_t width, int32_t height, int32_t frameCount,
                         uint32_t transparentColour, const SpriteFrameMaker& make, qvSprite** out);
// 0 with *out, or ERR_FINDARRAY (a handle) / ERR_FINDSPRITE (a number), ERR_LOCKEDOBJ.
int GetSprite(qvObjectId id, qvSprite** out, int flags);
// The planes of frame index (from 0), a linked sprite's from the source that covers it; an
// index outside the frames gives none. Any out pointer may be null.
void GetSpriteFrame(const qvSprite* sprite, int32_t index, qvDisplayBitMap** bitmap,
                    qvPlaneBitMap** mask, qvPlaneBitMap** alpha);
// The sprite's record in the current output picture's list: 0, or ERR_SPRITEONSCREEN2 (a
// handle) / ERR_SPRITEONSCREEN (a number).
int FindSpriteInstance(qvObjectId id, qvSpriteInstance** out);

// Shows the sprite at (x, y) (position constants allowed) with frame (0: the next one) on
// the current output picture, refreshing only what changed. 0 or an error code.
int DisplaySpriteEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int32_t frame);
// Takes one sprite off the current display's picture. 0 or an error code.
int RemoveSpriteEx(qvVmState* L, qvObjectId id);
// Takes every sprite off the current display's picture; with keep their images stay in the
// picture's display bitmap. 0 or ERR_LOCKEDOBJ.
int RemoveAllSprites(qvVmState* L, bool keep);

// Frees the sprite (and first every linked sprite that uses it), taking its records off
// every picture; those the current display shows are refreshed.
void FreeSpriteEx(qvVmState* L, qvSprite* sprite);
// The same by id: 0, the lookup error (only with report for a missing one) or ERR_LOCKEDOBJ.
int FreeSpriteById(qvVmState* L, qvObjectId id, bool report);
// Shutdown, after the pictures.
void FreeAllSprites(qvVmState* L);
// Frees a picture's on-screen records without refreshing.
void FreeSpriteInstances(qvBGPic* picture);
int32_t CountSpriteInstances(const qvBGPic* picture);
// Converts the preloaded frame pixels into screen bitmaps; the first error ends it.
int RebuildSprites(qvVmState* L);

// Whether the frames may change: 0, ERR_MODIFYSPRITE while a picture shows it, ERR_LOCKEDOBJ,
// ERR_MODIFYSPRITE2 for a linked sprite or a source of one.
int CheckSpriteChangeable(const qvSprite* sprite);
// Changes of frames: ERR_MODIFYSPRITE while a picture shows it, ERR_MODIFYSPRITE2 for a
// linked sprite or a source of one. Scaling is all or nothing.
int ScaleSpriteEx(qvSprite* sprite, int32_t width, int32_t height, bool smooth);
int FlipSpriteEx(qvSprite* sprite, int32_t direction);
// A copy of the source under *id (automatic ids as AddSprite). 0 or ERR_MEM with nothing made.
int CopySpriteEx(qvVmState* L, const qvSprite* source, qvObjectId* id, qvSprite** out);

namespace qv {

// New copies of the width x height rectangle at (x, y) of a picture and of the planes it has.
// 0, ERR_COORDSRANGE for a rectangle outside it, or ERR_MEM.
int CopyPictureArea(const gfx::PictureView& source, int32_t x, int32_t y, int32_t width,
                    int32_t height, gfx::NewPicture* out);

// The head of the sprite list (registered with the object registry).
qvObjectHeader** SpriteList();
// The id pair that asks AddSprite for an automatic id.
qvObjectId AutomaticSpriteId();

// How placing and removing sprites shows a rectangle again; tests watch it.
using SpriteRefreshFn = void (*)(qvVmState* L, int32_t x, int32_t y, int32_t width, int32_t height);
// nullptr restores RefreshDisplayArea.
void SetSpriteRefresh(SpriteRefreshFn refresh);

}  // namespace qv
