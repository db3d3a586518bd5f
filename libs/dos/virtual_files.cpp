// Virtual files defined by scripts: stretches of files, and strings kept alive for as long
// as their path is defined.
#include <cstring>
#include <string>

#include "libs/dos/commands.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"

namespace qv {
namespace {

// A string file this library defined: the registry reference that keeps the string, the
// window through which the file layer reads it, and the path handed out.
struct StringFile {
    StringFile* next;
    qvVmGlobalState* owner;  // the engine whose registry holds the reference
    int ref;
    MemoryWindowId window;
    char path[1];  // the rest of the block
};

StringFile* stringFiles = nullptr;

// The reference is freed only in its own engine's registry: the list is the process's and
// may outlive an engine that was closed without the library's shutdown (test harnesses).
void Release(qvVmState* L, StringFile* file) {
    UnregisterMemoryWindow(file->window);
    if (file->owner == L->g) FreeRef(L, VM_REGISTRYINDEX, file->ref);
    FreeMemBlock(file);
}

}  // namespace

void FreeVirtualStringFiles(qvVmState* L) {
    DrainList(&stringFiles, [L](StringFile* file) { Release(L, file); });
}

int DefineVirtualFile(qvVmState* L) {
    CheckArgCount(L, 4, 4);
    const char* file = GetArgString(L, 1, nullptr);
    uint32_t offset = GetArgUInt32(L, 2);
    uint32_t size = GetArgUInt32(L, 3);
    const char* name = GetArgString(L, 4, nullptr);
    if (size == 0 || file[0] == '\0') return ERR_WRONGUSAGE;
    std::string path = MakeChunkPath(name, offset, size, 0, file);
    VmPushLString(L, path.data(), path.size());
    return 1;
}

int DefineVirtualFileFromString(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    size_t length;
    const char* data = GetArgString(L, 1, &length);
    const char* name = GetArgString(L, 2, nullptr);
    if (length == 0) return ERR_WRONGUSAGE;
    VmPushValue(L, 1);
    int ref = MakeRef(L, VM_REGISTRYINDEX);
    std::string path = MakeChunkPath(name, -1, length, ref, data);
    auto* file = static_cast<StringFile*>(AllocMemBlock(sizeof(StringFile) + path.size(), 1));
    MemoryWindowId window = file != nullptr ? RegisterMemoryWindow(data, length) : 0;
    if (window == 0) {
        FreeMemBlock(file);
        FreeRef(L, VM_REGISTRYINDEX, ref);
        return ERR_MEM;
    }
    file->owner = L->g;
    file->ref = ref;
    file->window = window;
    std::memcpy(file->path, path.c_str(), path.size() + 1);
    file->next = stringFiles;
    stringFiles = file;
    VmPushLString(L, path.data(), path.size());
    return 1;
}

int UndefineVirtualStringFile(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* path = GetArgString(L, 1, nullptr);
    // Only a path this library handed out and has not taken back: a made-up one would free
    // a reference that protects someone else's value.
    StringFile* file = TakeFromList(
        &stringFiles, [path](const StringFile* f) { return std::strcmp(f->path, path) == 0; });
    if (file == nullptr) return ERR_WRONGUSAGE;
    Release(L, file);
    return 0;
}

}  // namespace qv
