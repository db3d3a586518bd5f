// The string hash and the chains of the string intern table. Each string carries a filter of
// the hashes of the strings after it in its chain (one bit per hash, a superset once strings
// have been unlinked), so that looking up a new string, the common case of a loop that builds
// strings, stops at the first string of its chain instead of visiting every one, each of which
// may be a cache miss.
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

// The string hash starts from the length and mixes the bytes in from the last; strings
// shorter than kShortString are hashed over every byte, so the hash of a short join can be
// worked out from its pieces.
inline constexpr uint32_t kShortString = 32;

inline uint32_t MixStringHash(uint32_t h, char c) {
    return h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(c));
}

// Mixes every byte of s into h, from the last.
inline uint32_t MixStringHash(uint32_t h, const char* s, uint32_t l) {
    for (const char* p = s + l; p != s;) h = MixStringHash(h, *--p);
    return h;
}

// Whether la bytes joined to lb bytes make a short string.
inline bool IsShortJoin(uint32_t la, uint32_t lb) {
    return la < kShortString && lb < kShortString - la;
}

// The hash of a string of these bytes.
uint32_t StringHash(const char* bytes, uint32_t length);
// Starts fetching the chain in which a string of this hash would be.
void PrefetchStringChain(const qvStringTable& strt, uint32_t hash);
// VmNewString for bytes whose hash is already known.
qvString* NewStringHashed(qvVmState* L, const char* bytes, uint32_t length, uint32_t hash);

}  // namespace qv
