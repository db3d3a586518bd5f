// Tables: an array part for the integer keys 1..n and a chained hash part.
//
// The layout decides the traversal order that scripts observe (NextItem, serialised tables),
// so main positions, collision moves, the downward free-node cursor and the sizes chosen by a
// rehash are all fixed behaviour, not implementation detail.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "engine/internal.h"
#include "engine/small_blocks.h"

namespace qv {
namespace {

constexpr int kMaxBits = 24;
constexpr uint32_t kMaxArraySize = 1u << kMaxBits;

uint32_t SizeNode(const qvTable* t) {
    return 1u << t->lsizenode;
}

// Real hash parts have at least two nodes; one node is the shared empty node, which must
// never receive a key.
bool HasNoHashStorage(const qvTable* t) {
    return t->lsizenode == 0;
}

// The mod by an odd number spreads keys whose low bits are alike.
qvNode* ModPosition(const qvTable* t, uint64_t x) {
    return &t->node[x % ((SizeNode(t) - 1) | 1)];
}

// The halves of x + 1.0 in big-endian word order; 0 and -0 meet in one position.
qvNode* NumberPosition(const qvTable* t, double n) {
    const auto bits = std::bit_cast<uint64_t>(n + 1.0);
    return ModPosition(t, static_cast<uint32_t>(bits >> 32) + static_cast<uint32_t>(bits));
}

qvNode* StringPosition(const qvTable* t, const qvString* s) {
    return &t->node[s->hash & (SizeNode(t) - 1)];
}

qvNode* OtherPosition(const qvTable* t, const qvValue* key) {
    switch (key->tag) {
        case VM_TNUMBER:
            return NumberPosition(t, key->value.n);
        case VM_TBOOLEAN:
            return &t->node[static_cast<uint32_t>(key->value.b) & (SizeNode(t) - 1)];
        case VM_TLIGHTUSERDATA:
            return ModPosition(t, reinterpret_cast<uintptr_t>(key->value.p));
        default:
            return ModPosition(t, reinterpret_cast<uintptr_t>(key->value.gc));
    }
}

// String keys, the common case, in line.
inline qvNode* MainPosition(const qvTable* t, const qvValue* key) {
    return key->tag == VM_TSTRING ? StringPosition(t, StringOf(key)) : OtherPosition(t, key);
}

const qvValue* GetNumberKey(const qvTable* t, double n) {
    for (qvNode* node = NumberPosition(t, n); node != nullptr; node = node->next) {
        if (node->key.tag == VM_TNUMBER && node->key.value.n == n) return &node->val;
    }
    return &kNilObject;
}

const qvValue* GetOtherKey(const qvTable* t, const qvValue* key) {
    for (qvNode* node = MainPosition(t, key); node != nullptr; node = node->next) {
        if (VmRawEqualObj(&node->key, key)) return &node->val;
    }
    return &kNilObject;
}

// --- Storage of the two parts ---

void FreeArray(qvVmState* L, qvValue* array, uint32_t size) {
    if (array != nullptr) FreeEngineBlock(L, array, size * sizeof(qvValue));
}

void FreeNodes(qvVmState* L, qvNode* node, int lognode) {
    if (lognode != 0) FreeEngineBlock(L, node, sizeof(qvNode) << lognode);
}

void CheckSizes(qvVmState* L, int narray, int lognode) {
    if (narray < 0 || static_cast<uint32_t>(narray) > kMaxArraySize || lognode < 0 ||
        lognode > kMaxBits) {
        RaiseError(L, ERR_TABLEOVERFLOW);
    }
}

// A hash part of 2^lognode empty nodes (lognode 1..24).
qvNode* NewNodes(qvVmState* L, int lognode) {
    const uint32_t size = 1u << lognode;
    auto* node = static_cast<qvNode*>(NewEngineBlock(L, size * sizeof(qvNode)));
    // All bits zero is a node with nil key and value and no successor: one fill of the block.
    static_assert(VM_TNIL == 0 && std::is_trivially_copyable_v<qvNode>);
    std::memset(static_cast<void*>(node), 0, size * sizeof(qvNode));
    return node;
}

// An array part of size slots (1..2^24) that starts with the count entries of from; the slots
// beyond them are nil.
qvValue* NewArray(qvVmState* L, uint32_t size, const qvValue* from = nullptr, uint32_t count = 0) {
    auto* array = static_cast<qvValue*>(NewEngineBlock(L, size * sizeof(qvValue)));
    std::copy_n(from, count, array);
    for (uint32_t i = count; i < size; ++i) SetNil(&array[i]);
    return array;
}

// The array and hash blocks of a resize. They are all allocated before the table changes, so
// that running out of memory leaves the table as it was; whatever the object holds at its end
// (the new blocks after a failure, the old ones after the swap) is freed.
class TableStorage {
public:
    explicit TableStorage(qvVmState* L) : L_(L), node_(L->g->dummynode) {}
    // In line: a growing record's rehash then gives back its old part without a call.
    [[gnu::always_inline]] ~TableStorage() {
        FreeArray(L_, array_, asize_);
        FreeNodes(L_, node_, lognode_);
    }
    TableStorage(const TableStorage&) = delete;
    TableStorage& operator=(const TableStorage&) = delete;

