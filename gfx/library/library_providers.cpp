// The GetAttribute providers of the command libraries that were built before the provider
// registry (memory blocks and the dos library's file objects), and of the types whose
// libraries have no commands yet (samples, anims, musics, videos).
#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "libs/dos/dos_library.h"
#include "libs/memblock/memblock_library.h"
#include "runtime/objects.h"

namespace qv::gfx {
namespace {

int MemoryProvider(const AttributeRequest& r) {
    qvMemBlock* block = nullptr;
    if (const int code = FindMemBlock(r.id, &block)) return code;
    VmPushNumber(r.L, block->size);  // ATTRSIZE, the one attribute besides the count
    static_assert(ATTRSIZE == 57);
    return 1;
}

int FileProvider(const AttributeRequest& r) {
    qvDosFile* file = nullptr;
    if (const int code = FindFileHandle(r.id, &file)) return code;
    VmPushNumber(r.L, file->scriptMode);  // ATTRMODE: the mode the script opened it with
    static_assert(ATTRMODE == 42);
    return 1;
}

static_assert(kTypeMemory == 39 && kTypeFile == 44);

// No script can make such an object yet: every id is missing, with the type's own error.
template <int NotFound>
int AbsentObjectProvider(const AttributeRequest& r) {
    return ObjectNotFound(r.id, NotFound);
}

}  // namespace

void RegisterLibraryAttributeProviders() {
    RegisterAttributeProvider(kTypeMemory, MemoryProvider);
    RegisterAttributeProvider(kTypeFile, FileProvider);
    RegisterAttributeProvider(kTypeSample, AbsentObjectProvider<ERR_FINDSAMPLE>);
    RegisterAttributeProvider(kTypeAnim, AbsentObjectProvider<ERR_FINDANIM>);
    RegisterAttributeProvider(kTypeMusic, AbsentObjectProvider<ERR_FINDMUSIC>);
    RegisterAttributeProvider(kTypeVideo, AbsentObjectProvider<ERR_FINDVIDEO>);
}

}  // namespace qv::gfx
