// The adapters of the plugin service table: run-time services in the simpler shapes that
// plugins call, and the seams through which the libraries of brushes, samples and fonts
// answer them once they exist (until then the lookups find nothing).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/bitmap.h"
#include "runtime/objects.h"
#include "runtime/plugin_api/qv_plugin_api.h"

namespace qv {

// What the brush library tells of a brush.
struct BrushView {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;  // nullptr when it has none
    int32_t width;
    int32_t height;
};

// What the sound library tells of a sample.
struct SampleView {
    void* sample;  // the library's record
    void* data;
    size_t size;  // bytes
    uint32_t frames;
    uint32_t format;  // the sample format number
    uint32_t rate;
    bool loops;
    bool inUse;
};

struct PluginServiceHooks {
    // True with the brush's view when a brush of that id exists.
    bool (*findBrush)(const qvObjectId& id, BrushView* out) = nullptr;
    bool (*findSample)(const qvObjectId& id, SampleView* out) = nullptr;
    // Makes data (size bytes of the run-time allocator) the sample's data, freeing its old
    // data.
    void (*adoptSampleData)(void* sample, void* data, size_t size) = nullptr;
    int (*findTrueTypeFont)(const char* name, char* path, size_t size) = nullptr;
};

// The seams as they stand; libraries fill their hooks when they register.
PluginServiceHooks& ServiceHooks();

}  // namespace qv

// CLib slots: one character or a whole string through the run-time's case tables.
int ToLowerChar(int c);
int ToUpperChar(int c);
void StrToUpper(char* s);

// Sys slots.
int CountAndClearTags(qvPluginTag* tags);
void* AllocMemForPlugin(size_t size, uint32_t flags);
void FreeMemForPlugin(void* block);

// Dos slots.
int64_t SeekFileForPlugin(qvFile* file, uint32_t offset, int mode);
int ExamineForPlugin(qvFileHandle* handle, qvPluginFileInfo* info);
int ExamineNextForPlugin(qvFileHandle* handle, qvDirScan* scan, qvPluginFileInfo* info);

// Gfx slots. Pictures of LoadPictureForPlugin are the platform loader's records.
int QueryPictureForPlugin(const char* file, int32_t* width, int32_t* height, int32_t* depth);
void* LoadPictureForPlugin(const char* file, int32_t* width, int32_t* height, int32_t* hasAlpha);
void* GetBitMapAttrForPlugin(void* picture, uint32_t attribute);
void FreePictureForPlugin(void* picture);
void* LockBrushForPlugin(const qvPluginObjectId* brush, uint32_t flags, qvPluginBrushLock* record);
void UnlockBitMapForPlugin(void* lock);

// Sound slots.
void* LoadSoundDataForPlugin(const qvPluginObjectId* sample, int borrow, uint32_t flags,
                             qvPluginSoundData* data);
void FreeSoundDataForPlugin(void* handle);

// Requester slots.
int ShowMessageForPlugin(const char* title, const char* text, const char* buttons);
int RequestFileForPlugin(const char* title, char* path);
int RequestPathForPlugin(const char* title, char* path);

// Font slot.
int FindTrueTypeFont(const char* name, char* path, size_t size);

// Vm slot.
void GetObjectIdArgForPlugin(qvVmState* L, int idx, qvPluginObjectId* id);
