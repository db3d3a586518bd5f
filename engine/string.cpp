// The string intern table and full user data blocks.
//
// Every string is interned, so equal contents are one object and string equality is pointer
// equality everywhere in the engine.
#include <algorithm>
#include <cstring>

#include "engine/bytes.h"
#include "engine/internal.h"
#include "engine/small_blocks.h"
#include "engine/string_table.h"

namespace qv {
namespace {

// Long strings sample at most 32 bytes, taken from the end.
uint32_t HashBytes(const char* s, uint32_t l) {
    if (l < kShortString) return MixStringHash(l, s, l);
    const uint32_t step = (l >> 5) + 1;
    uint32_t h = l;
    for (uint32_t i = l; i >= step; i -= step) h = MixStringHash(h, s[i - 1]);
    return h;
}

qvGCHeader*& Bucket(qvGCHeader** buckets, uint32_t size, uint32_t hash) {
    return buckets[hash & (size - 1)];
}

// Moves the strings of from[0, count) into the n buckets of to. Within one array, from is either
// to itself with n a multiple of count (every string stays or moves beyond count), or to + n
// (the buckets beyond n merge into those below).
void MoveChains(qvGCHeader** from, uint32_t count, qvGCHeader** to, uint32_t n) {
    for (uint32_t i = 0; i < count; ++i) {
        qvGCHeader* o = from[i];
        if (o == nullptr) continue;  // most buckets, when a collection halves the table
        from[i] = nullptr;
        do {
            qvGCHeader* next = o->next;
            auto* s = static_cast<qvString*>(o);
            LinkString(Bucket(to, n, s->hash), s);
            o = next;
        } while (o != nullptr);
    }
}

}  // namespace
}  // namespace qv

namespace qv {

uint32_t StringHash(const char* bytes, uint32_t length) {
    return HashBytes(bytes, length);
}

// Doubles the table. The larger array is taken (and counted) at once, but the strings move into
// the new buckets only at the end of the next collection, by when most strings of a busy loop
// are garbage, and not at all when that collection halves the table back. Until then a chain
// holds up to twice its share; a second doubling before it moves the strings at once.
void GrowStringTable(qvVmState* L) {
    qvStringTable& strt = L->g->strt;
    if (strt.size > 0x3FFFFFFE) return;
    if (strt.spread < strt.size) {
        VmResizeStringTable(L, strt.size * 2);
        return;
    }
    const uint32_t n = strt.size * 2;
    strt.hash = static_cast<qvGCHeader**>(
        VmRealloc(L, strt.hash, strt.size * sizeof(qvGCHeader*), n * sizeof(qvGCHeader*)));
    std::fill(strt.hash + strt.size, strt.hash + n, nullptr);
    strt.size = n;
}

void SpreadStrings(qvVmState* L) {
    qvStringTable& strt = L->g->strt;
    if (strt.spread == strt.size) return;
    MoveChains(strt.hash, strt.spread, strt.hash, strt.size);
    strt.spread = strt.size;
}

}  // namespace qv

qvString* VmNewString(qvVmState* L, const char* bytes, size_t length) {
    // Lengths are 32-bit; anything longer could never be allocated anyway.
    if (length > UINT32_MAX) RaiseError(L, ERR_MEM);
    const auto len = static_cast<uint32_t>(length);
    return qv::NewStringHashed(L, bytes, len, qv::HashBytes(bytes, len));
}

qvString* VmNewFixedString(qvVmState* L, const char* text) {
    qvString* s = VmNewString(L, text, std::strlen(text));
    s->marked |= VM_FIXED;
    return s;
}

void VmResizeStringTable(qvVmState* L, uint32_t n) {
    qvStringTable& strt = L->g->strt;
    const size_t oldBytes = strt.size * sizeof(qvGCHeader*);
    const size_t newBytes = n * sizeof(qvGCHeader*);
    if (n >= strt.size) {
        // Growing keeps the array: each chain splits between its bucket and buckets beyond the
        // spread ones. A refused reallocation leaves the table as it was.
        auto** buckets = static_cast<qvGCHeader**>(VmRealloc(L, strt.hash, oldBytes, newBytes));
        std::fill(buckets + strt.size, buckets + n, nullptr);
        qv::MoveChains(buckets, strt.spread, buckets, n);
        strt.hash = buckets;
        strt.size = n;
        strt.spread = n;
        return;
    }
    // Shrinking gathers the strings into the first n buckets in place, then gives the rest of
    // the array back. When that is refused, the table stays valid with the larger array.
    if (strt.spread > n)
        qv::MoveChains(strt.hash + n, strt.spread - n, strt.hash, n);
    else if (strt.spread < n)
        qv::MoveChains(strt.hash, strt.spread, strt.hash, n);
    strt.spread = n;
    strt.hash = static_cast<qvGCHeader**>(VmRealloc(L, strt.hash, oldBytes, newBytes));
    strt.size = n;
}

void VmFreeStringTable(qvVmState* L) {
    qvStringTable& strt = L->g->strt;
    VmRealloc(L, strt.hash, strt.size * sizeof(qvGCHeader*), 0);
    strt.hash = nullptr;
    strt.size = 0;
    strt.spread = 0;
    strt.nuse = 0;
}

qvUserdata* VmNewUserdataBlock(qvVmState* L, size_t size) {
    if (size > UINT32_MAX) RaiseError(L, ERR_MEM);
    auto* u = static_cast<qvUserdata*>(VmRealloc(L, nullptr, 0, qv::UserdataSize(size)));
    qvVmGlobalState* g = L->g;
    u->tag = VM_TUSERDATA;
    u->marked = 0;
    u->metatable = qv::TableOf(&g->defaultMeta);
    u->length = static_cast<uint32_t>(size);
    u->next = g->rootudata;
    g->rootudata = u;
    return u;
}
