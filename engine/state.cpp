// Opening and closing an engine, threads, and the engine's one allocator.
#include <cstdlib>
#include <cstring>

#include "engine/gc.h"
#include "engine/host.h"
#include "engine/internal.h"
#include "engine/small_blocks.h"
#include "platform/linux/memory.h"

namespace {

constexpr int kInitialStackSize = 45;
constexpr int kInitialCallRecords = 8;

int DefaultPanic(qvVmState*) {
    return 0;
}

// Gives a fresh thread its stack and call records, with the base frame of a native call. The
// current record is set last: an allocation that fails before may not read a record that
// holds nothing yet.
void InitStack(qvVmState* L1, qvVmState* L) {
    L1->sizeCi = kInitialCallRecords;
    L1->baseCi = static_cast<qvCallRecord*>(
        VmRealloc(L, nullptr, 0, kInitialCallRecords * sizeof(qvCallRecord)));
    L1->endCi = L1->baseCi + kInitialCallRecords;
    L1->stacksize = kInitialStackSize;
    L1->stack =
        static_cast<qvValue*>(VmRealloc(L, nullptr, 0, kInitialStackSize * sizeof(qvValue)));
    L1->stackLast = L1->stack + kInitialStackSize - 6;
    for (int i = 0; i < kInitialStackSize; ++i) qv::SetNil(&L1->stack[i]);
    L1->top = L1->stack + 1;  // stack[0] is the base frame's function
    L1->base = L1->top;
    L1->baseCi[0] = {
        L1->base, L1->base + qv::kNativeFrameSlots, nullptr, nullptr, nullptr, VM_CI_NATIVE, 0};
    L1->ci = L1->baseCi;
}

// Either array may be missing when the thread's creation failed half-way.
void FreeStack(qvVmState* L, qvVmState* L1) {
    if (L1->baseCi != nullptr) VmRealloc(L, L1->baseCi, L1->sizeCi * sizeof(qvCallRecord), 0);
    if (L1->stack != nullptr) VmRealloc(L, L1->stack, L1->stacksize * sizeof(qvValue), 0);
}

// Fields every thread starts with; the stack comes later.
void PresetThread(qvVmState* L1) {
    std::memset(static_cast<void*>(L1), 0, sizeof(qvVmState));
    L1->tag = VM_TTHREAD;
    L1->allowhook = 1;
}

// A testing switch of the environment: on when set to "1".
bool EnvironmentSwitch(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void InitState(qvVmState* L, void*) {
    auto* g = static_cast<qvVmGlobalState*>(VmRealloc(L, nullptr, 0, sizeof(qvVmGlobalState)));
    std::memset(static_cast<void*>(g), 0, sizeof(qvVmGlobalState));
    L->g = g;
    g->mainthread = L;
    g->panic = DefaultPanic;
    g->GCthreshold = 0;
    g->nblocks = sizeof(qvVmState) + sizeof(qvVmGlobalState);
    g->gcTorture = EnvironmentSwitch("QV_GC_TORTURE");
    g->stackTorture = EnvironmentSwitch("QV_STACK_TORTURE");
    InitStack(L, L);

    qvTable* meta = VmTableNew(L, 0, 0);
    meta->metatable = meta;
    qv::SetTable(&g->defaultMeta, meta);
    qv::SetTable(&L->globals, VmTableNew(L, 0, 4));
    qv::SetTable(&g->registry, VmTableNew(L, 4, 4));

    VmResizeStringTable(L, 32);
    VmInitTagMethodNames(L);
    VmNewFixedString(L, "not enough memory");
    g->GCthreshold = 4 * g->nblocks;
}

// Frees every object, the engine's arrays and finally the records themselves.
void CloseState(qvVmState* L) {
    qvVmGlobalState* g = L->g;
    if (g != nullptr) {
        qv::FreeAllObjects(L);
        VmFreeStringTable(L);
        VmRealloc(L, g->buff.data, g->buff.size, 0);
        FreeStack(L, L);
        qv::ReleaseSmallBlocks(g);
        qv::PlatformRealloc(g, sizeof(qvVmGlobalState), 0);
    }
    qv::PlatformRealloc(L, sizeof(qvVmState), 0);
}

void RunFinalizers(qvVmState* L, void*) {
    qv::CloseFinalizers(L);
}

}  // namespace

void* VmRealloc(qvVmState* L, void* block, size_t oldsize, size_t newsize) {
    qvVmGlobalState* g = L != nullptr ? L->g : nullptr;
    if (block == nullptr) oldsize = 0;
    if (newsize >= qv::kLargestAllocation) {
        if (L == nullptr) return nullptr;
        RaiseError(L, ERR_MEM);
    }
    if (g == nullptr) {
        // Opening: the global state does not exist yet.
        void* result = qv::PlatformRealloc(block, oldsize, newsize);
        if (result == nullptr && L != nullptr && newsize != 0) VmThrow(L, ERR_MEM);
        return result;
    }
    if (newsize == 0) {
        qv::FreeEngineBlock(L, block, oldsize);
        return nullptr;
    }
    if (block == nullptr) return qv::NewEngineBlock(L, newsize);
    void* result;
    if (oldsize > qv::kSmallBlockMax && newsize > qv::kSmallBlockMax) {
        result = qv::PlatformRealloc(block, oldsize, newsize);
    } else if (qv::SameSmallClass(oldsize, newsize)) {
        result = qv::CountAllocationRequest(oldsize, newsize) ? block : nullptr;
    } else {
        // Small blocks come from the engine's cache, so a move between the cache and the
        // system is a fresh block and a copy.
        result = qv::AllocBlock(g, newsize);
        if (result != nullptr) {
            std::memcpy(result, block, oldsize < newsize ? oldsize : newsize);
            qv::FreeBlock(g, block, oldsize);
        }
    }
    if (result == nullptr) RaiseError(L, ERR_MEM);
    g->nblocks = g->nblocks - oldsize + newsize;
    return result;
}

void* VmGrowVector(qvVmState* L, void* block, int32_t* size, size_t elemsize, int32_t limit,
                   int errorcode) {
    int32_t newsize;
    if (*size >= limit / 2) {
        if (*size >= limit - 4) RaiseError(L, errorcode);
        newsize = limit;
    } else {
        newsize = *size * 2;
        if (newsize < 4) newsize = 4;
    }
    uint64_t bytes = static_cast<uint64_t>(newsize) * elemsize;
    if (bytes > 0xFFFFFFFCu) RaiseError(L, ERR_MEM);
    void* result = VmRealloc(L, block, static_cast<size_t>(*size) * elemsize, bytes);
    *size = newsize;
    return result;
}

void VmLinkObject(qvVmState* L, qvGCHeader* o, uint8_t tag) {
    o->tag = tag;
    o->marked = 0;
    o->next = L->g->rootgc;
    L->g->rootgc = o;
}

qvVmState* VmOpen() {
    auto* L = static_cast<qvVmState*>(VmRealloc(nullptr, nullptr, 0, sizeof(qvVmState)));
    if (L == nullptr) return nullptr;
    PresetThread(L);
    if (VmProtectedRun(L, InitState, nullptr) != 0) {
        CloseState(L);
        return nullptr;
    }
    return L;
}

void VmClose(qvVmState* L) {
    L = L->g->mainthread;
    VmCloseUpvalues(L, L->stack);
    qv::SeparateAllFinalizable(L);
    L->errfunc = 0;
    do {
        L->ci = L->baseCi;
        L->base = L->top = L->ci->base;
        L->nCcalls = 0;
    } while (VmProtectedRun(L, RunFinalizers, nullptr) != 0);
    qv::SetEngineHost(L, nullptr);  // no abort flag raises the closed engine any more
    CloseState(L);
}

qvVmState* VmNewThreadState(qvVmState* L) {
    auto* L1 = static_cast<qvVmState*>(VmRealloc(L, nullptr, 0, sizeof(qvVmState)));
    PresetThread(L1);
    L1->g = L->g;
    L1->globals = L->globals;
    L1->hookmask = L->hookmask;
    L1->basehookcount = L->basehookcount;
    L1->hook = L->hook;
    L1->hookcount = L1->basehookcount;
    // Only the main thread watches the abort flag.
    L1->attention = qv::kAttentionPoll;
    qv::UpdateHookAttention(L1);
    VmLinkObject(L, L1, VM_TTHREAD);
    // A failure here leaves a thread without a stack in the object list: the collector
    // frees it, and freeing tolerates the missing arrays.
    InitStack(L1, L);
    return L1;
}

void VmFreeThread(qvVmState* L, qvVmState* L1) {
    if (L1->stack != nullptr) VmCloseUpvalues(L1, L1->stack);
    FreeStack(L, L1);
    VmRealloc(L, L1, sizeof(qvVmState), 0);
}
