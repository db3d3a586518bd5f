#include "objects/fonts/freetype_library.h"

#include <cstring>

#include FT_MODULE_H
#include FT_DRIVER_H

#include "engine/error_codes.h"
#include "platform/linux/memory.h"

namespace {

FT_Library library = nullptr;
FT_Memory manager = nullptr;
bool guarded = false;
bool refusedWhileGuarded = false;

// The run-time allocator's resize, tried a second time under the guard.
void* Resize(void* block, size_t oldSize, size_t newSize) {
    void* result = qv::PlatformRealloc(block, oldSize, newSize);
    if (result == nullptr && guarded) {
        refusedWhileGuarded = true;
        result = qv::PlatformRealloc(block, oldSize, newSize);
    }
    return result;
}

// FreeType frees without a size and reallocates with one; blocks carry their size in front
// (16 bytes, keeping the payload aligned for any FreeType record).
constexpr size_t kHeader = 16;

void* Allocate(FT_Memory, long size) {
    if (size <= 0) return nullptr;
    auto* raw = static_cast<unsigned char*>(Resize(nullptr, 0, size_t(size) + kHeader));
    if (raw == nullptr) return nullptr;
    std::memcpy(raw, &size, sizeof size);
    return raw + kHeader;
}

void Free(FT_Memory, void* block) {
    if (block == nullptr) return;
    auto* raw = static_cast<unsigned char*>(block) - kHeader;
    long size;
    std::memcpy(&size, raw, sizeof size);
    qv::PlatformRealloc(raw, size_t(size) + kHeader, 0);
}

void* Reallocate(FT_Memory memory, long currentSize, long newSize, void* block) {
    if (block == nullptr) return Allocate(memory, newSize);
    if (newSize <= 0) {
        Free(memory, block);
        return nullptr;
    }
    auto* raw = static_cast<unsigned char*>(block) - kHeader;
    (void)currentSize;  // the block knows its own size
    long oldSize;
    std::memcpy(&oldSize, raw, sizeof oldSize);
    raw = static_cast<unsigned char*>(
        Resize(raw, size_t(oldSize) + kHeader, size_t(newSize) + kHeader));
    if (raw == nullptr) return nullptr;
    std::memcpy(raw, &newSize, sizeof newSize);
    return raw + kHeader;
}

// The modules the run-time needs; FT_Add_Default_Modules drops one that fails to load
// (memory) without telling, so each is looked up afterwards.
constexpr const char* kModules[] = {
    "autofitter", "truetype", "type1",   "cff",      "t1cid",   "pfr",  "type42", "winfonts",
    "pcf",        "psaux",    "psnames", "pshinter", "raster1", "sfnt", "smooth", "bdf"};

int AddModules(FT_Library lib) {
    FT_Add_Default_Modules(lib);
    for (const char* name : kModules) {
        if (FT_Get_Module(lib, name) == nullptr) return ERR_MEM;
    }
    // The hinting of the face drivers is fixed here and never read from FREETYPE_PROPERTIES,
    // so that glyph pixels do not depend on the environment.
    FT_UInt interpreter = TT_INTERPRETER_VERSION_40;
    if (FT_Property_Set(lib, "truetype", "interpreter-version", &interpreter) != 0) return ERR_FT2;
    return 0;
}

}  // namespace

int OpenFreeType() {
    if (library != nullptr) return 0;
    manager = static_cast<FT_Memory>(AllocMemBlock(sizeof(FT_MemoryRec_), 1));
    if (manager == nullptr) return ERR_FT2;
    manager->alloc = Allocate;
    manager->free = Free;
    manager->realloc = Reallocate;
    FT_Error error = FT_New_Library(manager, &library);
    int result = error == FT_Err_Out_Of_Memory ? ERR_MEM : error != 0 ? ERR_FT2 : 0;
    if (result == 0) result = AddModules(library);
    if (result != 0) CloseFreeType();
    return result;
}

void CloseFreeType() {
    if (library != nullptr) FT_Done_Library(library);
    library = nullptr;
    FreeMemBlock(manager);
    manager = nullptr;
}

namespace qv {

FT_Library FreeTypeLibrary() {
    return library;
}

FreeTypeAllocationGuard::FreeTypeAllocationGuard() {
    guarded = true;
    refusedWhileGuarded = false;
}

FreeTypeAllocationGuard::~FreeTypeAllocationGuard() {
    guarded = false;
}

bool FreeTypeAllocationGuard::Refused() const {
    return refusedWhileGuarded;
}

}  // namespace qv
