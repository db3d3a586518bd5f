// Generic operations for operands that are not of the plain kind: conversions, equality,
// ordering, indexing and assignment through metamethod chains, and concatenation. Nil counts
// as 0 (and as "" where a string is needed); mixing unrelated types is an error.
#include <algorithm>
#include <cstring>

#include "engine/api_internal.h"
#include "engine/bytes.h"
#include "engine/convert.h"
#include "engine/host.h"
#include "engine/string_table.h"

namespace qv {
namespace {

// Metamethods reached through __index or __newindex before the chain is given up.
constexpr int kMaxChainHops = 100;
constexpr uint64_t kMaxConcatLength = 4294967293u;

[[noreturn]] void RaiseMixedTypes(qvVmState* L, const qvValue* a, const qvValue* b) {
    bool numberWithString = (IsNumber(a) && IsString(b)) || (IsString(a) && IsNumber(b));
    RaiseError(L, numberWithString ? ERR_NUMSTRCMP : ERR_WRONGOP);
}

// Equality with nil: nil, the number 0 and the empty string.
bool EqualsNil(const qvValue* v) {
    if (IsNil(v)) return true;
    if (IsNumber(v)) return v->value.n == 0;
    if (IsString(v)) return StringOf(v)->length == 0;
    return false;
}

// The "__eq" shared by both operands' metatables, or nullptr.
const qvValue* EqualityMetamethod(qvVmState* L, const qvValue* a, const qvValue* b) {
    qvString* name = L->g->tmname[TM_EQ];
    qvTable* ma = MetatableOf(a);
    const qvValue* tm = ma != nullptr ? VmFastTagMethod(ma, TM_EQ, name) : nullptr;
    if (tm == nullptr) return nullptr;
    qvTable* mb = MetatableOf(b);
    if (mb == ma) return tm;
    const qvValue* other = mb != nullptr ? VmFastTagMethod(mb, TM_EQ, name) : nullptr;
    return other != nullptr && VmRawEqualObj(tm, other) ? tm : nullptr;
}

// Orders two strings that may hold zero bytes, piece by piece between them.
int CompareStrings(qvVmState* L, const qvString* ls, const qvString* rs, bool caseSensitive) {
    const char* l = ls->Data();
    const char* r = rs->Data();
    size_t ll = ls->length;
    size_t lr = rs->length;
    for (;;) {
        int d = caseSensitive ? std::strcmp(l, r) : Host(L).StrICmp(l, r);
        if (d != 0) return d;
        size_t piece = std::strlen(l);
        if (piece == lr) return piece == ll ? 0 : 1;
        if (piece == ll) return -1;
        ++piece;  // past the zero byte
        l += piece;
        ll -= piece;
        r += piece;
        lr -= piece;
    }
}

[[noreturn]] void RaiseChainLimit(qvVmState* L, const char* parameter) {
    Host(L).SetErrorText(parameter);
    RaiseError(L, ERR_INTERNAL1);
}

bool ToStringInPlace(qvVmState* L, qvValue* v) {
    return IsString(v) || VmNumberToString(L, v) != 0;
}

[[gnu::noinline]] void GrowScratchBuffer(qvVmState* L, size_t n) {
    qvScratchBuffer& b = L->g->buff;
    size_t size = std::max<size_t>(n, 32);
    b.data = static_cast<char*>(VmRealloc(L, b.data, b.size, size));
    b.size = size;
}

// The engine's shared scratch buffer with room for n bytes (never below 32).
inline char* ScratchBuffer(qvVmState* L, size_t n) {
    if (L->g->buff.size < n) [[unlikely]]
        GrowScratchBuffer(L, n);
    return L->g->buff.data;
}

// Copies the n strings ending at top - 1 into the scratch buffer; returns it.
const char* GatherStrings(qvVmState* L, const qvValue* top, int n, size_t length) {
    char* out = ScratchBuffer(L, length);
    for (const qvValue* v = top - n; v < top; ++v) {
        CopyBytes(out, StringOf(v)->Data(), StringOf(v)->length);
        out += StringOf(v)->length;
    }
    return L->g->buff.data;
}

// Stores in left the short join of its text and second, whose hash is known: looked up and
// copied from its two pieces. The join is not gathered, but the scratch buffer grows as if it
// were, so that the bytes in use stay those of every other concatenation.
[[gnu::always_inline]] inline void StoreShortJoin(qvVmState* L, qvValue* left, TextBytes second,
                                                  uint32_t hash) {
    const qvString* l = StringOf(left);
    ScratchBuffer(L, l->length + second.length);
    SetString(left, InternHashed(L, JoinedBytes{{l->Data(), l->length}, second}, hash));
}

// A text and a number alone, the commonest concatenation of loops that build keys and names:
// the number's text and the join are hashed while the number is formatted, and both strings'
// intern chains are fetched before either lookup waits for its own. The number is converted in
// its register first, as in every concatenation. Returns false, with only that done, when the
// join is too long to be hashed from its pieces.
bool JoinTextAndNumber(qvVmState* L, qvValue* left, qvValue* right) {
    const qvString* l = StringOf(left);
    char text[kNumberTextSize];
    uint32_t hashes[2];
    const auto n =
        static_cast<uint32_t>(FormatNumberHashed(right->value.n, text, l->length, hashes));
    const qvStringTable& strt = L->g->strt;
    PrefetchStringChain(strt, hashes[0]);
    const bool shortJoin = IsShortJoin(l->length, n);
    uint32_t hash = 0;
    if (shortJoin) {
        hash = MixStringHash(hashes[1], l->Data(), l->length);
        PrefetchStringChain(strt, hash);
    }
    SetString(right, NewStringHashed(L, text, n, hashes[0]));
    if (!shortJoin) return false;
    StoreShortJoin(L, left, {text, n}, hash);
    return true;
}

// Two texts alone; false when the join is too long to be hashed from its pieces.
bool JoinTexts(qvVmState* L, qvValue* left, const qvValue* right) {
    const qvString* l = StringOf(left);
    const qvString* r = StringOf(right);
    if (r->length == 0) return true;  // the left one is the result
    if (!IsShortJoin(l->length, r->length)) return false;
    const uint32_t hash = MixStringHash(MixStringHash(l->length + r->length, r->Data(), r->length),
                                        l->Data(), l->length);
    StoreShortJoin(L, left, {r->Data(), r->length}, hash);
    return true;
}

// One step of VmConcatValues on the values ending at top - 1; returns how many it joined.
int ConcatStep(qvVmState* L, qvValue* top, int total) {
    qvValue* left = top - 2;
    qvValue* right = top - 1;
    if (!ToStringInPlace(L, left) || !ToStringInPlace(L, right)) {
        const qvValue* tm = VmGetTagMethod(L, left, TM_CONCAT);
        if (IsNil(tm)) tm = VmGetTagMethod(L, right, TM_CONCAT);
        if (!IsFunction(tm)) RaiseError(L, ERR_CONCAT);
        ptrdiff_t leftOffset = SaveStack(L, left);
        const qvValue* result = CallBinary(L, tm, left, right);
        CopyValue(RestoreStack(L, leftOffset), result);
        return 2;
    }
    if (StringOf(right)->length == 0) return 2;  // the left one is the result
    uint64_t length = uint64_t{StringOf(left)->length} + StringOf(right)->length;
    int n = 2;
    for (; n < total; ++n) {
        qvValue* v = top - n - 1;
        if (!IsString(v) && !IsNil(v) && !IsNumber(v)) break;
        ToStringInPlace(L, v);
        length += StringOf(v)->length;
    }
    if (length > kMaxConcatLength) RaiseError(L, ERR_INTERNAL);
    const auto joinedLength = static_cast<size_t>(length);
    SetString(top - n, VmNewString(L, GatherStrings(L, top, n, joinedLength), joinedLength));
    return n;
}

// The general steps of VmConcatValues, apart from the paths of two values alone so that each
// keeps its registers to itself.
[[gnu::noinline]] void ConcatSteps(qvVmState* L, int total, int last) {
    while (total > 1) {
        int n = ConcatStep(L, L->base + last + 1, total);
        total -= n - 1;
        last -= n - 1;
    }
}

}  // namespace

void CallMetamethod(qvVmState* L, const qvValue* tm, std::initializer_list<qvValue> args,
                    int nResults) {
    qvValue f = *tm;
    PushValue(L, &f);
    for (const qvValue& arg : args) PushValue(L, &arg);
    CallValue(L, L->top - static_cast<ptrdiff_t>(args.size() + 1), nResults);
}

// The metamethod calls of arithmetic, comparison and indexing: one stack check for all three
// pushes.
const qvValue* CallBinary(qvVmState* L, const qvValue* tm, const qvValue* a, const qvValue* b) {
    qvValue f, x, y;  // copies: growing may move the stack
    CopyValue(&f, tm);
    CopyValue(&x, a);
    CopyValue(&y, b);
    CheckStack(L, 3);
    qvValue* func = L->top;
    CopyValue(func, &f);
    CopyValue(func + 1, &x);
    CopyValue(func + 2, &y);
    L->top = func + 3;
    CallValue(L, func, 1);
    return --L->top;
}

}  // namespace qv

