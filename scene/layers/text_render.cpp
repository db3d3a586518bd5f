#include <cstring>

#include "platform/linux/memory.h"
#include "scene/layers/layer.h"

namespace {

// A copy of count entries in a block of count + 1; none for no table.
bool CopyTable(const int32_t* source, int32_t count, int32_t** copy) {
    *copy = nullptr;
    if (source == nullptr) return true;
    const size_t entries = size_t(count > 0 ? count : 0);
    *copy = static_cast<int32_t*>(AllocMemBlock((entries + 1) * sizeof(int32_t), 1));
    if (*copy == nullptr) return false;
    if (entries > 0) std::memcpy(*copy, source, entries * sizeof(int32_t));
    return true;
}

}  // namespace

qvTextRender* NewTextRenderRecord(const qvTextRender* source) {
    auto* copy = static_cast<qvTextRender*>(AllocMemBlock(sizeof(qvTextRender), 0));
    if (copy == nullptr) return nullptr;
    *copy = *source;
    copy->item.clipRegion = nullptr;
    copy->text = nullptr;
    copy->wordBreaks = copy->tabResults = nullptr;
    bool ok = true;
    if (source->text != nullptr) {
        const size_t length = std::strlen(source->text);
        copy->text = static_cast<char*>(AllocMemBlock(length + 1, 0));
        if (copy->text != nullptr) {
            std::memcpy(copy->text, source->text, length + 1);
        } else {
            ok = false;
        }
    }
    ok = ok && CopyTable(source->wordBreaks, source->wordBreakCount, &copy->wordBreaks) &&
         CopyTable(source->tabResults, source->tabResultCount, &copy->tabResults);
    if (!ok) {
        FreeTextRender(copy);
        return nullptr;
    }
    return copy;
}

void FreeTextRender(qvTextRender* record) {
    if (record == nullptr) return;
    FreeMemBlock(record->text);
    FreeMemBlock(record->wordBreaks);
    FreeMemBlock(record->tabResults);
    FreeMemBlock(record);
}
