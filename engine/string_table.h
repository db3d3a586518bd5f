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

}  // namespace qv