    void AllocateNodes(int lognode) {
        if (lognode == 0) return;
        node_ = NewNodes(L_, lognode);
        lognode_ = lognode;
    }

    // An array part of unchanged size stays where it is; a new one starts with the entries
    // both sizes share.
    void AllocateArray(const qvTable* t, uint32_t size) {
        if (size == t->sizearray) return;
        newArray_ = true;
        if (size == 0) return;
        array_ = NewArray(L_, size, t->array, std::min(t->sizearray, size));
        asize_ = size;
    }

    // Installs the new blocks in t and takes the old blocks in exchange.
    void SwapWith(qvTable* t) {
        if (newArray_) {
            std::swap(t->array, array_);
            std::swap(t->sizearray, asize_);
        }
        std::swap(t->node, node_);
        const int lognode = t->lsizenode;
        t->lsizenode = static_cast<uint8_t>(lognode_);
        lognode_ = lognode;
        t->firstfree = &t->node[SizeNode(t) - 1];
    }

    const qvValue* Array() const { return array_; }
    uint32_t ArraySize() const { return asize_; }
    const qvNode* Nodes() const { return node_; }
    uint32_t NodeCount() const { return 1u << lognode_; }

private:
    qvVmState* L_;
    qvValue* array_ = nullptr;
    uint32_t asize_ = 0;
    qvNode* node_;
    int lognode_ = 0;
    bool newArray_ = false;
};

// --- Rehash ---

// Candidate keys for the array part by slice: slice 0 holds the key 1, slice i the keys in
// (2^(i-1), 2^i].
struct KeyCount {
    std::array<uint32_t, kMaxBits + 1> slices{};
    uint32_t total = 0;
    uint32_t candidates = 0;  // keys counted into a slice

