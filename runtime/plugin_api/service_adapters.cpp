#include "runtime/plugin_api/service_adapters.h"

#include <cstring>

#include "engine/case_tables.h"
#include "platform/linux/blocks.h"
#include "platform/linux/picture_loader.h"
#include "platform/linux/requester.h"
#include "runtime/arguments.h"
#include "runtime/files.h"

namespace qv {
namespace {

// Tag 25 of a plugin's tag list is counted and cleared.
constexpr uintptr_t kCountedTag = 25;

void CopyFileInfo(const qvFileAttributes& from, qvPluginFileInfo* to) {
    to->type = from.type;
    to->size = from.size;
    to->date = {from.date.days, from.date.minutes, from.date.ticks};
    CopyText(to->name, sizeof to->name, from.name);
}

qvObjectId ToObjectId(const qvPluginObjectId* id) {
    return {id->number, id->handle};
}

// The descriptor of a sample format: stereo for 1, 3 and 5, 16 bits for 4 and 5.
void DescribeSample(const SampleView& view, void* data, qvPluginSoundData* out) {
    bool stereo = view.format == 1 || view.format == 3 || view.format == 5;
    bool wide = view.format == 4 || view.format == 5;
    *out = {data,
            view.size,
            view.frames,
            stereo ? 2u : 1u,
            wide ? 16u : 8u,
            view.rate,
            (view.format > 1 ? QV_SOUNDDATA_EXTENDED : 0) | (view.loops ? QV_SOUNDDATA_LOOPS : 0)};
}

// A plugin's hold on a sample: the copy it got, if it did not borrow.
struct SoundDataHandle {
    void* sample;
    void* copy;
    size_t size;
};

}  // namespace

PluginServiceHooks& ServiceHooks() {
    static PluginServiceHooks hooks;
    return hooks;
}

}  // namespace qv

int ToLowerChar(int c) {
    return c >= 0 && c <= 255 ? qv::kLowerCase[c] : c;
}

int ToUpperChar(int c) {
    return c >= 0 && c <= 255 ? qv::kUpperCase[c] : c;
}

void StrToUpper(char* s) {
    for (; *s != '\0'; ++s) *s = static_cast<char>(qv::kUpperCase[static_cast<uint8_t>(*s)]);
}

int CountAndClearTags(qvPluginTag* tags) {
    int count = 0;
    for (; tags != nullptr && tags->tag != 0; ++tags) {
        if (tags->tag != qv::kCountedTag) continue;
        tags->value = 0;
        ++count;
    }
    return count;
}

void* AllocMemForPlugin(size_t size, uint32_t flags) {
    return AllocMemBlock(size, static_cast<int>(flags & 1));
}

void FreeMemForPlugin(void* block) {
    FreeMemBlock(block);
}

// Offsets back from here or from the end are negative words: they sign-extend. From the
// beginning the word is unsigned, so that positions up to 4 GiB stay reachable.
int64_t SeekFileForPlugin(qvFile* file, uint32_t offset, int mode) {
    int64_t distance = mode == QV_SEEK_BEGINNING
                           ? static_cast<int64_t>(offset)
                           : static_cast<int64_t>(static_cast<int32_t>(offset));
    return FileSeek(file, distance, mode);
}

int ExamineForPlugin(qvFileHandle* handle, qvPluginFileInfo* info) {
    qvFileAttributes attributes;
    if (ExamineEx(handle, &attributes) == 0) return 0;
    qv::CopyFileInfo(attributes, info);
    return 1;
}

int ExamineNextForPlugin(qvFileHandle* handle, qvDirScan* scan, qvPluginFileInfo* info) {
    qvFileAttributes attributes;
    if (ExamineNextEx(handle, scan, &attributes) == 0) return 0;
    qv::CopyFileInfo(attributes, info);
    return 1;
}

int QueryPictureForPlugin(const char* file, int32_t* width, int32_t* height, int32_t* depth) {
    qvPictureFormat format;
    if (IdentifyPictureDT(file, &format) != 0) return 0;
    *width = format.width;
    *height = format.height;
    *depth = format.depth;
    return 1;
}

// Plugins take their pixels as 0xRRGGBBAA.
void* LoadPictureForPlugin(const char* file, int32_t* width, int32_t* height, int32_t* hasAlpha) {
    qvPicture* picture;
    if (LoadPictureDT(file, &picture) != 0) return nullptr;
    size_t count = static_cast<size_t>(picture->width) * static_cast<size_t>(picture->height);
    for (uint32_t* p = picture->pixels; p < picture->pixels + count; ++p) {
        uint32_t alpha = picture->hasAlpha != 0 ? *p >> 24 : 0xFF;
        *p = (*p << 8) | alpha;
    }
    *width = picture->width;
    *height = picture->height;
    *hasAlpha = static_cast<int32_t>(picture->hasAlpha);
    return picture;
}

