// The "graphics" command library: colours, the mouse pointer, clip regions, frame limits,
// snapshots, asynchronous drawing frames and GetAttribute. It is the third library that
// start-up registers and owns the graphics state's object lists and default draw tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/vm.h"

// Registers the 29 commands and 156 constants, the pseudo-display, the default draw tags,
// the object lists of clip regions, pointers and asynchronous drawing objects, and the
// attribute providers of those types. Raises on engine errors, so it runs under protection.
// 0 or ERR_MEM.
int RegisterGraphicsLibrary(qvVmState* L);
// Run-time attributes 5 (mask mode) and 7 (alpha intensity); non-zero when they took the tag.
int GraphicsSetAttr(qvVmState* L, uint32_t tag, int32_t value);
int GraphicsGetAttr(qvVmState* L, uint32_t tag, int32_t* value);
// Shutdown: asynchronous drawing objects, the gfx cache, clip regions, pointers, the default
// draw tags, SafeBlt's temporary plane and the pseudo-display. Safe when the library never
// registered.
void FreeGraphicsObjects(qvVmState* L);
// The counts of every object kind, one line each, into buffer (size bytes, always
// terminated); the length the text needs.
int DumpObjectCounts(char* buffer, size_t size);
// The save options of argument idx: a table's fields "quality", "colors" and "dither" (absent
// ones leave the values), else the argument as the quality; an absent or nil argument gives
// quality 90.
void ParseSaveOptions(qvVmState* L, int idx, int32_t* quality, int32_t* colours, int32_t* dither);

namespace qv::gfx {

// The rows RegisterGraphicsLibrary registers, without the closing empty row.
std::span<const qvCommandEntry> GraphicsCommands();
std::span<const qvConstant> GraphicsConstants();

// The default draw-tag records that ParseDrawTags fills (opaque here); none while their
// sizes are 0.
struct DrawTagDefaults {
    void* style;
    void* transform;
};
const DrawTagDefaults& DefaultDrawTags();

}  // namespace qv::gfx