    void Add(const qvValue* key) {
        ++total;
        if (!IsNumber(key)) return;
        if (const uint32_t k = IntegerKey(key->value.n, kMaxArraySize)) {
            ++slices[VmLog2(k - 1) + 1];
            ++candidates;
        }
    }
};

void CountArray(const qvTable* t, KeyCount& count) {
    uint32_t key = 1;
    for (int slice = 0; slice <= kMaxBits && key <= t->sizearray; ++slice) {
        const uint32_t last = std::min(1u << slice, t->sizearray);
        for (; key <= last; ++key) {
            if (IsNil(&t->array[key - 1])) continue;
            ++count.slices[slice];
            ++count.total;
            ++count.candidates;
        }
    }
}

void CountNodes(const qvTable* t, KeyCount& count) {
    for (uint32_t i = 0; i < SizeNode(t); ++i) {
        if (!IsNil(&t->node[i].val)) count.Add(&t->node[i].key);
    }
}

struct Sizes {
    uint32_t array;
    int lognode;
};

// The smallest power of two above n entries, as a log2; no hash storage for none.
int HashLogFor(uint32_t n) {
    return n == 0 ? 0 : VmLog2(n) + 1;
}

// The array part is the largest 2^i of which at least half, 2^(i-1) keys, would be in use;
// the hash part the smallest power of two above the rest.
Sizes ComputeSizes(const KeyCount& count) {
    uint32_t arraySize = 0;
    uint32_t inArray = 0;
    uint32_t running = 0;
    // Beyond 2^i > 2 * candidates no slice can qualify.
    for (int i = 0; i <= kMaxBits && (uint64_t{1} << i) <= 2ull * count.candidates; ++i) {
        running += count.slices[i];
        if (2 * running >= (1u << i)) {
            arraySize = 1u << i;
            inArray = running;
        }
    }
    return {arraySize, HashLogFor(count.total - inArray)};
}

// The sizes for the entries of t plus pending, from counts of candidate array indices.
[[gnu::noinline]] Sizes CountedSizes(const qvTable* t, const qvValue* pending) {
    KeyCount count;
    CountArray(t, count);
    CountNodes(t, count);
    if (pending != nullptr) count.Add(pending);
    return ComputeSizes(count);
}

// Resizes to fit the present entries plus pending, the key about to be inserted (nullptr when
// it is already stored). Only number keys can go to the array part: without any, and without
// an array part, the number of entries alone decides, and one pass over the nodes counts it.
// In line in the slow paths that call it, which run once for every record that grows.
[[gnu::always_inline]] inline void Rehash(qvVmState* L, qvTable* t, const qvValue* pending) {
    uint32_t entries = 0;
    bool numbers = false;
    if (pending != nullptr) {
        entries = 1;
        numbers = IsNumber(pending);
    }
    for (const qvNode* node = t->node; node != t->node + SizeNode(t); ++node) {
        if (IsNil(&node->val)) continue;
        ++entries;
        numbers |= IsNumber(&node->key);
    }
    const Sizes sizes =
        numbers || t->sizearray != 0 ? CountedSizes(t, pending) : Sizes{0, HashLogFor(entries)};
    VmTableResize(L, t, static_cast<int>(sizes.array), sizes.lognode);
}

// --- Insertion ---

qvValue* RawSet(qvVmState* L, qvTable* t, const qvValue* key);
qvValue* RawSetNum(qvVmState* L, qvTable* t, int n);

// Gives a rehash's pending key a non-nil value so that it is moved along; if the rehash
// fails the value goes back to nil, since no caller stored it.
class PendingValue {
public:
    explicit PendingValue(qvValue* v) : v_(v) { SetBoolean(v_, false); }
    ~PendingValue() {
        if (v_ != nullptr) SetNil(v_);
    }
    PendingValue(const PendingValue&) = delete;
    PendingValue& operator=(const PendingValue&) = delete;
    void Release() { v_ = nullptr; }

private:
    qvValue* v_;
};

// mp is occupied: frees it for the new key when its occupant is out of its own main position,
// else chains the free node behind it. Returns the node for the new key.
qvNode* Collide(qvTable* t, qvNode* mp) {
    qvNode* other = MainPosition(t, &mp->key);
    qvNode* vacant = t->firstfree;
    if (other != mp) {
        while (other->next != mp) other = other->next;
        other->next = vacant;
        *vacant = *mp;
        mp->next = nullptr;
        SetNil(&mp->val);
        return mp;
    }
    vacant->next = mp->next;
    mp->next = vacant;
    return vacant;
}

// Moves the free-node cursor down to a node without a key; false when none is left.
bool FindFreeNode(qvTable* t) {
    while (!IsNil(&t->firstfree->key)) {
        if (t->firstfree == t->node) return false;
        --t->firstfree;
    }
    return true;
}

// The slow paths of NewKey, out of line so that its common path needs no frame of its own.
[[gnu::noinline]] qvValue* GrowThenInsert(qvVmState* L, qvTable* t, const qvValue* key) {
    Rehash(L, t, key);
    return RawSet(L, t, key);
}

// The key is stored in mp but the table is full: the rehash must carry it along.
[[gnu::noinline]] qvValue* RehashFullTable(qvVmState* L, qvTable* t, const qvValue* key,
                                           qvNode* mp) {
    PendingValue pending(&mp->val);
    Rehash(L, t, nullptr);
    pending.Release();
    auto* slot = const_cast<qvValue*>(TableGetFast(t, key));
    SetNil(slot);
    return slot;
}

// In line in its callers: a store of a new field runs in the frame of the store.
[[gnu::always_inline]] inline qvValue* NewKey(qvVmState* L, qvTable* t, const qvValue* key) {
    qvNode* mp = MainPosition(t, key);
    // No hash storage, or no free node because the last rehash ran out of memory.
    if (HasNoHashStorage(t) || (!IsNil(&mp->val) && !IsNil(&t->firstfree->key))) {
        return GrowThenInsert(L, t, key);
    }
    if (!IsNil(&mp->val)) mp = Collide(t, mp);
    CopyValue(&mp->key, key);
    if (FindFreeNode(t)) return &mp->val;
    return RehashFullTable(L, t, key, mp);
}

// Moves an entry into a resized table. The new hash part holds only entries moved before
// this one, each with a value and its own key, so the key needs no lookup and the free-node
// cursor always rests on a free node. Sizes from a rehash leave room for every entry; a part
// too small (sizes chosen by a caller) rehashes as a full one does.
void MoveEntry(qvVmState* L, qvTable* t, const qvValue* key, const qvValue* val) {
    if (IsNumber(key)) {
        if (const uint32_t i = IntegerKey(key->value.n, t->sizearray)) {
            t->array[i - 1] = *val;
            return;
        }
    }
    if (HasNoHashStorage(t)) {
        *NewKey(L, t, key) = *val;
        return;
    }
    qvNode* mp = MainPosition(t, key);
    if (!IsNil(&mp->val)) mp = Collide(t, mp);
    mp->key = *key;
    mp->val = *val;
    if (!FindFreeNode(t)) Rehash(L, t, nullptr);
}

// Moves the entries of an old hash part into t, from its last node to its first. A string key
// whose main position is free and is not the free-node cursor takes it in line: the cursor
// then stays where it is, on a free node.
void MoveNodes(qvVmState* L, qvTable* t, const qvNode* old, uint32_t count) {
    qvNode* node = t->node;
    uint32_t mask = SizeNode(t) - 1;
    for (const qvNode* n = old + count; n-- != old;) {
        if (IsNil(&n->val)) continue;
        if (IsString(&n->key) && mask != 0) {
            qvNode* mp = &node[StringOf(&n->key)->hash & mask];
            if (IsNil(&mp->val) && mp != t->firstfree) {
                mp->key = n->key;
                mp->val = n->val;
                continue;
            }
        }
        MoveEntry(L, t, &n->key, &n->val);
        node = t->node;  // a part too small has been rehashed
        mask = SizeNode(t) - 1;
    }
}

qvValue* RawSetNum(qvVmState* L, qvTable* t, int n) {
    if (static_cast<uint32_t>(n) - 1u < t->sizearray) return &t->array[n - 1];
    if (const qvValue* v = GetNumberKey(t, n); v != &kNilObject) return const_cast<qvValue*>(v);
    qvValue key;
    SetNumber(&key, n);
    return NewKey(L, t, &key);
}

qvValue* RawSet(qvVmState* L, qvTable* t, const qvValue* key) {
    if (const qvValue* v = TableGetFast(t, key); v != &kNilObject) return const_cast<qvValue*>(v);
    return InsertMissing(L, t, key);
}

// --- Traversal ---

// Index into the array part followed by the hash part at which the scan after key begins.
uint32_t TraversalStart(qvVmState* L, const qvTable* t, const qvValue* key) {
    if (IsNil(key)) return 0;
    if (IsNumber(key)) {
        if (const uint32_t i = IntegerKey(key->value.n, t->sizearray)) return i;
    }
    for (const qvNode* node = MainPosition(t, key); node != nullptr; node = node->next) {
        if (VmRawEqualObj(&node->key, key)) {
            return t->sizearray + static_cast<uint32_t>(node - t->node) + 1;
        }
    }
    RaiseError(L, ERR_INVNEXTKEY);
}

constexpr std::array<int8_t, 256> kByteLog2 = [] {
    std::array<int8_t, 256> table{};
    table[0] = -1;
    for (int i = 1; i < 256; ++i) table[i] = static_cast<int8_t>(table[i / 2] + 1);
    return table;
}();

}  // namespace

qvValue* InsertMissing(qvVmState* L, qvTable* t, const qvValue* key) {
    t->flags = 0;
    if (IsNil(key)) return RawSetNum(L, t, 0);
    if (IsNumber(key) && std::isnan(key->value.n)) RaiseError(L, ERR_TABLEINDEX);
    return NewKey(L, t, key);
}

}  // namespace qv