void* GetBitMapAttrForPlugin(void* picture, uint32_t attribute) {
    if (picture == nullptr || attribute != kQvBitMapAttrPixels) return nullptr;
    return static_cast<qvPicture*>(picture)->pixels;
}

void FreePictureForPlugin(void* picture) {
    FreePictureDT(static_cast<qvPicture*>(picture));
}

void* LockBrushForPlugin(const qvPluginObjectId* brush, uint32_t, qvPluginBrushLock* record) {
    qv::BrushView view;
    auto find = qv::ServiceHooks().findBrush;
    if (find == nullptr || !find(qv::ToObjectId(brush), &view)) return nullptr;
    qv::BlockPtr<qvBitMapLock> lock(qv::NewBlock<qvBitMapLock>());
    if (lock == nullptr || LockBitMapRecord(view.bitmap, lock.get()) == 0) return nullptr;
    *record = {
        lock->base,
        static_cast<uintptr_t>(lock->rowLength) * static_cast<uintptr_t>(lock->bytesPerPixel),
        view.bitmap,
        QueryBitMapAttr(view.bitmap, 21),
        view.mask,
        view.mask != nullptr ? view.mask->plane : nullptr,
        view.mask != nullptr ? static_cast<uintptr_t>(view.mask->bytesPerRow) : 0,
        static_cast<uintptr_t>(view.width),
        static_cast<uintptr_t>(view.height),
        lock->format};
    return lock.release();
}

void UnlockBitMapForPlugin(void* lock) {
    if (lock == nullptr) return;
    auto* record = static_cast<qvBitMapLock*>(lock);
    UnlockBitMapRecord(record);
    qv::DeleteBlock(record);
}

void* LoadSoundDataForPlugin(const qvPluginObjectId* sample, int borrow, uint32_t,
                             qvPluginSoundData* data) {
    qv::SampleView view;
    auto find = qv::ServiceHooks().findSample;
    if (find == nullptr || !find(qv::ToObjectId(sample), &view) || view.inUse) return nullptr;
    qv::BlockPtr<qv::SoundDataHandle> handle(
        qv::NewBlock<qv::SoundDataHandle>(qv::SoundDataHandle{view.sample, nullptr, view.size}));
    if (handle == nullptr) return nullptr;
    if (borrow == 0) {
        handle->copy = AllocMemBlock(view.size, 0);
        if (handle->copy == nullptr) return nullptr;
        std::memcpy(handle->copy, view.data, view.size);
    }
    qv::DescribeSample(view, borrow != 0 ? view.data : handle->copy, data);
    return handle.release();
}

void FreeSoundDataForPlugin(void* handle) {
    if (handle == nullptr) return;
    auto* hold = static_cast<qv::SoundDataHandle*>(handle);
    auto adopt = qv::ServiceHooks().adoptSampleData;
    if (hold->copy != nullptr && adopt != nullptr) {
        adopt(hold->sample, hold->copy, hold->size);
    } else {
        FreeMemBlock(hold->copy);
    }
    qv::DeleteBlock(hold);
}

int ShowMessageForPlugin(const char* title, const char* text, const char* buttons) {
    return ShowMessageRequester(title, text, buttons, 0);
}

int RequestFileForPlugin(const char* title, char* path) {
    qvFileRequest request{title, "#?", QV_REQ_NORMAL, nullptr, nullptr};
    qvFileRequestResult result;
    if (ReqFile(request, &result) != 0 || result.names.empty()) return 0;
    qv::CopyText(path, kPathBufferSize, result.directory.c_str());
    return AddPart(path, result.names.front().c_str(), kPathBufferSize);
}

int RequestPathForPlugin(const char* title, char* path) {
    if (ReqPath(title, QV_REQ_NORMAL, nullptr, path, kPathBufferSize) != 0) return 0;
    return path[0] != '\0' ? 1 : 0;
}

int FindTrueTypeFont(const char* name, char* path, size_t size) {
    auto find = qv::ServiceHooks().findTrueTypeFont;
    return find != nullptr ? find(name, path, size) : 0;
}

void GetObjectIdArgForPlugin(qvVmState* L, int idx, qvPluginObjectId* id) {
    qvObjectId pair = GetObjectIdArg(L, idx);
    *id = {pair.number, pair.handle};
}
