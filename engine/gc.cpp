// The collector: stop-the-world mark and sweep with weak tables and "__gc" finalizers.
#include "engine/gc.h"

#include <cstring>

#include "engine/api_internal.h"
#include "engine/small_blocks.h"
#include "engine/string_table.h"

namespace qv {
namespace {

constexpr int kMinCallRecords = 8;
constexpr int kMinStackSlots = 45;

qvGCHeader*& GrayLink(qvGCHeader* o) {
    switch (o->tag) {
        case VM_TTABLE:
            return static_cast<qvTable*>(o)->gclist;
        case VM_TFUNCTION:
            return static_cast<qvClosureHeader*>(o)->gclist;
        case VM_TTHREAD:
            return static_cast<qvVmState*>(o)->gclist;
        default:
            return static_cast<qvProto*>(o)->gclist;
    }
}

void MarkObject(qvVmGlobalState* g, qvGCHeader* o) {
    if (o == nullptr || (o->marked & VM_MARKED)) return;
    o->marked |= VM_MARKED;
    switch (o->tag) {
        case VM_TSTRING:
        case VM_TUPVAL:
            return;
        case VM_TUSERDATA:
            MarkObject(g, static_cast<qvUserdata*>(o)->metatable);
            return;
        default:
            GrayLink(o) = g->gray;
            g->gray = o;
    }
}

void MarkValue(qvVmGlobalState* g, const qvValue* v) {
    if (IsCollectable(v)) MarkObject(g, v->value.gc);
}

bool HasMetamethod(qvTable* mt, int event, qvVmGlobalState* g) {
    if (mt == nullptr || (mt->flags & (1u << event))) return false;
    return VmFastTagMethod(mt, event, g->tmname[event]) != nullptr;
}

// Reads "__mode" and files a weak table on its list; returns its weak bits.
uint8_t WeakMode(qvVmGlobalState* g, qvTable* h) {
    h->marked &= static_cast<uint8_t>(~(VM_WEAKKEYS | VM_WEAKVALUES));
    qvTable* mt = h->metatable;
    if (mt == nullptr || (mt->flags & (1u << TM_MODE))) return 0;
    const qvValue* mode = VmFastTagMethod(mt, TM_MODE, g->tmname[TM_MODE]);
    if (mode == nullptr || !IsString(mode)) return 0;
    const char* text = StringOf(mode)->Data();
    uint8_t weak =
        (std::strchr(text, 'k') ? VM_WEAKKEYS : 0) | (std::strchr(text, 'v') ? VM_WEAKVALUES : 0);
    if (weak == 0) return 0;
    h->marked |= weak;
    qvTable** list = weak == (VM_WEAKKEYS | VM_WEAKVALUES) ? &g->weakBoth
                     : weak == VM_WEAKKEYS                 ? &g->weakKeys
                                                           : &g->weakValues;
    h->gclist = *list;
    *list = h;
    return weak;
}

size_t NodeCount(const qvTable* h) {
    return size_t{1} << h->lsizenode;
}

void TraverseTable(qvVmGlobalState* g, qvTable* h) {
    MarkObject(g, h->metatable);
    uint8_t weak = WeakMode(g, h);
    bool weakKeys = weak & VM_WEAKKEYS;
    bool weakValues = weak & VM_WEAKVALUES;
    if (!weakValues) {
        for (uint32_t i = 0; i < h->sizearray; ++i) MarkValue(g, &h->array[i]);
    }
    for (size_t i = 0, n = NodeCount(h); i < n; ++i) {
        qvNode* node = &h->node[i];
        if (IsNil(&node->val)) continue;
        if (!weakKeys) MarkValue(g, &node->key);
        if (!weakValues) MarkValue(g, &node->val);
    }
}

void TraverseClosure(qvVmGlobalState* g, qvClosureHeader* c) {
    if (c->isNative) {
        auto* cc = static_cast<qvCClosure*>(c);
        for (int i = 0; i < cc->nupvalues; ++i) MarkValue(g, &cc->Upvalues()[i]);
        return;
    }
    auto* lc = static_cast<qvLClosure*>(c);
    MarkObject(g, lc->proto);
    MarkValue(g, &lc->env);
    for (int i = 0; i < lc->nupvalues; ++i) {
        qvUpVal* uv = lc->Upvalues()[i];
        if (uv == nullptr || (uv->marked & VM_MARKED)) continue;
        uv->marked |= VM_MARKED;
        MarkValue(g, uv->v);
    }
}

void TraverseProto(qvVmGlobalState* g, qvProto* p) {
    MarkObject(g, p->source);
    for (int i = 0; i < p->sizek; ++i) {
        if (IsString(&p->k[i])) MarkObject(g, p->k[i].value.gc);
    }
    for (int i = 0; i < p->sizeupvalues; ++i) MarkObject(g, p->upvalues[i]);
    for (int i = 0; i < p->sizelocvars; ++i) MarkObject(g, p->locvars[i].name);
    for (int i = 0; i < p->sizep; ++i) MarkObject(g, p->p[i]);
}

void ShrinkStack(qvVmState* th, void*) {
    ptrdiff_t inUse = th->ci - th->baseCi;
    if (4 * inUse < th->sizeCi && th->sizeCi > 2 * kMinCallRecords)
        VmResizeCallInfo(th, th->sizeCi / 2);
    qvValue* highest = th->top;
    for (qvCallRecord* ci = th->baseCi; ci <= th->ci; ++ci) {
        if (highest < ci->top) highest = ci->top;
    }
    if (4 * (highest - th->stack) < th->stacksize && th->stacksize > 2 * kMinStackSlots)
        VmResizeStack(th, th->stacksize / 2);
}

void TraverseThread(qvVmGlobalState* g, qvVmState* th) {
    // The thread's globals are a root of their own: nothing else need refer to them.
    MarkValue(g, &th->globals);
    if (th->stack == nullptr || th->baseCi == nullptr) return;  // creation failed half-way
    for (qvValue* o = th->stack; o < th->top; ++o) MarkValue(g, o);
    qvValue* highest = th->top;
    for (qvCallRecord* ci = th->baseCi; ci <= th->ci; ++ci) {
        if (highest < ci->top) highest = ci->top;
    }
    qvValue* end = th->stack + th->stacksize;
    for (qvValue* o = th->top; o <= highest && o < end; ++o) SetNil(o);
    // Shrinking is an economy, not a duty: a failed allocation leaves the arrays as they are.
    RunEconomy(th, ShrinkStack, nullptr);
}

void PropagateMarks(qvVmGlobalState* g) {
    while (g->gray != nullptr) {
        qvGCHeader* o = g->gray;
        g->gray = GrayLink(o);
        switch (o->tag) {
            case VM_TTABLE:
                TraverseTable(g, static_cast<qvTable*>(o));
                break;
            case VM_TFUNCTION:
                TraverseClosure(g, static_cast<qvClosureHeader*>(o));
                break;
            case VM_TTHREAD:
                TraverseThread(g, static_cast<qvVmState*>(o));
                break;
            case VM_TPROTO:
                TraverseProto(g, static_cast<qvProto*>(o));
                break;
        }
    }
}

// Whether a weak entry's key or value is to be removed.
bool IsCleared(const qvValue* v, bool isKey) {
    if (!IsCollectable(v)) return false;
    qvGCHeader* o = v->value.gc;
    if (o->tag == VM_TSTRING) {
        o->marked |= VM_MARKED;  // strings are values, never weak
        return false;
    }
    if (!isKey && o->tag == VM_TUSERDATA && (o->marked & VM_FINALIZED)) return true;
    return !(o->marked & VM_MARKED);
}

void ClearKeys(qvTable* list) {
    for (qvTable* h = list; h != nullptr; h = static_cast<qvTable*>(h->gclist)) {
        for (size_t i = 0, n = NodeCount(h); i < n; ++i) {
            qvNode* node = &h->node[i];
            if (!IsNil(&node->val) && IsCleared(&node->key, true)) SetNil(&node->val);
        }
    }
}

void ClearValues(qvTable* list) {
    for (qvTable* h = list; h != nullptr; h = static_cast<qvTable*>(h->gclist)) {
        for (uint32_t i = 0; i < h->sizearray; ++i) {
            if (IsCleared(&h->array[i], false)) SetNil(&h->array[i]);
        }
        for (size_t i = 0, n = NodeCount(h); i < n; ++i) {
            qvNode* node = &h->node[i];
            if (!IsNil(&node->val) && IsCleared(&node->val, false)) SetNil(&node->val);
        }
    }
}

// Moves unreachable user data with "__gc" to the end of the awaiting list; returns their size.
size_t SeparateUserdata(qvVmState* L) {
    qvVmGlobalState* g = L->g;
    size_t deadmem = 0;
    qvGCHeader** last = &g->tmudata;
    while (*last != nullptr) last = &(*last)->next;
    qvGCHeader** p = &g->rootudata;
    while (*p != nullptr) {
        auto* u = static_cast<qvUserdata*>(*p);
        if (u->marked & (VM_MARKED | VM_FINALIZED)) {
            p = &u->next;
        } else if (!HasMetamethod(u->metatable, TM_GC, g)) {
            u->marked |= VM_FINALIZED;
            p = &u->next;
        } else {
            deadmem += UserdataSize(u->length);
            u->marked |= VM_FINALIZED;
            *p = u->next;
            u->next = nullptr;
            *last = u;
            last = &u->next;
        }
    }
    return deadmem;
}

void MarkAwaiting(qvVmGlobalState* g) {
    for (qvGCHeader* o = g->tmudata; o != nullptr; o = o->next) {
        o->marked &= static_cast<uint8_t>(~VM_MARKED);  // may be left over from a failed run
        MarkObject(g, o);
    }
}

// Only closing the engine frees strings one by one (the sweep frees them itself); apart, it
// leaves the other objects' way through FreeObject as light as it was.
[[gnu::noinline]] void FreeString(qvVmState* L, qvString* s) {
    --L->g->strt.nuse;
    FreeEngineBlock(L, s, StringSize(s->length));
}

void FreeObject(qvVmState* L, qvGCHeader* o) {
    switch (o->tag) {
        case VM_TSTRING:
            FreeString(L, static_cast<qvString*>(o));
            break;
        case VM_TTABLE:
            VmFreeTable(L, static_cast<qvTable*>(o));
            break;
        case VM_TFUNCTION:
            VmFreeClosure(L, static_cast<qvClosureHeader*>(o));
            break;
        case VM_TUSERDATA:
            VmRealloc(L, o, UserdataSize(static_cast<qvUserdata*>(o)->length), 0);
            break;
        case VM_TTHREAD:
            VmFreeThread(L, static_cast<qvVmState*>(o));
            break;
        case VM_TPROTO:
            VmFreeProto(L, static_cast<qvProto*>(o));
            break;
        case VM_TUPVAL:
            FreeEngineBlock(L, o, sizeof(qvUpVal));
            break;
    }
}

// Whether a swept object survives; a survivor loses its mark for the next collection.
bool Survives(qvGCHeader* o) {
    if (!(o->marked & (VM_MARKED | VM_FIXED))) return false;
    o->marked &= static_cast<uint8_t>(~VM_MARKED);
    return true;
}

void SweepList(qvVmState* L, qvGCHeader** p) {
    while (*p != nullptr) {
        qvGCHeader* o = *p;
        if (Survives(o)) {
            p = &o->next;
        } else {
            *p = o->next;
            FreeObject(L, o);
        }
    }
}

// Buckets whose first string is fetched ahead of the sweep: the chains lie scattered over the
// heap, and waiting for each head in turn would leave the memory system idle.
constexpr uint32_t kSweepLookahead = 8;

// Frees the unmarked strings. Most strings of a loop die young, so the counts of strings and
// bytes drop once for the whole sweep rather than once for each string. The survivors stay in
// their buckets: after a doubling they are spread only once the collection has decided whether
// to halve the table back (SpreadStrings).
void SweepStrings(qvVmState* L) {
    qvVmGlobalState* g = L->g;
    qvStringTable& strt = g->strt;
    qvGCHeader** const buckets = strt.hash;
    const uint32_t spread = strt.spread;
    uint32_t freed = 0;
    size_t freedBytes = 0;
    for (uint32_t i = 0; i < spread; ++i) {
        // The lookahead wraps round to buckets already swept at the end (spread is a power of
        // two), which is cheaper than a test.
        __builtin_prefetch(buckets[(i + kSweepLookahead) & (spread - 1)], 1);
        qvGCHeader** p = &buckets[i];
        for (qvGCHeader* o = *p; o != nullptr;) {
            auto* s = static_cast<qvString*>(o);
            o = s->next;  // read first: a freed block's first word links the free blocks
            __builtin_prefetch(o, 1);  // arrives while this one is dealt with
            if (Survives(s)) {
                p = &s->next;
                continue;
            }
            *p = o;
            const size_t size = StringSize(s->length);
            FreeBlock(g, s, size);
            ++freed;
            freedBytes += size;
        }
    }
    strt.nuse -= freed;
    g->nblocks -= freedBytes;
}

void ShrinkStringTable(qvVmState* L, void*) {
    qvStringTable& strt = L->g->strt;
    if (strt.nuse < strt.size / 4 && strt.size > 64) VmResizeStringTable(L, strt.size / 2);
}

void ShrinkScratchBuffer(qvVmState* L, void*) {
    qvScratchBuffer& buff = L->g->buff;
    if (buff.size <= 64) return;
    size_t size = buff.size / 2;
    buff.data = static_cast<char*>(VmRealloc(L, buff.data, buff.size, size));
    buff.size = size;
}

void FreeList(qvVmState* L, qvGCHeader** list) {
    while (*list != nullptr) {
        qvGCHeader* o = *list;
        *list = o->next;
        FreeObject(L, o);
    }
}

// Runs the finalizers with hooks off; restores the hook switch however the calls end.
class FinalizerScope {
public:
    explicit FinalizerScope(qvVmState* L)
        : L_(L), allowhook_(L->allowhook), wasCalling_(L->g->callingFinalizers) {
        L->allowhook = 0;
        L->g->callingFinalizers = true;
    }
    ~FinalizerScope() {
        L_->allowhook = allowhook_;
        L_->g->callingFinalizers = wasCalling_;
    }
    FinalizerScope(const FinalizerScope&) = delete;
    FinalizerScope& operator=(const FinalizerScope&) = delete;

private:
    qvVmState* L_;
    uint8_t allowhook_;
    bool wasCalling_;
};

}  // namespace

void SeparateAllFinalizable(qvVmState* L) {
    SeparateUserdata(L);
}

void CloseFinalizers(qvVmState* L) {
    VmCallGCMethods(L);
}

void FreeAllObjects(qvVmState* L) {
    qvVmGlobalState* g = L->g;
    FreeList(L, &g->rootgc);
    FreeList(L, &g->rootudata);
    FreeList(L, &g->tmudata);
    for (uint32_t i = 0; i < g->strt.size; ++i) FreeList(L, &g->strt.hash[i]);
}

}  // namespace qv