using namespace qv;

const qvValue* VmToNumberObj(const qvValue* v, qvValue* scratch) {
    if (IsNumber(v)) return v;
    qvNumber n = 0;
    if (IsNil(v) ||
        (IsString(v) && VmStrToNumber(StringOf(v)->Data(), StringOf(v)->length, &n) != 0)) {
        SetNumber(scratch, n);
        return scratch;
    }
    return nullptr;
}

int VmNumberToString(qvVmState* L, qvValue* slot) {
    if (IsNil(slot)) {
        SetString(slot, VmNewString(L, "", 0));
        return 1;
    }
    if (!IsNumber(slot)) return 0;
    char text[kNumberTextSize];
    size_t length = FormatNumber(slot->value.n, text);
    SetString(slot, VmNewString(L, text, length));
    return 1;
}

int VmEqualObj(qvVmState* L, const qvValue* a, const qvValue* b) {
    if (IsNil(a)) return EqualsNil(b);
    if (IsNil(b)) return EqualsNil(a);
    if (a->tag != b->tag) RaiseMixedTypes(L, a, b);
    switch (a->tag) {
        case VM_TBOOLEAN:
            return a->value.b == b->value.b;
        case VM_TNUMBER:
            return a->value.n == b->value.n;
        case VM_TLIGHTUSERDATA:
            return a->value.p == b->value.p;
        case VM_TTABLE:
        case VM_TUSERDATA:
            break;
        default:
            return a->value.gc == b->value.gc;
    }
    if (a->value.gc == b->value.gc) return 1;
    const qvValue* tm = EqualityMetamethod(L, a, b);
    return tm != nullptr && MetamethodTrue(CallBinary(L, tm, a, b));
}

