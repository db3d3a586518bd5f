// The "sprite" command library, and the sprites' answers to the graphics library (pointers
// and brushes made from sprite frames) and to the compositor (the frame an on-screen record
// shows).
#pragma once

#include "engine/vm.h"
#include "gfx/library/neighbours.h"

struct qvSpriteInstance;

// Registers the commands and the sprite list; 0 or ERR_MEM.
int RegisterSpriteLibrary(qvVmState* L);

namespace qv::sprites {

// The planes of frame (from 0) of the sprite an on-screen record shows; false without one.
bool InstanceFrame(const qvSpriteInstance& instance, int32_t frame, gfx::PictureView* out);

// The screen guard of the commands that place or remove sprites: drawing must go to the
// display itself, and layers must be off. 0 or the refusal's code.
int CheckSpriteScreen();

class SpriteNeighbours : public virtual gfx::Neighbours {
public:
    int GetSprite(qvVmState* L, qvObjectId id, int32_t* frames, gfx::PictureView* out) override;
    void GetSpriteFrame(qvObjectId id, int32_t frame, gfx::PictureView* out) override;
    int CountSpritesOnScreen() override;
};

}  // namespace qv::sprites
