// The "bgpic" command library: pictures made plain, from gradients and textures, from
// brushes and from picture files; copied, scaled and freed. Commands that make a picture take
// nil as the id to ask for an automatic one (returned as light user data); a numeric id in use
// replaces that picture, which goes only once the new one is complete.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

// Registers the commands, the picture list with the object registry, the picture builder of
// vector pictures and the scene's answers to the graphics library. 0 or ERR_MEM.
int RegisterBGPicLibrary(qvVmState* L);

namespace qv::scene {

// Argument positions of a gradient maker.
struct GradientArgs {
    int id, style, startColour, endColour, width, height, angle;
};
// The positions of CreateGradientBGPic and CreateGradientBrush.
inline constexpr GradientArgs kGradientArgs = {1, 2, 3, 4, 5, 6, 7};

// A gradient picture from the arguments at args (the table after the angle): a vector source
// that scaling draws again; with brush, a brush of the gradient under the id instead.
// Results: the handle of an automatic id.
int MakeGradientImage(qvVmState* L, const GradientArgs& args, bool brush = false);
// A textured picture: id, brush [, width, height, x offset, y offset]; the brush's bitmap is
// kept to tile again at any size; with brush, a brush of the tiles under the id instead.
// Results: the handle of an automatic id.
int MakeTexturedImage(qvVmState* L, bool brush = false);

// "x" and "y" of the table at argument idx when it is the last argument; 99999 for each one
// absent.
void GetXYOptions(qvVmState* L, int idx, int32_t* x, int32_t* y);

}  // namespace qv::scene

// Appends a width x height picture of the colour (0xRRGGBB) under *id (an automatic id
// becomes the record's address). 0 or ERR_MEM.
int AddPlainBGPic(qvObjectId* id, int32_t width, int32_t height, uint32_t colour);
