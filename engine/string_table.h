// The string hash and the chains of the string intern table. Each string carries a filter of
// the hashes of the strings after it in its chain (one bit per hash, a superset once strings
// have been unlinked), so that looking up a new string, the common case of a loop that builds
// strings, stops at the first string of its chain instead of visiting every one, each of which
// may be a cache miss.
#pragma once

#include "engine/bytes.h"
#include "engine/internal.h"
#include "engine/small_blocks.h"
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

inline qvGCHeader*& StringChain(const qvStringTable& strt, uint32_t hash) {
    return strt.hash[hash & (strt.spread - 1)];
}

// Starts fetching the chain in which a string of this hash would be: the bucket is read at
// once (later work goes on while it arrives), its first string only fetched.
inline void PrefetchStringChain(const qvStringTable& strt, uint32_t hash) {
    __builtin_prefetch(StringChain(strt, hash));
}

// Moves the strings of a doubled table into the buckets they now hash into; a collection that
// keeps the doubled size calls it at its end.
void SpreadStrings(qvVmState* L);
// Doubles the table, which holds more strings than buckets, unless it is as large as it can be
// (a new string is already linked).
void GrowStringTable(qvVmState* L);

// The bytes of a string to intern, in one piece.
struct TextBytes {
    const char* bytes;
    uint32_t length;

    uint32_t Length() const { return length; }
    bool Equals(const char* s) const { return EqualBytes(s, bytes, length); }
    void CopyTo(char* s) const { CopyBytes(s, bytes, length); }
};

// The bytes of a string to intern in two pieces, as a short concatenation finds them: looked up
// and copied where they are, without a gathering copy.
struct JoinedBytes {
    TextBytes first;
    TextBytes second;

    uint32_t Length() const { return first.length + second.length; }
    bool Equals(const char* s) const { return first.Equals(s) && second.Equals(s + first.length); }
    void CopyTo(char* s) const {
        first.CopyTo(s);
        second.CopyTo(s + first.length);
    }
};

// The interned string of text, whose hash is known; in line for the loops that make strings.
template <typename Text>
[[gnu::always_inline]] inline qvString* InternHashed(qvVmState* L, const Text& text,
                                                     uint32_t hash) {
    qvStringTable& strt = L->g->strt;
    qvGCHeader*& head = StringChain(strt, hash);
    const uint32_t length = text.Length();
    for (qvGCHeader* o = head; o != nullptr; o = o->next) {
        auto* s = static_cast<qvString*>(o);
        // The hash first: it tells apart nearly all strings of one length.
        if (s->hash == hash && s->length == length && text.Equals(s->Data())) return s;
        if (!MayFollow(s, hash)) break;
    }
    auto* s = static_cast<qvString*>(NewEngineBlock(L, StringSize(length)));
    s->tag = VM_TSTRING;
    s->marked = 0;
    s->reserved = 0;
    s->hash = hash;
    s->length = length;
    text.CopyTo(s->Data());
    s->Data()[length] = '\0';
    LinkString(head, s);
    // The string is already safely linked when the growth runs out of memory.
    if (++strt.nuse > strt.size) [[unlikely]]
        GrowStringTable(L);
    return s;
}

// VmNewString for bytes whose hash is already known.
[[gnu::always_inline]] inline qvString* NewStringHashed(qvVmState* L, const char* bytes,
                                                        uint32_t length, uint32_t hash) {
    return InternHashed(L, TextBytes{bytes, length}, hash);
}

}  // namespace qv
