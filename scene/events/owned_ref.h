// A registry reference that is released when it goes out of scope unless it was handed over,
// so that an error raised between making references and storing them loses none.
#pragma once

#include <cstdint>

#include "engine/vm.h"

namespace qv::events {

class OwnedRef {
public:
    OwnedRef(qvVmState* L, int32_t ref) : L_(L), ref_(ref) {}
    ~OwnedRef() { FreeRef(L_, VM_REGISTRYINDEX, ref_); }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;

    int32_t get() const { return ref_; }
    int32_t release() {
        const int32_t ref = ref_;
        ref_ = -1;
        return ref;
    }

private:
    qvVmState* L_;
    int32_t ref_;
};

// A new reference to the value at idx (-1 for nil).
inline int32_t MakeRefTo(qvVmState* L, int idx) {
    VmPushValue(L, idx);
    return MakeRef(L, VM_REGISTRYINDEX);
}

}  // namespace qv::events