qvTable* VmTableNew(qvVmState* L, int narray, int lognode) {
    qv::CheckSizes(L, narray, lognode);
    auto* t = static_cast<qvTable*>(qv::NewEngineBlock(L, sizeof(qvTable)));
    qvVmGlobalState* g = L->g;
    t->flags = 0xFF;
    t->lsizenode = 0;
    // The default metatable does not exist yet while it is itself being created.
    t->metatable = qv::IsTable(&g->defaultMeta) ? qv::TableOf(&g->defaultMeta) : nullptr;
    t->array = nullptr;
    t->node = g->dummynode;
    t->firstfree = g->dummynode;
    t->gclist = nullptr;
    t->sizearray = 0;
    // Linked before its parts exist: a failure below leaves a valid table to collect. A fresh
    // table has no entries to move, so its parts are installed as they come.
    VmLinkObject(L, t, VM_TTABLE);
    if (lognode != 0) {
        t->node = qv::NewNodes(L, lognode);
        t->lsizenode = static_cast<uint8_t>(lognode);
        t->firstfree = &t->node[(1u << lognode) - 1];
    }
    if (narray != 0) {
        t->array = qv::NewArray(L, static_cast<uint32_t>(narray));
        t->sizearray = static_cast<uint32_t>(narray);
    }
    return t;
}

