// The object selector: drawing on the current display goes into an object's pixels (with
// the combo selection also its mask and alpha plane), its mask or its alpha channel. The
// selection lends the object's planes to the display's selection pseudo-picture; the first
// drawing command after it fetches them again (copy-on-write for the layers showing the
// object, a missing mask or alpha plane made) through GetOutputBitmaps.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"

namespace qv::objects {

// Selects an object of type 3 (brush), 1 (background picture), 4 (anim frame, frame from 1)
// or 22 (layer) as the current display's output in output mode 3 (pixels), 28 (mask) or 30
// (alpha channel). selMode 1 adds the mask and alpha plane to mode 3 and stores combo as the
// blits' alpha-combine switch. 0 or an error code.
int SelectOutputObject(qvVmState* L, uint32_t type, qvObjectId id, int32_t outputMode,
                       int32_t frame, int32_t selMode, int32_t combo);

// Makes the selected object's planes the output's (once per selection) and hands out the
// bitmap drawing goes into: none when the display draws on itself or into its shown picture.
// 0 or an error code (the output planes are then left as they were).
int GetOutputBitmaps(qvVmState* L, qvDisplayBitMap** bitmap);

// While the current display draws into an object through the selector: true with its type
// and id pair.
bool SelectedOutputObject(uint32_t* type, qvObjectId* id);

}  // namespace qv::objects