void VmCallGCMethods(qvVmState* L) {
    qvVmGlobalState* g = L->g;
    qv::FinalizerScope scope(L);
    while (g->tmudata != nullptr) {
        auto* u = static_cast<qvUserdata*>(g->tmudata);
        g->tmudata = u->next;
        u->next = g->rootudata;
        g->rootudata = u;
        u->marked &= static_cast<uint8_t>(~VM_MARKED);
        qvTable* mt = u->metatable;
        if (!qv::HasMetamethod(mt, TM_GC, g)) continue;
        const qvValue* tm = VmFastTagMethod(mt, TM_GC, g->tmname[TM_GC]);
        qv::CheckStack(L, 2);
        L->top[0] = *tm;
        qv::SetUserdata(L->top + 1, u);
        L->top += 2;
        qv::CallValue(L, L->top - 2, 0);
    }
}

void VmCollectGarbage(qvVmState* L) {
    qvVmGlobalState* g = L->g;
    g->gray = nullptr;
    g->weakKeys = g->weakValues = g->weakBoth = nullptr;

    qv::MarkValue(g, &g->defaultMeta);
    qv::MarkValue(g, &g->registry);
    qv::MarkValue(g, &g->nextIterator);
    // The main thread is in no list that a sweep visits, so it keeps its mark from the last
    // collection.
    g->mainthread->marked &= static_cast<uint8_t>(~VM_MARKED);
    qv::MarkObject(g, g->mainthread);
    if (L != g->mainthread) qv::MarkObject(g, L);
    qv::PropagateMarks(g);

    qv::ClearValues(g->weakValues);
    qv::ClearValues(g->weakBoth);
    size_t deadmem = qv::SeparateUserdata(L);
    qv::MarkAwaiting(g);
    qv::PropagateMarks(g);

    qv::ClearKeys(g->weakKeys);
    qv::ClearKeys(g->weakBoth);
    qv::ClearValues(g->weakValues);
    qv::ClearValues(g->weakBoth);

    qv::SweepList(L, &g->rootudata);
    qv::SweepStrings(L);
    qv::SweepList(L, &g->rootgc);

    qv::RunEconomy(L, qv::ShrinkStringTable, nullptr);
    qv::SpreadStrings(L);
    qv::RunEconomy(L, qv::ShrinkScratchBuffer, nullptr);
    g->GCthreshold = 2 * g->nblocks - deadmem;

    // A collection started by a finalizer leaves the remaining calls to the loop already
    // running them.
    if (!g->callingFinalizers) VmCallGCMethods(L);
}

void VmSetGCThreshold(qvVmState* L, int kb) {
    qvVmGlobalState* g = L->g;
    if (kb >= 0 && kb < 0x400000)
        g->GCthreshold = static_cast<size_t>(kb) << 10;
    else
        g->GCthreshold = 0xFFFFFFFFu;
    if (g->nblocks >= g->GCthreshold) VmCollectGarbage(L);
}

int VmGetGCThreshold(qvVmState* L) {
    return static_cast<int>(L->g->GCthreshold >> 10);
}

int VmGetGCCount(qvVmState* L) {
    return static_cast<int>(L->g->nblocks >> 10);
}
