#include "platform/linux/plugin_loader.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstring>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/paths.h"

struct qvSegmentList {
    void* object;  // the dlopen handle
    const link_map* map;
};

namespace qv {
namespace {

struct SegmentSearch {
    const link_map* map;
    const char* marker;
    size_t markerSize;
    char* record;
    size_t recordSize;
    bool found;
};

// The scan reads every byte of the plugin's segments, the sanitizer's red zones around the
// plugin's globals included, so it must not be instrumented (nor hand its reads to an
// intercepted memcmp or memcpy).
__attribute__((no_sanitize_address, noinline)) bool ScanSegment(const char* start, size_t size,
                                                                const SegmentSearch& s) {
    if (size < s.recordSize) return false;
    for (size_t offset = 0; offset + s.recordSize <= size; offset += 2) {
        size_t i = 0;
        while (i < s.markerSize && start[offset + i] == s.marker[i]) ++i;
        if (i < s.markerSize) continue;
        for (i = 0; i < s.recordSize; ++i) s.record[i] = start[offset + i];
        return true;
    }
    return false;
}

bool IsReadableLoad(const ElfW(Phdr) & header) {
    return header.p_type == PT_LOAD && (header.p_flags & PF_R) != 0;
}

// dl_iterate_phdr callback: scans the segments of the one object the search names.
int ScanObject(dl_phdr_info* info, size_t, void* data) {
    auto* s = static_cast<SegmentSearch*>(data);
    if (info->dlpi_addr != s->map->l_addr || info->dlpi_name == nullptr ||
        std::strcmp(info->dlpi_name, s->map->l_name) != 0) {
        return 0;
    }
    for (ElfW(Half) i = 0; i < info->dlpi_phnum && !s->found; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (!IsReadableLoad(header)) continue;
        const auto* start = reinterpret_cast<const char*>(info->dlpi_addr + header.p_vaddr);
        s->found = ScanSegment(start, header.p_memsz, *s);
    }
    return 1;
}

}  // namespace

bool FindInSegments(const qvSegmentList* segments, const char* marker, size_t markerSize,
                    void* record, size_t recordSize) {
    if (segments == nullptr || recordSize < markerSize) return false;
    SegmentSearch search{segments->map, marker, markerSize, static_cast<char*>(record),
                         recordSize,    false};
    dl_iterate_phdr(ScanObject, &search);
    return search.found;
}

}  // namespace qv

int LoadSegments(const char* path, qvSegmentList** out) {
    *out = nullptr;
    // Only an absolute path: dlopen would search the library path for a bare name.
    char host[kPathBufferSize];
    if (MakeAbsolutePath(path, host) != 0 || host[0] != '/') return ERR_LOADPLUGIN;
    void* object = dlopen(host, RTLD_NOW | RTLD_LOCAL);
    if (object == nullptr) return ERR_LOADPLUGIN;
    link_map* map = nullptr;
    if (dlinfo(object, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        dlclose(object);
        return ERR_LOADPLUGIN;
    }
    *out = qv::NewBlock<qvSegmentList>(qvSegmentList{object, map});
    if (*out != nullptr) return 0;
    dlclose(object);
    return ERR_MEM;
}

void UnloadSegments(qvSegmentList* segments) {
    if (segments == nullptr) return;
    dlclose(segments->object);
    qv::DeleteBlock(segments);
}
