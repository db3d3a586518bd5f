// The FreeType library object of the run-time: one per process, opened with the default
// font and closed by CloseAllFonts. Its memory manager allocates through the run-time's
// allocator, so that allocation failures injected by tests reach FreeType.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

// Creates the library with its memory manager and modules. 0; ERR_FT2 when the manager
// cannot be allocated, ERR_MEM when FreeType runs out of memory, ERR_FT2 for other library
// errors. Opening an open library does nothing.
int OpenFreeType();
void CloseFreeType();

namespace qv {

// The open library, or none.
FT_Library FreeTypeLibrary();

// FreeType 2.12 makes the TrueType interpreter's context at a face's first hinted glyph load
// without checking that allocation, and then writes through it. That one load runs under
// this guard: an allocation refused meanwhile is tried once more (so a single injected
// failure does not reach the unchecked site) and the guard reports it, so that the caller
// fails instead. Other FreeType calls see every refusal.
class FreeTypeAllocationGuard {
public:
    FreeTypeAllocationGuard();
    ~FreeTypeAllocationGuard();
    FreeTypeAllocationGuard(const FreeTypeAllocationGuard&) = delete;
    FreeTypeAllocationGuard& operator=(const FreeTypeAllocationGuard&) = delete;
    bool Refused() const;
};

}  // namespace qv
