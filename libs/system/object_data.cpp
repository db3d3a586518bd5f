// Memory information and the named values that scripts attach to objects.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/convert.h"
#include "libs/system/commands.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/layers/layer.h"

namespace qv {
namespace {

enum : int32_t { kChipMemory = 0, kFastMemory = 1 };

// The "MemAvailable" line of /proc/meminfo in bytes; 0 when it cannot be read.
double AvailableMemory() {
    FILE* file = std::fopen("/proc/meminfo", "r");
    if (file == nullptr) return 0;
    char line[256];
    unsigned long long kilobytes = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1) break;
    }
    std::fclose(file);
    return static_cast<double>(kilobytes) * 1024;
}

// Layers are never enabled before the layer subsystem exists.
int FindLayer() {
    return ERR_NOLAYERS;
}

// The object named by the type and id arguments at idx and idx + 1.
int FindObject(qvVmState* L, int idx, qvObjectHeader** out) {
    auto type = static_cast<uint32_t>(Trunc32(GetArgNumber(L, idx)));
    if (type == kLayerType) return FindLayer();
    *out = FindObjectByTypeId(type, GetObjectIdArg(L, idx + 1));
    return *out != nullptr ? 0 : ERR_FINDARRAY;
}

// A name argument that must not be empty.
int NameArg(qvVmState* L, int idx, const char** name) {
    size_t length = 0;
    *name = GetArgString(L, idx, &length);
    return length > 0 ? 0 : ERR_WRONGUSAGE;
}

int MissingItem(const char* name) {
    return ErrorWithText(ERR_FINDOBJECTDATA, name);
}

}  // namespace

int GCInfo(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, VmGetGCCount(L));
    VmPushNumber(L, VmGetGCThreshold(L));
    return 2;
}

int CollectGarbage(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    VmSetGCThreshold(L, VmGetTop(L) >= 1 ? Trunc32(GetArgNumber(L, 1)) : 0);
    FreeUnusedCaches(L, QV_CACHE_ALL);
    return 0;
}

int GetMemoryInfo(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int32_t kind = Trunc32(GetArgNumber(L, 1));
    if (kind != kChipMemory && kind != kFastMemory) return ERR_WRONGUSAGE;
    VmPushNumber(L, AvailableMemory());
    return 1;
}

int SetObjectData(qvVmState* L) {
    CheckArgCount(L, 4, 4);
    qvObjectHeader* object = nullptr;
    const char* name = nullptr;
    if (int code = FindObject(L, 1, &object)) return code;
    if (int code = NameArg(L, 3, &name)) return code;
    return SetObjectDataEntry(L, name, 4, &object->data);
}

int GetObjectData(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    qvObjectHeader* object = nullptr;
    if (int code = FindObject(L, 1, &object)) return code;
    const char* name = GetArgString(L, 3, nullptr);
    const qvObjectDataEntry* entry = FindObjectDataEntry(object->data, name);
    if (entry == nullptr) return MissingItem(name);
    VmRawGetI(L, VM_REGISTRYINDEX, entry->ref);
    return 1;
}

int ClearObjectData(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvObjectHeader* object = nullptr;
    if (int code = FindObject(L, 1, &object)) return code;
    if (VmGetTop(L) < 3) {
        FreeRefList(L, object->data);
        object->data = nullptr;
        return 0;
    }
    const char* name = nullptr;
    if (int code = NameArg(L, 3, &name)) return code;
    return ClearObjectDataEntry(L, &object->data, name) ? 0 : MissingItem(name);
}

// Items copied before a failure stay with the destination.
int CopyObjectData(qvVmState* L) {
    CheckArgCount(L, 4, 5);
    qvObjectHeader* source = nullptr;
    qvObjectHeader* target = nullptr;
    if (int code = FindObject(L, 1, &source)) return code;
    if (int code = FindObject(L, 3, &target)) return code;
    bool overwrite = VmGetTop(L) < 5 || Trunc32(GetArgNumber(L, 5)) != 0;
    for (const qvObjectDataEntry* e = source->data; e != nullptr; e = e->next) {
        if (!overwrite && FindObjectDataEntry(target->data, e->name) != nullptr) continue;
        VmRawGetI(L, VM_REGISTRYINDEX, e->ref);
        int code = SetObjectDataEntry(L, e->name, VmGetTop(L), &target->data);
        VmSetTop(L, -2);
        if (code != 0) return code;
    }
    return 0;
}

}  // namespace qv
