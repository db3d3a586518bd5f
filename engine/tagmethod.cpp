// Metamethod lookup by event.
#include <array>

#include "engine/internal.h"

namespace qv {
namespace {

// In event order: the index is the event number and the bit of the metatable cache byte.
constexpr std::array<const char*, TM_N> kEventNames = {
    "__index", "__newindex", "__gc",  "__mode", "__eq",  "__add",    "__sub",  "__mul",
    "__div",   "__divint",   "__mod", "__lsh",  "__rsh", "__or",     "__and",  "__xor",
    "__pow",   "__unm",      "__not", "__lt",   "__le",  "__concat", "__call",
};

// The cache byte has room for the first eight events only.
constexpr int kCachedEvents = 8;

}  // namespace
}  // namespace qv

void VmInitTagMethodNames(qvVmState* L) {
    for (int event = 0; event < TM_N; ++event) {
        L->g->tmname[event] = VmNewFixedString(L, qv::kEventNames[event]);
    }
}

const qvValue* VmGetTagMethod(qvVmState* L, const qvValue* o, int event) {
    qvTable* metatable = nullptr;
    if (qv::IsTable(o)) {
        metatable = qv::TableOf(o)->metatable;
    } else if (o->tag == VM_TUSERDATA) {
        metatable = qv::UserdataOf(o)->metatable;
    }
    if (metatable == nullptr) return &qv::kNilObject;
    return VmTableGetStr(metatable, L->g->tmname[event]);
}

const qvValue* VmFastTagMethod(qvTable* metatable, int event, qvString* name) {
    const bool cached = event < qv::kCachedEvents;
    if (cached && (metatable->flags & (1u << event)) != 0) return nullptr;
    const qvValue* tm = VmTableGetStr(metatable, name);
    if (!qv::IsNil(tm)) return tm;
    if (cached) metatable->flags |= static_cast<uint8_t>(1u << event);
    return nullptr;
}
