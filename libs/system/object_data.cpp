// Memory information and the named values that scripts attach to objects.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/convert.h"
#include "gfx/graphics_state.h"
#include "libs/system/commands.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/layers/display_seam.h"
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

// The data of a layer of the current output picture, given by number or name at idx; the
// current display must have layers on.
int FindLayerData(qvVmState* L, int idx, qvObjectDataEntry*** out) {
    gfx::GraphicsState& graphics = gfx::Graphics();
    if (!graphics.View(graphics.Host().CurrentDisplay()).layersEnabled) return ERR_NOLAYERS;
    const qvBGPic* picture = scene::LayerDisplays().OutputPicture();
    qvLayer* layer = GetLayerByIndex(picture, FindLayerArg(L, idx, picture));
    if (layer == nullptr) return ERR_LAYERRANGE;
    *out = &layer->references;
    return 0;
}

// The data list of the object named by the type and id arguments at idx and idx + 1.
int FindObject(qvVmState* L, int idx, qvObjectDataEntry*** out) {
    auto type = static_cast<uint32_t>(Trunc32(GetArgNumber(L, idx)));
    if (type == kLayerType) return FindLayerData(L, idx + 1, out);
    qvObjectHeader* object = FindObjectByTypeId(type, GetObjectIdArg(L, idx + 1));
    if (object == nullptr) return ERR_FINDARRAY;
    *out = &object->data;
    return 0;
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
    qvObjectDataEntry** data = nullptr;
    const char* name = nullptr;
    if (int code = FindObject(L, 1, &data)) return code;
    if (int code = NameArg(L, 3, &name)) return code;
    return SetObjectDataEntry(L, name, 4, data);
}

int GetObjectData(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    qvObjectDataEntry** data = nullptr;
    if (int code = FindObject(L, 1, &data)) return code;
    const char* name = GetArgString(L, 3, nullptr);
    const qvObjectDataEntry* entry = FindObjectDataEntry(*data, name);
    if (entry == nullptr) return MissingItem(name);
    VmRawGetI(L, VM_REGISTRYINDEX, entry->ref);
    return 1;
}

int ClearObjectData(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvObjectDataEntry** data = nullptr;
    if (int code = FindObject(L, 1, &data)) return code;
    if (VmGetTop(L) < 3) {
        FreeRefList(L, *data);
        *data = nullptr;
        return 0;
    }
    const char* name = nullptr;
    if (int code = NameArg(L, 3, &name)) return code;
    return ClearObjectDataEntry(L, data, name) ? 0 : MissingItem(name);
}

// Items copied before a failure stay with the destination.
int CopyObjectData(qvVmState* L) {
    CheckArgCount(L, 4, 5);
    qvObjectDataEntry** source = nullptr;
    qvObjectDataEntry** target = nullptr;
    if (int code = FindObject(L, 1, &source)) return code;
    if (int code = FindObject(L, 3, &target)) return code;
    bool overwrite = VmGetTop(L) < 5 || Trunc32(GetArgNumber(L, 5)) != 0;
    for (const qvObjectDataEntry* e = *source; e != nullptr; e = e->next) {
        if (!overwrite && FindObjectDataEntry(*target, e->name) != nullptr) continue;
        VmRawGetI(L, VM_REGISTRYINDEX, e->ref);
        int code = SetObjectDataEntry(L, e->name, VmGetTop(L), target);
        VmSetTop(L, -2);
        if (code != 0) return code;
    }
    return 0;
}

}  // namespace qv
