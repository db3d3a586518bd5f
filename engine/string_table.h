// Chains of the string intern table. Each string carries a filter of the hashes of the strings
// after it in its chain (one bit per hash, a superset once strings have been unlinked), so that
// looking up a new string, the common case of a loop that builds strings, stops at the first
// string of its chain instead of visiting every one, each of which may be a cache miss.
#pragma once

#include "engine/vm.h"

namespace qv {

// The filter bit of a hash: its top bits after a multiplicative mix, since the strings of one
// chain share their low bits.
inline uint32_t HashFilterBit(uint32_t hash) {
    return 1u << ((hash * 0x9E3779B1u) >> 27);
}

// Whether a string with this hash may follow s in its chain.
inline bool MayFollow(const qvString* s, uint32_t hash) {
    return (s->laterHashes & HashFilterBit(hash)) != 0;
}

// Links s at the head of a chain.
inline void LinkString(qvGCHeader*& head, qvString* s) {
    const auto* next = static_cast<const qvString*>(head);
    s->laterHashes = next != nullptr ? next->laterHashes | HashFilterBit(next->hash) : 0;
    s->next = head;
    head = s;
}

// The hash of a string of these bytes.
uint32_t StringHash(const char* bytes, uint32_t length);
// The hash of the bytes of a followed by those of b, when the two together are short enough
// (under 32 bytes) to be hashed from their pieces; false otherwise.
bool HashShortJoin(const char* a, uint32_t la, const char* b, uint32_t lb, uint32_t* hash);
// Starts fetching the chain in which a string of this hash would be.
void PrefetchStringChain(const qvStringTable& strt, uint32_t hash);
// VmNewString for bytes whose hash is already known.
qvString* NewStringHashed(qvVmState* L, const char* bytes, uint32_t length, uint32_t hash);

}  // namespace qv