void VmFreeTable(qvVmState* L, qvTable* t) {
    qv::FreeNodes(L, t->node, t->lsizenode);
    qv::FreeArray(L, t->array, t->sizearray);
    qv::FreeEngineBlock(L, t, sizeof(qvTable));
}

// An empty array slot, or a node whose value was cleared, is returned as the slot it is:
// callers test the value for nil; identity with kNilObject only says that no slot exists.
const qvValue* VmTableGetNum(qvTable* t, int n) {
    if (static_cast<uint32_t>(n) - 1u < t->sizearray) return &t->array[n - 1];
    return qv::GetNumberKey(t, n);
}

const qvValue* VmTableGetStr(qvTable* t, qvString* key) {
    return qv::TableGetString(t, key);
}

const qvValue* VmTableGet(qvTable* t, const qvValue* key) {
    switch (key->tag) {
        case VM_TNIL:
            return qv::GetNumberKey(t, 0);
        case VM_TSTRING:
            return VmTableGetStr(t, qv::StringOf(key));
        case VM_TNUMBER:
            if (const uint32_t i = qv::IntegerKey(key->value.n, t->sizearray)) {
                return &t->array[i - 1];
            }
            return qv::GetNumberKey(t, key->value.n);
        default:
            return qv::GetOtherKey(t, key);
    }
}

// Every store clears the absent-metamethod cache, whether or not the key is new.
qvValue* VmTableSet(qvVmState* L, qvTable* t, const qvValue* key) {
    t->flags = 0;
    return qv::RawSet(L, t, key);
}

qvValue* VmTableSetNum(qvVmState* L, qvTable* t, int n) {
    t->flags = 0;
    return qv::RawSetNum(L, t, n);
}

int VmTableNext(qvVmState* L, qvTable* t, qvValue* key) {
    uint32_t i = qv::TraversalStart(L, t, key);
    for (; i < t->sizearray; ++i) {
        if (qv::IsNil(&t->array[i])) continue;
        qv::SetNumber(key, i + 1);
        key[1] = t->array[i];
        return 1;
    }
    for (i -= t->sizearray; i < qv::SizeNode(t); ++i) {
        const qvNode& node = t->node[i];
        if (qv::IsNil(&node.val)) continue;
        key[0] = node.key;
        key[1] = node.val;
        return 1;
    }
    return 0;
}

qvNode* VmTableMainPosition(const qvTable* t, const qvValue* key) {
    return qv::MainPosition(t, key);
}

// nhsize is the log2 of the new hash-part size, 0 for no hash storage.
void VmTableResize(qvVmState* L, qvTable* t, int nasize, int nhsize) {
    qv::CheckSizes(L, nasize, nhsize);
    qv::TableStorage storage(L);
    storage.AllocateNodes(nhsize);
    storage.AllocateArray(t, static_cast<uint32_t>(nasize));
    storage.SwapWith(t);
    for (uint32_t i = t->sizearray; i < storage.ArraySize(); ++i) {
        if (!qv::IsNil(&storage.Array()[i])) {
            qvValue key;
            qv::SetNumber(&key, i + 1);
            qv::MoveEntry(L, t, &key, &storage.Array()[i]);
        }
    }
    qv::MoveNodes(L, t, storage.Nodes(), storage.NodeCount());
}

int VmLog2(uint32_t x) {
    int log = 0;
    while (x >= 256) {
        log += 8;
        x >>= 8;
    }
    return log + qv::kByteLog2[x];
}

int VmRawEqualObj(const qvValue* a, const qvValue* b) {
    if (a->tag != b->tag) return 0;
    switch (a->tag) {
        case VM_TNONE:
        case VM_TNIL:
            return 1;
        case VM_TNUMBER:
            return a->value.n == b->value.n;
        case VM_TBOOLEAN:
            return a->value.b == b->value.b;
        case VM_TLIGHTUSERDATA:
            return a->value.p == b->value.p;
        default:
            return a->value.gc == b->value.gc;
    }
}
