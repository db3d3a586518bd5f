// Closures, function prototypes and upvalues.
#include <cstring>

#include "engine/internal.h"
#include "engine/small_blocks.h"

qvCClosure* VmNewCClosure(qvVmState* L, int nupvalues) {
    auto* c = static_cast<qvCClosure*>(qv::NewEngineBlock(L, qv::CClosureSize(nupvalues)));
    VmLinkObject(L, c, VM_TFUNCTION);
    c->isNative = 1;
    c->nupvalues = static_cast<uint8_t>(nupvalues);
    c->gclist = nullptr;
    c->f = nullptr;
    for (int i = 0; i < nupvalues; ++i) qv::SetNil(&c->Upvalues()[i]);
    return c;
}

qvLClosure* VmNewScriptClosure(qvVmState* L, int nupvalues, const qvValue* env) {
    auto* c = static_cast<qvLClosure*>(qv::NewEngineBlock(L, qv::LClosureSize(nupvalues)));
    VmLinkObject(L, c, VM_TFUNCTION);
    c->isNative = 0;
    c->nupvalues = static_cast<uint8_t>(nupvalues);
    c->gclist = nullptr;
    c->proto = nullptr;
    c->env = *env;
    for (int i = 0; i < nupvalues; ++i) c->Upvalues()[i] = nullptr;
    return c;
}

qvProto* VmNewProto(qvVmState* L) {
    auto* p = static_cast<qvProto*>(VmRealloc(L, nullptr, 0, sizeof(qvProto)));
    std::memset(static_cast<void*>(p), 0, sizeof(qvProto));
    VmLinkObject(L, p, VM_TPROTO);
    return p;
}

qvUpVal* VmFindUpvalue(qvVmState* L, qvValue* level) {
    qvGCHeader** pp = &L->openupval;
    while (*pp != nullptr) {
        auto* p = static_cast<qvUpVal*>(*pp);
        if (p->v < level) break;
        if (p->v == level) return p;
        pp = &p->next;
    }
    // Open upvalues live in the thread's sorted list, not in the object list, until closed.
    auto* uv = static_cast<qvUpVal*>(qv::NewEngineBlock(L, sizeof(qvUpVal)));
    uv->tag = VM_TUPVAL;
    uv->marked = 0;
    uv->v = level;
    qv::SetNil(&uv->value);
    uv->next = *pp;
    *pp = uv;
    return uv;
}

qvUpVal* qv::NewClosedUpvalue(qvVmState* L) {
    auto* uv = static_cast<qvUpVal*>(qv::NewEngineBlock(L, sizeof(qvUpVal)));
    VmLinkObject(L, uv, VM_TUPVAL);
    qv::SetNil(&uv->value);
    uv->v = &uv->value;
    return uv;
}

void VmCloseUpvalues(qvVmState* L, qvValue* level) {
    while (L->openupval != nullptr) {
        auto* uv = static_cast<qvUpVal*>(L->openupval);
        if (uv->v < level) break;
        uv->value = *uv->v;
        uv->v = &uv->value;
        L->openupval = uv->next;
        // A live closure may have marked it during a collection that is now sweeping.
        uint8_t mark = uv->marked & VM_MARKED;
        VmLinkObject(L, uv, VM_TUPVAL);
        uv->marked = mark;
    }
}

void VmFreeClosure(qvVmState* L, qvClosureHeader* c) {
    size_t size = c->isNative ? qv::CClosureSize(c->nupvalues) : qv::LClosureSize(c->nupvalues);
    qv::FreeEngineBlock(L, c, size);
}

void VmFreeProto(qvVmState* L, qvProto* p) {
    VmRealloc(L, p->code, p->sizecode * sizeof(qvInstruction), 0);
    VmRealloc(L, p->p, p->sizep * sizeof(qvProto*), 0);
    VmRealloc(L, p->k, p->sizek * sizeof(qvValue), 0);
    VmRealloc(L, p->lineinfo, p->sizelineinfo * sizeof(int32_t), 0);
    VmRealloc(L, p->locvars, p->sizelocvars * sizeof(qvLocVar), 0);
    VmRealloc(L, p->upvalues, p->sizeupvalues * sizeof(qvString*), 0);
    VmRealloc(L, p, sizeof(qvProto), 0);
}

// The whole table is scanned: a chunk need not keep its records sorted by their start.
const char* VmGetLocalName(const qvProto* p, int n, int pc) {
    for (int i = 0; i < p->sizelocvars; ++i) {
        const qvLocVar& local = p->locvars[i];
        if (local.startpc <= pc && pc < local.endpc && --n == 0) return local.name->Data();
    }
    return nullptr;
}