int VmCompareValues(qvVmState* L, const qvValue* l, const qvValue* r, int caseSensitive) {
    if (IsNil(l)) {
        if (IsNumber(r)) return 0 < r->value.n;
        if (IsString(r) || IsNil(r)) return 0;
        RaiseError(L, ERR_WRONGOP);
    }
    if (IsNil(r)) {
        if (IsNumber(l)) return l->value.n < 0;
        if (IsString(l)) return 0;
        RaiseError(L, ERR_WRONGOP);
    }
    if (l->tag != r->tag) RaiseMixedTypes(L, l, r);
    if (IsNumber(l)) return l->value.n < r->value.n;
    if (IsString(l)) return CompareStrings(L, StringOf(l), StringOf(r), caseSensitive != 0) < 0;
    const qvValue* tm = VmGetTagMethod(L, l, TM_LT);
    if (IsNil(tm) || !VmRawEqualObj(tm, VmGetTagMethod(L, r, TM_LT))) RaiseError(L, ERR_WRONGOP);
    return MetamethodTrue(CallBinary(L, tm, l, r));
}

const qvValue* VmGetTableChain(qvVmState* L, const qvValue* t, const qvValue* key, int loop) {
    for (;; ++loop) {
        if (loop > kMaxChainHops) RaiseChainLimit(L, "#1");
        const qvValue* tm;
        if (IsTable(t)) {
            const qvValue* v = VmTableGet(TableOf(t), key);
            if (!IsNil(v)) return v;
            qvTable* mt = TableOf(t)->metatable;
            tm = mt != nullptr ? VmFastTagMethod(mt, TM_INDEX, L->g->tmname[TM_INDEX]) : nullptr;
            if (tm == nullptr) return &kNilObject;
        } else {
            tm = VmGetTagMethod(L, t, TM_INDEX);
            if (IsNil(tm)) VmTypeError(L, t, ERR_TABLEDECLA, "{}");
        }
        if (IsFunction(tm)) return CallBinary(L, tm, t, key);
        t = tm;
    }
}

void VmSetTableChain(qvVmState* L, const qvValue* t, const qvValue* key, const qvValue* value) {
    for (int met = 1;; ++met) {
        const qvValue* tm;
        if (IsTable(t)) {
            qvTable* h = TableOf(t);
            qvValue* slot = VmTableSet(L, h, key);
            qvTable* mt = h->metatable;
            tm = !IsNil(slot) || mt == nullptr || (mt->flags & (1u << TM_NEWINDEX)) != 0
                     ? nullptr
                     : VmFastTagMethod(mt, TM_NEWINDEX, L->g->tmname[TM_NEWINDEX]);
            if (tm == nullptr) {
                CopyValue(slot, value);
                return;
            }
        } else {
            tm = VmGetTagMethod(L, t, TM_NEWINDEX);
            if (IsNil(tm)) VmTypeError(L, t, ERR_TABLEDECLA, "{}");
        }
        if (IsFunction(tm)) {
            CallMetamethod(L, tm, {*t, *key, *value}, 0);
            return;
        }
        if (met > kMaxChainHops) RaiseChainLimit(L, "#2");
        t = tm;
    }
}

void VmConcatValues(qvVmState* L, int total, int last) {
    qvValue* left = L->base + last - 1;
    qvValue* right = left + 1;
    if (total == 2 && qv::IsString(left)) {
        if (qv::IsNumber(right)) {
            if (qv::JoinTextAndNumber(L, left, right)) return;
        } else if (qv::IsString(right) && qv::JoinTexts(L, left, right)) {
            return;
        }
    }
    qv::ConcatSteps(L, total, last);
}
